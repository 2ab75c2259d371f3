#pragma once

#include "fake_price_files.h"
#include "price_file.h"
#include "price_table.h"

#include <string>
#include <string_view>
#include <vector>

namespace pricelookup::testing {

// The table as the screen shows it: one string per row, columns joined by " | ".
inline std::vector<std::string> Rows(const PriceTable& table) {
    std::vector<std::string> rows;
    for (std::size_t r = 0; r < table.size(); ++r) {
        std::string row;
        for (int c = PartCode; c <= RetailPrice; ++c) {
            if (c != PartCode)
                row += " | ";
            row += table.Text(r, c);
        }
        rows.push_back(row);
    }
    return rows;
}

// Whether two tables hold the same lines, and so show the same rows: far
// cheaper than formatting both.
inline bool SameLines(const PriceTable& a, const PriceTable& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t r = 0; r < a.size(); ++r)
        if (a.Line(r) != b.Line(r))
            return false;
    return true;
}

// The rows that a file of these bytes shows.
inline std::vector<std::string> RowsOf(std::string_view bytes) {
    PriceTable table;
    LoadPriceBytes(bytes, table, nullptr);
    return Rows(table);
}

using Lines = std::vector<std::string>;

} // namespace pricelookup::testing
