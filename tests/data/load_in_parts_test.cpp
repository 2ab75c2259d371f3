#include "basic_case_fold.h"
#include "line_reader.h"
#include "linear_finder.h"
#include "load_in_parts.h"
#include "part_code_finder.h"
#include "reference_reader.h"
#include "table_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::BasicCaseFold;
using pricelookup::testing::LinearFinder;
using pricelookup::testing::LoadPriceBytes;
using pricelookup::testing::ReferenceRead;

namespace {

class FileMaker {
public:
    explicit FileMaker(unsigned seed) : rng_(seed) {}

    // Bytes drawn from the pieces that matter to the reader, in no order.
    std::string Scrambled() {
        static const char* const pieces[] = {
            "\"", "\"", "\"\"", ",",        ",",    ",",    "\r",   "\n",          "\r\n", " ",
            "\t", "0",  "1",    "5",        "9",    "-",    "+",    ".",           "e",    "D",
            "A",  "z",  "&H",   "\xC3\xA9", "\xE9", "\x80", "\xFF", "\xEF\xBB\xBF"};
        std::string bytes = Pick(8) == 0 ? "\xEF\xBB\xBF" : "";
        for (std::size_t n = Pick(120); n > 0; --n)
            bytes += pieces[Pick(std::size(pieces))];
        return bytes;
    }

    // Lines that look like a price file, quoted and not, with odd ones among them.
    std::string Records() {
        static const char* const endings[] = {"\r\n", "\r\n", "\r", "\n", "\r\r", "\r\n\r\n"};
        std::string bytes = Pick(6) == 0 ? "\xEF\xBB\xBF" : "";
        for (std::size_t n = Pick(12); n > 0; --n) {
            for (std::size_t f = 0, fields = Pick(7); f < fields; ++f) {
                if (f > 0)
                    bytes += ',';
                bytes += f >= 2 && f < 4 ? Number() : Text();
            }
            if (n > 1 || Pick(2))
                bytes += endings[Pick(std::size(endings))];
        }
        return bytes;
    }

    std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }

private:
    std::string Text() {
        static const char* const letters[] = {"A",  "b",    "7",        " ",    "-",  ",",
                                              "\"", "\"\"", "\xC3\x89", "\xC9", "\n", "x"};
        std::string text;
        for (std::size_t n = Pick(6); n > 0; --n)
            text += letters[Pick(std::size(letters))];
        switch (Pick(4)) {
        case 0:
            return '"' + text + '"';
        case 1:
            return '"' + text;
        default:
            return text;
        }
    }

    std::string Number() {
        static const char* const signs[] = {"", "", "-", "+", " ", "- "};
        std::string number = signs[Pick(std::size(signs))];
        for (std::size_t n = Pick(20); n > 0; --n)
            number += static_cast<char>('0' + Pick(10));
        if (Pick(4) == 0)
            number += "." + std::to_string(Pick(1000));
        if (Pick(6) == 0)
            number += "eEdD"[Pick(4)] + std::string(Pick(2) ? "-" : "") + std::to_string(Pick(420));
        if (Pick(8) == 0)
            number += "x";
        return Pick(5) == 0 ? '"' + number + '"' : number;
    }

    std::mt19937 rng_;
};

// Part codes to look for: prefixes of a few rows' codes, and slices of the bytes.
std::vector<std::string> Probes(const PriceTable& table, std::string_view bytes) {
    std::vector<std::string> probes{""};
    for (std::size_t row : {std::size_t{0}, table.size() / 2, table.size() - 1}) {
        if (row >= table.size())
            continue;
        const std::string code = table.Text(row, PartCode);
        for (std::size_t n = 1; n <= std::min<std::size_t>(code.size(), 8); ++n)
            probes.emplace_back(code.substr(0, n));
    }
    for (std::size_t at = 0; at + 3 <= bytes.size() && at < 60; at += 5)
        probes.emplace_back(bytes.substr(at, 1 + at % 4));
    return probes;
}

// The file cut into parts of every size from one byte, so that cuts fall in
// CR LF pairs, quoted fields and UTF-8 sequences, read on one to three
// threads, with arenas of a few bytes for every other size (lines then move
// to a new arena as they would past 4 GiB): the same rows, encoding, progress
// total and finds as in one pass.
void ExpectPartsSameAsOnePass(std::string_view bytes) {
    PriceTable whole;
    std::uint64_t wholeProgress = 0;
    LoadResult one = LoadPriceBytes(bytes, whole, [&](std::uint64_t n) { wholeProgress += n; });
    ASSERT_TRUE(one.ok);
    const PartCodeFinder wholeFinder(whole, one.encoding, BasicCaseFold);
    const std::vector<std::string> probes = Probes(whole, bytes);
    const auto rows = pricelookup::testing::Rows(whole);
    const LinearFinder linear(whole, one.encoding);
    for (const std::string& probe : probes)
        ASSERT_EQ(wholeFinder.Find(probe), linear.Find(probe))
            << "find [" << probe << "] in [" << bytes << "]";

    for (std::size_t part = 1, previous = 1; part <= bytes.size() + 1;
         std::tie(part, previous) = std::make_pair(part + previous, part)) {
        for (unsigned threads : {1u + static_cast<unsigned>(part % 3)}) {
            LoadOptions options;
            options.partsFrom = 0;
            options.partBytes = part;
            options.threads = threads;
            options.progressBudget = bytes.size();
            options.fold = BasicCaseFold;
            if (part % 2 == 0)
                options.arenaBytes = 8 + part % 40;
            PriceTable parted;
            std::uint64_t progress = 0;
            LoadResult r = LoadPriceBytes(
                bytes, parted, [&](std::uint64_t n) { progress += n; }, options);
            ASSERT_TRUE(r.ok);
            ASSERT_EQ(pricelookup::testing::Rows(parted), rows)
                << "parts of " << part << " of [" << bytes << "]";
            ASSERT_EQ(r.lines, one.lines);
            ASSERT_EQ(r.encoding, one.encoding) << "parts of " << part << " of [" << bytes << "]";
            ASSERT_EQ(progress, wholeProgress);
            ASSERT_TRUE(r.finder);
            for (const std::string& probe : probes)
                ASSERT_EQ(r.finder->Find(probe), wholeFinder.Find(probe))
                    << "find [" << probe << "], parts of " << part << " of [" << bytes << "]";
        }
    }
}

void ExpectSameAsReference(std::string_view bytes, std::size_t block) {
    auto reference = ReferenceRead(bytes);

    PriceTable whole;
    std::vector<std::uint64_t> lengths;
    LoadResult result =
        LoadPriceBytes(bytes, whole, [&](std::uint64_t n) { lengths.push_back(n); });
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(pricelookup::testing::Rows(whole), reference.rows) << "file [" << bytes << "]";
    ASSERT_EQ(lengths, reference.lengths) << "file [" << bytes << "]";

    PriceTable fed;
    lengths.clear();
    LineReader reader(fed, [&](std::uint64_t n) { lengths.push_back(n); });
    for (std::size_t at = 0; at < bytes.size(); at += block)
        reader.Feed(bytes.data() + at, std::min(block, bytes.size() - at));
    reader.Finish();
    ASSERT_EQ(pricelookup::testing::Rows(fed), reference.rows)
        << "block " << block << " of [" << bytes << "]";
    ASSERT_EQ(lengths, reference.lengths) << "block " << block << " of [" << bytes << "]";
}

} // namespace

TEST(load_in_parts, scrambled_bytes_read_as_in_one_pass) {
    FileMaker maker(3);
    for (int i = 0; i < 400; ++i)
        ASSERT_NO_FATAL_FAILURE(ExpectPartsSameAsOnePass(maker.Scrambled()));
}

TEST(load_in_parts, price_file_records_read_as_in_one_pass) {
    FileMaker maker(4);
    for (int i = 0; i < 400; ++i)
        ASSERT_NO_FATAL_FAILURE(ExpectPartsSameAsOnePass(maker.Records()));
}

// Price lists mostly come in order of their codes, with a row out of order
// now and then: the finder finds the ordered rows by binary search and groups
// the rest.
TEST(load_in_parts, records_in_code_order_read_and_find_as_in_one_pass) {
    FileMaker maker(6);
    for (int i = 0; i < 400; ++i) {
        std::vector<std::string> lines;
        const std::string records = maker.Records();
        for (std::size_t at = 0; at < records.size();) {
            const std::size_t end = std::min(records.find('\r', at), records.size());
            lines.push_back(records.substr(at, end - at));
            at = end + 1;
        }
        std::sort(lines.begin(), lines.end());
        if (!lines.empty() && maker.Pick(2) == 0)
            std::swap(lines.front(), lines[maker.Pick(lines.size())]);
        std::string bytes;
        for (const std::string& line : lines)
            bytes += line + "\r\n";
        ASSERT_NO_FATAL_FAILURE(ExpectPartsSameAsOnePass(bytes));
    }
}

TEST(load_in_parts, scrambled_bytes_read_as_the_reference_reads_them) {
    FileMaker maker(1);
    for (int i = 0; i < 4000; ++i) {
        std::string bytes = maker.Scrambled();
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsReference(bytes, 1 + maker.Pick(9)));
    }
}

TEST(load_in_parts, price_file_records_read_as_the_reference_reads_them) {
    FileMaker maker(2);
    for (int i = 0; i < 4000; ++i) {
        std::string bytes = maker.Records();
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsReference(bytes, 1 + maker.Pick(16)));
    }
}

namespace {

LoadOptions InParts(std::uint64_t partBytes, unsigned threads) {
    LoadOptions options;
    options.partsFrom = 0;
    options.partBytes = partBytes;
    options.threads = threads;
    options.progressBudget = UINT64_MAX;
    return options;
}

// Reads the bytes at an offset, as ReadOnlyFile::ReadAt does.
ReadAtFn ReaderOf(std::string_view bytes) {
    return [bytes](std::uint64_t offset, char* buffer, std::size_t n) {
        FileRead read;
        if (offset < bytes.size()) {
            read.bytes = std::min<std::size_t>(n, bytes.size() - offset);
            std::memcpy(buffer, bytes.data() + offset, read.bytes);
        }
        return read;
    };
}

std::string ManyRecords(int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i)
        bytes += "P" + std::to_string(i) + ",\"Part, " + std::to_string(i) + "\",12,3\r\n";
    return bytes;
}

} // namespace

// A part whose last line runs far past its end reads on in blocks that
// grow, past the room it took; a line longer than an arena holds stays
// whole in one. Lines of 300, 5,000 and 200,000 bytes among short ones.
TEST(load_in_parts, lines_far_longer_than_a_part_read_as_in_one_pass) {
    std::string bytes;
    for (std::size_t length : {300, 5'000, 200'000}) {
        bytes += "A1,short,100,200\r\n";
        bytes += "L" + std::to_string(length) + ",\"" + std::string(length, 'x') + "\",1,2\r\n";
        bytes += "B2,after,3,4\r";
    }
    bytes += "C3,last,5,6";
    PriceTable whole;
    ASSERT_TRUE(LoadPriceBytes(bytes, whole, nullptr).ok);
    for (std::uint64_t part : {100, 4'096, 70'000}) {
        for (std::size_t arena : {std::size_t{64}, PriceTable::kMaxRowStart}) {
            LoadOptions options = InParts(part, 2 + part % 2);
            options.arenaBytes = arena;
            PriceTable parted;
            ASSERT_TRUE(LoadPriceBytes(bytes, parted, nullptr, options).ok);
            EXPECT_TRUE(pricelookup::testing::SameLines(parted, whole))
                << "parts of " << part << ", arenas of " << arena;
            EXPECT_EQ(parted.Text(7, PartCode), "L200000");
        }
    }
}

// The row limit holds for the whole file, whichever part passes it.
TEST(load_in_parts, the_row_limit_is_kept_as_in_one_pass) {
    FileMaker maker(5);
    for (int i = 0; i < 200; ++i) {
        const std::string bytes = maker.Records();
        PriceTable all;
        const std::uint64_t lines = LoadPriceBytes(bytes, all, nullptr).lines;
        for (std::uint64_t maxRows : {std::uint64_t{0}, lines - (lines > 0), lines, lines + 1}) {
            PriceTable whole;
            const LoadResult one = LoadPriceBytes(bytes, whole, nullptr, maxRows);
            LoadOptions options = InParts(1 + maker.Pick(9), 1 + maker.Pick(3));
            options.maxRows = maxRows;
            PriceTable parted;
            const LoadResult r = LoadPriceBytes(bytes, parted, nullptr, options);
            ASSERT_EQ(r.ok, one.ok) << maxRows << " rows of [" << bytes << "]";
            ASSERT_EQ(r.reason, one.reason);
            if (r.ok) {
                ASSERT_EQ(pricelookup::testing::Rows(parted), pricelookup::testing::Rows(whole));
            }
        }
    }
}

// The other threads never call the progress function: it paints the bar, and
// the bar belongs to the thread that started the load. A progress budget
// smaller than the file keeps the load to one pass, line by line.
TEST(load_in_parts, progress_is_told_on_the_calling_thread_alone) {
    const std::string bytes = ManyRecords(20'000);
    const std::thread::id caller = std::this_thread::get_id();
    bool elsewhere = false;
    std::uint64_t sum = 0;
    std::size_t calls = 0;
    const auto progress = [&](std::uint64_t n) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        sum += n;
        ++calls;
    };
    PriceTable parted;
    ASSERT_TRUE(LoadPriceBytes(bytes, parted, progress, InParts(4096, 3)).ok);
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(sum, bytes.size() - 2 * 20'000);
    EXPECT_LT(calls, 20'000u);

    LoadOptions tight = InParts(4096, 3);
    tight.progressBudget = bytes.size() - 1;
    PriceTable whole;
    sum = calls = 0;
    ASSERT_TRUE(LoadPriceBytes(bytes, whole, progress, tight).ok);
    EXPECT_EQ(calls, 20'000u);
    EXPECT_EQ(pricelookup::testing::Rows(whole), pricelookup::testing::Rows(parted));
}

// A part that runs out of memory, or cannot be read, on any thread: the load
// ends with every thread stopped, and the caller gets the exception or the
// reason, never a half-joined table.
TEST(load_in_parts, a_failing_part_stops_the_load_on_every_thread) {
    const std::string bytes = ManyRecords(20'000);
    const ReadAtFn plain = ReaderOf(bytes);
    for (std::uint64_t at : {std::uint64_t{0}, bytes.size() / 2, bytes.size() - 100}) {
        std::atomic<int> reads{0};
        const ReadAtFn starved = [&](std::uint64_t offset, char* buffer, std::size_t n) {
            ++reads;
            if (offset <= at && at < offset + n)
                throw std::bad_alloc();
            return plain(offset, buffer, n);
        };
        PriceTable table;
        EXPECT_THROW(LoadInParts(bytes.size(), starved, table, nullptr, InParts(8192, 3)),
                     std::bad_alloc)
            << at;
        EXPECT_TRUE(table.empty());
        // What the whole table needs, told from the parts read before: about
        // what it takes when it loads.
        if (at == bytes.size() / 2) {
            PriceTable whole;
            LoadPriceBytes(bytes, whole, nullptr);
            try {
                LoadInParts(bytes.size(), starved, table, nullptr, InParts(bytes.size() / 2, 1));
                ADD_FAILURE() << "no exception";
            } catch (const LoadOutOfMemory& error) {
                EXPECT_GT(error.need, whole.MemoryUsed() * 9 / 10);
                EXPECT_LT(error.need, whole.MemoryUsed() * 11 / 10);
            }
        }

        const ReadAtFn broken = [&](std::uint64_t offset, char* buffer, std::size_t n) {
            if (offset <= at && at < offset + n)
                return FileRead{0, "Input/output error"};
            return plain(offset, buffer, n);
        };
        std::uint64_t told = 0;
        const LoadResult r = LoadInParts(
            bytes.size(), broken, table, [&](std::uint64_t n) { told += n; }, InParts(8192, 3));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.reason, "Input/output error");
        EXPECT_TRUE(table.empty());
        EXPECT_FALSE(r.finder);
    }
}
