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

// The head of a folded code: its first two bytes as a group number (kNoKey
// when the folded code is shorter), the next four packed into one word
// (missing bytes are zero), and its first byte (-1 when empty).
struct Head {
    std::uint32_t group = kNoKey;
    std::uint32_t next = 0;
    int first = -1;
};

// The four bytes after the group, packed so that a mask can keep the first n.
std::uint32_t PackNext(const unsigned char* bytes, std::size_t have) {
    std::uint32_t next = 0;
    for (std::size_t i = 0; i < 4 && 2 + i < have; ++i)
        next |= std::uint32_t{bytes[2 + i]} << (8 * i);
    return next;
}

std::uint32_t NextMask(std::size_t have) {
    return have >= 6 ? UINT32_MAX : have <= 2 ? 0 : (std::uint32_t{1} << (8 * (have - 2))) - 1;
}

Head HeadOf(std::string_view code, TextEncoding encoding, CaseFoldFn fold) {
    unsigned char bytes[12];
    std::size_t have = 0;
    while (have < 6 && !code.empty()) {
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
    Head head;
    head.first = have > 0 ? bytes[0] : -1;
    if (have >= 2)
        head.group = std::uint32_t{bytes[0]} << 8 | bytes[1];
    head.next = PackNext(bytes, have);
    return head;
}

} // namespace

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold)
    : table_(table), encoding_(encoding), fold_(fold) {
    std::fill(std::begin(firstByByte_), std::end(firstByByte_), kNone);
    const std::size_t rows = table.size();
    struct RowHead {
        std::uint32_t group;
        std::uint32_t next;
    };
    PodBuffer<RowHead> heads; // kept from the first pass for the second
    heads.resize(rows);
    bucketStart_.resize(kGroups + 1);
    std::fill(bucketStart_.data(), bucketStart_.data() + kGroups + 1, 0u);
    for (std::size_t r = 0; r < rows; ++r) {
        const Head head = HeadOf(table.Text(r, PartCode), encoding, fold);
        heads[r] = {head.group, head.next};
        if (head.first >= 0 && firstByByte_[head.first] == kNone)
            firstByByte_[head.first] = static_cast<std::uint32_t>(r);
        if (head.group != kNoKey)
            ++bucketStart_[head.group + 1];
    }
    for (std::size_t g = 0; g < kGroups; ++g)
        bucketStart_[g + 1] += bucketStart_[g];
    rows_.resize(bucketStart_[kGroups]);
    PodBuffer<std::uint32_t> fill;
    fill.append(bucketStart_.data(), kGroups);
    for (std::size_t r = 0; r < rows; ++r)
        if (heads[r].group != kNoKey)
            rows_[fill[heads[r].group]++] = {static_cast<std::uint32_t>(r), heads[r].next};
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
    const auto* bytes = reinterpret_cast<const unsigned char*>(folded.data());
    const std::uint32_t key = std::uint32_t{bytes[0]} << 8 | bytes[1];
    // Most rows of a group differ from the text within its next four bytes,
    // which the group keeps beside each row: only the rest needs the table.
    const std::uint32_t mask = NextMask(folded.size());
    const std::uint32_t next = PackNext(bytes, folded.size());
    const std::size_t end = bucketStart_[key + 1];
    for (std::size_t i = std::max<std::size_t>(from, bucketStart_[key]); i < end; ++i) {
        if ((rows_[i].next & mask) == next && CodeStartsWith(rows_[i].row, folded)) {
            lastPosition_ = i;
            return rows_[i].row;
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
