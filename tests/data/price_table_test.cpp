#include "row_builder.h"
#include "table_text.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace pricelookup;
using pricelookup::testing::Lines;
using pricelookup::testing::RowBuilder;
using pricelookup::testing::Rows;
using pricelookup::testing::RowsOf;

TEST(price_table, fields_after_the_fourth_are_dropped_without_shifting) {
    PriceTable table;
    table.AddLine("A1,Pad,100,200,999,999");
    table.AddLine(R"(B2,Disc,300,400,"9,9",x,"y")");
    table.AddLine("C3,Hose,5,6,");
    EXPECT_EQ(Rows(table), (Lines{"A1 | Pad | 1.00 | 2.00", "B2 | Disc | 3.00 | 4.00",
                                  "C3 | Hose | 0.05 | 0.06"}));
    EXPECT_EQ(table.RowCount(1), 3u);
    EXPECT_EQ(table.RowCount(4), 3u);
    EXPECT_EQ(table.RowCount(5), 0u);
    std::string scratch;
    EXPECT_EQ(table.Cell(0, 5, scratch), "");
    EXPECT_EQ(table.Cell(0, 0, scratch), "");
}

TEST(price_table, populate_form_formats_only_the_price_columns) {
    std::string scratch;
    EXPECT_EQ(PopulateForm(" 1234 ", PartCode, scratch), " 1234 ");
    EXPECT_EQ(PopulateForm("1200", Description, scratch), "1200");
    EXPECT_EQ(PopulateForm("1200", CostPrice, scratch), "12.00");
    EXPECT_EQ(PopulateForm("1 2 3 4", RetailPrice, scratch), "12.34");
    EXPECT_EQ(PopulateForm("1234", 5, scratch), "");
    EXPECT_EQ(PopulateForm("1234", 0, scratch), "");
    // A price whose field is a view of the scratch text itself.
    scratch = "-150";
    EXPECT_EQ(PopulateForm(scratch, CostPrice, scratch), "-1.50");
}

TEST(price_table, built_rows_keep_quotes_commas_and_skipped_columns) {
    PriceTable table;
    RowBuilder rows(table);
    rows.AddQuotedField(R"(A"1, "x")", 1);
    rows.AddQuotedField("12", 3);
    rows.EndRow();
    rows.AddQuotedField(R"(")", 2);
    rows.EndRow();
    EXPECT_EQ(Rows(table), (Lines{R"(A"1, "x" |  | 0.12 | 0.00)", R"( | " | 0.00 | 0.00)"}));
}

TEST(price_table, cells_are_cut_from_the_line_when_asked_for) {
    PriceTable table;
    table.AddLine(R"("A""1",x,"1,5",7,extra)");
    std::string scratch;
    EXPECT_EQ(table.Cell(0, PartCode, scratch), R"(A"1)");
    EXPECT_EQ(table.Cell(0, Description, scratch), "x");
    EXPECT_EQ(table.Cell(0, CostPrice, scratch), "0.01");
    EXPECT_EQ(table.Cell(0, RetailPrice, scratch), "0.07");
    EXPECT_EQ(table.Cell(0, 5, scratch), "");
    EXPECT_EQ(table.Cell(1, PartCode, scratch), "");
}

TEST(price_table, long_fields_and_many_rows_round_trip) {
    PriceTable table;
    RowBuilder rows(table);
    std::string longText(100000, 'x');
    longText += "end";
    rows.AddQuotedField(longText, 1);
    rows.EndRow();
    for (int i = 0; i < 1000; ++i) {
        const std::string code = std::to_string(i);
        const std::string description(static_cast<std::size_t>(i), 'd');
        rows.AddQuotedField(code, 1);
        rows.AddQuotedField(description, 2);
        rows.EndRow();
    }
    ASSERT_EQ(table.size(), 1001u);
    EXPECT_EQ(table.Text(0, 1), longText);
    EXPECT_EQ(table.Text(1000, 1), "999");
    EXPECT_EQ(table.Text(1000, 2), std::string(999, 'd'));
    EXPECT_EQ(table.Text(1000, 4), "0.00");
}

// Bytes read straight into the table keep each line's ending, which Line
// leaves out: CR LF or a lone CR, never an LF of the line's own. Moving the
// unread rest to a new arena keeps every row where it was.
TEST(price_table, rows_read_in_place_leave_out_their_endings) {
    const std::string bytes = "A1,x\r\nB2,y\n\r\nC3\rD4,z\n";
    PriceTable table;
    std::memcpy(table.TextRoom(bytes.size()), bytes.data(), bytes.size());
    table.KeepText(bytes.size());
    for (std::size_t start : {0, 6, 13, 16})
        table.AddRowAt(start);
    EXPECT_EQ(Rows(table), (Lines{"A1 | x | 0.00 | 0.00", "B2 | y\n | 0.00 | 0.00",
                                  "C3 |  | 0.00 | 0.00", "D4 | z\n | 0.00 | 0.00"}));

    PriceTable moved;
    std::memcpy(moved.TextRoom(bytes.size()), bytes.data(), bytes.size());
    moved.KeepText(bytes.size());
    moved.AddRowAt(0);
    moved.MoveTextToNewArena(6);
    for (std::size_t start : {0, 7}) // B2 and C3, now in the new arena
        moved.AddRowAt(start);
    moved.CutLastText(10); // D4 was read past the part's end
    EXPECT_EQ(moved.Line(0), "A1,x");
    EXPECT_EQ(moved.Line(1), "B2,y\n");
    EXPECT_EQ(moved.Line(2), "C3");
    EXPECT_EQ(moved.size(), 3u);
}
