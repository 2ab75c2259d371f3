#include "price_table.h"

#include "amount.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace pricelookup {

namespace {

std::size_t ReadLength(const char*& p) {
    std::size_t value = 0;
    int shift = 0;
    for (;;) {
        auto b = static_cast<unsigned char>(*p++);
        value |= static_cast<std::size_t>(b & 0x7F) << shift;
        if (b < 0x80)
            return value;
        shift += 7;
    }
}

} // namespace

PriceTable::PriceTable() {
    arenas_.emplace_back();
}

void PriceTable::PopulateForm(std::string_view theStr, int tCol) {
    if (tCol < nextColumn_ || tCol > RetailPrice)
        return;
    // A loop, not a call to itself for the skipped columns: the recursion,
    // unrolled, cost every field a long prologue of spills.
    auto set = [this](int column, std::string_view text) {
        if (column >= CostPrice) {
            const int i = column - CostPrice;
            priceLength_[i] = FormatPriceField(text, price_[i]);
        } else {
            text_[column - PartCode] = text;
        }
    };
    for (int c = nextColumn_; c < tCol; ++c)
        set(c, {});
    set(tCol, theStr);
    nextColumn_ = tCol + 1;
}

namespace {

char* WriteField(char* p, std::string_view text) {
    std::size_t n = text.size();
    while (n >= 0x80) {
        *p++ = static_cast<char>((n & 0x7F) | 0x80);
        n >>= 7;
    }
    *p++ = static_cast<char>(n);
    if (!text.empty())
        std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

// A price's buffer is far longer than the price, so a short one goes over in
// one fixed-size copy, without a call; the arena has room for the overshoot.
constexpr std::size_t kPriceCopy = 16;
static_assert(kMaxAmountText >= kPriceCopy);

char* WritePrice(char* p, const char* text, std::size_t n) {
    if (n > kPriceCopy)
        return WriteField(p, {text, n});
    *p++ = static_cast<char>(n);
    std::memcpy(p, text, kPriceCopy);
    return p + n;
}

} // namespace

void PriceTable::EndRow() {
    if (nextColumn_ <= RetailPrice)
        PopulateForm({}, RetailPrice);
    const std::string_view fields[kColumnCount] = {
        text_[0], text_[1], {price_[0], priceLength_[0]}, {price_[1], priceLength_[1]}};
    // Ten bytes of length at most per field, and the last price's overshoot.
    const std::size_t most = fields[0].size() + fields[1].size() + fields[2].size() +
                             fields[3].size() + 4 * 10 + kPriceCopy;
    if (arenas_.back().text.size() + most > UINT32_MAX && !arenas_.back().rowStart.empty())
        NewArena();
    Arena& arena = arenas_.back();
    char* out = arena.text.grow_by(most);
    char* p = out;
    p = WriteField(p, fields[0]);
    lastPartCode_ = {arena.text.size() + static_cast<std::size_t>(p - out) - fields[0].size(),
                     fields[0].size()};
    p = WriteField(p, fields[1]);
    p = WritePrice(p, price_[0], priceLength_[0]);
    p = WritePrice(p, price_[1], priceLength_[1]);
    arena.rowStart.push_back(static_cast<std::uint32_t>(arena.text.size()));
    arena.text.commit(static_cast<std::size_t>(p - out));
    ++rows_;
    nextColumn_ = PartCode;
    // Two plain stores: the chained form stored text_[1] in halves and read it
    // back whole, a forwarding stall on every row.
    text_[0] = {};
    text_[1] = {};
}

void PriceTable::NewArena() {
    arenas_.back().text.shrink_to_fit();
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

const char* PriceTable::RowText(const Arena& arena, std::size_t localRow, int column) {
    const char* p = arena.text.data() + arena.rowStart[localRow];
    for (int c = PartCode; c < column; ++c) {
        std::size_t n = ReadLength(p);
        p += n;
    }
    return p;
}

std::string_view PriceTable::Text(std::size_t row, int column) const {
    const Arena& arena = ArenaOf(row);
    const char* p = RowText(arena, row - arena.firstRow, column);
    std::size_t n = ReadLength(p);
    return {p, n};
}

namespace {

// Stored rows are shorter than their lines (no commas, no line ends), except
// for short price fields, which grow to their amount text.
std::uint64_t ArenaForFile(std::uint64_t bytes) {
    const std::uint64_t arena = bytes + bytes / 4 + 4096;
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

void PriceTable::Reserve(std::size_t rows, std::size_t arenaBytes) {
    Arena& arena = arenas_.back();
    arena.text.reserve(arena.text.size() + std::min<std::size_t>(arenaBytes, UINT32_MAX));
    arena.rowStart.reserve(arena.rowStart.size() + rows);
}

void PriceTable::ShrinkToFit() {
    for (Arena& arena : arenas_) {
        arena.text.shrink_to_fit();
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
    lastPartCode_ = rest.lastPartCode_;
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
