#pragma once

#include "amount.h"
#include "pod_buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace pricelookup {

// Column numbers, as the price file numbers its fields.
enum Column : int { PartCode = 1, Description = 2, CostPrice = 3, RetailPrice = 4 };
inline constexpr int kColumnCount = 4;

// The four columns of display text behind the four lists: part code,
// description, cost price and retail price. Every line of the price file is
// one row in all four columns; row r of each column comes from line r + 1.
// Rows are 0-based here; the lists show them in file order.
//
// Text lives in arenas: per row, the four fields one after the other, each
// behind its length as a LEB128 number. Besides its arena a row costs one
// 32-bit offset, so a file of ten million lines needs no per-row objects. A
// table loaded in parts keeps one arena per part, joined by row number rather
// than copied together; an arena that would pass 4 GiB is closed and the rows
// go on in a new one.
class PriceTable {
public:
    PriceTable();

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
    std::size_t size() const { return rows_; }
    bool empty() const { return size() == 0; }

    // Text of a row (0-based) of a column (1 to 4); valid while the table lives.
    std::string_view Text(std::size_t row, int column) const;

    // The part code of the last row, as Text(size() - 1, PartCode), without
    // walking to it.
    std::string_view LastPartCode() const {
        return {arenas_.back().text.data() + lastPartCode_.first, lastPartCode_.second};
    }

    // Calls f(row, partCode) for the rows first to last - 1, in order.
    template <typename F> void ForEachPartCode(std::size_t first, std::size_t last, F&& f) const;

    // Makes room for a file of `bytes` bytes ahead of the load, so that a
    // file too large for the memory there is is refused before it is read.
    // Throws std::bad_alloc when the room is not there.
    void ReserveForFile(std::uint64_t bytes);
    // The bytes ReserveForFile takes: about what the table of such a file
    // needs at most while it loads.
    static std::uint64_t ReservationForFile(std::uint64_t bytes);
    // Makes room for `rows` more rows of `arenaBytes` bytes in all.
    void Reserve(std::size_t rows, std::size_t arenaBytes);
    // Gives back what the load reserved but did not use.
    void ShrinkToFit();

    // Moves the rows of `rest` after the rows of this table; their text stays
    // where it is. `rest` is left empty.
    void Append(PriceTable&& rest);

    // Bytes held by the arenas and the row offsets.
    std::size_t MemoryUsed() const;

private:
    struct Arena {
        std::size_t firstRow = 0;
        PodBuffer<char> text;
        PodBuffer<std::uint32_t> rowStart; // where each row's text begins
    };
    const Arena& ArenaOf(std::size_t row) const;
    static const char* RowText(const Arena& arena, std::size_t localRow, int column);
    void NewArena();

    std::vector<Arena> arenas_; // never empty: rows are added to the last
    std::size_t rows_ = 0;

    // Where the last row's part code is in the last arena, and its length.
    std::pair<std::size_t, std::size_t> lastPartCode_{0, 0};

    // The row being read, written to the arena whole by EndRow.
    int nextColumn_ = PartCode;
    std::string_view text_[2];
    char price_[2][kMaxAmountText];
    std::size_t priceLength_[2] = {0, 0};
};

template <typename F>
void PriceTable::ForEachPartCode(std::size_t first, std::size_t last, F&& f) const {
    for (const Arena& arena : arenas_) {
        const std::size_t end = arena.firstRow + arena.rowStart.size();
        for (std::size_t row = std::max(first, arena.firstRow); row < std::min(last, end); ++row) {
            const char* p = arena.text.data() + arena.rowStart[row - arena.firstRow];
            std::size_t n = static_cast<unsigned char>(*p);
            if (n < 0x80) {
                f(row, std::string_view(p + 1, n));
                continue;
            }
            f(row, Text(row, PartCode));
        }
    }
}

} // namespace pricelookup
