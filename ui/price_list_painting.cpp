// How a price list looks: its rows, the selection kept without the focus,
// the frame that marks the focus, and the tooltip of a cell cut short.

#include "price_list_view.h"

#include "row_delegate.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace pricelookup {

namespace {

// The selection of a list without the focus: the platform's inactive colours,
// or, where it draws both alike, a paler mix of the highlight into the
// background with the plain text colour on it.
QPalette KeptSelectionPalette(const QPalette& palette) {
    QColor highlight = palette.color(QPalette::Inactive, QPalette::Highlight);
    QColor text = palette.color(QPalette::Inactive, QPalette::HighlightedText);
    const QColor active = palette.color(QPalette::Active, QPalette::Highlight);
    if (highlight == active) {
        const QColor base = palette.color(QPalette::Active, QPalette::Base);
        const auto mix = [](int h, int b) { return (2 * h + 3 * b) / 5; };
        highlight = QColor(mix(active.red(), base.red()), mix(active.green(), base.green()),
                           mix(active.blue(), base.blue()));
        text = palette.color(QPalette::Active, QPalette::Text);
    }
    QPalette kept = palette;
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        kept.setColor(group, QPalette::Highlight, highlight);
        kept.setColor(group, QPalette::HighlightedText, text);
    }
    return kept;
}

} // namespace

void PriceListView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int rows = RowCount();
    if (rows == 0)
        return;
    const QRect area = event->rect();
    const int first = RowAtY(std::max(0, area.top()));
    if (first < 0)
        return;
    const qint64 lastWanted = static_cast<qint64>(TopRow()) + area.bottom() / rowHeight_;
    const int last = static_cast<int>(std::min<qint64>(lastWanted, rows - 1));

    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus();
    if (!focused)
        option.palette = KeptSelectionPalette(option.palette);
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, 0, rootIndex());
        QStyleOptionViewItem o = option;
        o.rect = visualRect(index);
        o.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        if (selectionModel() && selectionModel()->isSelected(index))
            o.state |= QStyle::State_Selected;
        if (focused && index == current)
            o.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, o, index);
    }
}

bool PriceListView::event(QEvent* event) {
    const bool handled = QAbstractItemView::event(event);
    // The list's own frame, drawn in the style's focus mark while the list has
    // the focus: it shows also when the current row is scrolled out of sight.
    if (event->type() == QEvent::Paint && hasFocus()) {
        QPainter painter(this);
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.rect = rect();
        focus.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
    return handled;
}

bool PriceListView::TextShownWhole(int row) const {
    const QModelIndex index = model()->index(row, 0, rootIndex());
    const QRect textRect = RowDelegate::TextRect(visualRect(index), this);
    const int advance = fontMetrics().horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return textRect.left() >= 0 &&
           textRect.left() + advance <=
               std::min(textRect.left() + textRect.width(), viewport()->width());
}

bool PriceListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid() && !TextShownWhole(index.row())) {
            QToolTip::showText(help->globalPos(), index.data(Qt::DisplayRole).toString(),
                               viewport(), visualRect(index));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QAbstractItemView::viewportEvent(event);
}

} // namespace pricelookup
