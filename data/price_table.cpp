#include "price_table.h"

#include "amount.h"

#include <cstring>

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
    char* out = arena_.grow_by(fields[0].size() + fields[1].size() + fields[2].size() +
                               fields[3].size() + 4 * 10 + kPriceCopy);
    char* p = out;
    p = WriteField(p, fields[0]);
    p = WriteField(p, fields[1]);
    p = WritePrice(p, price_[0], priceLength_[0]);
    p = WritePrice(p, price_[1], priceLength_[1]);
    rowStart_.push_back(arena_.size());
    arena_.commit(static_cast<std::size_t>(p - out));
    nextColumn_ = PartCode;
    // Two plain stores: the chained form stored text_[1] in halves and read it
    // back whole, a forwarding stall on every row.
    text_[0] = {};
    text_[1] = {};
}

std::size_t PriceTable::RowCount(int column) const {
    return column >= PartCode && column <= RetailPrice ? size() : 0;
}

std::string_view PriceTable::Text(std::size_t row, int column) const {
    const char* p = arena_.data() + rowStart_[row];
    for (int c = PartCode; c < column; ++c) {
        std::size_t n = ReadLength(p);
        p += n;
    }
    std::size_t n = ReadLength(p);
    return {p, n};
}

void PriceTable::ReserveForFile(std::uint64_t bytes) {
    // Stored rows are shorter than their lines (no commas, no line ends),
    // except for short price fields, which grow to their amount text.
    arena_.reserve(static_cast<std::size_t>(bytes + bytes / 4 + 4096));
    rowStart_.reserve(static_cast<std::size_t>(bytes / 16 + 1024));
}

void PriceTable::ShrinkToFit() {
    arena_.shrink_to_fit();
    rowStart_.shrink_to_fit();
}

} // namespace pricelookup
