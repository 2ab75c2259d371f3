#include "amount.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace pricelookup;

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>; // price field, shown

void ExpectShown(const Cases& cases) {
    for (const auto& [field, shown] : cases)
        EXPECT_EQ(PriceText(field), shown) << "price field [" << field << "]";
}

// The general conversion that FormatPriceField short-cuts for whole numbers.
std::string GeneralPath(std::string_view field) {
    char buf[kMaxAmountText];
    return std::string(buf, DoDecimals(buf, AmountTextForm(ReadNumber(field) / 100.0, buf)));
}

std::string TextForm(double amount) {
    char buf[kMaxAmountText];
    std::size_t n = AmountTextForm(amount, buf);
    EXPECT_LE(n, kMaxAmountText - 3);
    return std::string(buf, n);
}

} // namespace

TEST(amount, worked_values_as_the_price_columns_show_them) {
    ExpectShown({{"1234", "12.34"},
                 {"1230", "12.30"},
                 {"1200", "12.00"},
                 {"100000", "1000.00"},
                 {"123456", "1234.56"},
                 {"123450", "1234.50"},
                 {"5", "0.05"},
                 {"50", "0.50"},
                 {"1", "0.01"},
                 {"0", "0.00"},
                 {"", "0.00"},
                 {"abc", "0.00"},
                 {"\xE2\x82\xAC"
                  "12",
                  "0.00"},
                 {"$12", "0.00"},
                 {"12abc", "0.12"},
                 {"1 2 3 4", "12.34"},
                 {"-1234", "-12.34"},
                 {"-50", "-0.50"},
                 {"-5", "-0.05"},
                 {"1e3", "10.00"}});
}

TEST(amount, pads_to_two_decimals_and_keeps_longer_ones) {
    ExpectShown({{"100", "1.00"},
                 {"-150", "-1.50"},
                 {"12345678", "123456.78"},
                 // A fraction of a hundredth keeps every decimal and still gets a 0.
                 {"1234.5", "12.3450"},
                 {"0.5", "0.0050"},
                 {".5", "0.0050"},
                 {"1234.56", "12.34560"}});
}

TEST(amount, reads_only_the_number_at_the_start) {
    ExpectShown({{"+5", "0.05"},       {"12.5.3", "0.1250"}, {"12e", "0.12"},    {"12e+", "0.12"},
                 {"12ex3", "0.12"},    {"1E3", "10.00"},     {"1d3", "10.00"},   {"1D+3", "10.00"},
                 {"1e-3", "0.000010"}, {"-1.5e2", "-1.50"},  {"1e3e3", "10.00"}, {"12-3", "0.12"},
                 {"--5", "0.00"},      {"+-5", "0.00"},      {"+", "0.00"},      {"-", "0.00"},
                 {".", "0.00"},        {"-.", "0.00"},       {"e5", "0.00"},     {"&H10", "0.00"},
                 {"&h1F", "0.00"},     {"&O17", "0.00"},     {"-0", "0.00"},     {"-0.0e5", "0.00"},
                 {"000", "0.00"},      {"0.00", "0.00"},     {"007", "0.07"},    {"5-", "0.05"},
                 {"5.", "0.05"},       {"-.5", "-0.0050"},   {"-0.0", "0.00"},   {"1e-", "0.01"},
                 {"0x10", "0.00"}});
}

TEST(amount, blanks_tabs_and_line_feeds_anywhere_are_skipped) {
    ExpectShown({{"1 2 3 4", "12.34"},
                 {"  \t1234\n ", "12.34"},
                 {" - 1 2 . 5 e 1 ", "-1.25"},
                 {"1\n2\t3", "1.23"},
                 {"   ", "0.00"},
                 // Other control characters end the number.
                 {"1\v2", "0.01"},
                 {"1\f2", "0.01"},
                 {"\v12", "0.00"}});
}

TEST(amount, sixteen_or_more_digits_round_to_fifteen) {
    ExpectShown({{"999999999999999", "9999999999999.99"},
                 {"000000999999999999999", "9999999999999.99"},
                 {"1234567890123456", "12345678901234.60"},
                 {"9999999999999999", "100000000000000.00"},
                 {"123456789012345678", "1234567890123460.00"},
                 {"-1234567890123456", "-12345678901234.60"}});
}

TEST(amount, large_and_tiny_amounts_are_written_in_plain_digits) {
    ExpectShown({{"1e17", "1000000000000000.00"},
                 {"1e20", "1000000000000000000.00"},
                 {"-1e20", "-1000000000000000000.00"},
                 {"1e-5", "0.00000010"},
                 {"-1e-5", "-0.00000010"},
                 {"1234.5e-10", "0.00000000123450"},
                 {"1.7976931348623157e308", "179769313486232" + std::string(292, '0') + ".00"},
                 {"-4.9406564584124654e-322", "-0." + std::string(323, '0') + "4940656458412470"}});
    EXPECT_EQ(PriceText("1e308"), "1" + std::string(306, '0') + ".00");
    EXPECT_EQ(PriceText(std::string(300, '9')), "1" + std::string(298, '0') + ".00");
    // The smallest amounts still fit the amount text buffer.
    std::string tiny = PriceText("1e-320");
    EXPECT_TRUE(tiny.starts_with("0.000")) << tiny;
    EXPECT_LT(tiny.size(), kMaxAmountText);
}

TEST(amount, numbers_beyond_the_range_of_a_double_show_zero) {
    ExpectShown({{"1e400", "0.00"},
                 {"-1e400", "0.00"},
                 {"1e309", "0.00"},
                 {"2e308", "0.00"},
                 {"1e99999999999999999999", "0.00"},
                 {"1e-400", "0.00"},
                 {"1e-99999999999999999999", "0.00"},
                 {std::string(400, '9'), "0.00"},
                 {"-" + std::string(400, '1'), "0.00"}});
    EXPECT_EQ(ReadNumber("1.7976931348623157e308"), DBL_MAX);
    // 400 digits brought back into range by an exponent.
    EXPECT_EQ(PriceText("1" + std::string(399, '0') + "e-397"), "1.00");
    EXPECT_EQ(PriceText("0." + std::string(399, '0') + "1234e403"), "12.34");
}

TEST(amount, rounds_correctly_however_long_the_digits_run) {
    EXPECT_EQ(ReadNumber("0.1"), 0.1);
    EXPECT_EQ(ReadNumber("123456789012345678901234567890"), 123456789012345678901234567890.0);
    // 2^53 + 1 lies halfway between two doubles: ties go to even, anything
    // beyond the halfway point, however far down, rounds up.
    EXPECT_EQ(ReadNumber("9007199254740993"), 9007199254740992.0);
    EXPECT_EQ(ReadNumber("9007199254740993." + std::string(900, '0')), 9007199254740992.0);
    EXPECT_EQ(ReadNumber("9007199254740993." + std::string(900, '0') + "1"), 9007199254740994.0);
    EXPECT_EQ(ReadNumber("9007199254740993" + std::string(900, '0') + "1e-901"),
              9007199254740994.0);
    EXPECT_TRUE(std::signbit(ReadNumber("-0")));
    EXPECT_EQ(ReadNumber("&H10"), 0.0);
}

TEST(amount, an_exponent_balances_a_very_long_digit_run) {
    EXPECT_EQ(ReadNumber("1" + std::string(200000, '0') + "e-199990"), 1e10);
    EXPECT_EQ(ReadNumber("0." + std::string(1000000, '0') + "1e1000005"), 1e4);
    EXPECT_EQ(PriceText("1" + std::string(200000, '0') + "e-199990"), "100000000.00");
    EXPECT_EQ(ReadNumber("1" + std::string(200000, '0') + "e-1"), 0.0);
}

TEST(amount, fifteen_significant_digits_without_exponent_or_trailing_zeros) {
    EXPECT_EQ(TextForm(0.0), "0");
    EXPECT_EQ(TextForm(-0.0), "0");
    EXPECT_EQ(TextForm(12.34), "12.34");
    EXPECT_EQ(TextForm(12.30), "12.3");
    EXPECT_EQ(TextForm(12.0), "12");
    EXPECT_EQ(TextForm(-0.5), "-0.5");
    EXPECT_EQ(TextForm(0.1 + 0.2), "0.3");
    EXPECT_EQ(TextForm(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(TextForm(2.0 / 3 * 1e20), "66666666666666700000");
    EXPECT_EQ(TextForm(999999999999999.9), "1000000000000000");
    EXPECT_EQ(TextForm(std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(TextForm(std::nan("")), "0");
    std::string largest = TextForm(-DBL_MAX);
    EXPECT_EQ(largest, "-179769313486232" + std::string(294, '0'));
    std::string smallest = TextForm(-std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(smallest, "-0." + std::string(323, '0') + "494065645841247");
}

TEST(amount, completes_to_two_decimals_in_place) {
    for (auto [in, out] : Cases{{"12", "12.00"},
                                {"-5", "-5.00"},
                                {"12.3", "12.30"},
                                {"-0.5", "-0.50"},
                                {"12.34", "12.34"},
                                {"0.05", "0.05"},
                                {"1.2345", "1.23450"},
                                {"", ".00"},
                                {"1,5", "1,5.00"}}) {
        char buf[16];
        in.copy(buf, in.size());
        EXPECT_EQ(std::string(buf, DoDecimals(buf, in.size())), out) << "[" << in << "]";
    }
}

TEST(amount, whole_number_path_equals_the_general_path) {
    std::mt19937 rng(20240611);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* junk[] = {"", "", "", "abc", "x1", "-", "+", ",", "&H", "e", "$"};
    for (int i = 0; i < 20000; ++i) {
        std::string field(static_cast<std::size_t>(pick(3)), ' ');
        if (int s = pick(4); s > 0)
            field += s == 1 ? "-" : s == 2 ? "+" : " - ";
        field.append(static_cast<std::size_t>(pick(3) == 0 ? pick(6) : 0), '0');
        int digits = 1 + pick(15);
        for (int d = 0; d < digits; ++d) {
            field += static_cast<char>('0' + pick(10));
            if (pick(12) == 0)
                field += "\t \n"[pick(3)];
        }
        field += junk[pick(11)];
        char fast[kMaxAmountText];
        std::string fastText(fast, FormatPriceField(field, fast));
        ASSERT_EQ(fastText, GeneralPath(field)) << "price field [" << field << "]";
    }
    // The edges of the path: 15 digits and the first that is not.
    for (std::string field : {"999999999999999", "-999999999999999", "100000000000000",
                              "1000000000000000", "-0", "+0", "00000000000000000001"})
        EXPECT_EQ(PriceText(field), GeneralPath(field)) << field;
}
