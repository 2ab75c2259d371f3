#pragma once

#include <QTableView>

namespace pricelookup {

// A one-column list of a price column. It keeps nothing per row (rows have
// one fixed height), keeps its selected row highlighted without the focus,
// and reports the rows that the user picks: by a click, or by moving the
// selection with the keyboard. Rows that the program selects report nothing.
class PriceListView : public QTableView {
    Q_OBJECT

public:
    explicit PriceListView(QWidget* parent = nullptr);

    int RowCount() const;
    // The selected row, or -1.
    int SelectedRow() const;
    // Makes `row` the selected row without scrolling.
    void SelectRow(int row);
    // Scrolls so that `row` is visible.
    void EnsureVisible(int row);

    void keyboardSearch(const QString& search) override;

signals:
    void ItemClick(int row);
    void ItemMovedByKeyboard(int row);
    void GotFocus();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void focusInEvent(QFocusEvent* event) override;
};

} // namespace pricelookup
