#include "price_table.h"

#include "amount.h"
#include "file_access.h"
#include "split_line.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace pricelookup {

PriceTable::PriceTable() {
    arenas_.emplace_back();
}

void PriceTable::AddLine(std::string_view line) {
    if (arenas_.back().text.size() + line.size() + kPad > UINT32_MAX &&
        !arenas_.back().rowStart.empty())
        NewArena();
    Arena& arena = arenas_.back();
    char* out = arena.text.grow_by(line.size() + kPad);
    if (!line.empty())
        std::memcpy(out, line.data(), line.size());
    arena.rowStart.push_back(static_cast<std::uint32_t>(arena.text.size()));
    arena.text.commit(line.size());
    ++rows_;
}

char* PriceTable::TextRoom(std::size_t bytes) {
    PodBuffer<char>& text = arenas_.back().text;
    char* room = text.grow_by(bytes + kPad);
    // The pad is read past a short code at the end: it holds nothing unknown.
    std::memset(room + bytes, 0, kPad);
    return room;
}

void PriceTable::KeepText(std::size_t bytes) {
    PodBuffer<char>& text = arenas_.back().text;
    text.commit(bytes);
    std::memset(text.data() + text.size(), 0, kPad);
}

void PriceTable::CutLastText(std::size_t size) {
    PodBuffer<char>& text = arenas_.back().text;
    if (size < text.size()) {
        text.resize(size);
        std::memset(text.data() + size, 0, kPad);
    }
}

void PriceTable::MoveTextToNewArena(std::size_t offset) {
    PodBuffer<char>& text = arenas_.back().text;
    const std::size_t moved = text.size() - std::min(offset, text.size());
    PodBuffer<char> rest;
    rest.reserve(moved + kPad);
    if (moved > 0)
        std::memcpy(rest.data(), text.data() + text.size() - moved, moved);
    std::memset(rest.data() + moved, 0, kPad);
    rest.commit(moved);
    text.resize(text.size() - moved);
    NewArena();
    arenas_.back().text = std::move(rest);
}

std::string_view PriceTable::Cell(std::size_t row, int column, std::string& scratch) const {
    if (row >= rows_ || column < PartCode || column > RetailPrice)
        return {};
    const Arena& arena = ArenaOf(row);
    std::string_view fields[kColumnCount];
    SplitStr(arena.Line(row - arena.firstRow), fields, column, scratch);
    return PopulateForm(fields[column - PartCode], column, scratch);
}

std::string PriceTable::Text(std::size_t row, int column) const {
    std::string scratch;
    return std::string(Cell(row, column, scratch));
}

std::string_view PriceTable::QuotedPartCode(std::string_view line, std::string& scratch) {
    std::string_view code;
    DoCommas(line, &code, 1, scratch);
    if (scratch.empty() || code.data() != scratch.data())
        return code; // a view of the line, which the arena pads
    const std::size_t n = code.size();
    scratch.append(kPad, '\0');
    return {scratch.data(), n};
}

void PriceTable::NewArena() {
    arenas_.back().text.shrink_to_fit(kPad);
    arenas_.back().rowStart.shrink_to_fit();
    arenas_.emplace_back();
    arenas_.back().firstRow = rows_;
}

std::size_t PriceTable::RowCount(int column) const {
    return column >= PartCode && column <= RetailPrice ? size() : 0;
}

const PriceTable::Arena& PriceTable::ArenaOf(std::size_t row) const {
    if (arenas_.size() == 1)
        return arenas_.front();
    // The last arena whose first row is at or before `row`.
    auto it = std::upper_bound(arenas_.begin(), arenas_.end(), row,
                               [](std::size_t r, const Arena& a) { return r < a.firstRow; });
    return *(it - 1);
}

namespace {

// A row holds its line without the ending; every arena keeps a few bytes
// spare past its last line.
std::uint64_t ArenaForFile(std::uint64_t bytes) {
    const std::uint64_t arena = bytes + 4096;
    return arena > bytes ? arena : UINT64_MAX; // a file near 2^64 bytes overflows the sum
}
// Price lists run to some 60 bytes a line; a file of shorter lines grows the
// offsets as it loads.
std::uint64_t RowsForFile(std::uint64_t bytes) {
    return bytes / 32 + 1024;
}

// The count as a size, or one no allocation can meet.
std::size_t AsSize(std::uint64_t n, std::uint64_t unit) {
    const std::uint64_t most = SIZE_MAX / unit;
    return static_cast<std::size_t>(n < most ? n : most);
}

} // namespace

void PriceTable::ReserveForFile(std::uint64_t bytes) {
    const std::uint64_t arena = ArenaForFile(bytes);
    if (arena > UINT32_MAX) {
        // One arena holds 4 GiB at most, and the rows past it go to arenas
        // taken as they are needed: the whole room is asked for once here,
        // so that a file too large is still refused before it is read.
        void* room = std::malloc(AsSize(ReservationForFile(bytes), 1));
        if (!room)
            throw std::bad_alloc();
        std::free(room);
    }
    Reserve(AsSize(RowsForFile(bytes), sizeof(std::uint32_t)), AsSize(arena, 1));
}

std::uint64_t PriceTable::ReservationForFile(std::uint64_t bytes) {
    const std::uint64_t arena = ArenaForFile(bytes);
    const std::uint64_t total = arena + RowsForFile(bytes) * sizeof(std::uint32_t);
    return total > arena ? total : UINT64_MAX;
}

void PriceTable::Reserve(std::size_t rows, std::size_t arenaBytes, bool backNow) {
    Arena& arena = arenas_.back();
    arena.text.reserve(arena.text.size() + std::min<std::size_t>(arenaBytes, UINT32_MAX));
    arena.rowStart.reserve(arena.rowStart.size() + rows);
    if (backNow) {
        PrefaultMemory(arena.text.data() + arena.text.size(),
                       arena.text.capacity() - arena.text.size());
        PrefaultMemory(arena.rowStart.data() + arena.rowStart.size(),
                       (arena.rowStart.capacity() - arena.rowStart.size()) * sizeof(std::uint32_t));
    }
}

void PriceTable::ShrinkToFit() {
    for (Arena& arena : arenas_) {
        arena.text.shrink_to_fit(kPad);
        arena.rowStart.shrink_to_fit();
    }
}

void PriceTable::Append(PriceTable&& rest) {
    if (&rest == this || rest.rows_ == 0)
        return;
    if (rows_ == 0)
        arenas_.clear();
    for (Arena& arena : rest.arenas_) {
        if (arena.rowStart.size() == 0)
            continue;
        arena.firstRow += rows_;
        arenas_.push_back(std::move(arena));
    }
    rows_ += rest.rows_;
    rest.arenas_.clear();
    rest.arenas_.emplace_back();
    rest.rows_ = 0;
}

std::size_t PriceTable::MemoryUsed() const {
    std::size_t bytes = 0;
    for (const Arena& arena : arenas_)
        bytes += arena.text.size() + arena.rowStart.size() * sizeof(std::uint32_t);
    return bytes;
}

} // namespace pricelookup
