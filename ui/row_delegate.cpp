#include "row_delegate.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace pricelookup {

QRect RowDelegate::TextRect(const QRect& cell, const QWidget* widget) {
    const int margin =
        widget ? widget->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1
               : 3;
    return cell.adjusted(margin, 0, -margin, 0);
}

void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    const bool selected = option.state & QStyle::State_Selected;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    const QRect textRect = TextRect(option.rect, option.widget);
    QString text = index.data(Qt::DisplayRole).toString();
    if (option.fontMetrics.horizontalAdvance(text) > textRect.width())
        text = option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width());
    painter->setPen(
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        // Shown however the focus came, by mouse too: styles that wait for
        // a key before they mark the focus left a clicked list unmarked.
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.backgroundColor =
            option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
        const QWidget* widget = option.widget;
        // A column wider than the list would take the mark's right side
        // out of sight.
        if (const auto* view = qobject_cast<const QAbstractScrollArea*>(widget))
            focus.rect.setRight(std::min(focus.rect.right(), view->viewport()->width() - 1));
        (widget ? widget->style() : QApplication::style())
            ->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

} // namespace pricelookup
