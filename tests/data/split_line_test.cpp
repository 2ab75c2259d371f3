// Lines cut into the four columns as the lists show them: plain, short,
// quoted and oddly quoted fields.

#include "table_text.h"

#include <gtest/gtest.h>

using namespace pricelookup;
using pricelookup::testing::Lines;
using pricelookup::testing::RowsOf;

TEST(split_line, worked_lines_as_the_lists_show_them) {
    EXPECT_EQ(RowsOf("A1234,Brake pad front,1234,1500"),
              Lines{"A1234 | Brake pad front | 12.34 | 15.00"});
    EXPECT_EQ(RowsOf("A1234,Brake pad,1234,1500,X,Y"), Lines{"A1234 | Brake pad | 12.34 | 15.00"});
    EXPECT_EQ(RowsOf("A1234,,1234,1500"), Lines{"A1234 |  | 12.34 | 15.00"});
    EXPECT_EQ(RowsOf("A1234,Brake pad,1234,"), Lines{"A1234 | Brake pad | 12.34 | 0.00"});
    EXPECT_EQ(RowsOf("A1234,Brake pad,1234,1500,"), Lines{"A1234 | Brake pad | 12.34 | 15.00"});
    EXPECT_EQ(RowsOf(",,,"), Lines{" |  | 0.00 | 0.00"});
    EXPECT_EQ(RowsOf(R"("A1234","Brake pad","1234","1500")"),
              Lines{"A1234 | Brake pad | 12.34 | 15.00"});
    EXPECT_EQ(RowsOf("  A1234 , Brake pad , 1234,15 00"),
              Lines{"  A1234  |  Brake pad  | 12.34 | 15.00"});
}

TEST(split_line, short_lines_still_fill_all_four_columns) {
    EXPECT_EQ(RowsOf("A1234,Brake pad"), Lines{"A1234 | Brake pad | 0.00 | 0.00"});
    EXPECT_EQ(RowsOf("A1234,"), Lines{"A1234 |  | 0.00 | 0.00"});
    EXPECT_EQ(RowsOf("\""), Lines{" |  | 0.00 | 0.00"});
    EXPECT_EQ(RowsOf("\r"), Lines{" |  | 0.00 | 0.00"});
    // Row N of every column comes from line N, whatever the line above held.
    EXPECT_EQ(RowsOf("A1,Pad\r\nB2,Disc,200,300\r\nC3\r\nD4,Hose,1,2"),
              (Lines{"A1 | Pad | 0.00 | 0.00", "B2 | Disc | 2.00 | 3.00", "C3 |  | 0.00 | 0.00",
                     "D4 | Hose | 0.01 | 0.02"}));
}

TEST(split_line, quoted_fields_keep_their_commas_and_quotes) {
    EXPECT_EQ(RowsOf(R"(A1234,"Bolt, M6",1234,1500)"), Lines{"A1234 | Bolt, M6 | 12.34 | 15.00"});
    EXPECT_EQ(RowsOf(R"(A1234,"say ""hi""",5,50)"), Lines{R"(A1234 | say "hi" | 0.05 | 0.50)"});
    EXPECT_EQ(RowsOf(R"(A1,"a"",""b",1,2)"), Lines{R"(A1 | a","b | 0.01 | 0.02)"});
    EXPECT_EQ(RowsOf(R"(A1,"6" bolt",1,2)"), Lines{R"(A1 | 6" bolt | 0.01 | 0.02)"});
    EXPECT_EQ(RowsOf(R"("",x)"), Lines{" | x | 0.00 | 0.00"});
    EXPECT_EQ(RowsOf(R"("""")"), Lines{R"(" |  | 0.00 | 0.00)"});
}

TEST(split_line, unclosed_or_misplaced_quotes_stay_as_before) {
    // No closing quote: cut at the next comma, enclosing quotes removed.
    EXPECT_EQ(RowsOf(R"(A1,"Bolt, M6,1,2)"), Lines{"A1 | Bolt | 0.00 | 0.01"});
    EXPECT_EQ(RowsOf(R"(""")"), Lines{R"(" |  | 0.00 | 0.00)"});
    EXPECT_EQ(RowsOf(R"("a""b)"), Lines{R"(a""b |  | 0.00 | 0.00)"});
    // A quote that is not the first character is ordinary.
    EXPECT_EQ(RowsOf(R"(A1,Bolt",1,2)"), Lines{R"(A1 | Bolt" | 0.01 | 0.02)"});
    EXPECT_EQ(RowsOf(R"(A1, "Bolt, M6",1,2)"), Lines{R"(A1 |  "Bolt | 0.00 | 0.01)"});
}
