#include "part_code_finder.h"

#include <algorithm>
#include <cstring>

namespace pricelookup {

namespace {

constexpr std::uint32_t kNoKey = UINT32_MAX;
constexpr std::size_t kGroups = 65536;

inline char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// The first two bytes of the folded code as a group number, or kNoKey when
// the folded code is shorter; `first` gets its first byte, or -1 when empty.
std::uint32_t GroupOf(std::string_view code, TextEncoding encoding, CaseFoldFn fold, int& first) {
    unsigned char bytes[8];
    std::size_t have = 0;
    while (have < 2 && !code.empty()) {
        if (static_cast<unsigned char>(code[0]) < 0x80) {
            bytes[have++] = static_cast<unsigned char>(FoldAscii(code[0]));
            code.remove_prefix(1);
            continue;
        }
        std::size_t used = 0;
        char32_t c = fold(DecodeOne(code, encoding, used));
        have += EncodeUtf8(c, reinterpret_cast<char*>(bytes + have));
        code.remove_prefix(used);
    }
    first = have > 0 ? bytes[0] : -1;
    return have >= 2 ? (std::uint32_t{bytes[0]} << 8 | bytes[1]) : kNoKey;
}

} // namespace

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold)
    : table_(table), encoding_(encoding), fold_(fold) {
    std::fill(std::begin(firstByByte_), std::end(firstByByte_), kNone);
    const std::size_t rows = table.size();
    PodBuffer<std::uint32_t> keys;
    keys.resize(rows);
    bucketStart_.resize(kGroups + 1);
    std::fill(bucketStart_.data(), bucketStart_.data() + kGroups + 1, 0u);
    for (std::size_t r = 0; r < rows; ++r) {
        int first = -1;
        std::uint32_t key = GroupOf(table.Text(r, PartCode), encoding, fold, first);
        keys[r] = key;
        if (first >= 0 && firstByByte_[first] == kNone)
            firstByByte_[first] = static_cast<std::uint32_t>(r);
        if (key != kNoKey)
            ++bucketStart_[key + 1];
    }
    for (std::size_t g = 0; g < kGroups; ++g)
        bucketStart_[g + 1] += bucketStart_[g];
    rows_.resize(bucketStart_[kGroups]);
    PodBuffer<std::uint32_t> fill;
    fill.append(bucketStart_.data(), kGroups);
    for (std::size_t r = 0; r < rows; ++r)
        if (keys[r] != kNoKey)
            rows_[fill[keys[r]]++] = static_cast<std::uint32_t>(r);
}

bool PartCodeFinder::CodeStartsWith(std::size_t row, std::string_view prefix) const {
    std::string_view code = table_.Text(row, PartCode);
    char buf[4];
    while (!prefix.empty()) {
        if (code.empty())
            return false;
        if (static_cast<unsigned char>(code[0]) < 0x80) {
            if (FoldAscii(code[0]) != prefix[0])
                return false;
            code.remove_prefix(1);
            prefix.remove_prefix(1);
            continue;
        }
        std::size_t used = 0;
        std::size_t n = EncodeUtf8(fold_(DecodeOne(code, encoding_, used)), buf);
        std::size_t cmp = std::min(n, prefix.size());
        if (std::memcmp(buf, prefix.data(), cmp) != 0)
            return false;
        code.remove_prefix(used);
        prefix.remove_prefix(cmp);
    }
    return true;
}

std::optional<std::size_t> PartCodeFinder::Scan(std::string_view folded, std::size_t from) const {
    std::uint32_t key = std::uint32_t{static_cast<unsigned char>(folded[0])} << 8 |
                        static_cast<unsigned char>(folded[1]);
    std::size_t end = bucketStart_[key + 1];
    for (std::size_t i = std::max<std::size_t>(from, bucketStart_[key]); i < end; ++i) {
        if (CodeStartsWith(rows_[i], folded)) {
            lastPosition_ = i;
            return rows_[i];
        }
    }
    lastPosition_.reset();
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::Find(std::string_view text) const {
    folded_.clear();
    AppendFolded(text, TextEncoding::Utf8, fold_, folded_);
    if (folded_.empty())
        return table_.empty() ? std::nullopt : std::optional<std::size_t>(0);
    if (folded_.size() == 1) {
        std::uint32_t row = firstByByte_[static_cast<unsigned char>(folded_[0])];
        return row == kNone ? std::nullopt : std::optional<std::size_t>(row);
    }
    // Every row that matches the longer text also matches the shorter one, so
    // nothing above the last find's row can match now.
    std::size_t from = 0;
    if (haveLast_ && lastFolded_.size() >= 2 && folded_.starts_with(lastFolded_)) {
        if (!lastPosition_) {
            lastFolded_ = folded_;
            return std::nullopt;
        }
        from = *lastPosition_;
    }
    std::optional<std::size_t> found = Scan(folded_, from);
    lastFolded_ = folded_;
    haveLast_ = true;
    return found;
}

} // namespace pricelookup
