#include "price_list_view.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace pricelookup {

PriceListView::PriceListView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setEditTriggers(NoEditTriggers);
    setTabKeyNavigation(false);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    // Scrolling is done where the program means it; selecting alone never scrolls.
    setAutoScroll(false);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(fontMetrics().height() + 2);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setStretchLastSection(false);

    // Lists that the program moves do not have the focus; their rows must show.
    QPalette p = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
    setPalette(p);

    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit ItemClick(index.row());
    });
}

int PriceListView::RowCount() const {
    return model() ? model()->rowCount() : 0;
}

int PriceListView::SelectedRow() const {
    if (!selectionModel())
        return -1;
    const QItemSelection selection = selectionModel()->selection();
    return selection.isEmpty() ? -1 : selection.first().top();
}

void PriceListView::SelectRow(int row) {
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
}

void PriceListView::EnsureVisible(int row) {
    scrollTo(model()->index(row, 0), QAbstractItemView::EnsureVisible);
}

void PriceListView::keyboardSearch(const QString&) {
    // The built-in type-ahead walks every row; the search box finds part codes.
}

void PriceListView::keyPressEvent(QKeyEvent* event) {
    const int before = currentIndex().row();
    QTableView::keyPressEvent(event);
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        scrollTo(current, QAbstractItemView::EnsureVisible);
        if (current.row() != before || SelectedRow() == current.row())
            emit ItemMovedByKeyboard(current.row());
        break;
    default:
        break;
    }
}

QModelIndex PriceListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    // One column: Home and End go to the first and last row, as in a list.
    const int rows = RowCount();
    if (rows > 0 && cursorAction == MoveHome)
        return model()->index(0, 0);
    if (rows > 0 && cursorAction == MoveEnd)
        return model()->index(rows - 1, 0);
    return QTableView::moveCursor(cursorAction, modifiers);
}

void PriceListView::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    emit GotFocus();
}

} // namespace pricelookup
