// How a price list answers the keyboard, the mouse and the focus.

#include "price_list_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace pricelookup {

QModelIndex PriceListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int rows = RowCount();
    if (rows == 0)
        return {};
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    int row = current;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row = current < 0 ? 0 : current - 1;
        break;
    case MoveDown:
    case MoveNext:
        row = current + 1;
        break;
    case MovePageUp:
        row = current - PageRows();
        break;
    case MovePageDown:
        row = current < 0 ? PageRows() - 1 : current + PageRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        horizontalScrollBar()->triggerAction(cursorAction == MoveLeft
                                                 ? QAbstractSlider::SliderSingleStepSub
                                                 : QAbstractSlider::SliderSingleStepAdd);
        return currentIndex();
    }
    return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

void PriceListView::mousePressEvent(QMouseEvent* event) {
    pressedRow_ =
        event->button() == Qt::LeftButton ? indexAt(event->position().toPoint()).row() : -1;
    QAbstractItemView::mousePressEvent(event);
}

void PriceListView::mouseReleaseEvent(QMouseEvent* event) {
    const int pressed = std::exchange(pressedRow_, -1);
    const int released = indexAt(event->position().toPoint()).row();
    // Released on the row it went down on, this is a click: `clicked` follows.
    QAbstractItemView::mouseReleaseEvent(event);
    // A press that slipped off its row before the release has still selected a
    // row; it counts as a click on that row, or the lists would part.
    const int selected = SelectedRow();
    if (event->button() == Qt::LeftButton && pressed >= 0 && released != pressed && selected >= 0)
        emit ItemClick(selected);
}

void PriceListView::keyPressEvent(QKeyEvent* event) {
    // The first arrow key in a list with no selected row takes the first row,
    // which the focus alone made current without selecting it.
    const bool arrow = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
    if (arrow && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        SelectedRow() < 0 && RowCount() > 0) {
        SelectRow(0);
        EnsureRowVisible(0);
        event->accept();
        emit ItemMovedByKeyboard(0);
        return;
    }
    QAbstractItemView::keyPressEvent(event);
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
        emit ItemMovedByKeyboard(current.row());
        break;
    default:
        break;
    }
}

void PriceListView::focusInEvent(QFocusEvent* event) {
    QAbstractItemView::focusInEvent(event);
    update(); // the focus frame
    emit GotFocus();
}

void PriceListView::focusOutEvent(QFocusEvent* event) {
    QAbstractItemView::focusOutEvent(event);
    update();
}

} // namespace pricelookup
