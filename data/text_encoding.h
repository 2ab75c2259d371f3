#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pricelookup {

// How the bytes of the price file become characters on screen: UTF-8 when the
// whole file is valid UTF-8, otherwise Windows-1252.
enum class TextEncoding { Utf8, Windows1252 };

// Checks that a byte stream, fed in blocks of any size, is valid UTF-8
// (shortest forms only, no surrogates, nothing above U+10FFFF).
class Utf8Validator {
public:
    void Feed(const char* data, std::size_t size) noexcept;
    // True when every byte so far was valid and no sequence is left open.
    bool Valid() const noexcept { return !failed_ && need_ == 0; }

private:
    bool failed_ = false;
    int need_ = 0;            // continuation bytes still expected
    unsigned char lo_ = 0x80; // bounds of the next continuation byte
    unsigned char hi_ = 0xBF;
};

// The character of a Windows-1252 byte. The five bytes that code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control characters
// of the same code.
char32_t Windows1252ToUnicode(unsigned char byte) noexcept;

// Decodes one character from the front of `text` (which must not be empty) and
// says how many bytes it took. In UTF-8 a byte that starts no valid sequence is
// taken as its Windows-1252 character, so any bytes decode.
char32_t DecodeOne(std::string_view text, TextEncoding encoding, std::size_t& used) noexcept;

// Appends the UTF-8 form of a character; returns the number of bytes (1 to 4).
std::size_t EncodeUtf8(char32_t c, char* out) noexcept;

// A simple one-to-one case fold of a character, as the toolkit defines it.
using CaseFoldFn = char32_t (*)(char32_t);

// The case-folded UTF-8 bytes of `text`, decoded with `encoding`, one at a
// time: the one way by which part codes and search texts are folded, so
// that they always compare alike. ASCII letters fold inline; any other
// character goes through `fold`, taken as a whole character when its first
// byte is asked for.
class FoldedBytes {
public:
    FoldedBytes(std::string_view text, TextEncoding encoding, CaseFoldFn fold) noexcept
        : text_(text), encoding_(encoding), fold_(fold) {}

    bool Done() const noexcept { return pos_ == len_ && text_.empty(); }
    // The next byte; only while !Done().
    unsigned char Next() noexcept {
        if (pos_ < len_)
            return buf_[pos_++];
        const auto b = static_cast<unsigned char>(text_[0]);
        if (b >= 0x80)
            return NextCharacter();
        text_.remove_prefix(1);
        return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : b;
    }
    // Whether a byte above 127 was decoded, whose character depends on the
    // encoding.
    bool Decoded() const noexcept { return decoded_; }

private:
    unsigned char NextCharacter() noexcept;

    std::string_view text_;
    TextEncoding encoding_;
    CaseFoldFn fold_;
    unsigned char buf_[4] = {};
    unsigned char pos_ = 0;
    unsigned char len_ = 0;
    bool decoded_ = false;
};

// Appends the case-folded UTF-8 form of `text`, decoded with `encoding`.
void AppendFolded(std::string_view text, TextEncoding encoding, CaseFoldFn fold, std::string& out);

} // namespace pricelookup
