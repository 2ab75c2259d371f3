#include "basic_case_fold.h"
#include "linear_finder.h"
#include "part_code_finder.h"
#include "part_code_samples.h"
#include "row_builder.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::BasicCaseFold;
using pricelookup::testing::LinearFinder;
using pricelookup::testing::RowBuilder;
using pricelookup::testing::TableOf;

namespace {

using Row = std::optional<std::size_t>;
constexpr Row kNoRow = std::nullopt;

} // namespace

TEST(part_code_finder, codes_are_cut_from_lines_in_every_form) {
    PriceTable table;
    for (std::string_view line : {"b1,x", R"("a""q",y)", R"("a,b",z)", "\"ab", "Zz"})
        table.AddLine(line);
    table.ShrinkToFit();
    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
    // Unquoted, quoted with a "" inside, quoted with a comma, unclosed, and
    // a short code on the last line, which the arena's padding keeps readable.
    const std::pair<std::string_view, Row> finds[] = {{"b1", 0}, {"a\"", 1}, {"a,", 2},
                                                      {"ab", 3}, {"zz", 4},  {"zzz", kNoRow}};
    for (const auto& [text, row] : finds)
        EXPECT_EQ(finder.Find(text), row) << text;
}

TEST(part_code_finder, ignores_letter_case_and_matches_only_at_the_start) {
    PriceTable table = TableOf({"xab", "ABC123", "ab", "Ab-9"});
    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
    EXPECT_EQ(finder.Find("ab"), Row(1));
    EXPECT_EQ(finder.Find("AB"), Row(1));
    EXPECT_EQ(finder.Find("aBc12"), Row(1));
    EXPECT_EQ(finder.Find("ab-"), Row(3));
    EXPECT_EQ(finder.Find("XA"), Row(0));
    EXPECT_EQ(finder.Find("b"), kNoRow);
    EXPECT_EQ(finder.Find("abc1234"), kNoRow);
    EXPECT_EQ(finder.Find("ab "), kNoRow);
}

TEST(part_code_finder, duplicates_give_the_upper_row) {
    PriceTable table = TableOf({"B1", "A1", "a1", "A1"});
    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
    EXPECT_EQ(finder.Find("a1"), Row(1));
    EXPECT_EQ(finder.Find("a"), Row(1));
    EXPECT_EQ(finder.Find("B"), Row(0));
}

TEST(part_code_finder, empty_one_character_and_too_long_texts) {
    PriceTable table = TableOf({"", "a", "AB", "abc", "z"});
    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
    EXPECT_EQ(finder.Find(""), Row(0));
    EXPECT_EQ(finder.Find("A"), Row(1));
    EXPECT_EQ(finder.Find("z"), Row(4));
    EXPECT_EQ(finder.Find("y"), kNoRow);
    EXPECT_EQ(finder.Find("ab"), Row(2));
    EXPECT_EQ(finder.Find("abc"), Row(3));
    EXPECT_EQ(finder.Find("abcd"), kNoRow);
    EXPECT_EQ(finder.Find("zz"), kNoRow);

    PriceTable empty;
    PartCodeFinder none(empty, TextEncoding::Utf8, BasicCaseFold);
    EXPECT_EQ(none.Find(""), kNoRow);
    EXPECT_EQ(none.Find("a"), kNoRow);
    EXPECT_EQ(none.Find("ab"), kNoRow);
}

TEST(part_code_finder, accented_letters_match_either_case_in_utf8) {
    PriceTable table = TableOf({"XY", "\xC3\x89TOILE",
                                "\xC3\xA9"
                                "cole",
                                "\xCE\xA9mega", "\xD0\x96"});
    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
    EXPECT_EQ(finder.Find("\xC3\xA9"), Row(1)); // é finds ÉTOILE
    EXPECT_EQ(finder.Find("\xC3\xA9toi"), Row(1));
    EXPECT_EQ(finder.Find("\xC3\x89"
                          "C"),
              Row(2));                           // ÉC finds école
    EXPECT_EQ(finder.Find("\xCF\x89M"), Row(3)); // ωM finds Ωmega
    EXPECT_EQ(finder.Find("\xD0\xB6"), Row(4));  // ж finds Ж
    EXPECT_EQ(finder.Find("e"), kNoRow);
    EXPECT_EQ(finder.Find("\xC3\xA8"), kNoRow); // è is another letter
}

TEST(part_code_finder, accented_letters_match_either_case_in_windows_1252) {
    PriceTable table = TableOf({"XY", "\xC9TOILE",
                                "\xE9"
                                "cole",
                                "\x80"
                                "5",
                                "\x8A"
                                "a"});
    PartCodeFinder finder(table, TextEncoding::Windows1252, BasicCaseFold);
    EXPECT_EQ(finder.Find("\xC3\xA9"), Row(1));
    EXPECT_EQ(finder.Find("\xC3\xA9T"), Row(1));
    EXPECT_EQ(finder.Find("\xC3\x89"
                          "c"),
              Row(2));
    EXPECT_EQ(finder.Find("\xE2\x82\xAC"
                          "5"),
              Row(3));                          // € is 0x80
    EXPECT_EQ(finder.Find("\xC5\xA1"), Row(4)); // š finds Š, 0x8A
}

TEST(part_code_finder, a_text_that_grows_and_shrinks_keeps_the_right_answers) {
    PriceTable table = TableOf({"b1", "B2x", "b21", "x", "B215", "b2159", "b2150"});
    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
    const std::vector<std::pair<std::string, Row>> typed = {
        {"b", 0},           {"b2", 1},           {"b21", 2},   {"b215", 4}, {"b2150", 6},
        {"b21500", kNoRow}, {"b215009", kNoRow}, {"b2150", 6}, {"b215", 4}, {"b21", 2},
        {"b2", 1},          {"b21", 2},          {"b2159", 5}, {"b", 0},    {"b2159", 5},
        {"b3", kNoRow},     {"b2", 1},           {"", 0},      {"b215", 4}, {"c215", kNoRow},
        {"b215", 4}};
    for (const auto& [text, row] : typed)
        EXPECT_EQ(finder.Find(text), row) << "text " << text;
}

TEST(part_code_finder, agrees_with_a_linear_scan) {
    std::mt19937 rng(7);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    // Few letters, so that codes share long prefixes.
    const std::vector<std::string> utf8Letters = {
        "a", "A", "b", "B", "1", "-", " ", "\xC3\xA9", "\xC3\x89", "\xD0\x96", "\xD0\xB6"};
    const std::vector<std::string> byteLetters = {"a",    "B",    "1",    "\xE9", "\xC9", "\x80",
                                                  "\x8A", "\x9A", "\xC3", "\xA9", "\xFF"};
    for (TextEncoding encoding : {TextEncoding::Utf8, TextEncoding::Windows1252}) {
        const auto& letters = encoding == TextEncoding::Utf8 ? utf8Letters : byteLetters;
        auto word = [&](std::size_t maxLength) {
            std::string w;
            for (std::size_t n = pick(maxLength + 1); n > 0; --n)
                w += letters[pick(letters.size())];
            return w;
        };
        std::vector<std::string> codes;
        for (int i = 0; i < 3000; ++i)
            codes.push_back(word(7));
        // Codes bare, as most files hold them, and quoted, which the finder
        // reads through another path.
        PriceTable table;
        RowBuilder rows(table);
        for (const std::string& code : codes) {
            if (pick(2)) {
                table.AddLine(code + ",x,1,2");
            } else {
                rows.AddQuotedField(code, PartCode);
                rows.EndRow();
            }
        }
        PartCodeFinder finder(table, encoding, BasicCaseFold);
        LinearFinder linear(table, encoding);

        // Queries are UTF-8: in the single-byte table, take them from the decoded codes.
        auto query = [&](const std::string& code) {
            std::string text;
            AppendFolded(
                code, encoding, [](char32_t c) { return c; }, text);
            return text;
        };
        for (int i = 0; i < 3000; ++i) {
            std::string text = pick(2) ? query(word(4)) : query(codes[pick(codes.size())]);
            if (pick(3) == 0) {
                // Type it a character at a time, then take some back.
                std::string typed;
                for (char c : text) {
                    typed += c;
                    ASSERT_EQ(finder.Find(typed), linear.Find(typed)) << typed;
                }
                typed.resize(pick(typed.size() + 1));
                ASSERT_EQ(finder.Find(typed), linear.Find(typed)) << typed;
            } else {
                ASSERT_EQ(finder.Find(text), linear.Find(text)) << text;
            }
        }
    }
}

// Letters that fold to fewer bytes (ſ to s) among the first 16 bytes of a
// longer code: its key takes bytes from past the code's first 16. In a tail
// short enough to be scanned, and one long enough to be grouped.
TEST(part_code_finder, codes_that_fold_shorter_are_found_by_their_later_bytes) {
    const std::string eightLongS(8, 's');
    for (int rows : {10, 5000}) {
        std::vector<std::string> codes = {"z"};
        for (int i = 0; i < rows; ++i) {
            std::string code;
            for (int k = 0; k < 8; ++k)
                code += "\xC5\xBF";
            codes.push_back(code + std::to_string(i));
        }
        const PriceTable table = TableOf(codes);
        PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
        EXPECT_EQ(finder.Find(eightLongS + "1"), Row(2)) << rows;
        EXPECT_EQ(finder.Find(eightLongS + "9"), Row(10)) << rows;
        EXPECT_EQ(finder.Find(eightLongS + "42"), rows > 42 ? Row(43) : kNoRow) << rows;
        EXPECT_EQ(finder.Find(eightLongS + "x"), kNoRow) << rows;
    }
}
