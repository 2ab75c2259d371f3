// How a price list answers the keyboard, the mouse and the focus.

#include "price_list_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QScrollBar>

#include <algorithm>

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

// Either button picks the row it goes down on, as a left click does: a
// right-click followed by Ctrl+C copies the row the four lists show selected.
void PriceListView::mousePressEvent(QMouseEvent* event) {
    pressed_ = Qt::NoButton;
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return;
    const int row = indexAt(event->position().toPoint()).row();
    if (row < 0)
        return;
    pressed_ = event->button();
    dragY_ = event->position().toPoint().y();
    reportedRow_ = -1;
    PickRow(row);
}

void PriceListView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click picks as the first did.
    mousePressEvent(event);
}

void PriceListView::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_ == Qt::LeftButton && (event->buttons() & Qt::LeftButton))
        DragTo(event->position().toPoint().y());
}

// The click ends with the release wherever it happens: the other lists come
// to the row this one shows selected, unless a drag brought them there.
void PriceListView::mouseReleaseEvent(QMouseEvent* event) {
    if (pressed_ == Qt::NoButton || event->button() != pressed_)
        return;
    pressed_ = Qt::NoButton;
    dragScroll_.stop();
    const int row = SelectedRow();
    if (row >= 0 && row != reportedRow_)
        emit ItemClick(row);
}

void PriceListView::DragPick(int row) {
    PickRow(row);
    // The other lists follow the drag row by row: the rows highlighted side
    // by side stay one part while the button is held.
    reportedRow_ = row;
    emit ItemClick(row);
}

void PriceListView::DragTo(int y) {
    dragY_ = y;
    if (y < 0 || y >= viewport()->height()) {
        if (!dragScroll_.isActive()) {
            DragScrollStep();
            dragScroll_.start();
        }
        return;
    }
    dragScroll_.stop();
    // Over the blank below the last row the row last crossed stays.
    const int row = indexAt(QPoint(0, y)).row();
    if (row >= 0 && row != SelectedRow())
        DragPick(row);
}

void PriceListView::DragScrollStep() {
    if (pressed_ != Qt::LeftButton || RowCount() == 0) {
        dragScroll_.stop();
        return;
    }
    const bool up = dragY_ < 0;
    // Faster the farther the pointer is from the list, a row per row height.
    const int distance = up ? -dragY_ : dragY_ - viewport()->height() + 1;
    const int step = std::max(1, distance / rowHeight_);
    // The user's scrolling: the other lists follow it.
    verticalScrollBar()->setValue(TopRow() + (up ? -step : step));
    const int edge = up ? TopRow() : std::min(RowCount() - 1, TopRow() + PageRows() - 1);
    if (edge != SelectedRow())
        DragPick(edge);
}

void PriceListView::keyPressEvent(QKeyEvent* event) {
    CursorAction action;
    switch (event->key()) {
    case Qt::Key_Up:
        action = MoveUp;
        break;
    case Qt::Key_Down:
        action = MoveDown;
        break;
    case Qt::Key_PageUp:
        action = MovePageUp;
        break;
    case Qt::Key_PageDown:
        action = MovePageDown;
        break;
    case Qt::Key_Home:
        action = MoveHome;
        break;
    case Qt::Key_End:
        action = MoveEnd;
        break;
    default:
        QAbstractItemView::keyPressEvent(event);
        return;
    }
    event->accept();
    if (RowCount() == 0)
        return;
    // The first arrow key in a list with no selected row takes the first row,
    // which the focus alone made current without selecting it.
    const bool arrow = action == MoveUp || action == MoveDown;
    const int row = arrow && SelectedRow() < 0 ? 0 : moveCursor(action, event->modifiers()).row();
    UserPickRow(row);
}

void PriceListView::focusInEvent(QFocusEvent* event) {
    // The list makes its first row current when nothing is; the reader hears
    // of it below, after the list itself.
    {
        const QScopedValueRollback quiet(quietCurrent_, true);
        QAbstractItemView::focusInEvent(event);
    }
    // The focus frame, and the selection in the active colour.
    update();
    UpdateSelectedRows();
    emit GotFocus();
    // Qt tells assistive technology of the list after this returns, and a
    // reader speaks the list's name and size. Told of the current row after
    // that, it speaks where the user is. A click tells it by picking a row.
    // When the window comes to the front the list's row is not told: the
    // reader would take the first arrow key's pick of row 1, the row current
    // already, for no move, and not speak it.
    const Qt::FocusReason reason = event->reason();
    const bool byKeys = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                        reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason;
    if (byKeys && QAccessible::isActive())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (hasFocus())
                    AnnounceCurrentRow();
            },
            Qt::QueuedConnection);
}

void PriceListView::UpdateSelectedRows() {
    // Only they change colour with the focus; a whole list repainted made a
    // click in another list a good deal dearer.
    if (selectionModel())
        viewport()->update(visualRegionForSelection(selectionModel()->selection()));
    if (currentIndex().isValid())
        viewport()->update(visualRect(currentIndex()));
}

void PriceListView::focusOutEvent(QFocusEvent* event) {
    QAbstractItemView::focusOutEvent(event);
    update();
    UpdateSelectedRows();
}

} // namespace pricelookup
