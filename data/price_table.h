#pragma once

#include "amount.h"
#include "byte_scan.h"
#include "pod_buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup {

// Column numbers, as the price file numbers its fields.
enum Column : int { PartCode = 1, Description = 2, CostPrice = 3, RetailPrice = 4 };
inline constexpr int kColumnCount = 4;

// The text column `column` shows for `field`: part codes and
// descriptions as they are, prices through the amount formatting and
// DoDecimals (written to `scratch`), nothing for any other column. Inline, as
// it runs for every painted cell.
inline std::string_view PopulateForm(std::string_view field, int column, std::string& scratch) {
    if (column == PartCode || column == Description)
        return field;
    if (column != CostPrice && column != RetailPrice)
        return {};
    // Formatted aside first: the field may be a view of `scratch`.
    char price[kMaxAmountText];
    const std::size_t n = FormatPriceField(field, price);
    scratch.assign(price, n);
    return scratch;
}

// The four columns of display text behind the four lists: part code,
// description, cost price and retail price. Every line of the price file is
// one row in all four columns; row r of each column comes from line r + 1.
// Rows are 0-based here; the lists show them in file order.
//
// The table keeps each line as it was read, and cuts it into fields only
// when a row is asked for: the lists show a screenful of rows at a time, so
// the load reads bytes and nothing more. Lines live in arenas, one after the
// other; besides its bytes a row costs one 32-bit offset. A table loaded in
// parts keeps one arena per part, read into straight from the file with the
// lines' endings, and joined by row number rather than copied together; an
// arena that would pass 4 GiB is closed and the rows go on in a new one.
class PriceTable {
public:
    PriceTable();

    // Adds one line (without its ending) as the next row.
    void AddLine(std::string_view line);

    // For a load that reads the file straight into the table and finds its
    // lines where they lie, so that no byte is copied twice. Rows added so
    // keep their line's ending (CR or CR LF), which Line leaves out: a line
    // never holds a CR of its own.
    //
    // Room for `bytes` more bytes after the last arena's text, with 16 more
    // readable past them; KeepText makes the first `bytes` read there text.
    char* TextRoom(std::size_t bytes);
    void KeepText(std::size_t bytes);
    // The last arena's text, and cutting it back to its first `size` bytes.
    std::string_view LastText() const {
        const Arena& arena = arenas_.back();
        return {arena.text.data(), arena.text.size()};
    }
    void CutLastText(std::size_t size);
    // The line that starts `offset` bytes into the last arena's text, and
    // runs to the next row's start or the text's end, is the next row.
    void AddRowAt(std::size_t offset) {
        arenas_.back().rowStart.push_back(static_cast<std::uint32_t>(offset));
        ++rows_;
    }
    // Starts a new arena with the last arena's text from `offset` on: rows
    // are 32-bit offsets, so an arena holds no row past 4 GiB.
    void MoveTextToNewArena(std::size_t offset);
    static constexpr std::size_t kMaxRowStart = UINT32_MAX;

    // Number of rows of a column. The four counts are always equal.
    std::size_t RowCount(int column) const;
    std::size_t size() const { return rows_; }
    bool empty() const { return size() == 0; }

    // The text of a row (0-based) of a column (1 to 4): a view of the table
    // or of `scratch`, valid until either changes.
    std::string_view Cell(std::size_t row, int column, std::string& scratch) const;
    // The same as a string, for callers off the hot path.
    std::string Text(std::size_t row, int column) const;
    // The line of a row (0-based) as it was read, without its ending.
    std::string_view Line(std::size_t row) const {
        if (row >= rows_)
            return {};
        const Arena& arena = ArenaOf(row);
        return arena.Line(row - arena.firstRow);
    }

    // The part code of a line, as Cell gives it for the line's row: a view of
    // the line, or of `scratch` for a quoted code, where 16 bytes are then
    // readable from its start whatever its length.
    static std::string_view PartCodeOf(std::string_view line, std::string& scratch) {
        if (line.empty() || line.front() != '"')
            return {line.data(),
                    static_cast<std::size_t>(FindByte(line.data(), line.data() + line.size(), ',') -
                                             line.data())};
        return QuotedPartCode(line, scratch);
    }

    // Calls f(row, partCode) for the rows first to last - 1, in order; 16
    // bytes are readable from the start of each code.
    template <typename F> void ForEachPartCode(std::size_t first, std::size_t last, F&& f) const;

    // Makes room for a file of `bytes` bytes ahead of the load, so that a
    // file too large for the memory there is is refused before it is read.
    // Throws std::bad_alloc when the room is not there.
    void ReserveForFile(std::uint64_t bytes);
    // The bytes ReserveForFile takes: about what the table of such a file
    // needs at most while it loads.
    static std::uint64_t ReservationForFile(std::uint64_t bytes);
    // Makes room for `rows` more rows of `arenaBytes` bytes in all; with
    // `backNow`, the room is backed with memory at once, for a load that is
    // about to fill it.
    void Reserve(std::size_t rows, std::size_t arenaBytes, bool backNow = false);
    // Gives back what the load reserved but did not use.
    void ShrinkToFit();

    // Moves the rows of `rest` after the rows of this table; their text stays
    // where it is. `rest` is left empty.
    void Append(PriceTable&& rest);

    // Bytes held by the arenas and the row offsets.
    std::size_t MemoryUsed() const;

private:
    // Bytes kept readable past an arena's last line, so that 16 bytes can
    // be read from the start of any part code.
    static constexpr std::size_t kPad = 16;

    struct Arena {
        std::size_t firstRow = 0;
        PodBuffer<char> text;
        PodBuffer<std::uint32_t> rowStart; // where each row's line begins

        std::string_view Line(std::size_t localRow) const {
            const std::size_t begin = rowStart[localRow];
            std::size_t end = localRow + 1 < rowStart.size() ? rowStart[localRow + 1] : text.size();
            // A line read in place ends with its CR or CR LF.
            if (end > begin && text[end - 1] == '\n' && end - begin >= 2 && text[end - 2] == '\r')
                end -= 2;
            else if (end > begin && text[end - 1] == '\r')
                --end;
            return {text.data() + begin, end - begin};
        }
    };
    const Arena& ArenaOf(std::size_t row) const;
    // The part code of a line whose first byte is a double quote.
    static std::string_view QuotedPartCode(std::string_view line, std::string& scratch);
    void NewArena();

    std::vector<Arena> arenas_; // never empty: rows are added to the last
    std::size_t rows_ = 0;
};

template <typename F>
void PriceTable::ForEachPartCode(std::size_t first, std::size_t last, F&& f) const {
    std::string scratch;
    for (const Arena& arena : arenas_) {
        const std::size_t end = arena.firstRow + arena.rowStart.size();
        for (std::size_t row = std::max(first, arena.firstRow); row < std::min(last, end); ++row)
            f(row, PartCodeOf(arena.Line(row - arena.firstRow), scratch));
    }
}

} // namespace pricelookup
