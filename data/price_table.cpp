#include "price_table.h"

#include "amount.h"

#include <cstring>

namespace pricelookup {

namespace {

constexpr std::string_view kEmptyPrice = "0.00";

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

void PriceTable::BeginRow() {
    rowStart_.push_back(arena_.size());
    open_ = true;
    nextColumn_ = 1;
}

void PriceTable::Append(std::string_view text) {
    char* out = arena_.grow_by(text.size() + 10);
    char* p = out;
    std::size_t n = text.size();
    while (n >= 0x80) {
        *p++ = static_cast<char>((n & 0x7F) | 0x80);
        n >>= 7;
    }
    *p++ = static_cast<char>(n);
    if (!text.empty())
        std::memcpy(p, text.data(), text.size());
    arena_.commit(static_cast<std::size_t>(p - out) + text.size());
    ++nextColumn_;
}

void PriceTable::AppendEmpty(int column) {
    Append(column >= CostPrice ? kEmptyPrice : std::string_view());
}

void PriceTable::PopulateForm(std::string_view theStr, int tCol) {
    if (tCol < PartCode || tCol > RetailPrice)
        return;
    if (!open_)
        BeginRow();
    if (tCol < nextColumn_)
        return;
    while (nextColumn_ < tCol)
        AppendEmpty(nextColumn_);
    if (tCol >= CostPrice) {
        char amount[kMaxAmountText];
        Append(std::string_view(amount, FormatPriceField(theStr, amount)));
    } else {
        Append(theStr);
    }
}

void PriceTable::EndRow() {
    if (!open_)
        BeginRow();
    while (nextColumn_ <= kColumnCount)
        AppendEmpty(nextColumn_);
    open_ = false;
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
