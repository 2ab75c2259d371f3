#pragma once

#include "price_table.h"
#include "text_encoding.h"

#include <QAbstractTableModel>

namespace pricelookup {

// One column of the price table as a one-column item model. Nothing is held
// per row: the text is decoded from the table when a row is painted.
class PriceColumnModel : public QAbstractTableModel {
    Q_OBJECT

public:
    PriceColumnModel(int column, QObject* parent = nullptr);

    // Shows `table` (which must outlive the model), decoding its text with `encoding`.
    void SetTable(const PriceTable* table, TextEncoding encoding);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    int column_;
    const PriceTable* table_ = nullptr;
    TextEncoding encoding_ = TextEncoding::Utf8;
    mutable std::string cell_; // the text of the last cell asked for, when not the table's
};

// Text of the file's bytes for the screen.
QString DecodeText(std::string_view bytes, TextEncoding encoding);

} // namespace pricelookup
