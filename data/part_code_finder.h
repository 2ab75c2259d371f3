#pragma once

#include "pod_buffer.h"
#include "price_table.h"
#include "text_encoding.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup {

// The part codes of a run of rows, grouped as the finder groups them, counted
// while the rows load so that building the finder takes one pass less.
class PartCodeGroups {
public:
    // Counts codes decoded with `assumed`; when the file turns out to be in
    // the other encoding, only runs with a byte above 127 in the head of a code
    // are counted again.
    PartCodeGroups(TextEncoding assumed, CaseFoldFn fold);

    // The part code of the run's next row, as the table holds it: eight bytes
    // are read from its start, past the end of a shorter code (the rest of its
    // row follows it in the table).
    void Add(std::string_view code);
    std::size_t Rows() const { return rows_; }

private:
    friend class PartCodeFinder;

    TextEncoding assumed_;
    CaseFoldFn fold_;
    bool decoded_ = false; // a code's head held a byte above 127
    bool counted_ = true;  // false: only the number of rows is known
    std::size_t rows_ = 0;
    static constexpr std::size_t kListedRows = 4096;
    std::vector<std::uint32_t> listed_; // each row's group, while the run is short
    PodBuffer<std::uint32_t> counts_;   // rows per group; the finder turns them into positions
    std::uint32_t firstByByte_[256];    // first row of the run by first folded byte
};

// The prefix find on the part-code column: the first row from the top whose
// part code begins with a text, letters compared without regard to case
// (through the same fold for the codes, decoded as the file is, and the text).
//
// Built once after the load, on several threads where given: the rows are grouped by the first two
// bytes of their folded code, in row order within each group, so a find looks only at the rows that
// share its first two bytes, and mostly only at the next four bytes that the group keeps beside
// each row. A large table is grouped in segments of consecutive rows, each after the one before,
// which the build fills one at a time from cache. When the text grows by typing, the next find
// starts where the last one stopped. Built from counted runs (a load in parts), the finder places
// the rows of the long runs on a thread of its own, so that the window need not wait for it: the
// table must not change while the finder lives, and a find waits until the rows are placed.
class PartCodeFinder {
public:
    PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                   unsigned threads = 1);
    // With the codes already counted, in runs that cover the table's rows in order.
    PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                   std::vector<PartCodeGroups>& runs, unsigned threads);

    // `text` is UTF-8. Returns the 0-based row, or nothing. The empty text
    // yields row 0 when the table has rows.
    std::optional<std::size_t> Find(std::string_view text) const;

    // Stops placing rows, and waits for the thread that places them.
    ~PartCodeFinder();
    PartCodeFinder(const PartCodeFinder&) = delete;
    PartCodeFinder& operator=(const PartCodeFinder&) = delete;

private:
    // Groups the rows of the runs, which cover the table's rows in order;
    // `later`: the rows of the long runs are placed on a thread of their own.
    void Build(std::vector<PartCodeGroups>& runs, unsigned threads, bool later);
    // Groups the rows of a small table by sorting them: the tables of every
    // group would cost more than the rows themselves.
    void BuildFew();
    // Counts again the runs counted in another encoding; takes their first rows.
    void CountRuns(std::vector<PartCodeGroups>& runs, const std::vector<std::size_t>& firstRow,
                   unsigned threads);
    // Sizes the groups of every segment; returns each run's segment.
    std::vector<std::size_t> SizeGroups(const std::vector<PartCodeGroups>& runs);
    // Turns each counted run's counts into where its rows go; places the
    // rows of the short runs.
    void PositionRuns(std::vector<PartCodeGroups>& runs, const std::vector<std::size_t>& segmentOf);
    void PlaceCountedRuns(unsigned threads);
    void PlaceRun(std::size_t first, std::size_t last, std::uint32_t* fill);
    bool CodeStartsWith(std::size_t row, std::string_view foldedPrefix) const;
    std::optional<std::size_t> Scan(std::string_view folded, std::size_t from) const;

    static constexpr std::uint32_t kNone = UINT32_MAX;

    const PriceTable& table_;
    TextEncoding encoding_;
    CaseFoldFn fold_;
    std::uint32_t firstByByte_[256];
    // Where each group starts in rows_, 65537 entries for each segment.
    static constexpr std::size_t kSegmentRows = std::size_t{1} << 20;
    std::size_t segments_ = 0;
    PodBuffer<std::uint32_t> bucketStart_;
    // A row of a group, with the four folded bytes of its code after the
    // group's two (zero where the code is shorter).
    struct Entry {
        std::uint32_t row;
        std::uint32_t next;
    };
    PodBuffer<Entry> rows_; // rows grouped by their first two bytes, in row order
    // Built by BuildFew: each entry's group, beside rows_, in place of bucketStart_.
    bool few_ = false;
    PodBuffer<std::uint32_t> fewGroups_;
    std::vector<PartCodeGroups> runs_;
    std::vector<std::size_t> firstRow_; // each run's first row, and the end
    std::future<void> placed_;          // rows still being placed, when valid
    std::atomic<bool> stop_ = false;    // set when the finder goes

    // The last find: its folded text, and where in its group it stopped.
    mutable std::string lastFolded_;
    mutable std::optional<std::size_t> lastPosition_;
    mutable bool haveLast_ = false;
    mutable std::string folded_;
    mutable std::string cell_;
};

} // namespace pricelookup
