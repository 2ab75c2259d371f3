#pragma once

#include "pod_buffer.h"
#include "price_table.h"
#include "text_encoding.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup {

// The start of a case-folded part code, for ordering and matching codes
// without going back to the table: its first 16 folded bytes, big-endian in
// two words (zero past the end), and its folded length, 17 for any longer.
struct FoldedHead {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::uint32_t size = 0;
};

// Room for the heads of the runs' tails, handed on from a run that has grouped
// its tail to the next that needs it. Fresh memory costs a page fault for
// every 4 KB written: on a file out of order that was a third of the load.
// Runs that share one must be finished before it is destroyed.
class HeadsRoom {
public:
    PodBuffer<FoldedHead> Take();
    void Give(PodBuffer<FoldedHead> heads);

private:
    std::mutex mutex_;
    std::vector<PodBuffer<FoldedHead>> spare_;
};

// What the finder knows of a run of consecutive rows, learnt as the rows
// load, on the thread that reads them. The run's rows are in order of their
// folded codes as far as the first row that breaks the order; those can be
// found by halving, with nothing kept beside them. The rest of the run, its
// tail, is grouped by two bytes of the folded code after the head that most
// of its codes share (so that codes which all begin alike still spread over
// many groups), with the next four bytes kept beside each row; the few codes
// that begin otherwise are kept apart and looked at one by one.
// A price file (it is named sorted.dat) is mostly one ordered run.
class PartCodeGroups {
public:
    // Folds codes as `assumed`; a code that shows the file is not UTF-8 switches
    // the run to Windows-1252 while it has decoded nothing. A run that decoded
    // in the other encoding than the file turns out to have is made again.
    // The tail's heads are kept in room taken from `room`, when given, and
    // given back to it once grouped.
    PartCodeGroups(TextEncoding assumed, CaseFoldFn fold, HeadsRoom* room = nullptr);

    // The part code of the run's next row, as the table holds it: 16 bytes are
    // readable from its start, past the end of a shorter code.
    void Add(std::string_view code);
    // The next rows' codes, as above, at once.
    void Add(std::span<const std::string_view> codes);
    // About how many rows the run will have: room for the heads of a tail is
    // then taken once, rather than grown and copied.
    void ExpectRows(std::size_t rows) { expected_ = rows; }
    // Groups the tail once every row is added; the run's rows are rows
    // `firstRow` on of `table`. Costs time in proportion to the tail.
    void Finish(const PriceTable& table, std::size_t firstRow);
    std::size_t Rows() const { return rows_; }

private:
    friend class PartCodeFinder;
    struct Entry {
        std::uint32_t row;  // within the run
        std::uint32_t next; // four folded bytes after the group's two, zero past the end
    };
    struct Apart {
        std::uint32_t row;
        FoldedHead head;
    };
    // Where a row goes, packed in a word: bits 0-31 the next four bytes
    // after its group, 32-47 the group, 48-55 the byte right after the
    // shared head, and flags for a code that ends before two more bytes or
    // before one, and for a row kept apart.
    using Place = std::uint64_t;
    static constexpr Place kNoGroup = Place{1} << 56;
    static constexpr Place kNoFirstByte = Place{1} << 57;
    static constexpr Place kApart = Place{1} << 58;
    static constexpr std::size_t kGroups = 65536;
    // Tails shorter than this are scanned row by row: a table of groups pays
    // only from some thousand rows on.
    static constexpr std::size_t kGroupedFrom = 4096;

    void AddCode(std::string_view code);
    // The head of a code with a byte above 127 in its first 16.
    FoldedHead DecodedHeadOf(std::string_view code);
    std::uint32_t FoldedEntry(char32_t c) const;
    std::uint32_t Folded1252(unsigned char byte);
    std::uint32_t FoldedUtf8Pair(const unsigned char* at, std::size_t left);
    // Whether a code over 16 bytes, whose head equals the last's, follows it.
    bool LongCodeFollowsLast(std::string_view code);
    void ChooseSharedHead();
    Place PlaceOf(const FoldedHead& head) const;
    Place PlaceOfCode(std::string_view code) const;
    void Group(const PriceTable& table, std::size_t firstRow);

    TextEncoding assumed_;
    CaseFoldFn fold_;
    HeadsRoom* room_;
    bool decoded_ = false; // a code held a byte above 127
    // The folded UTF-8 bytes of each Windows-1252 byte above 127, and of
    // each character of two UTF-8 bytes, made when the run first needs them.
    std::vector<std::uint32_t> folded1252_;
    std::vector<std::uint32_t> foldedUtf8_;
    std::size_t rows_ = 0;
    std::size_t expected_ = 0;
    std::size_t ordered_ = 0; // rows from the start that are in order
    FoldedHead last_;         // the last ordered row's code
    std::string lastLong_;    // and that code itself, when over 16 bytes

    // The tail: rows ordered_ to rows_ - 1.
    PodBuffer<FoldedHead> heads_; // each row's head, until the tail is grouped
    FoldedHead shared_;           // its first skip_ bytes begin most codes of the tail
    std::uint32_t skip_ = 0;
    std::uint32_t firstShared_ = 0;       // the first row that begins with them
    PodBuffer<std::uint32_t> groupStart_; // where each group starts in entries_
    PodBuffer<Entry> entries_;            // those rows by group, in row order
    std::uint32_t firstByByte_[256];      // those rows by their byte after the head
    std::vector<Apart> apart_;            // the rows that begin otherwise, in order
};

// The prefix find on the part-code column: the first row from the top whose
// part code begins with a text, letters compared without regard to case
// (through the same fold for the codes, decoded as the file is, and the text).
// Each run answers for its rows, and the runs are asked from the top: an
// ordered run by halving, a grouped tail by its group. Complete when it is
// made: no find waits for anything. The table must not change while the
// finder lives.
class PartCodeFinder {
public:
    // Learns the table's rows, in runs on several threads where given.
    PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                   unsigned threads = 1);
    // With the runs already learnt (and finished) as the rows loaded; they
    // cover the table's rows in order.
    PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                   std::vector<PartCodeGroups>& runs, unsigned threads);

    // `text` is UTF-8. Returns the 0-based row, or nothing. The empty text
    // yields row 0 when the table has rows.
    std::optional<std::size_t> Find(std::string_view text) const;

    // Bytes held beside the table.
    std::size_t MemoryUsed() const;

private:
    void Relearn(std::vector<PartCodeGroups>& runs, unsigned threads);
    std::optional<std::size_t> FindInOrdered(const PartCodeGroups& run, std::size_t first) const;
    std::optional<std::size_t> FindInTail(const PartCodeGroups& run, std::size_t first) const;
    std::optional<std::size_t> ScanTail(const PartCodeGroups& run, std::size_t first) const;
    std::optional<std::size_t> FindInGroups(const PartCodeGroups& run, std::size_t first) const;
    std::optional<std::size_t> FindApart(const PartCodeGroups& run, std::size_t first) const;
    // Whether the folded code of `row` is below the folded text, or begins with it.
    bool CodeBelowText(std::size_t row) const;
    bool CodeStartsWithText(std::size_t row) const;
    std::string_view Code(std::size_t row) const;

    const PriceTable& table_;
    TextEncoding encoding_;
    CaseFoldFn fold_;
    std::vector<PartCodeGroups> runs_;
    std::vector<std::size_t> firstRow_; // each run's first row, and the end

    // The text of the find under way, folded, and its head.
    mutable std::string folded_;
    mutable FoldedHead textHead_;
    mutable std::string cell_;
};

} // namespace pricelookup
