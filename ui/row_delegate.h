#pragma once

#include <QStyledItemDelegate>

namespace pricelookup {

// Draws a row as one line of text on the highlight when selected. The
// general delegate lays every row out as a paragraph, which made painting
// most of the cost of a key or a click.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Where the text of a cell at `cell` goes, inside the style's margins.
    static QRect TextRect(const QRect& cell, const QWidget* widget);
};

} // namespace pricelookup
