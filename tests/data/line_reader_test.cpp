#include "line_reader.h"
#include "price_file.h"
#include "table_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::Lines;
using pricelookup::testing::LoadPriceBytes;
using pricelookup::testing::Rows;
using pricelookup::testing::RowsOf;

namespace {

const std::string kBom = "\xEF\xBB\xBF";

struct Reading {
    Lines rows;
    std::vector<std::uint64_t> lengths; // what the progress step received
    bool ok = false;

    bool operator==(const Reading&) const = default;
};

Reading ReadWhole(std::string_view bytes) {
    PriceTable table;
    Reading r;
    LoadResult result =
        LoadPriceBytes(bytes, table, [&](std::uint64_t n) { r.lengths.push_back(n); });
    r.ok = result.ok;
    r.rows = Rows(table);
    EXPECT_EQ(result.lines, table.size());
    return r;
}

Reading ReadInBlocks(std::string_view bytes, std::size_t block) {
    PriceTable table;
    Reading r;
    LineReader reader(table, [&](std::uint64_t n) { r.lengths.push_back(n); });
    r.ok = true;
    for (std::size_t at = 0; at < bytes.size(); at += block)
        r.ok = reader.Feed(bytes.data() + at, std::min(block, bytes.size() - at)) && r.ok;
    r.ok = reader.Finish() && r.ok;
    r.rows = Rows(table);
    EXPECT_EQ(reader.Lines(), table.size());
    return r;
}

// The part codes only, for line-rule checks.
Lines Codes(std::string_view bytes) {
    PriceTable table;
    LoadPriceBytes(bytes, table, nullptr);
    Lines codes;
    for (std::size_t r = 0; r < table.size(); ++r)
        codes.emplace_back(table.Text(r, PartCode));
    return codes;
}

} // namespace

TEST(line_reader, cr_and_cr_lf_end_a_line_and_a_lone_lf_does_not) {
    EXPECT_EQ(Codes("A\rB\r\nC"), (Lines{"A", "B", "C"}));
    EXPECT_EQ(Codes("A\nB\nC\n"), Lines{"A\nB\nC\n"});
    EXPECT_EQ(Codes("A\n\rB"), (Lines{"A\n", "B"}));
    EXPECT_EQ(Codes("A\r\n\nB"), (Lines{"A", "\nB"}));
    EXPECT_EQ(Codes("\n\n\n"), Lines{"\n\n\n"});
    // Quotes do not protect a line ending.
    EXPECT_EQ(RowsOf("\"a\rb\",1,2"), (Lines{"a |  | 0.00 | 0.00", "b\" | 1 | 0.02 | 0.00"}));
}

TEST(line_reader, the_last_line_needs_no_ending_and_a_final_ending_adds_none) {
    EXPECT_EQ(Codes(""), Lines{});
    EXPECT_EQ(Codes("A"), Lines{"A"});
    EXPECT_EQ(Codes("A\r"), Lines{"A"});
    EXPECT_EQ(Codes("A\r\n"), Lines{"A"});
    EXPECT_EQ(Codes("\r"), Lines{""});
    EXPECT_EQ(Codes("\r\n"), Lines{""});
}

TEST(line_reader, two_endings_in_a_row_enclose_an_empty_line) {
    EXPECT_EQ(Codes("A\r\r"), (Lines{"A", ""}));
    EXPECT_EQ(Codes("A\r\n\r\nB"), (Lines{"A", "", "B"}));
    EXPECT_EQ(Codes("\r\r\n\r"), (Lines{"", "", ""}));
    EXPECT_EQ(Codes("\r\n\r\n"), (Lines{"", ""}));
    EXPECT_EQ(RowsOf("A1,Pad,1,2\r\rB2,Disc,3,4"),
              (Lines{"A1 | Pad | 0.01 | 0.02", " |  | 0.00 | 0.00", "B2 | Disc | 0.03 | 0.04"}));
}

TEST(line_reader, each_unescaped_field_keeps_its_own_text) {
    EXPECT_EQ(RowsOf(R"("a""b","c""d",1,2)"), Lines{R"(a"b | c"d | 0.01 | 0.02)"});
    EXPECT_EQ(RowsOf(R"("x""","""","1""2","3""")"
                     "\r"
                     R"("p""q",r,4)"),
              (Lines{R"(x" | " | 0.01 | 0.03)", R"(p"q | r | 0.04 | 0.00)"}));
}

TEST(line_reader, gets_each_line_length_as_read_without_its_ending) {
    EXPECT_EQ(ReadWhole("A1,\"x,y\",100,200\r\n\r\nB\n2\r").lengths,
              (std::vector<std::uint64_t>{16, 0, 3}));
    EXPECT_EQ(ReadWhole("\n\n").lengths, std::vector<std::uint64_t>{2});
    EXPECT_EQ(ReadWhole(",,,,,,,,\r").lengths, std::vector<std::uint64_t>{8});
    // An empty file calls the step not once.
    EXPECT_EQ(ReadWhole(""), (Reading{{}, {}, true}));
}

TEST(line_reader, only_at_the_very_start_is_left_out_of_the_first_code) {
    EXPECT_EQ(ReadWhole(kBom + "A1,x\rB"),
              (Reading{{"A1 | x | 0.00 | 0.00", "B |  | 0.00 | 0.00"}, {7, 1}, true}));
    // It does not hide a quote that opens the first field.
    EXPECT_EQ(RowsOf(kBom + "\"A,1\",x,5"), Lines{"A,1 | x | 0.05 | 0.00"});
    EXPECT_EQ(ReadWhole(kBom), (Reading{{" |  | 0.00 | 0.00"}, {3}, true}));
    EXPECT_EQ(Codes(kBom + kBom + "A"), Lines{kBom + "A"});
    EXPECT_EQ(Codes("A\r" + kBom + "B"), (Lines{"A", kBom + "B"}));
    EXPECT_EQ(Codes(" " + kBom + "A"), Lines{" " + kBom + "A"});
    EXPECT_EQ(Codes("\xEF\xBB"
                    "A"),
              Lines{"\xEF\xBB"
                    "A"});
}

TEST(line_reader, every_block_size_gives_the_same_rows_and_progress) {
    const std::string files[] = {
        "A1,Pad,100,200\r\nB2,\"Disc, front\",300,400\r\n\r\nC3\nD,\"q\"\"\",5\r\rE",
        kBom + "A1,x,1,2\r\n",
        kBom,
        "\r\n\r\n\r\r\n\n\r",
        "\n\r\n\r",
        "x\r",
        "\"\"\"\r\"a\"\"b\",\"c\",1e3,-0\r\n" + std::string(50, ',') + "\rlast",
        "Caf\xC3\xA9,\xC3\r\x89\r\n\xE9t\xE9",
    };
    for (const std::string& bytes : files) {
        Reading whole = ReadWhole(bytes);
        for (std::size_t block : {1, 2, 3, 7, 1 << 20})
            EXPECT_EQ(ReadInBlocks(bytes, block), whole)
                << "block " << block << " of [" << bytes << "]";
    }
}

TEST(line_reader, refuses_lines_past_the_row_limit) {
    PriceTable table;
    LoadResult result = LoadPriceBytes("A\rB\rC", table, nullptr, 2);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.reason.empty());
    EXPECT_EQ(result.lines, 2u);
    EXPECT_EQ(table.size(), 2u);

    for (std::string_view fits : {"A\rB\rC", "A\rB\rC\r", "A\rB\rC\r\n"}) {
        PriceTable t;
        EXPECT_TRUE(LoadPriceBytes(fits, t, nullptr, 3).ok) << fits;
        EXPECT_EQ(t.size(), 3u);
    }
    PriceTable none;
    EXPECT_TRUE(LoadPriceBytes("", none, nullptr, 0).ok);
    EXPECT_FALSE(LoadPriceBytes("\r", none, nullptr, 0).ok);

    PriceTable fed;
    LineReader reader(fed, nullptr, 1);
    EXPECT_TRUE(reader.Feed("A\r", 2));
    EXPECT_FALSE(reader.Feed("B", 1) && reader.Finish());
    EXPECT_TRUE(reader.TooManyRows());
    EXPECT_FALSE(reader.Feed("\rC\r", 3));
    EXPECT_EQ(fed.size(), 1u);
}

TEST(line_reader, utf8_when_every_byte_is_valid_utf8_else_windows_1252) {
    auto encodingOf = [](std::string_view bytes) {
        PriceTable table;
        return LoadPriceBytes(bytes, table, nullptr).encoding;
    };
    for (std::string_view utf8 : {"", "plain", "Caf\xC3\xA9",
                                  "\xE2\x82\xAC"
                                  "5",
                                  "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
                                  "\xEF\xBB\xBF"
                                  "A"})
        EXPECT_EQ(encodingOf(utf8), TextEncoding::Utf8) << utf8;
    for (std::string_view other : {"Caf\xE9", "\xC3", "\xC3\r\xA9", "\xC0\xAF", "\xE0\x9F\xBF",
                                   "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80",
                                   "\xFF", "ok\xC3\xA9\xA9", "\xE0\xA0x", "\xE2\x82x"})
        EXPECT_EQ(encodingOf(other), TextEncoding::Windows1252) << other;

    // A character split between blocks is still one valid character.
    PriceTable table;
    LineReader reader(table, nullptr);
    const std::string bytes = "A\xF0\x9F\x98\x80"
                              "B";
    for (char c : bytes)
        reader.Feed(&c, 1);
    EXPECT_TRUE(reader.ValidUtf8());
}

TEST(line_reader, a_million_commas_still_give_four_fields) {
    const std::string commas(1000000, ',');
    EXPECT_EQ(RowsOf("A1,Pad,100,200" + commas), Lines{"A1 | Pad | 1.00 | 2.00"});
    EXPECT_EQ(RowsOf(commas), Lines{" |  | 0.00 | 0.00"});
    EXPECT_EQ(RowsOf("A1" + commas + "x\rB"), (Lines{"A1 |  | 0.00 | 0.00", "B |  | 0.00 | 0.00"}));
    std::vector<std::string> rows = RowsOf("\"" + commas + "\",x,1,2");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], commas + " | x | 0.01 | 0.02");
    // Unclosed: cut at the first comma.
    EXPECT_EQ(RowsOf("\"" + commas), Lines{" |  | 0.00 | 0.00"});
}
