#include "price_list_accessible.h"

#include "price_list_view.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QWidget>
#include <QWindow>

namespace pricelookup {

namespace {

PriceListAccessible* ListInterface(const PriceListView* view) {
    if (!view)
        return nullptr;
    return dynamic_cast<PriceListAccessible*>(
        QAccessible::queryAccessibleInterface(const_cast<PriceListView*>(view)));
}

QWindow* WindowOf(const QWidget* widget) {
    const QWidget* top = widget ? widget->window() : nullptr;
    return top ? top->windowHandle() : nullptr;
}

QRect GlobalRect(const QWidget* widget, const QRect& local) {
    return QRect(widget->mapToGlobal(local.topLeft()), local.size());
}

// What the header and a row have alike: a leaf of one list, with no object
// of its own, and a text that is read but never set.
class LeafOfList : public QAccessibleInterface {
public:
    explicit LeafOfList(PriceListView* view) : view_(view) {}

    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return WindowOf(view_); }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return ListInterface(view_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}

protected:
    QPointer<PriceListView> view_;
};

// The column header above the rows: "Part No".
class HeaderAccessible : public LeafOfList {
public:
    using LeafOfList::LeafOfList;

    bool isValid() const override { return view_ && view_->model(); }
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !isValid())
            return {};
        return view_->model()->headerData(0, Qt::Horizontal).toString();
    }
    QRect rect() const override {
        if (!view_)
            return {};
        const QHeaderView* header = view_->HorizontalHeader();
        return GlobalRect(header, header->rect());
    }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.readOnly = true;
        if (!view_ || !view_->isVisible())
            state.invisible = true;
        return state;
    }
};

// One row of a list. It holds only its row number: the text is the model's,
// read when asked.
class RowAccessible : public LeafOfList, public QAccessibleTableCellInterface {
public:
    RowAccessible(PriceListView* view, int row) : LeafOfList(view), row_(row) {}

    PriceListView* View() const { return view_; }

    bool isValid() const override { return view_ && row_ >= 0 && row_ < view_->RowCount(); }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !isValid())
            return {};
        return Index().data(Qt::DisplayRole).toString();
    }
    QRect rect() const override {
        if (!isValid())
            return {};
        return GlobalRect(view_->viewport(), view_->visualRect(Index()));
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.readOnly = true;
        state.selectable = true;
        state.focusable = true;
        state.selected = isSelected();
        state.focused = view_->hasFocus() && view_->currentIndex() == Index();
        const QRect shown = view_->visualRect(Index());
        if (!view_->isVisible() || !shown.intersects(view_->viewport()->rect())) {
            state.invisible = true;
            state.offscreen = true;
        }
        return state;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override {
        return isValid() && view_->selectionModel() && view_->selectionModel()->isSelected(Index());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        const PriceListAccessible* list = ListInterface(view_);
        QAccessibleInterface* header = list ? list->Header() : nullptr;
        return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return ListInterface(view_); }

private:
    QModelIndex Index() const { return view_->model()->index(row_, 0, view_->rootIndex()); }

    int row_;
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className != QLatin1String(PriceListView::staticMetaObject.className()))
        return nullptr;
    auto* view = qobject_cast<PriceListView*>(object);
    return view ? new PriceListAccessible(view) : nullptr;
}

} // namespace

PriceListAccessible::PriceListAccessible(PriceListView* view)
    : QAccessibleWidget(view, QAccessible::Table) {}

PriceListAccessible::~PriceListAccessible() {
    ForgetRows();
    if (header_)
        QAccessible::deleteAccessibleInterface(header_);
}

PriceListView* PriceListAccessible::View() const {
    return static_cast<PriceListView*>(widget());
}

void* PriceListAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

int PriceListAccessible::FirstRowChild() const {
    const PriceListView* view = View();
    return view ? view->AccessibleChild(0) : 0;
}

int PriceListAccessible::childCount() const {
    return FirstRowChild() + rowCount();
}

QAccessibleInterface* PriceListAccessible::child(int index) const {
    const int first = FirstRowChild();
    if (index < 0)
        return nullptr;
    if (index < first)
        return Header();
    return Row(index - first);
}

int PriceListAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child)
        return -1;
    if (header_ && child == QAccessible::accessibleInterface(header_))
        return FirstRowChild() > 0 ? 0 : -1;
    const QAccessibleTableCellInterface* cell =
        const_cast<QAccessibleInterface*>(child)->tableCellInterface();
    if (!cell || cell->table() != this)
        return -1;
    return FirstRowChild() + cell->rowIndex();
}

QAccessibleInterface* PriceListAccessible::childAt(int x, int y) const {
    const PriceListView* view = View();
    if (!view)
        return nullptr;
    const QPoint global(x, y);
    const QHeaderView* header = view->HorizontalHeader();
    if (FirstRowChild() > 0 && header->rect().contains(header->mapFromGlobal(global)))
        return Header();
    const QPoint local = view->viewport()->mapFromGlobal(global);
    if (!view->viewport()->rect().contains(local))
        return nullptr;
    const QModelIndex index = view->indexAt(local);
    return index.isValid() ? Row(index.row()) : nullptr;
}

QAccessibleInterface* PriceListAccessible::focusChild() const {
    const PriceListView* view = View();
    if (!view || !view->hasFocus() || !view->currentIndex().isValid())
        return nullptr;
    return Row(view->currentIndex().row());
}

QAccessibleInterface* PriceListAccessible::cellAt(int row, int column) const {
    return column == 0 ? Row(row) : nullptr;
}

int PriceListAccessible::rowCount() const {
    const PriceListView* view = View();
    return view ? view->RowCount() : 0;
}

QString PriceListAccessible::columnDescription(int column) const {
    const PriceListView* view = View();
    if (column != 0 || !view || !view->model())
        return {};
    return view->model()->headerData(0, Qt::Horizontal).toString();
}

bool PriceListAccessible::isColumnSelected(int column) const {
    const int rows = rowCount();
    return column == 0 && rows > 0 && selectedRowCount() == rows;
}

bool PriceListAccessible::isRowSelected(int row) const {
    const PriceListView* view = View();
    return view && view->selectionModel() && row >= 0 && row < rowCount() &&
           view->selectionModel()->isRowSelected(row, view->rootIndex());
}

QList<int> PriceListAccessible::selectedRows() const {
    QList<int> rows;
    const PriceListView* view = View();
    if (!view || !view->selectionModel())
        return rows;
    // The list selects one row at a time, so this stays short.
    for (const QItemSelectionRange& range : view->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows << row;
    return rows;
}

int PriceListAccessible::selectedRowCount() const {
    const PriceListView* view = View();
    if (!view || !view->selectionModel())
        return 0;
    int count = 0;
    for (const QItemSelectionRange& range : view->selectionModel()->selection())
        count += range.height();
    return count;
}

QList<QAccessibleInterface*> PriceListAccessible::selectedCells() const {
    QList<QAccessibleInterface*> cells;
    for (int row : selectedRows())
        cells << Row(row);
    return cells;
}

int PriceListAccessible::selectedColumnCount() const {
    return isColumnSelected(0) ? 1 : 0;
}

QList<int> PriceListAccessible::selectedColumns() const {
    return isColumnSelected(0) ? QList<int>{0} : QList<int>{};
}

bool PriceListAccessible::selectRow(int row) {
    PriceListView* view = View();
    if (!view || row < 0 || row >= rowCount())
        return false;
    // Picking a row from assistive technology is the user's pick, as a click is.
    view->UserPickRow(row);
    return true;
}

void PriceListAccessible::modelChange(QAccessibleTableModelChangeEvent*) {
    ForgetRows();
}

QAccessibleInterface* PriceListAccessible::Row(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    if (const auto found = rows_.find(row); found != rows_.end())
        return QAccessible::accessibleInterface(found->second);
    auto* cell = new RowAccessible(View(), row);
    rows_.emplace(row, QAccessible::registerAccessibleInterface(cell));
    rowOrder_.push_back(row);
    while (rowOrder_.size() > kKeptRows) {
        const auto oldest = rows_.find(rowOrder_.front());
        rowOrder_.pop_front();
        QAccessible::deleteAccessibleInterface(oldest->second);
        rows_.erase(oldest);
    }
    return cell;
}

QAccessibleInterface* PriceListAccessible::Header() const {
    if (FirstRowChild() == 0)
        return nullptr;
    if (!header_)
        header_ = QAccessible::registerAccessibleInterface(new HeaderAccessible(View()));
    return QAccessible::accessibleInterface(header_);
}

void PriceListAccessible::ForgetRows() const {
    for (const auto& [row, id] : rows_)
        QAccessible::deleteAccessibleInterface(id);
    rows_.clear();
    rowOrder_.clear();
}

void InstallPriceListAccessibility() {
    static const bool installed = (QAccessible::installFactory(&Factory), true);
    (void)installed;
}

} // namespace pricelookup
