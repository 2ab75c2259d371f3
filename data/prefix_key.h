#pragma once

#include "portable.h"
#include "text_encoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace pricelookup {

// The start of a case-folded part code, for ordering and matching codes
// without going back to the table: its first 16 folded bytes, big-endian in
// two words (zero past the end), and its folded length, kLongKey for any
// longer.
struct PrefixKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::uint32_t size = 0;
};

// A prefix key's size for a code of more than 16 folded bytes.
constexpr std::uint32_t kLongKey = 17;

constexpr std::uint64_t ByteSwap64(std::uint64_t v) {
    v = (v & 0x00FF00FF00FF00FF) << 8 | (v >> 8 & 0x00FF00FF00FF00FF);
    v = (v & 0x0000FFFF0000FFFF) << 16 | (v >> 16 & 0x0000FFFF0000FFFF);
    return v << 32 | v >> 32;
}

inline std::uint64_t LoadBigEndian64(const unsigned char* bytes) {
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, bytes, sizeof v);
        return ByteSwap64(v);
    }
    for (int i = 0; i < 8; ++i)
        v = v << 8 | bytes[i];
    return v;
}

// The n low bytes of a word (all when n >= 8). From a table rather than a
// branch on n: codes of every length follow each other, and the branch
// would be guessed wrong for most of them.
inline constexpr std::array<std::uint64_t, 9> kLowBytesMasks = [] {
    std::array<std::uint64_t, 9> masks{};
    for (std::size_t n = 1; n <= 8; ++n)
        masks[n] = masks[n - 1] << 8 | 0xFF;
    return masks;
}();
inline std::uint64_t LowBytesMask(std::size_t n) {
    return kLowBytesMasks[std::min<std::size_t>(n, 8)];
}

// Folds the ASCII letters of eight bytes that are all below 128: bit 7 of a
// byte is set from 'A' on, and from past 'Z' on, and no carry crosses bytes.
inline std::uint64_t FoldAsciiLetters(std::uint64_t w) {
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    const std::uint64_t fromA = w + 0x3F3F3F3F3F3F3F3F;
    const std::uint64_t pastZ = w + 0x2525252525252525;
    return w | (fromA & ~pastZ & kHigh) >> 2;
}

// The prefix key of a code whose first 16 bytes are ASCII, from two loads;
// false when a byte above 127 is among them. 16 bytes from the code's start
// must be readable, as they are for codes in the table.
PRICELOOKUP_ALWAYS_INLINE bool AsciiKey(std::string_view code, PrefixKey& key) {
    if constexpr (std::endian::native != std::endian::little)
        return false;
    std::uint64_t w[2];
    std::memcpy(w, code.data(), sizeof w);
    const std::size_t n = std::min<std::size_t>(code.size(), 16);
    w[0] &= LowBytesMask(n);
    w[1] &= LowBytesMask(n > 8 ? n - 8 : 0);
    if ((w[0] | w[1]) & 0x8080808080808080)
        return false;
    key.high = ByteSwap64(FoldAsciiLetters(w[0]));
    key.low = ByteSwap64(FoldAsciiLetters(w[1]));
    key.size = code.size() > 16 ? kLongKey : static_cast<std::uint32_t>(code.size());
    return true;
}

// The prefix key of bytes already folded.
PrefixKey KeyOfBytes(const unsigned char* bytes, std::size_t size);

// Orders two keys by their 16 bytes, then by size: a code that another
// begins with comes first. 0 for equal codes, or long codes that agree on 16
// bytes.
inline int Compare(const PrefixKey& a, const PrefixKey& b) {
    if (a.high != b.high)
        return a.high < b.high ? -1 : 1;
    if (a.low != b.low)
        return a.low < b.low ? -1 : 1;
    if (a.size != b.size)
        return a.size < b.size ? -1 : 1;
    return 0;
}

// How many leading bytes two keys share, at most 16.
inline std::uint32_t SharedBytes(const PrefixKey& a, const PrefixKey& b) {
    std::uint32_t n = 16;
    if (a.high != b.high)
        n = static_cast<std::uint32_t>(std::countl_zero(a.high ^ b.high)) / 8;
    else if (a.low != b.low)
        n = 8 + static_cast<std::uint32_t>(std::countl_zero(a.low ^ b.low)) / 8;
    return std::min({n, a.size, b.size, 16u});
}

// Byte `i` (below 16) of the key.
inline unsigned ByteAt(const PrefixKey& key, std::uint32_t i) {
    const std::uint64_t word = i < 8 ? key.high : key.low;
    return static_cast<unsigned>(word >> (56 - 8 * (i % 8)) & 0xFF);
}

// Whether the code of `key` begins with the (at most 16) bytes of `text`.
inline bool KeyStartsWith(const PrefixKey& key, const PrefixKey& text) {
    const std::uint32_t n = std::min(text.size, 16u);
    if (key.size < n)
        return false;
    const std::uint64_t highMask = ~LowBytesMask(8 - std::min(n, 8u));
    const std::uint64_t lowMask = ~LowBytesMask(8 - (n > 8 ? n - 8 : 0));
    return ((key.high ^ text.high) & highMask) == 0 && ((key.low ^ text.low) & lowMask) == 0;
}

// Folds the part codes of one run of rows into prefix keys. Codes are
// decoded as the encoding the run assumes: a code that shows the file is not
// UTF-8 switches it to Windows-1252 while it has decoded nothing.
// The folds of characters above 127 come from tables, made when a run first
// needs them, so that accented codes do not cost a call to the case fold for
// every character.
class KeyFolder {
public:
    KeyFolder(TextEncoding assumed, CaseFoldFn fold) : encoding_(assumed), fold_(fold) {}

    // The prefix key of `code`, 16 bytes of which are readable from its
    // start. Every code of most price lists is ASCII, and needs no more than
    // AsciiKey. Into `key` rather than returned: a returned key is stored on
    // the stack in two halves and read back whole, which stalls the loop
    // over the rows.
    PRICELOOKUP_ALWAYS_INLINE void KeyOf(std::string_view code, PrefixKey& key) {
        if (!AsciiKey(code, key))
            key = DecodedKeyOf(code);
    }
    // Whether the folded `before` is at most the folded `code`, on all their
    // bytes: for long codes whose keys are equal.
    bool InOrder(std::string_view before, std::string_view code);

    TextEncoding Encoding() const { return encoding_; }
    CaseFoldFn Fold() const { return fold_; }
    // Whether a code held a byte above 127, whose character depends on the
    // encoding.
    bool Decoded() const { return decoded_; }

private:
    // The key of a code with a byte above 127 in its first 16.
    PrefixKey DecodedKeyOf(std::string_view code);
    std::uint32_t FoldedEntry(char32_t c) const;
    std::uint32_t Folded1252(unsigned char byte);
    std::uint32_t FoldedUtf8Pair(const unsigned char* at, std::size_t left);

    TextEncoding encoding_;
    CaseFoldFn fold_;
    bool decoded_ = false;
    // The folded UTF-8 bytes of each Windows-1252 byte above 127, and of
    // each character of two UTF-8 bytes.
    std::vector<std::uint32_t> folded1252_;
    std::vector<std::uint32_t> foldedUtf8_;
};

} // namespace pricelookup
