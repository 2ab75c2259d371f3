#include "basic_case_fold.h"
#include "linear_finder.h"
#include "part_code_finder.h"
#include "price_file.h"
#include "row_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::BasicCaseFold;
using pricelookup::testing::LinearFinder;
using pricelookup::testing::RowBuilder;

namespace {

using Row = std::optional<std::size_t>;
constexpr Row kNoRow = std::nullopt;

PriceTable TableOf(const std::vector<std::string>& codes) {
    PriceTable table;
    RowBuilder rows(table);
    for (const std::string& code : codes) {
        rows.AddQuotedField(code, PartCode);
        rows.EndRow();
    }
    return table;
}

} // namespace

TEST(prefix_find, codes_are_cut_from_lines_in_every_form) {
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

TEST(prefix_find, ignores_letter_case_and_matches_only_at_the_start) {
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

TEST(prefix_find, duplicates_give_the_upper_row) {
    PriceTable table = TableOf({"B1", "A1", "a1", "A1"});
    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold);
    EXPECT_EQ(finder.Find("a1"), Row(1));
    EXPECT_EQ(finder.Find("a"), Row(1));
    EXPECT_EQ(finder.Find("B"), Row(0));
}

TEST(prefix_find, empty_one_character_and_too_long_texts) {
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

TEST(prefix_find, accented_letters_match_either_case_in_utf8) {
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

TEST(prefix_find, accented_letters_match_either_case_in_windows_1252) {
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

TEST(prefix_find, a_text_that_grows_and_shrinks_keeps_the_right_answers) {
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

TEST(prefix_find, agrees_with_a_linear_scan) {
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

// A table large enough to be grouped in segments: rows of the same group in
// each of them, a code found only in a later segment, and a text that grows
// from a row of one segment to a row of the next.
TEST(prefix_find, a_table_in_segments_finds_as_one_scan) {
    std::vector<std::string> codes;
    for (int i = 0; i < 2'300'000; ++i)
        codes.push_back("AB" + std::to_string(i % 1'000'000) + (i % 7 == 0 ? "x" : "Y"));
    codes[2'200'000] = "ABzz";
    codes.back() = "Q\xC3\xA9";
    const PriceTable table = TableOf(codes);
    PartCodeFinder one(table, TextEncoding::Utf8, BasicCaseFold);
    PartCodeFinder segmented(table, TextEncoding::Utf8, BasicCaseFold, 4);
    const LinearFinder linear(table, TextEncoding::Utf8);
    // Typed in this order, so that each text grows from or shrinks to the last.
    const std::vector<std::string> typed = {
        "a",         "ab",        "ab1", "ab12345", "ab123456", "ab999999", "ab999999y",
        "ab999999x", "ab99999",   "ab7", "ab7x",    "ab7y",     "abz",      "abzz",
        "abzzz",     "q\xC3\x89", "ab0", "ab0x",    "ab0y",     "ab14",     "ab14x"};
    for (const std::string& text : typed) {
        const Row row = linear.Find(text);
        EXPECT_EQ(segmented.Find(text), row) << "text " << text;
        EXPECT_EQ(one.Find(text), row) << "text " << text;
    }
    EXPECT_EQ(segmented.Find("abzz"), Row(2'200'000));
    EXPECT_EQ(segmented.Find("ab7x"), Row(7));
    EXPECT_EQ(segmented.Find("ab7y"), Row(1'000'007));
}

namespace {

// The part codes of price lists of every shape the finder has to stand up
// to, with a few odd rows among them.
std::vector<std::string> ShapedCodes(int shape, std::mt19937& rng) {
    constexpr int kRows = 12'000;
    auto counted = [](const char* head, int i) {
        char code[48];
        std::snprintf(code, sizeof code, "%s%08d-%c", head, i, 'A' + i % 26);
        return std::string(code);
    };
    std::vector<std::string> codes;
    for (int i = 0; i < kRows; ++i) {
        switch (shape) {
        case 0: // a long shared head, in order
        case 1: // the same, in no order
            codes.push_back(counted("PX2024-", i));
            break;
        case 2: // runs of one code
            codes.push_back(counted("R", i / 700));
            break;
        case 3: // Windows-1252 letters in three cases, in order when folded
            codes.push_back(counted(i % 3 == 1 ? "\xE9" : "\xC9", i / 3));
            codes.back().back() = i % 3 == 0 ? 'Q' : 'q';
            break;
        case 4: // codes over 16 bytes that share their first 16
            codes.push_back(counted("LONGSHAREDHEAD-", i));
            break;
        case 5: // a short shared head, in no order
            codes.push_back("Q7-" + std::to_string(rng() % 1'000'000));
            break;
        case 6: // the same for half the rows, then spread: a head that begins
                // half the tail, and no more
            codes.push_back(i < kRows / 2 ? "Q7-" + std::to_string(rng() % 1'000'000)
                                          : std::string(1, static_cast<char>('A' + rng() % 26)) +
                                                std::to_string(rng() % 100'000));
            break;
        default: // spread over many first letters
            codes.push_back(std::string(1, static_cast<char>('A' + rng() % 26)) +
                            std::to_string(rng() % 100'000));
        }
    }
    if (shape == 1 || shape == 4)
        std::shuffle(codes.begin(), codes.end(), rng);
    // A tail that begins with a code unlike the rest.
    if (shape == 1) {
        codes[0] = "A";
        codes[1] = "0";
    }
    // Odd rows: one out of order, one that leaves the shared head, an empty
    // code, and the shared head alone.
    codes[kRows / 3] = "0";
    codes[kRows / 2] = "PY1";
    codes[kRows * 2 / 3] = "";
    codes[kRows - 5] = "PX2024-";
    return codes;
}

// Prefixes of codes near the top, the middle and the bottom, whole codes,
// codes with a character no code has, and the text as it is typed.
std::vector<std::string> ProbesOf(const std::vector<std::string>& codes, TextEncoding encoding) {
    std::vector<std::string> probes{"", "p", "px", "~"};
    const std::size_t n = codes.size();
    for (std::size_t row : {std::size_t{0}, std::size_t{1}, n / 3 + 1, n / 2, n - 6, n - 1}) {
        std::string text;
        AppendFolded(
            codes[row], encoding, [](char32_t c) { return c; }, text);
        for (std::size_t size = 1; size <= text.size(); ++size)
            probes.push_back(text.substr(0, size));
        probes.push_back(text + "~");
    }
    return probes;
}

// Loads `bytes` with the finder, in one pass (`partBytes` 0) or in parts of
// that size on two threads.
LoadResult LoadWithFinder(const std::string& bytes, std::uint64_t partBytes, PriceTable& table) {
    LoadOptions options;
    options.fold = BasicCaseFold;
    options.partsFrom = partBytes == 0 ? UINT64_MAX : 0;
    options.partBytes = partBytes;
    options.threads = 2;
    return LoadPriceBytes(bytes, table, nullptr, options);
}

// A thousand codes of each stem, a digit and a number after it, stems in turn.
std::vector<std::string> CodesOfStems(std::span<const char* const> stems) {
    std::vector<std::string> codes;
    for (int i = 0; i < 1000; ++i)
        for (const char* stem : stems)
            codes.push_back(stem + std::to_string(i % 7) + "-" + std::to_string(i));
    return codes;
}

// Every prefix of `text` into `probes`.
void AddPrefixes(std::string_view text, std::vector<std::string>& probes) {
    for (std::size_t size = 1; size <= text.size(); ++size)
        probes.emplace_back(text.substr(0, size));
}

} // namespace

// Ordered lists are found by halving and others by groups; both, read in one
// pass or in parts on several threads, find what a plain scan finds.
TEST(prefix_find, every_shape_of_price_list_finds_as_a_linear_scan) {
    std::mt19937 rng(11);
    for (int shape = 0; shape <= 7; ++shape) {
        const std::vector<std::string> codes = ShapedCodes(shape, rng);
        std::string bytes;
        for (const std::string& code : codes)
            bytes += (rng() % 2 ? code : '"' + code + '"') + ",Part,100,200\r\n";
        // Halves are grouped each, one after the other on one thread, in
        // the same room; thirds and sevenths are scanned.
        for (std::uint64_t partBytes :
             {std::uint64_t{0}, bytes.size() / 2, bytes.size() / 3, bytes.size() / 7}) {
            LoadOptions options;
            options.fold = BasicCaseFold;
            options.partsFrom = partBytes == 0 ? UINT64_MAX : 0;
            options.partBytes = partBytes;
            options.threads = partBytes == bytes.size() / 2 ? 1 : 2;
            PriceTable table;
            const LoadResult loaded = LoadPriceBytes(bytes, table, nullptr, options);
            ASSERT_TRUE(loaded.ok && loaded.finder);
            const LinearFinder linear(table, loaded.encoding);
            for (const std::string& probe : ProbesOf(codes, loaded.encoding))
                ASSERT_EQ(loaded.finder->Find(probe), linear.Find(probe))
                    << "shape " << shape << ", parts of " << partBytes << ", text " << probe;
        }
    }
}

// Windows-1252 letters fold to one, two or three UTF-8 bytes, so a head's
// bytes land across its two words and past its sixteen: € at bytes 7 to 9,
// Š at 15 and 16, É past 16, and codes of nothing but them; ASCII after a
// letter that ends at byte 15, and letters right before a byte above 127,
// which a fold of eight bytes at once must not touch. In code order and
// shuffled, in one pass and in parts, where the first part decodes valid
// UTF-8 before the others show the file is not UTF-8, and is learnt again.
TEST(prefix_find, windows_1252_heads_fold_across_their_two_words) {
    const char* const stems[] = {"ABCDEFG\x80x",
                                 "abcdefghijklmn\x8Az",
                                 "ABCDEFGHIJKLMNO\x9A",
                                 "ABCDEFGHIJKLMNOP\xC9",
                                 "\xC9\xE9\xC9\xE9\xC9\xE9\xC9\xE9\xC9",
                                 "\x80\x80\x80\x80\x80\x80",
                                 "ABCDEFGHIJKLM\xE9xy",
                                 "@\xC9Z\xDCz\xFF"};
    std::vector<std::string> codes = CodesOfStems(stems);
    auto folded = [](const std::string& code) {
        std::string out;
        AppendFolded(code, TextEncoding::Windows1252, BasicCaseFold, out);
        return out;
    };
    std::sort(codes.begin(), codes.end(),
              [&](const std::string& a, const std::string& b) { return folded(a) < folded(b); });
    std::vector<std::string> shuffled = codes;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
    for (const std::vector<std::string>* order : {&codes, &shuffled}) {
        // Out of order, so that the second row's head is kept: as UTF-8 "éa",
        // which the finder must learn again as "Ã©a".
        std::string bytes = "\xC3\xA9z,valid UTF-8,1,2\r\n\xC3\xA9"
                            "a,valid UTF-8,1,2\r\n";
        for (const std::string& code : *order)
            bytes += code + ",Part,100,200\r\n";
        for (std::uint64_t partBytes : {std::uint64_t{0}, bytes.size() / 5}) {
            PriceTable table;
            const LoadResult loaded = LoadWithFinder(bytes, partBytes, table);
            ASSERT_TRUE(loaded.ok && loaded.finder);
            ASSERT_EQ(loaded.encoding, TextEncoding::Windows1252);
            const LinearFinder linear(table, loaded.encoding);
            std::vector<std::string> rows = {"\xC3\xA9z", "\xC3\xA9"
                                                          "a"};
            rows.insert(rows.end(), order->begin(), order->end());
            std::vector<std::string> probes = ProbesOf(rows, loaded.encoding);
            // Every stem, whichever rows the probes above met.
            for (const char* stem : stems) {
                std::string text;
                AppendFolded(
                    stem, TextEncoding::Windows1252, [](char32_t c) { return c; }, text);
                AddPrefixes(text, probes);
            }
            for (const std::string& probe : probes)
                ASSERT_EQ(loaded.finder->Find(probe), linear.Find(probe))
                    << (order == &codes ? "in order" : "shuffled") << ", parts of " << partBytes
                    << ", text " << probe;
        }
    }
}

// UTF-8 letters of two bytes fold to one (ſ to s), two or three bytes, and
// at bytes 7 and 8, 15 and 16 of a code they straddle the head's words and
// its end; € (three bytes) takes the slow road, the rest of its code too.
// The letters of the description after a short code are not the code's.
TEST(prefix_find, utf8_heads_fold_letters_of_two_bytes_in_place) {
    const char* const stems[] = {
        "ABCDEFG\xC3\x89x",
        "abcdefghijklmnO\xC3\x89",
        "\xC5\xBF\xC5\xBF\xC2\xB5\xC2\xB5zz",
        "\xD0\x96\xCE\xA9\xE2\x82\xAC\xCE\xA9",
        "@\xC3\x89Z\xDF\x80",
        "\xC3\x80\xC3\x81\xC3\x82\xC3\x83\xC3\x84\xC3\x85\xC3\x86\xC3\x87\xC3\x88"};
    std::vector<std::string> codes = CodesOfStems(stems);
    std::shuffle(codes.begin(), codes.end(), std::mt19937(7));
    std::string bytes;
    for (const std::string& code : codes)
        bytes += code + ",\xC3\x89"
                        "crou \xC3\xA0 \xC3\xA9paulement,100,200\r\n";
    for (std::uint64_t partBytes : {std::uint64_t{0}, bytes.size() / 3}) {
        PriceTable table;
        const LoadResult loaded = LoadWithFinder(bytes, partBytes, table);
        ASSERT_TRUE(loaded.ok && loaded.finder);
        ASSERT_EQ(loaded.encoding, TextEncoding::Utf8);
        const LinearFinder linear(table, loaded.encoding);
        std::vector<std::string> probes = ProbesOf(codes, loaded.encoding);
        for (const char* stem : stems)
            AddPrefixes(stem, probes);
        for (const std::string& probe : probes)
            ASSERT_EQ(loaded.finder->Find(probe), linear.Find(probe))
                << "parts of " << partBytes << ", text " << probe;
    }
}
