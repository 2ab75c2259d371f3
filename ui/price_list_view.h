#pragma once

#include <QAbstractItemView>
#include <QAccessible>
#include <QTimer>

class QHeaderView;

namespace pricelookup {

// A one-column list of a price column under a one-section header. Rows have
// one fixed height, so the view keeps nothing per row and places any of ten
// million rows by arithmetic. (A QTableView keeps a vertical header section
// for every row: about 320 MB at ten million rows.) It keeps its selected row
// highlighted without the focus, in the active selection colour while it has
// the focus and in the inactive one otherwise. It reports the rows that the
// user picks: by a click of either button, a drag, the keyboard, or a screen
// reader. Rows the program selects report nothing, and so does scrolling that
// the program does; scrolling by the user (wheel, scroll bar, a drag past an
// edge) reports the new top row. It tells assistive technology what changes
// in it, as Qt's own item views do.
// price_list_view.cpp lays it out and scrolls it; price_list_input.cpp takes
// the keyboard, the mouse and the focus; price_list_painting.cpp paints it.
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
    // Where the user now is, whoever picked it (mouse, keyboard, the search
    // box, a screen reader): selects `row`, scrolls it into view, and makes it
    // what a screen reader speaks next, also while the keyboard is elsewhere.
    // Reports nothing: the caller knows why the row was picked.
    void PickRow(int row);
    // The user picked `row` (a key, or a screen reader acting for the user):
    // PickRow, then ItemClick, so that the other lists follow.
    void UserPickRow(int row);
    // Tells a screen reader that the current row is where the user is.
    void AnnounceCurrentRow();
    // The number by which assistive technology knows `row` among the list's
    // children: the column header, when shown, comes first.
    int AccessibleChild(int row) const;
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
    // The width of the one column before the list is laid out. Until the user
    // drags the header's edge, the column then takes the list's whole width.
    void SetColumnWidth(int width);
    int ColumnWidth() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index,
                  ScrollHint hint = QAbstractItemView::EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void keyboardSearch(const QString& search) override;

    // Whether the cell's text shows whole: not cut at its end nor by the
    // list's edges.
    bool TextShownWhole(int row) const;

signals:
    // The user picked `row`: by a click, a drag, a key or a screen reader.
    void ItemClick(int row);
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
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
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
    void Announce(QAccessible::Event type, int row);
    // The column's width for the list's present width.
    void FitColumn();
    // While a button is held: the row under the pointer at `y`, or the edge
    // row with the list scrolling along when the pointer is above or below.
    void DragTo(int y);
    void DragScrollStep();
    void DragPick(int row);
    // Repaints the selected and the current row.
    void UpdateSelectedRows();

    QHeaderView* header_;
    int rowHeight_;
    Qt::MouseButton pressed_ = Qt::NoButton; // the button that picked a row
    int dragY_ = 0;                          // the pointer while dragging
    int reportedRow_ = -1;                   // the row a drag reported last
    QTimer dragScroll_;
    int programScrolls_ = 0;    // scrolling under way that the program does
    bool quietCurrent_ = false; // a new current row that is not announced
    int designWidth_ = 0;
    bool programSizing_ = false;
    bool userSized_ = false; // the user dragged the header's edge
    bool headerPressed_ = false;
    int rowAreaTop_ = -1; // set by SetRowArea, or -1
    int rowAreaHeight_ = -1;
};

} // namespace pricelookup
