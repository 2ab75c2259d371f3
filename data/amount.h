#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pricelookup {

// The longest amount text that FormatPriceField can write: a double written
// out in plain digits (up to 309 before the point, or 324 zeros after it for
// the smallest subnormal), a sign and the two-decimal completion.
inline constexpr std::size_t kMaxAmountText = 400;

// Reads the number at the start of a price field.
// Accepts: blanks, tabs and line feeds anywhere (they are removed first), then
// an optional sign, digits with at most one "." among them (at least one
// digit), and an optional exponent of E or D in either case, an optional sign
// and digits. Reading stops silently at the first character that does not fit.
// Yields the correctly rounded double, or 0 when the text holds no number, when
// it begins with &H or &O, or when the number lies beyond the range of a double.
// Never throws, never allocates.
double ReadNumber(std::string_view text) noexcept;

// The standard text form of an amount: at most 15 significant digits, the
// nearest such decimal, no trailing zeros, no point when nothing follows it,
// a 0 before the point below 1, "-" before a negative amount, and always plain
// digits, never an exponent. Zero (and minus zero) is "0".
// Writes at most kMaxAmountText - 3 characters to out and returns their number.
std::size_t AmountTextForm(double amount, char* out) noexcept;

// Completes the text form of an amount of `length` characters to at least two
// decimals, in place: ".00" when it has no point, "0" when the point is not
// third from the end. `text` must have room for three more characters.
// Returns the new length.
std::size_t DoDecimals(char* text, std::size_t length) noexcept;

// The amount text that a price column shows for a price field of whole
// hundredths: ReadNumber, divided by 100.0, AmountTextForm, DoDecimals.
// Writes at most kMaxAmountText characters to out and returns their number.
// A bare run of up to 15 digits takes a copying path that gives the same text
// without any floating-point work.
std::size_t FormatPriceField(std::string_view field, char* out) noexcept;

// The same, as a string; for callers off the hot path.
std::string PriceText(std::string_view field);

} // namespace pricelookup
