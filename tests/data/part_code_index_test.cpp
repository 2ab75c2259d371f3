#include "basic_case_fold.h"
#include "fake_price_files.h"
#include "linear_finder.h"
#include "part_code_finder.h"
#include "part_code_index.h"
#include "part_code_samples.h"
#include "price_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::BasicCaseFold;
using pricelookup::testing::LinearFinder;
using pricelookup::testing::LoadPriceBytes;
using pricelookup::testing::ProbesOf;
using pricelookup::testing::TableOf;

namespace {

using Row = std::optional<std::size_t>;

} // namespace

// A table large enough to be grouped in segments: rows of the same group in
// each of them, a code found only in a later segment, and a text that grows
// from a row of one segment to a row of the next.
TEST(part_code_index, a_table_in_segments_finds_as_one_scan) {
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
    auto counted = [](const char* prefix, int i) {
        char code[48];
        std::snprintf(code, sizeof code, "%s%08d-%c", prefix, i, 'A' + i % 26);
        return std::string(code);
    };
    std::vector<std::string> codes;
    for (int i = 0; i < kRows; ++i) {
        switch (shape) {
        case 0: // a long shared prefix, in order
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
            codes.push_back(counted("LONGSHAREDSTEM-", i));
            break;
        case 5: // a short shared prefix, in no order
            codes.push_back("Q7-" + std::to_string(rng() % 1'000'000));
            break;
        case 6: // the same for half the rows, then spread: a prefix that begins
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
    // Odd rows: one out of order, one that leaves the shared prefix, an
    // empty code, and the shared prefix alone.
    codes[kRows / 3] = "0";
    codes[kRows / 2] = "PY1";
    codes[kRows * 2 / 3] = "";
    codes[kRows - 5] = "PX2024-";
    return codes;
}

} // namespace

// Ordered lists are found by binary search and others by groups; both, read in one
// pass or in parts on several threads, find what a plain scan finds.
TEST(part_code_index, every_shape_of_price_list_finds_as_a_linear_scan) {
    std::mt19937 rng(11);
    for (int shape = 0; shape <= 7; ++shape) {
        const std::vector<std::string> codes = ShapedCodes(shape, rng);
        std::string bytes;
        for (const std::string& code : codes)
            bytes += (rng() % 2 ? code : '"' + code + '"') + ",Part,100,200\r\n";
        // Halves are grouped each, one after the other on one thread, sharing
        // one buffer pool; thirds and sevenths are scanned.
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

namespace {

// A run of `codes`, as the table holds them.
PartCodeRun RunOf(const PriceTable& table, KeyBufferPool* pool) {
    PartCodeRun run(TextEncoding::Utf8, BasicCaseFold, pool);
    table.ForEachPartCode(0, table.size(),
                          [&](std::size_t, std::string_view code) { run.Add(code); });
    run.Finish(table, 0);
    return run;
}

} // namespace

// A run keeps its rows in order up to the first that breaks the order. A long
// tail goes by the two bytes after the prefix most of its codes share, with
// the next four beside each row and the rows that begin otherwise apart:
// every row of the tail in one place. Its keys' buffer goes back to the pool
// for the next run; a short tail keeps its keys to be scanned.
TEST(part_code_index, a_run_keeps_its_order_then_groups_its_tail) {
    std::mt19937 rng(9);
    std::vector<std::string> codes;
    for (int i = 0; i < 100; ++i)
        codes.push_back("A" + std::to_string(1000 + i));
    for (int i = 0; i < 5000; ++i)
        codes.push_back("q7-" + std::to_string(10'000 + rng() % 90'000));
    codes[100] = "0";     // breaks the order, and begins otherwise
    codes[2000] = "Z1";   // begins otherwise
    codes[4000] = "q7";   // ends within the shared prefix
    codes[4500] = "Q7-";  // the shared prefix alone: no group, no byte after it
    codes[4600] = "q7-5"; // one byte after it: no group
    const PriceTable table = TableOf(codes);
    KeyBufferPool pool;
    const PartCodeRun run = RunOf(table, &pool);
    ASSERT_EQ(run.Rows(), codes.size());
    ASSERT_EQ(run.OrderedRows(), 100u);
    ASSERT_TRUE(run.Grouped());
    EXPECT_EQ(run.SharedLength(), 3u);
    EXPECT_EQ(run.FirstSharingRow(), 101u);
    std::vector<std::uint32_t> apart;
    for (const PartCodeRun::ApartRow& row : run.RowsApart())
        apart.push_back(row.row);
    EXPECT_EQ(apart, (std::vector<std::uint32_t>{100, 2000, 4000}));
    for (char byte = '0'; byte <= '9'; ++byte) {
        std::uint32_t first = PartCodeRun::kNoRow;
        for (std::uint32_t row = 101; row < codes.size() && first == PartCodeRun::kNoRow; ++row)
            if (codes[row].starts_with("q7-") && codes[row].size() > 3 && codes[row][3] == byte)
                first = row;
        EXPECT_EQ(run.FirstRowWithByte(static_cast<unsigned char>(byte)), first) << byte;
    }

    std::size_t grouped = 0;
    for (std::uint32_t group = 0; group < 65536; ++group) {
        std::uint32_t previous = 0;
        run.FindInGroup(group, [&](std::uint32_t row, std::uint32_t next) {
            const auto* code = reinterpret_cast<const unsigned char*>(codes[row].c_str());
            EXPECT_EQ(group, std::uint32_t{code[3]} << 8 | code[4]) << row;
            EXPECT_EQ(next, std::uint32_t{code[5]} | std::uint32_t{code[6]} << 8 |
                                std::uint32_t{code[7]} << 16)
                << row;
            EXPECT_GT(row, previous);
            previous = row;
            ++grouped;
            return false;
        });
    }
    EXPECT_EQ(grouped + apart.size() + 2, run.Rows() - run.OrderedRows());
    const PodBuffer<PrefixKey> handedOn = pool.Acquire();
    EXPECT_TRUE(handedOn.empty());
    EXPECT_GE(handedOn.capacity(), run.Rows() - run.OrderedRows());

    const PartCodeRun shortTail = RunOf(TableOf({"b", "a", "C"}), nullptr);
    EXPECT_EQ(shortTail.OrderedRows(), 1u);
    EXPECT_FALSE(shortTail.Grouped());
    EXPECT_EQ(shortTail.TailKeys().size(), 2u);
}

// A group keeps each row as its step from the group's row before, in 16 bits;
// a longer step, or a first row far down the run, takes a jump first. The
// steps on either side of the jump's edge, and a jump past 16 bits.
TEST(part_code_index, rows_far_apart_in_a_group_keep_their_places) {
    std::mt19937 rng(5);
    std::vector<std::string> codes(200'000);
    for (std::string& code : codes)
        code = std::string("m") + static_cast<char>('a' + rng() % 25) + std::to_string(rng());
    codes[0] = "mzz"; // the tail starts at row 1
    const std::vector<std::uint32_t> dashRows = {2, 2 + 65534, 2 + 65534 + 65535, 131072};
    const std::vector<std::uint32_t> plusRows = {70000, 199999};
    const auto place = [&](const std::vector<std::uint32_t>& rows, const char* group) {
        for (std::uint32_t row : rows)
            codes[row] = std::string("m") + group + std::to_string(1'000'000 + row);
    };
    place(dashRows, "z-");
    place(plusRows, "z+");
    const PriceTable table = TableOf(codes);
    const PartCodeRun run = RunOf(table, nullptr);
    ASSERT_EQ(run.OrderedRows(), 1u);
    ASSERT_EQ(run.SharedLength(), 1u);

    const auto rowsOf = [&](const char* group) {
        std::vector<std::uint32_t> rows;
        run.FindInGroup(std::uint32_t{static_cast<unsigned char>(group[0])} << 8 |
                            static_cast<unsigned char>(group[1]),
                        [&](std::uint32_t row, std::uint32_t next) {
                            if (row >= codes.size()) {
                                ADD_FAILURE() << "row " << row << " past the table";
                                return true;
                            }
                            std::uint32_t expected = 0;
                            for (int i = 3; i < 7; ++i)
                                expected |= std::uint32_t{static_cast<unsigned char>(codes[row][i])}
                                            << 8 * (i - 3);
                            EXPECT_EQ(next, expected) << row;
                            rows.push_back(row);
                            return false;
                        });
        return rows;
    };
    EXPECT_EQ(rowsOf("z-"), dashRows);
    EXPECT_EQ(rowsOf("z+"), plusRows);
    EXPECT_TRUE(rowsOf("\x01\x01").empty());
    EXPECT_TRUE(rowsOf("\xff\xff").empty());

    PartCodeFinder finder(table, TextEncoding::Utf8, BasicCaseFold, 1);
    const LinearFinder linear(table, TextEncoding::Utf8);
    for (const char* text : {"mz", "mz-", "mz+", "mz-1000", "mz-1131071", "mz-1131072",
                             "mz+1199999", "mz+1199998", "mz-10655", "mz-1065536"})
        EXPECT_EQ(finder.Find(text), linear.Find(text)) << text;
}
