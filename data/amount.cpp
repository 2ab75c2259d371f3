#include "amount.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace pricelookup {

namespace {

bool IsSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Enough digits to round any decimal to the nearest double: beyond them only
// whether something non-zero follows matters, and one sticky digit keeps that.
constexpr std::size_t kMaxMantissaDigits = 800;
// Where reading the written exponent stops counting: far past any field's
// length, so it never hides a digit run that the exponent offsets, and small
// enough that neither the exponent nor its sum with the digits' overflows.
constexpr std::int64_t kExponentClamp = 100'000'000'000'000'000;

// Walks a field, skipping blanks, tabs and line feeds wherever they stand.
class FieldCursor {
public:
    explicit FieldCursor(std::string_view s) : s_(s) { skip(); }
    bool done() const { return i_ >= s_.size(); }
    char peek() const { return s_[i_]; }
    void next() {
        ++i_;
        skip();
    }

private:
    void skip() {
        while (i_ < s_.size() && IsSkipped(s_[i_]))
            ++i_;
    }
    std::string_view s_;
    std::size_t i_ = 0;
};

} // namespace

namespace {

// The significant digits of a number and the power of ten that scales them.
struct Mantissa {
    std::array<char, kMaxMantissaDigits + 1> digits;
    std::size_t count = 0;
    std::int64_t exp10 = 0; // the value is digits * 10^exp10
    bool anyDigit = false;
};

// Reads digits with at most one "." among them. Leading zeros only move the
// point; past kMaxMantissaDigits a digit only marks that something non-zero
// follows, kept as one last "1" so that rounding still sees it.
void ReadDigits(FieldCursor& c, Mantissa& m) {
    bool seenPoint = false;
    bool sticky = false;
    for (; !c.done(); c.next()) {
        const char ch = c.peek();
        if (ch == '.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (!IsDigit(ch))
            break;
        m.anyDigit = true;
        if (m.count == 0 && ch == '0') {
            m.exp10 -= seenPoint;
        } else if (m.count < kMaxMantissaDigits) {
            m.digits[m.count++] = ch;
            m.exp10 -= seenPoint;
        } else {
            sticky = sticky || ch != '0';
            m.exp10 += !seenPoint;
        }
    }
    if (sticky) {
        m.digits[m.count++] = '1';
        --m.exp10;
    }
}

// The written exponent at the cursor: E or D in either case, an optional sign
// and digits. Without digits after it there is none, and "12e" reads as 12.
std::int64_t ReadExponent(FieldCursor c) {
    if (c.done() || (c.peek() != 'e' && c.peek() != 'E' && c.peek() != 'd' && c.peek() != 'D'))
        return 0;
    c.next();
    bool negative = false;
    if (!c.done() && (c.peek() == '+' || c.peek() == '-')) {
        negative = c.peek() == '-';
        c.next();
    }
    std::int64_t value = 0;
    for (; !c.done() && IsDigit(c.peek()); c.next())
        if (value < kExponentClamp)
            value = value * 10 + (c.peek() - '0');
    return negative ? -value : value;
}

// The correctly rounded double of a mantissa, or 0 beyond a double's range.
double ToDouble(const Mantissa& m) {
    // The value lies in [10^(magnitude-1), 10^magnitude). Far outside the
    // range of a double it reads as 0 here, so from_chars sees a short exponent.
    const std::int64_t magnitude = m.exp10 + static_cast<std::int64_t>(m.count);
    if (magnitude > 310 || magnitude < -330)
        return 0.0;
    // "<digits>e<exp10>" for from_chars, which rounds correctly.
    char buf[kMaxMantissaDigits + 32];
    std::memcpy(buf, m.digits.data(), m.count);
    char* p = buf + m.count;
    *p++ = 'e';
    p = std::to_chars(p, buf + sizeof buf, m.exp10).ptr;
    double value = 0;
    const auto result = std::from_chars(buf, p, value, std::chars_format::scientific);
    if (result.ec != std::errc() || !std::isfinite(value))
        return 0.0;
    return value;
}

} // namespace

double ReadNumber(std::string_view text) noexcept {
    FieldCursor c(text);
    bool negative = false;
    if (!c.done() && (c.peek() == '+' || c.peek() == '-')) {
        negative = c.peek() == '-';
        c.next();
    }
    Mantissa m;
    ReadDigits(c, m);
    if (!m.anyDigit)
        return 0.0;
    m.exp10 += ReadExponent(c);
    if (m.count == 0)
        return negative ? -0.0 : 0.0;
    const double value = ToDouble(m);
    return negative ? -value : value;
}

std::size_t AmountTextForm(double amount, char* out) noexcept {
    if (amount == 0 || !std::isfinite(amount)) {
        out[0] = '0';
        return 1;
    }
    // d.dddddddddddddde±x: the nearest decimal of 15 significant digits.
    char sci[40];
    auto res =
        std::to_chars(sci, sci + sizeof sci, std::fabs(amount), std::chars_format::scientific, 14);
    char mant[15];
    int nmant = 0;
    const char* p = sci;
    for (; p < res.ptr && *p != 'e'; ++p)
        if (IsDigit(*p))
            mant[nmant++] = *p;
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), res.ptr, exponent);
    while (nmant > 1 && mant[nmant - 1] == '0')
        --nmant;

    char* o = out;
    if (amount < 0)
        *o++ = '-';
    if (exponent >= 0) {
        int intDigits = exponent + 1;
        for (int i = 0; i < intDigits; ++i)
            *o++ = i < nmant ? mant[i] : '0';
        if (nmant > intDigits) {
            *o++ = '.';
            for (int i = intDigits; i < nmant; ++i)
                *o++ = mant[i];
        }
    } else {
        *o++ = '0';
        *o++ = '.';
        for (int i = 1; i < -exponent; ++i)
            *o++ = '0';
        for (int i = 0; i < nmant; ++i)
            *o++ = mant[i];
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t DoDecimals(char* text, std::size_t length) noexcept {
    const char* point = static_cast<const char*>(std::memchr(text, '.', length));
    if (!point) {
        std::memcpy(text + length, ".00", 3);
        return length + 3;
    }
    const std::size_t third = length >= 3 ? length - 3 : 0;
    if (text[third] == '.')
        return length;
    text[length] = '0';
    return length + 1;
}

namespace {

// Nearly every price field is a bare run of 1 to 15 digits. Such a number is
// exactly representable, and so is its hundredth's nearest 15-digit decimal,
// so its text is the digits themselves with the point put in before the last
// two, less leading zeros beyond "0.dd". Anything else returns false.
bool FormatPlainDigits(std::string_view field, char* out, std::size_t& length) noexcept {
    const std::size_t n = field.size();
    if (n == 0 || n > 15)
        return false;
    const char* f = field.data();
    if (n >= 3 && f[0] != '0') {
        // Nearly every price: the text is the field itself with the point put
        // in before the last two digits. Checked and copied in one pass with a
        // branch only at its end: a separate check and copy cost two calls.
        bool digits = IsDigit(f[n - 2]);
        digits &= IsDigit(f[n - 1]);
        for (std::size_t i = 0; i < n - 2; ++i) {
            digits &= IsDigit(f[i]);
            out[i] = f[i];
        }
        if (!digits)
            return false;
        out[n - 2] = '.';
        out[n - 1] = f[n - 2];
        out[n] = f[n - 1];
        length = n + 1;
        return true;
    }
    bool digits = true;
    for (char ch : field)
        digits &= IsDigit(ch);
    if (!digits)
        return false;
    // At least three digits, so that there is one before the point.
    char padded[18] = {'0', '0', '0'};
    const std::size_t pad = n < 3 ? 3 - n : 0;
    std::memcpy(padded + pad, field.data(), n);
    const std::size_t total = pad + n;
    std::size_t first = 0;
    while (total - first > 3 && padded[first] == '0')
        ++first;
    const std::size_t whole = total - first - 2;
    std::memcpy(out, padded + first, whole);
    out[whole] = '.';
    out[whole + 1] = padded[total - 2];
    out[whole + 2] = padded[total - 1];
    length = whole + 3;
    return true;
}

} // namespace

std::size_t FormatPriceField(std::string_view field, char* out) noexcept {
    std::size_t length = 0;
    if (FormatPlainDigits(field, out, length))
        return length;
    const double amount = ReadNumber(field) / 100.0;
    return DoDecimals(out, AmountTextForm(amount, out));
}

std::string PriceText(std::string_view field) {
    char buf[kMaxAmountText];
    return std::string(buf, FormatPriceField(field, buf));
}

} // namespace pricelookup
