#pragma once

#include <QAccessibleWidget>

#include <QPointer>

#include <deque>
#include <unordered_map>

namespace pricelookup {

class PriceListView;

// A price list as assistive technology sees it: a one-column table named by
// its header label, with the column header "Part No" as its first child when
// the list shows it, then one cell per row. The list keeps nothing per row, so
// neither does this: a row's accessible object is made when something asks
// for that row, and only the most recently asked rows are kept.
class PriceListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit PriceListAccessible(PriceListView* view);
    ~PriceListAccessible() override;

    // Rows whose accessible objects are kept; older ones are let go.
    static constexpr std::size_t kKeptRows = 1024;

    void* interface_cast(QAccessible::InterfaceType type) override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int columnCount() const override { return 1; }
    int rowCount() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    bool isColumnSelected(int column) const override;
    bool isRowSelected(int row) const override;
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override;
    int selectedColumnCount() const override;
    QList<int> selectedColumns() const override;
    int selectedRowCount() const override;
    QList<int> selectedRows() const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

    // The accessible object of a row, made on demand.
    QAccessibleInterface* Row(int row) const;
    // The column header, or null when the list shows none.
    QAccessibleInterface* Header() const;
    // Rows come after the header: 1 when the list shows one, else 0.
    int FirstRowChild() const;

private:
    PriceListView* View() const;
    void ForgetRows() const;

    mutable std::unordered_map<int, QAccessible::Id> rows_;
    mutable std::deque<int> rowOrder_; // oldest first
    mutable QAccessible::Id header_ = 0;
};

// Makes the price lists known to assistive technology: the main window calls
// it once. Safe to call again.
void InstallPriceListAccessibility();

} // namespace pricelookup
