#include "text_encoding.h"

#include "byte_scan.h"

#include <bit>
#include <cstring>

namespace pricelookup {

namespace {

// Steps over ASCII, which makes up most of a price file: 64 bytes at a time,
// then sixteen. Returns the first byte that is not ASCII, or a pointer at
// most fifteen bytes short of `end`.
const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end) noexcept {
    while (end - p >= 64 && !AnyHighByte64(p))
        p += 64;
    while (end - p >= 16) {
        if (const unsigned high = HighBytes16(reinterpret_cast<const char*>(p)))
            return p + std::countr_zero(high);
        p += 16;
    }
    return p;
}

// What a byte at the start of a character asks of the bytes after it: how
// many continuation bytes follow, and the range the first of them must lie
// in (narrower after E0, ED, F0 and F4, which would otherwise allow overlong
// forms, surrogates or code points past U+10FFFF). `need` 0: no lead byte.
struct Lead {
    int need;
    int lo;
    int hi;
};

constexpr Lead LeadOf(unsigned char b) noexcept {
    if (b >= 0xC2 && b <= 0xDF)
        return {1, 0x80, 0xBF};
    if (b >= 0xE0 && b <= 0xEF)
        return {2, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF};
    if (b >= 0xF0 && b <= 0xF4)
        return {3, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF};
    return {0, 0, 0};
}

} // namespace

void Utf8Validator::Feed(const char* data, std::size_t size) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* end = p + size;
    while (p < end && !failed_) {
        if (need_ == 0) {
            p = SkipAscii(p, end);
            if (p == end)
                break;
            const unsigned char b = *p;
            if (b < 0x80) {
                ++p;
                continue;
            }
            // Most letters past ASCII in a price list take two bytes: a
            // whole one is stepped over at once.
            if (b >= 0xC2 && b <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
                p += 2;
                continue;
            }
            ++p;
            const Lead lead = LeadOf(b);
            failed_ = lead.need == 0;
            need_ = lead.need;
            lo_ = static_cast<unsigned char>(lead.lo);
            hi_ = static_cast<unsigned char>(lead.hi);
        } else {
            const unsigned char b = *p++;
            if (b < lo_ || b > hi_) {
                failed_ = true;
                break;
            }
            lo_ = 0x80;
            hi_ = 0xBF;
            --need_;
        }
    }
}

namespace {

constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

char32_t Windows1252ToUnicode(unsigned char byte) noexcept {
    if (byte >= 0x80 && byte < 0xA0)
        return kWindows1252High[byte - 0x80];
    return byte;
}

char32_t DecodeOne(std::string_view text, TextEncoding encoding, std::size_t& used) noexcept {
    auto b0 = static_cast<unsigned char>(text[0]);
    used = 1;
    if (b0 < 0x80)
        return b0;
    if (encoding == TextEncoding::Windows1252)
        return Windows1252ToUnicode(b0);
    int need = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : 1;
    if (b0 < 0xC2 || b0 > 0xF4 || text.size() <= static_cast<std::size_t>(need))
        return Windows1252ToUnicode(b0);
    char32_t c = b0 & (0x3F >> need);
    for (int i = 1; i <= need; ++i) {
        auto b = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
        if ((b & 0xC0) != 0x80)
            return Windows1252ToUnicode(b0);
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[need] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return Windows1252ToUnicode(b0);
    used = static_cast<std::size_t>(need) + 1;
    return c;
}

std::size_t EncodeUtf8(char32_t c, char* out) noexcept {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

unsigned char FoldedBytes::NextCharacter() noexcept {
    decoded_ = true;
    std::size_t used = 0;
    const char32_t c = fold_(DecodeOne(text_, encoding_, used));
    text_.remove_prefix(used);
    len_ = static_cast<unsigned char>(EncodeUtf8(c, reinterpret_cast<char*>(buf_)));
    pos_ = 1;
    return buf_[0];
}

void AppendFolded(std::string_view text, TextEncoding encoding, CaseFoldFn fold, std::string& out) {
    for (FoldedBytes folded(text, encoding, fold); !folded.Done();)
        out.push_back(static_cast<char>(folded.Next()));
}

} // namespace pricelookup
