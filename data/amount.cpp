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

double ReadNumber(std::string_view text) noexcept {
    FieldCursor c(text);
    bool negative = false;
    if (!c.done() && (c.peek() == '+' || c.peek() == '-')) {
        negative = c.peek() == '-';
        c.next();
    }

    // Significant digits go to `digits`; `exp10` makes the value digits * 10^exp10.
    std::array<char, kMaxMantissaDigits + 1> digits;
    std::size_t ndigits = 0;
    bool sticky = false;
    bool anyDigit = false;
    bool seenPoint = false;
    std::int64_t exp10 = 0;
    while (!c.done()) {
        char ch = c.peek();
        if (IsDigit(ch)) {
            anyDigit = true;
            if (ndigits == 0 && ch == '0') {
                if (seenPoint)
                    --exp10;
            } else if (ndigits < kMaxMantissaDigits) {
                digits[ndigits++] = ch;
                if (seenPoint)
                    --exp10;
            } else {
                sticky = sticky || ch != '0';
                if (!seenPoint)
                    ++exp10;
            }
        } else if (ch == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
        c.next();
    }
    if (!anyDigit)
        return 0.0;

    if (!c.done() && (c.peek() == 'e' || c.peek() == 'E' || c.peek() == 'd' || c.peek() == 'D')) {
        // The exponent counts only when digits follow; "12e" reads as 12.
        FieldCursor e = c;
        e.next();
        bool expNegative = false;
        if (!e.done() && (e.peek() == '+' || e.peek() == '-')) {
            expNegative = e.peek() == '-';
            e.next();
        }
        if (!e.done() && IsDigit(e.peek())) {
            std::int64_t ev = 0;
            while (!e.done() && IsDigit(e.peek())) {
                if (ev < kExponentClamp)
                    ev = ev * 10 + (e.peek() - '0');
                e.next();
            }
            exp10 += expNegative ? -ev : ev;
        }
    }
    if (ndigits == 0)
        return negative ? -0.0 : 0.0;
    if (sticky)
        digits[ndigits++] = '1', --exp10;
    // The value lies in [10^(magnitude-1), 10^magnitude). Far outside the
    // range of a double it reads as 0 here, so from_chars sees a short exponent.
    std::int64_t magnitude = exp10 + static_cast<std::int64_t>(ndigits);
    if (magnitude > 310 || magnitude < -330)
        return 0.0;

    // "<digits>e<exp10>" for from_chars, which rounds correctly.
    char buf[kMaxMantissaDigits + 32];
    std::memcpy(buf, digits.data(), ndigits);
    char* p = buf + ndigits;
    *p++ = 'e';
    p = std::to_chars(p, buf + sizeof buf, exp10).ptr;
    double value = 0;
    auto [end, ec] = std::from_chars(buf, p, value, std::chars_format::scientific);
    (void)end;
    if (ec != std::errc() || !std::isfinite(value))
        return 0.0;
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

namespace {

std::size_t CompleteDecimals(char* t, std::size_t n) {
    const char* point = static_cast<const char*>(std::memchr(t, '.', n));
    if (!point) {
        std::memcpy(t + n, ".00", 3);
        return n + 3;
    }
    std::size_t third = n >= 3 ? n - 3 : 0;
    if (t[third] == '.')
        return n;
    t[n] = '0';
    return n + 1;
}

// A field that is, apart from blanks, an optional sign and up to 15 digits:
// the amount is then exactly value/100, and its text needs no rounding.
std::size_t WriteHundredths(bool negative, std::uint64_t value, char* out) {
    // Digits from the right: two decimals, the point, then at least one digit.
    char digits[24];
    char* d = digits + sizeof digits;
    const bool minus = negative && value != 0;
    for (int i = 0; i < 2; ++i, value /= 10)
        *--d = static_cast<char>('0' + value % 10);
    *--d = '.';
    do {
        *--d = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char* o = out;
    if (minus)
        *o++ = '-';
    const auto n = static_cast<std::size_t>(digits + sizeof digits - d);
    std::memcpy(o, d, n);
    return static_cast<std::size_t>(o - out) + n;
}

bool FormatWholeHundredths(std::string_view field, char* out, std::size_t& length) {
    {
        // Most fields are 3 to 15 digits without a leading zero: their text is
        // the field itself with the point put in before the last two digits.
        // No parse, no early exit: one pass with a branch only at its end.
        const std::size_t n = field.size();
        const char* f = field.data();
        if (n >= 3 && n <= 15 && f[0] != '0') {
            bool digits = true;
            for (std::size_t i = 0; i < n - 2; ++i) {
                digits &= IsDigit(f[i]);
                out[i] = f[i];
            }
            digits &= IsDigit(f[n - 2]);
            digits &= IsDigit(f[n - 1]);
            if (digits) {
                out[n - 2] = '.';
                out[n - 1] = f[n - 2];
                out[n] = f[n - 1];
                length = n + 1;
                return true;
            }
        }
    }
    {
        // Nearly every field is a bare run of digits: take it without the cursor.
        const char* p = field.data();
        const char* end = p + field.size();
        bool negative = p != end && *p == '-';
        p += negative;
        const char* digits = p;
        std::uint64_t value = 0;
        while (p != end && p - digits < 15 && IsDigit(*p))
            value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
        if (p == end && p != digits) {
            length = WriteHundredths(negative, value, out);
            return true;
        }
    }
    FieldCursor c(field);
    bool negative = false;
    if (!c.done() && (c.peek() == '+' || c.peek() == '-')) {
        negative = c.peek() == '-';
        c.next();
    }
    std::uint64_t value = 0;
    int significant = 0;
    bool anyDigit = false;
    while (!c.done() && IsDigit(c.peek())) {
        anyDigit = true;
        if (value != 0 || c.peek() != '0') {
            if (++significant > 15)
                return false;
            value = value * 10 + static_cast<std::uint64_t>(c.peek() - '0');
        }
        c.next();
    }
    if (!anyDigit)
        return false;
    if (!c.done()) {
        char ch = c.peek();
        if (ch == '.' || ch == 'e' || ch == 'E' || ch == 'd' || ch == 'D')
            return false;
    }
    length = WriteHundredths(negative, value, out);
    return true;
}

} // namespace

void DoDecimals(std::string& StrValue) {
    std::size_t n = StrValue.size();
    StrValue.resize(n + 3);
    StrValue.resize(CompleteDecimals(StrValue.data(), n));
}

std::size_t FormatPriceField(std::string_view field, char* out) noexcept {
    std::size_t length = 0;
    if (FormatWholeHundredths(field, out, length))
        return length;
    double amount = ReadNumber(field) / 100.0;
    return CompleteDecimals(out, AmountTextForm(amount, out));
}

std::string PriceText(std::string_view field) {
    char buf[kMaxAmountText];
    return std::string(buf, FormatPriceField(field, buf));
}

} // namespace pricelookup
