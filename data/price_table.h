#pragma once

#include "amount.h"
#include "pod_buffer.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pricelookup {

// Column numbers, as the price file numbers its fields.
enum Column : int { PartCode = 1, Description = 2, CostPrice = 3, RetailPrice = 4 };
inline constexpr int kColumnCount = 4;

// The four columns of display text behind the four lists: part code,
// description, cost price and retail price. Every line of the price file is
// one row in all four columns; row r of each column comes from line r + 1.
// Rows are 0-based here; the lists show them in file order.
//
// All text lives in one arena: per row, the four fields one after the other,
// each behind its length as a LEB128 number. Besides the arena a row costs one
// 64-bit offset, so a file of ten million lines needs no per-row objects.
class PriceTable {
public:
    // Adds one field of the line being read. Fields arrive in column order:
    // 1 and 2 are kept as they are, 3 and 4 become amount text, any other
    // column number is ignored. A column skipped over gets an empty field.
    // The text of columns 1 and 2 must stay valid until EndRow, as the line
    // it was cut from does.
    void PopulateForm(std::string_view theStr, int tCol);

    // Ends the line being read: the columns it did not reach get an empty
    // field (an empty price shows 0.00), so every line makes exactly one row.
    void EndRow();

    // Number of rows of a column. The four counts are always equal.
    std::size_t RowCount(int column) const;
    std::size_t size() const { return rowStart_.size(); }
    bool empty() const { return size() == 0; }

    // Text of a row (0-based) of a column (1 to 4); valid while the table lives.
    std::string_view Text(std::size_t row, int column) const;

    // Makes room for a file of `bytes` bytes ahead of the load, so that a
    // file too large for the memory there is is refused before it is read.
    // Throws std::bad_alloc when the room is not there.
    void ReserveForFile(std::uint64_t bytes);
    // The bytes ReserveForFile takes: about what the table of such a file
    // needs at most while it loads.
    static std::uint64_t ReservationForFile(std::uint64_t bytes);
    // Gives back what the load reserved but did not use.
    void ShrinkToFit();

    // Bytes held by the arena and the row offsets.
    std::size_t MemoryUsed() const {
        return arena_.size() + rowStart_.size() * sizeof(std::uint64_t);
    }

private:
    PodBuffer<char> arena_;
    PodBuffer<std::uint64_t> rowStart_;

    // The row being read, written to the arena whole by EndRow.
    int nextColumn_ = PartCode;
    std::string_view text_[2];
    char price_[2][kMaxAmountText];
    std::size_t priceLength_[2] = {0, 0};
};

} // namespace pricelookup
