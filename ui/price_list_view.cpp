#include "price_list_view.h"

#include "row_delegate.h"

#include <QApplication>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QScrollBar>

#include <algorithm>
#include <limits>

namespace pricelookup {

// Marks scrolling that the program does, which the list does not report.
class PriceListView::ProgramScroll {
public:
    explicit ProgramScroll(PriceListView* view) : view_(view) { ++view_->programScrolls_; }
    ~ProgramScroll() { --view_->programScrolls_; }
    ProgramScroll(const ProgramScroll&) = delete;
    ProgramScroll& operator=(const ProgramScroll&) = delete;

private:
    PriceListView* view_;
};

PriceListView::PriceListView(QWidget* parent)
    : QAbstractItemView(parent), header_(new QHeaderView(Qt::Horizontal, this)),
      rowHeight_(fontMetrics().height() + 2) {
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setEditTriggers(NoEditTriggers);
    setTabKeyNavigation(false);
    // Scrolling is done where the program means it; selecting alone never scrolls.
    setAutoScroll(false);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
    // The same in every list, whatever its column's width, so that lists side
    // by side have the same room for rows.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The strip under the last whole row reads as part of the list.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setItemDelegate(new RowDelegate(this));
    // Codes, descriptions and prices are plain runs of text: skipping the
    // shaper roughly halves the cost of painting a page of rows.
    QFont rowFont = font();
    rowFont.setStyleStrategy(QFont::PreferNoShaping);
    setFont(rowFont);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    header_->setSectionsClickable(false);
    header_->setHighlightSections(false);
    header_->setStretchLastSection(false);
    header_->setSectionResizeMode(QHeaderView::Interactive);
    header_->setFocusPolicy(Qt::NoFocus);
    connect(header_, &QHeaderView::sectionResized, this, [this] {
        // Only the user's drag on the header's edge comes unasked.
        if (!programSizing_)
            userSized_ = true;
        updateGeometries();
        viewport()->update();
    });

    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int top) {
        if (programScrolls_ == 0)
            emit ScrolledByUser(top);
    });

    // Held below or above the list, the pointer scrolls it along, row by row.
    dragScroll_.setInterval(50);
    connect(&dragScroll_, &QTimer::timeout, this, &PriceListView::DragScrollStep);
}

void PriceListView::setModel(QAbstractItemModel* model) {
    {
        const QScopedValueRollback sizing(programSizing_, true);
        QAbstractItemView::setModel(model);
        header_->setModel(model);
    }
    updateGeometries();
}

int PriceListView::RowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int PriceListView::SelectedRow() const {
    if (!selectionModel())
        return -1;
    const QItemSelection selection = selectionModel()->selection();
    return selection.isEmpty() ? -1 : selection.first().top();
}

void PriceListView::SelectRow(int row) {
    selectionModel()->setCurrentIndex(model()->index(row, 0, rootIndex()),
                                      QItemSelectionModel::ClearAndSelect |
                                          QItemSelectionModel::Rows);
}

void PriceListView::PickRow(int row) {
    {
        const QScopedValueRollback quiet(quietCurrent_, true);
        SelectRow(row);
    }
    EnsureRowVisible(row);
    // Also when the row was current already, as the focus makes row 1
    // current before the first arrow key selects it.
    AnnounceCurrentRow();
}

void PriceListView::UserPickRow(int row) {
    PickRow(row);
    emit ItemClick(row);
}

void PriceListView::AnnounceCurrentRow() {
    if (currentIndex().isValid())
        Announce(QAccessible::Focus, currentIndex().row());
}

int PriceListView::AccessibleChild(int row) const {
    return (header_->isHidden() ? 0 : 1) + row;
}

void PriceListView::Announce(QAccessible::Event type, int row) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(this, type);
    event.setChild(AccessibleChild(row));
    QAccessible::updateAccessibility(&event);
}

void PriceListView::EnsureRowVisible(int row) {
    scrollTo(model()->index(row, 0, rootIndex()), QAbstractItemView::EnsureVisible);
}

void PriceListView::EnsureRowVisibleFrom(int row, int top) {
    const int clamped = std::clamp(top, 0, verticalScrollBar()->maximum());
    if (row >= clamped && row < clamped + PageRows())
        SetTopRow(clamped);
    else
        EnsureRowVisible(row);
}

int PriceListView::TopRow() const {
    return verticalScrollBar()->value();
}

void PriceListView::SetTopRow(int row) {
    const ProgramScroll scrolling(this);
    verticalScrollBar()->setValue(row);
}

int PriceListView::HorizontalBarExtent() const {
    // The scroll area gives its bar the height the bar asks for.
    return horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff
               ? 0
               : horizontalScrollBar()->sizeHint().height();
}

int PriceListView::NaturalRowsTop() const {
    return frameWidth() + header_->sizeHint().height();
}

int PriceListView::NaturalRowsBottom() const {
    return height() - frameWidth() - HorizontalBarExtent();
}

void PriceListView::SetRowArea(int top, int height) {
    rowAreaTop_ = top;
    rowAreaHeight_ = height;
    updateGeometries();
}

void PriceListView::SetColumnWidth(int width) {
    designWidth_ = width;
    {
        const QScopedValueRollback sizing(programSizing_, true);
        header_->setDefaultSectionSize(width);
    }
    FitColumn();
}

void PriceListView::FitColumn() {
    if (header_->count() == 0 || userSized_)
        return;
    // The whole width of the list: the text has all the room there is, and
    // the header's edge stands in sight, at the list's right, to be dragged.
    const int width = viewport()->width() > 0 ? viewport()->width() : designWidth_;
    if (header_->sectionSize(0) == width)
        return;
    const QScopedValueRollback sizing(programSizing_, true);
    header_->resizeSection(0, width);
}

int PriceListView::ColumnWidth() const {
    return header_->count() > 0 ? header_->sectionSize(0) : header_->defaultSectionSize();
}

int PriceListView::PageRows() const {
    return std::max(1, viewport()->height() / rowHeight_);
}

int PriceListView::RowAtY(int y) const {
    // Rows above the viewport have negative y: round down, not toward zero.
    const qint64 offset =
        y >= 0 ? y / rowHeight_ : -((static_cast<qint64>(-y) + rowHeight_ - 1) / rowHeight_);
    const qint64 row = TopRow() + offset;
    return row >= 0 && row < RowCount() ? static_cast<int>(row) : -1;
}

QRect PriceListView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.column() != 0 || index.parent() != rootIndex())
        return {};
    // Far-away rows are placed just outside the viewport: their offsets in
    // pixels could pass what an int holds.
    const qint64 y = (static_cast<qint64>(index.row()) - TopRow()) * rowHeight_;
    const qint64 limit = std::numeric_limits<int>::max() / 4;
    const int top = static_cast<int>(std::clamp(y, -limit, limit));
    return QRect(-horizontalOffset(), top, ColumnWidth(), rowHeight_);
}

void PriceListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid())
        return;
    const int row = index.row();
    const int page = PageRows();
    int top = TopRow();
    switch (hint) {
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - page + 1;
        break;
    case PositionAtCenter:
        top = row - page / 2;
        break;
    case EnsureVisible:
        if (row < top)
            top = row;
        else if (row >= top + page)
            top = row - page + 1;
        break;
    }
    SetTopRow(std::max(0, top));
}

QModelIndex PriceListView::indexAt(const QPoint& point) const {
    const int row = RowAtY(point.y());
    return row < 0 ? QModelIndex() : model()->index(row, 0, rootIndex());
}

void PriceListView::keyboardSearch(const QString&) {
    // The built-in type-ahead walks every row; the search box finds part codes.
}

int PriceListView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int PriceListView::verticalOffset() const {
    const qint64 offset = static_cast<qint64>(TopRow()) * rowHeight_;
    return static_cast<int>(std::min<qint64>(offset, std::numeric_limits<int>::max()));
}

bool PriceListView::isIndexHidden(const QModelIndex&) const {
    return false;
}

void PriceListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const QRect r = rect.normalized();
    const int first = RowAtY(r.top());
    const int last = RowAtY(r.bottom());
    if (first < 0 || last < 0)
        return;
    const QItemSelection selection(model()->index(first, 0, rootIndex()),
                                   model()->index(last, 0, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion PriceListView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = TopRow();
    const int bottom = top + PageRows();
    for (const QItemSelectionRange& range : selection) {
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first > last)
            continue;
        region += visualRect(model()->index(first, 0, rootIndex()))
                      .united(visualRect(model()->index(last, 0, rootIndex())));
    }
    return region;
}

void PriceListView::updateGeometries() {
    // A top row that the new size no longer allows moves by itself.
    const ProgramScroll scrolling(this);
    int headerHeight = header_->sizeHint().height();
    int bottomMargin = 0;
    if (rowAreaHeight_ >= 0) {
        headerHeight = std::max(headerHeight, rowAreaTop_ - frameWidth());
        bottomMargin =
            std::max(0, NaturalRowsBottom() - (frameWidth() + headerHeight) - rowAreaHeight_);
    }
    setViewportMargins(0, headerHeight, 0, bottomMargin);
    FitColumn();
    const QRect vg = viewport()->geometry();
    header_->setGeometry(vg.left(), vg.top() - headerHeight, vg.width(), headerHeight);

    const int rows = RowCount();
    const int page = PageRows();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, std::max(0, rows - page));

    const int width = ColumnWidth();
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
    horizontalScrollBar()->setPageStep(std::max(1, viewport()->width()));
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    header_->setOffset(horizontalOffset());
    QAbstractItemView::updateGeometries();
}

void PriceListView::scrollContentsBy(int dx, int dy) {
    if (dx != 0)
        header_->setOffset(horizontalOffset());
    if (dy != 0 && std::abs(dy) < PageRows())
        viewport()->scroll(dx, dy * rowHeight_);
    else {
        viewport()->scroll(dx, 0);
        viewport()->update();
    }
}

void PriceListView::reset() {
    {
        // The header lays its section out anew, at the default width.
        const QScopedValueRollback sizing(programSizing_, true);
        QAbstractItemView::reset();
    }
    updateGeometries();
    viewport()->update();
}

void PriceListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    if (current.isValid() && hasFocus() && !quietCurrent_)
        Announce(QAccessible::Focus, current.row());
}

void PriceListView::selectionChanged(const QItemSelection& selected,
                                     const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    // One row at a time: the first row of each change names it.
    if (!selected.isEmpty())
        Announce(QAccessible::SelectionAdd, selected.first().top());
    if (!deselected.isEmpty())
        Announce(QAccessible::SelectionRemove, deselected.first().top());
}

} // namespace pricelookup
