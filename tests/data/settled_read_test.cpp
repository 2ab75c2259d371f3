// A price file that writers change while the load reads it, played by a
// stand-in whose clock moves with every read and wait: cut, grown, rewritten
// in place, truncated and written again slowly, replaced by another file,
// removed, or never still. The load reads only a file that stood still, and
// never keeps a mix of two files.

#include "fake_price_files.h"
#include "price_file.h"
#include "table_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::FakePriceFiles;
using pricelookup::testing::LoadPriceBytes;
using pricelookup::testing::Rows;
using pricelookup::testing::RowsOf;
using namespace std::chrono_literals;
using Version = FakePriceFiles::Version;

namespace {

// Lines enough for several blocks of the one-pass read (128 KiB each).
std::string Prices(char prefix, int lines) {
    std::string bytes;
    for (int i = 0; i < lines; ++i)
        bytes += prefix + std::to_string(i) + ",\"Part, " + std::to_string(i) + "\",12" +
                 std::to_string(i % 100) + ",3\r\n";
    return bytes;
}

struct Reading {
    LoadResult result;
    PriceTable table;
    std::vector<std::uint64_t> startedOver; // the sizes told
    std::uint64_t told = 0;                 // line lengths since the last start
    int settling = 0;                       // waits for a changing file
    int checking = 0;                       // waits for a file just written
    int opened = 0;
    FakePriceFiles::Time took{0}; // on the stand-in's clock
};

Reading Read(std::vector<Version> versions, bool inParts, FakePriceFiles::Time readTime = 10ms) {
    Reading r;
    FakePriceFiles files(std::move(versions), readTime);
    LoadOptions options;
    if (inParts) {
        options.partsFrom = 0;
        options.partBytes = 10'007;
        options.threads = 3;
        options.progressBudget = files.LookUp(r.result.reason).value_or(FileState{}).size;
    }
    options.startOver = [&](std::uint64_t size) {
        r.startedOver.push_back(size);
        r.told = 0;
        return size;
    };
    options.waiting = [&](LoadWait why) {
        ++(why == LoadWait::Settling ? r.settling : r.checking);
    };
    r.result = LoadPriceFile(
        files, r.table, [&](std::uint64_t n) { r.told += n; }, options);
    r.opened = files.Opened();
    r.took = files.Now();
    return r;
}

// The line lengths a load of `bytes` tells, read once.
std::uint64_t ToldOnce(const std::string& bytes) {
    std::uint64_t once = 0;
    PriceTable table;
    LoadPriceBytes(bytes, table, [&](std::uint64_t n) { once += n; });
    return once;
}

// As a copier writes over the file in place: cut to nothing at `at`, then
// written in 128 KiB steps, `pause` apart.
std::vector<Version> TruncateThenWrite(const std::string& after, FakePriceFiles::Time at,
                                       FakePriceFiles::Time pause) {
    std::vector<Version> versions;
    for (std::size_t written = 0;; written += 128 << 10) {
        versions.push_back({.at = at, .bytes = after.substr(0, written)});
        if (written >= after.size())
            return versions;
        at += pause;
    }
}

void ExpectGivenUp(const Reading& r) {
    EXPECT_FALSE(r.result.ok);
    EXPECT_TRUE(r.result.changed);
    EXPECT_FALSE(r.result.reason.empty());
    EXPECT_EQ(r.result.lines, 0u);
    EXPECT_EQ(r.result.finder, nullptr);
    EXPECT_TRUE(r.table.empty());
}

enum class Change { Cut, Grown, Rewritten, Replaced };

std::string After(const std::string& before, Change change) {
    switch (change) {
    case Change::Cut:
        return before.substr(0, before.size() / 3);
    case Change::Grown:
        return before + Prices('G', 10);
    case Change::Rewritten: {
        std::string after = before;
        std::replace(after.begin(), after.end(), '3', '7');
        return after;
    }
    case Change::Replaced:
        return Prices('R', 9000);
    }
    return before;
}

} // namespace

// Seen once, the change costs one more read once the file stood still, from
// the start, with the count started over for the new size; the table is the
// new file's alone.
TEST(settled_read, a_change_seen_once_reads_the_file_again_once_still) {
    const std::string before = Prices('P', 9000);
    for (bool inParts : {false, true})
        for (Change change : {Change::Cut, Change::Grown, Change::Rewritten, Change::Replaced}) {
            SCOPED_TRACE(std::to_string(inParts) + " " + std::to_string(int(change)));
            const std::string after = After(before, change);
            const Reading r =
                Read({FakePriceFiles::Old(before),
                      {.at = 5ms, .bytes = after, .file = change == Change::Replaced ? 2u : 1u}},
                     inParts);
            ASSERT_TRUE(r.result.ok) << r.result.reason;
            EXPECT_EQ(r.opened, 2);
            EXPECT_EQ(r.startedOver, std::vector<std::uint64_t>{after.size()});
            EXPECT_EQ(Rows(r.table), RowsOf(after));
            EXPECT_EQ(r.told, ToldOnce(after));
            EXPECT_GE(r.took, kSettleTime);
            EXPECT_GT(r.settling, 0);
        }
}

// The copy that truncates the file and then writes it in blocks, with pauses
// up to just under the settle time, met at any moment: while the old file is
// read, or just as it was cut to nothing. The load shows the whole new file,
// never the empty or half-written one.
TEST(settled_read, a_file_truncated_then_written_slowly_is_read_once_whole) {
    const std::string before = Prices('P', 20'000);
    const std::string after = Prices('N', 40'000); // over a megabyte: eight steps and more
    for (bool inParts : {false, true})
        for (auto pause : {1ms, 100ms, 450ms})
            for (auto cutAt : {0ms, 5ms}) {
                SCOPED_TRACE(std::to_string(inParts) + " " + std::to_string(pause.count()) + " " +
                             std::to_string(cutAt.count()));
                std::vector<Version> versions = TruncateThenWrite(after, cutAt, pause);
                if (cutAt > 0ms)
                    versions.insert(versions.begin(), FakePriceFiles::Old(before));
                const Reading r = Read(versions, inParts);
                ASSERT_TRUE(r.result.ok) << r.result.reason;
                EXPECT_EQ(Rows(r.table), RowsOf(after));
                ASSERT_FALSE(r.startedOver.empty());
                EXPECT_EQ(r.startedOver.back(), after.size());
                EXPECT_EQ(r.told, ToldOnce(after));
            }
}

// A writer that makes a new file and renames it over the name: an open
// handle still reads the old file whole, and the load then reads the new one.
// Renamed in just before the load began, the new file is read at once, and
// counts once it has stood still for the settle time.
TEST(settled_read, a_file_renamed_over_the_name_is_read_whole) {
    const std::string before = Prices('P', 9000);
    const std::string after = Prices('R', 7000);
    for (bool inParts : {false, true}) {
        SCOPED_TRACE(inParts);
        Reading r = Read({FakePriceFiles::Old(before), {.at = 1ms, .bytes = after, .file = 2}},
                         inParts, 1ms);
        ASSERT_TRUE(r.result.ok) << r.result.reason;
        EXPECT_EQ(r.opened, 2);
        EXPECT_EQ(Rows(r.table), RowsOf(after));

        r = Read({{.at = 0ms, .bytes = after, .file = 2, .written = -100ms}}, inParts, 1ms);
        ASSERT_TRUE(r.result.ok) << r.result.reason;
        EXPECT_EQ(r.opened, 1);
        EXPECT_EQ(Rows(r.table), RowsOf(after));
        EXPECT_GT(r.checking, 0);
        EXPECT_GE(r.took, kSettleTime);
    }
}

// An old file is read at once and never waited for, the empty one too; an
// empty file written just now is looked at once more, and counts if no one
// writes it.
TEST(settled_read, an_old_file_is_never_waited_for_a_fresh_one_is_checked) {
    for (const std::string& bytes : {std::string(), Prices('P', 9000)}) {
        Reading r = Read({FakePriceFiles::Old(bytes)}, false);
        ASSERT_TRUE(r.result.ok);
        EXPECT_EQ(Rows(r.table), RowsOf(bytes));
        EXPECT_EQ(r.opened, 1);
        EXPECT_EQ(r.settling + r.checking, 0);
        EXPECT_LT(r.took, 100ms); // the reads' own time

        r = Read({{.at = 0ms, .bytes = bytes}}, false);
        ASSERT_TRUE(r.result.ok);
        EXPECT_EQ(Rows(r.table), RowsOf(bytes));
        EXPECT_EQ(r.opened, 1);
        EXPECT_GT(r.checking, 0);
        EXPECT_GE(r.took, kSettleTime);
        EXPECT_LT(r.took, kSettleTime + 100ms);
    }
}

// A file that never stands still is given up once the load has waited
// kLongestWait; one that stands still just long enough between changes is
// given up after kLoadTries reads, and so is one cut or grown while the system
// goes on telling its old size and time (silent): every read finds it so.
// None leaves a table, and none waits much past the longest wait.
TEST(settled_read, a_file_that_keeps_changing_is_given_up) {
    const std::string before = Prices('P', 9000);
    for (bool inParts : {false, true})
        for (auto every : {100ms, 600ms, 0ms})
            for (Change change : {Change::Cut, Change::Grown}) {
                SCOPED_TRACE(std::to_string(inParts) + " " + std::to_string(every.count()) + " " +
                             std::to_string(int(change)));
                const std::string after = After(before, change);
                std::vector<Version> versions{FakePriceFiles::Old(before)};
                if (every == 0ms)
                    versions.push_back({.at = 5ms, .bytes = after, .silent = true});
                for (int i = 0; every > 0ms && i * every < 2 * kLongestWait; ++i)
                    versions.push_back({.at = i * every + 5ms, .bytes = i % 2 ? before : after});
                const Reading r = Read(versions, inParts, inParts ? 5ms : 50ms);
                ExpectGivenUp(r);
                EXPECT_LE(r.opened, kLoadTries);
                EXPECT_EQ(r.startedOver.size(), std::size_t(r.opened - 1));
                EXPECT_LT(r.took, kLongestWait + 3s);
                if (every == 100ms)
                    EXPECT_GE(r.took, kLongestWait);
                else
                    EXPECT_EQ(r.opened, kLoadTries);
            }
}

// Removed while the load waits for it, the file is missing as at the start;
// removed and made again, as some writers do, it is read whole.
TEST(settled_read, a_file_removed_while_waited_for_is_missing) {
    const std::string before = Prices('P', 9000);
    const std::string after = Prices('A', 3000);
    Reading r = Read({FakePriceFiles::Old(before), {.at = 15ms}}, false);
    EXPECT_FALSE(r.result.ok);
    EXPECT_TRUE(r.result.openFailed);
    EXPECT_FALSE(r.result.changed);
    EXPECT_EQ(r.result.reason, FakePriceFiles::kMissing);
    EXPECT_TRUE(r.table.empty());

    r = Read({FakePriceFiles::Old(before), {.at = 15ms}, {.at = 200ms, .bytes = after, .file = 2}},
             false);
    ASSERT_TRUE(r.result.ok) << r.result.reason;
    EXPECT_EQ(Rows(r.table), RowsOf(after));
}

// A failed read is told as such, not taken for a change, and not read again.
TEST(settled_read, a_failed_read_is_read_once) {
    const Reading r = Read({{.at = 0ms,
                             .bytes = std::string(1000, 'x'),
                             .written = -1h,
                             .readError = "Input/output error"}},
                           false);
    EXPECT_FALSE(r.result.ok);
    EXPECT_FALSE(r.result.changed);
    EXPECT_EQ(r.result.reason, "Input/output error");
    EXPECT_EQ(r.opened, 1);
}
