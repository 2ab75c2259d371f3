#pragma once

#include "price_table.h"

#include <string>
#include <string_view>

namespace pricelookup::testing {

// Builds a table's rows field by field, as the lines a price file would hold:
// every field in quotes with its own quotes doubled, so that the table cuts
// the line back into exactly those fields.
class RowBuilder {
public:
    explicit RowBuilder(PriceTable& table) : table_(table) {}

    // Appends `text` quoted as the line's field for `column`. Fields arrive
    // in column order; any other column number is ignored, and a column
    // skipped over gets an empty field.
    void AddQuotedField(std::string_view text, int column) {
        if (column < next_ || column > RetailPrice)
            return;
        for (int c = next_; c <= column; ++c) {
            if (c > PartCode)
                line_ += ',';
            if (c < column)
                continue;
            line_ += '"';
            for (char ch : text) {
                line_ += ch;
                if (ch == '"')
                    line_ += '"';
            }
            line_ += '"';
        }
        next_ = column + 1;
    }

    // Adds the row; the columns it did not reach are empty.
    void EndRow() {
        table_.AddLine(line_);
        line_.clear();
        next_ = PartCode;
    }

private:
    PriceTable& table_;
    std::string line_;
    int next_ = PartCode;
};

} // namespace pricelookup::testing
