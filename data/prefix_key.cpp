#include "prefix_key.h"

#include "byte_scan.h"

#include <optional>
#include <utility>

namespace pricelookup {

namespace {

// A key's 16 bytes in one value, first byte highest.
using KeyBits = UInt128;

// The key of a code with a byte above 127 among its first 16 (16 bytes
// from its start readable). Its ASCII letters are folded eight at a time,
// and its runs of ASCII bytes moved into the key whole, so that an accented
// code costs little more than an ASCII one. foldAt(at, left), for the `left`
// bytes of the code from `at`, gives the folded character there (an entry of
// the folder's tables, 0 to give up) and the bytes it takes, and moves the
// bytes after it along by the bytes of its fold.
// `decoded` is set when a byte above 127 was decoded.
template <typename FoldAt>
std::optional<PrefixKey> KeyWithHighBytes(std::string_view code, FoldAt&& foldAt, bool& decoded) {
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(code.size(), 16));
    const auto* bytes = reinterpret_cast<const unsigned char*>(code.data());
    std::uint64_t first = LoadBigEndian64(bytes) & ~LowBytesMask(8 - std::min(n, 8u));
    std::uint64_t second = LoadBigEndian64(bytes + 8) & ~LowBytesMask(n > 8 ? 16 - n : 8);
    // Bytes above 127 are left out of the fold, where they would carry into
    // the byte before. Two words rather than an array, so that they stay in
    // registers.
    first = FoldAsciiLetters(first & ~(((first & kHigh) >> 7) * 0xFF));
    second = FoldAsciiLetters(second & ~(((second & kHigh) >> 7) * 0xFF));
    const KeyBits ascii = MakeUInt128(first, second);
    KeyBits key = 0;
    std::uint32_t have = 0; // bytes of the key placed, past 16 too
    std::uint32_t from = 0; // the code's first byte not yet placed
    auto placeAscii = [&](std::uint32_t to) {
        if (to <= from)
            return;
        if (have < 16)
            key |= (ascii << (8 * from) & ~KeyBits(0) << (128 - 8 * (to - from))) >> (8 * have);
        have += to - from;
    };
    for (unsigned above127 = HighBytes16(code.data()) & ((1u << n) - 1); above127 != 0;
         above127 &= ~0u << from) {
        const auto at = static_cast<std::uint32_t>(std::countr_zero(above127));
        placeAscii(at);
        const auto [entry, used] = foldAt(bytes + at, code.size() - at);
        if (entry == 0)
            return std::nullopt;
        have += entry & 0xFF;
        const KeyBits folded = entry >> 8;
        if (have <= 16)
            key |= folded << (128 - 8 * have);
        else if (have - (entry & 0xFF) < 16)
            key |= folded >> (8 * (have - 16)); // its first bytes end the key
        from = at + static_cast<std::uint32_t>(used);
        decoded = true;
    }
    placeAscii(n);
    // A letter that folds to fewer bytes (ſ to s) leaves the key short of
    // bytes that lie past the code's first 16.
    const std::uint32_t consumed = std::max(from, n);
    if (consumed < code.size() && have < 16)
        return std::nullopt;
    return PrefixKey{HighWord(key), static_cast<std::uint64_t>(key),
                     consumed < code.size() ? kLongKey : std::min(have, kLongKey)};
}

// The key of any code, a character at a time: the path for characters the
// tables leave out. `decoded` is set when a byte above 127 was decoded.
PRICELOOKUP_NOINLINE PrefixKey DecodedKey(std::string_view code, TextEncoding encoding,
                                          CaseFoldFn fold, bool& decoded) {
    unsigned char bytes[kLongKey];
    std::size_t have = 0;
    FoldedBytes folded(code, encoding, fold);
    while (have < kLongKey && !folded.Done())
        bytes[have++] = folded.Next();
    decoded = decoded || folded.Decoded();
    return KeyOfBytes(bytes, have);
}

bool ValidUtf8(std::string_view text) {
    Utf8Validator validator;
    validator.Feed(text.data(), text.size());
    return validator.Valid();
}

} // namespace

PrefixKey KeyOfBytes(const unsigned char* bytes, std::size_t size) {
    unsigned char padded[16] = {};
    std::memcpy(padded, bytes, std::min<std::size_t>(size, 16));
    return {LoadBigEndian64(padded), LoadBigEndian64(padded + 8),
            static_cast<std::uint32_t>(std::min<std::size_t>(size, kLongKey))};
}

PrefixKey KeyFolder::DecodedKeyOf(std::string_view code) {
    // Bytes that are not UTF-8 make the whole file Windows-1252.
    if (encoding_ == TextEncoding::Utf8 && !decoded_ && !ValidUtf8(code))
        encoding_ = TextEncoding::Windows1252;
    bool decoded = false;
    std::optional<PrefixKey> key;
    if (encoding_ == TextEncoding::Windows1252)
        key = KeyWithHighBytes(
            code,
            [this](const unsigned char* at, std::size_t) {
                return std::pair{Folded1252(*at), std::size_t{1}};
            },
            decoded);
    else
        key = KeyWithHighBytes(
            code,
            [this](const unsigned char* at, std::size_t left) {
                return std::pair{FoldedUtf8Pair(at, left), std::size_t{2}};
            },
            decoded);
    if (key) {
        decoded_ = decoded_ || decoded;
        return *key;
    }
    // A character of three or four bytes, or bytes that are not UTF-8.
    return DecodedKey(code, encoding_, fold_, decoded_);
}

// An entry of the tables is the folded UTF-8 bytes (up to three, first
// highest) over their count in the low eight bits; 0 when it is not known
// yet, or the character is left to the path a character at a time.
std::uint32_t KeyFolder::FoldedEntry(char32_t c) const {
    char bytes[4];
    const std::size_t n = EncodeUtf8(fold_(c), bytes);
    if (n > 3)
        return 0;
    std::uint32_t entry = 0;
    for (std::size_t k = 0; k < n; ++k)
        entry = entry << 8 | static_cast<unsigned char>(bytes[k]);
    return entry << 8 | static_cast<std::uint32_t>(n);
}

std::uint32_t KeyFolder::Folded1252(unsigned char byte) {
    if (folded1252_.empty()) {
        folded1252_.resize(128);
        for (unsigned b = 128; b < 256; ++b)
            folded1252_[b - 128] = FoldedEntry(Windows1252ToUnicode(static_cast<unsigned char>(b)));
    }
    return folded1252_[byte - 128];
}

std::uint32_t KeyFolder::FoldedUtf8Pair(const unsigned char* at, std::size_t left) {
    // Characters of two bytes (U+0080 to U+07FF: the accented Latin letters,
    // Greek, Cyrillic, Hebrew, Arabic) only.
    if (left < 2 || at[0] < 0xC2 || at[0] > 0xDF || (at[1] & 0xC0) != 0x80)
        return 0;
    const auto c = static_cast<char32_t>((at[0] & 0x1F) << 6 | (at[1] & 0x3F));
    if (foldedUtf8_.empty())
        foldedUtf8_.resize(0x800 - 0x80);
    std::uint32_t& entry = foldedUtf8_[c - 0x80];
    if (entry == 0)
        entry = FoldedEntry(c);
    return entry;
}

bool KeyFolder::InOrder(std::string_view before, std::string_view code) {
    FoldedBytes a(before, encoding_, fold_);
    FoldedBytes b(code, encoding_, fold_);
    bool ordered = true;
    while (!a.Done()) {
        if (b.Done()) {
            ordered = false;
            break;
        }
        const unsigned char x = a.Next();
        const unsigned char y = b.Next();
        if (x != y) {
            ordered = x < y;
            break;
        }
    }
    decoded_ = decoded_ || a.Decoded() || b.Decoded();
    return ordered;
}

} // namespace pricelookup
