// A price file that changes while it is read, seen through a stand-in for
// the file: cut short, grown, rewritten in place or replaced, between two
// blocks of the one-pass read or two parts of the read in parts. The load
// reads it again from the start, and never keeps a mix of two files.

#include "price_file.h"
#include "table_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::Rows;
using pricelookup::testing::RowsOf;

namespace {

enum class Change { Cut, Grown, Rewritten, Replaced };

// The file as each open finds it: the old bytes until `switchAt` reads have
// been made, the new ones from then on (the load makes its first read in one
// pass, the second after the first block). After a change in place the system
// tells of a new size or write time; after a replacement, of another file
// under the name. `silent`: it tells nothing, so only the reads can show it.
class ChangingFile final : public PriceSource {
public:
    ChangingFile(const std::string& before, const std::string& after, int switchAt, bool silent)
        : before_(before), after_(after), switchAt_(switchAt), silent_(silent) {}
    std::uint64_t Size() const override { return before_.size(); }
    FileRead ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const override {
        const std::string& bytes = reads_.fetch_add(1) >= switchAt_ ? after_ : before_;
        FileRead got;
        if (offset < bytes.size()) {
            got.bytes = std::min<std::size_t>(size, bytes.size() - offset);
            std::memcpy(buffer, bytes.data() + offset, got.bytes);
        }
        return got;
    }
    bool Unchanged() const override { return silent_ || reads_.load() <= switchAt_; }

private:
    std::string before_;
    std::string after_;
    int switchAt_;
    bool silent_;
    mutable std::atomic<int> reads_{0};
};

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
    int opened = 0;
    std::vector<std::uint64_t> startedOver; // the sizes told
    std::uint64_t told = 0;                 // line lengths since the last start
};

// Opens the old file `changing` times, each changing as it is read, and the
// new file after that.
void Read(Reading& r, const std::string& before, const std::string& after, int changing,
          bool inParts, bool silent = false) {
    LoadOptions options;
    if (inParts) {
        options.partsFrom = 0;
        options.partBytes = 10'007;
        options.threads = 3;
        options.progressBudget = before.size();
    }
    options.startOver = [&](std::uint64_t size) {
        r.startedOver.push_back(size);
        r.told = 0;
        return size;
    };
    const OpenPriceSource open = [&](std::string&) -> std::unique_ptr<PriceSource> {
        if (r.opened++ < changing)
            return std::make_unique<ChangingFile>(before, after, 1, silent);
        return std::make_unique<ChangingFile>(after, after, 1 << 30, false);
    };
    r.result = LoadPriceSource(
        open, r.table, [&](std::uint64_t n) { r.told += n; }, options);
}

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

// Seen once, the change costs one more read, from the start, with the count
// started over for the new size; the table is the new file's alone.
TEST(changing_file, a_change_seen_once_reads_the_file_again) {
    const std::string before = Prices('P', 9000);
    for (bool inParts : {false, true})
        for (Change change : {Change::Cut, Change::Grown, Change::Rewritten, Change::Replaced}) {
            SCOPED_TRACE(std::to_string(inParts) + " " + std::to_string(int(change)));
            const std::string after = After(before, change);
            Reading r;
            Read(r, before, after, 1, inParts);
            ASSERT_TRUE(r.result.ok) << r.result.reason;
            EXPECT_FALSE(r.result.changed);
            EXPECT_EQ(r.opened, 2);
            EXPECT_EQ(r.startedOver, std::vector<std::uint64_t>{after.size()});
            EXPECT_EQ(Rows(r.table), RowsOf(after));
            // Every line's length once, as for a file read once.
            std::uint64_t once = 0;
            PriceTable table;
            LoadPriceBytes(after, table, [&](std::uint64_t n) { once += n; });
            EXPECT_EQ(r.told, once);
        }
}

// Seen on every try, the load gives up after the third with an empty table.
// Cut or grown while the system still tells the old size and time (silent),
// the reads themselves see the file end early or go on past its size.
TEST(changing_file, a_change_seen_every_time_gives_no_table) {
    const std::string before = Prices('P', 9000);
    for (bool inParts : {false, true})
        for (Change change : {Change::Cut, Change::Grown, Change::Rewritten, Change::Replaced})
            for (bool silent : {false, true}) {
                if (silent && (change == Change::Rewritten || change == Change::Replaced))
                    continue;
                SCOPED_TRACE(std::to_string(inParts) + " " + std::to_string(int(change)) + " " +
                             std::to_string(silent));
                Reading r;
                Read(r, before, After(before, change), kLoadTries, inParts, silent);
                EXPECT_FALSE(r.result.ok);
                EXPECT_TRUE(r.result.changed);
                EXPECT_FALSE(r.result.reason.empty());
                EXPECT_EQ(r.result.lines, 0u);
                EXPECT_EQ(r.result.finder, nullptr);
                EXPECT_TRUE(r.table.empty());
                EXPECT_EQ(r.opened, kLoadTries);
                EXPECT_EQ(r.startedOver.size(), std::size_t(kLoadTries - 1));
            }
}

// A file that no one changes is opened and read once, and a failed read is
// told as such, not taken for a change.
TEST(changing_file, an_unchanged_file_or_a_failed_read_is_read_once) {
    const std::string bytes = Prices('P', 9000);
    Reading r;
    Read(r, bytes, bytes, 0, true);
    ASSERT_TRUE(r.result.ok);
    EXPECT_EQ(r.opened, 1);
    EXPECT_TRUE(r.startedOver.empty());

    class FailingFile final : public PriceSource {
    public:
        std::uint64_t Size() const override { return 1000; }
        FileRead ReadAt(std::uint64_t, char*, std::size_t) const override {
            FileRead got;
            got.error = "Input/output error";
            return got;
        }
        bool Unchanged() const override { return true; }
    };
    int opened = 0;
    PriceTable table;
    const LoadResult failed = LoadPriceSource(
        [&](std::string&) {
            ++opened;
            return std::make_unique<FailingFile>();
        },
        table, nullptr, LoadOptions());
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(failed.changed);
    EXPECT_EQ(failed.reason, "Input/output error");
    EXPECT_EQ(opened, 1);
}
