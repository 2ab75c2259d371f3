#include "price_column_model.h"

#include "texts.h"

#include <QStringDecoder>

namespace pricelookup {

PriceColumnModel::PriceColumnModel(int column, QObject* parent)
    : QAbstractTableModel(parent), column_(column) {}

void PriceColumnModel::SetTable(const PriceTable* table, TextEncoding encoding) {
    beginResetModel();
    table_ = table;
    encoding_ = encoding;
    endResetModel();
}

int PriceColumnModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !table_)
        return 0;
    return static_cast<int>(table_->RowCount(column_));
}

int PriceColumnModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant PriceColumnModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || !table_ || index.column() != 0 ||
        index.row() < 0 || static_cast<std::size_t>(index.row()) >= table_->size())
        return {};
    return DecodeText(table_->Cell(static_cast<std::size_t>(index.row()), column_, cell_),
                      encoding_);
}

QVariant PriceColumnModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return texts::ListColumnHeader();
    return {};
}

QString DecodeText(std::string_view bytes, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8) {
        const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
        // fromUtf8 drops a byte-order mark at the start of what it is given;
        // at the start of a field it is the field's own character (the file's
        // mark never reaches the table).
        if (!bytes.starts_with("\xEF\xBB\xBF"))
            return QString::fromUtf8(view);
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        return decoder.decode(view);
    }
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (char b : bytes)
        *out++ = QChar(static_cast<char16_t>(Windows1252ToUnicode(static_cast<unsigned char>(b))));
    return text;
}

} // namespace pricelookup
