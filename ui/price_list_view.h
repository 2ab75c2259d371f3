#pragma once

#include <QAbstractItemView>

class QHeaderView;

namespace pricelookup {

// A one-column list of a price column under a one-section header. Rows have
// one fixed height, so the view keeps nothing per row and places any of ten
// million rows by arithmetic. (A QTableView keeps a vertical header section
// for every row: about 320 MB at ten million rows.) It keeps its selected row
// highlighted without the focus, and reports the rows that the user picks: by
// a click, or by moving the selection with the keyboard. Rows the program
// selects report nothing, and so does scrolling that the program does;
// scrolling by the user (wheel, scroll bar) reports the new top row.
class PriceListView : public QAbstractItemView {
    Q_OBJECT

public:
    explicit PriceListView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;

    int RowCount() const;
    // The selected row, or -1.
    int SelectedRow() const;
    // Makes `row` the selected and current row without scrolling.
    void SelectRow(int row);
    // Scrolls so that `row` is visible.
    void EnsureRowVisible(int row);
    // Scrolls so that `row` is visible, with `top` as the top row when that
    // shows it, so that lists side by side can show a row on the same line.
    void EnsureRowVisibleFrom(int row, int top);
    // The row at the top of the viewport.
    int TopRow() const;
    // Scrolls so that `row` is the top row, as far as the list goes.
    void SetTopRow(int row);
    int RowHeight() const { return rowHeight_; }
    // Rows that fit the viewport whole (at least one).
    int PageRows() const;
    bool RowShown(int row) const { return row >= TopRow() && row < TopRow() + PageRows(); }

    // Where the rows start and end, in this list's coordinates, when no row
    // area is set: under the header, above the horizontal scroll bar.
    int NaturalRowsTop() const;
    int NaturalRowsBottom() const;
    // Puts the rows at `top`, in this list's coordinates, in an area `height`
    // high; the header grows down to it, and what is left below stays blank.
    void SetRowArea(int top, int height);

    QHeaderView* HorizontalHeader() const { return header_; }
    // The width of the one column.
    void SetColumnWidth(int width);
    int ColumnWidth() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index,
                  ScrollHint hint = QAbstractItemView::EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void keyboardSearch(const QString& search) override;

signals:
    void ItemClick(int row);
    void ItemMovedByKeyboard(int row);
    // The user scrolled the list; the program's own scrolling reports nothing.
    void ScrolledByUser(int topRow);
    void GotFocus();

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;
    void reset() override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    class ProgramScroll;

    int RowAtY(int y) const;
    int HorizontalBarExtent() const;

    QHeaderView* header_;
    int rowHeight_;
    int pressedRow_ = -1;    // the row the left button went down on, or -1
    int programScrolls_ = 0; // scrolling under way that the program does
    int rowAreaTop_ = -1;    // set by SetRowArea, or -1
    int rowAreaHeight_ = -1;
};

} // namespace pricelookup
