#pragma once

#include "pod_buffer.h"
#include "prefix_key.h"
#include "price_table.h"
#include "text_encoding.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup {

// Buffers for the prefix keys of the runs' tails, handed on from a run that
// has grouped its tail to the next that needs one: fresh memory costs a page
// fault for every 4 KB written, and a file out of order writes a key for
// every row. Runs that share a pool must be finished before it is destroyed.
class KeyBufferPool {
public:
    // A buffer left by another run, or an empty one when there is none.
    PodBuffer<PrefixKey> Acquire();
    void Release(PodBuffer<PrefixKey> keys);

private:
    std::mutex mutex_;
    std::vector<PodBuffer<PrefixKey>> spare_;
};

// What the finder knows of a run of consecutive rows, learnt as the rows
// load, on the thread that reads them. The run's rows are in order of their
// folded codes as far as the first row that breaks the order; those are found
// by binary search, with nothing kept beside them. The rest of the run, its
// tail, is grouped by two bytes of the folded code after the prefix that most
// of its codes share (so that codes which all begin alike still spread over
// many groups), with the next four bytes kept beside each row; the few codes
// that begin otherwise are kept apart and looked at one by one.
// A price file (it is named sorted.dat) is mostly one ordered run.
class PartCodeRun {
public:
    // A row of the tail that does not begin with the shared prefix.
    struct ApartRow {
        std::uint32_t row;
        PrefixKey key;
    };
    static constexpr std::uint32_t kNoRow = UINT32_MAX;

    // Folds codes as `assumed`, which may turn out wrong (see KeyFolder); a
    // run that decoded in another encoding than the file turns out to have
    // is made again. The tail's keys are kept in a buffer from `pool`, when
    // given, and released to it once grouped.
    PartCodeRun(TextEncoding assumed, CaseFoldFn fold, KeyBufferPool* pool = nullptr);

    // The part code of the run's next row, as the table holds it: 16 bytes are
    // readable from its start, past the end of a shorter code.
    void Add(std::string_view code);
    // The next rows' codes, as above, at once.
    void Add(std::span<const std::string_view> codes);
    // About how many rows the run will have: the buffer for the keys of a
    // tail is then allocated once, rather than grown and copied.
    void ExpectRows(std::size_t rows) { expected_ = rows; }
    // Groups the tail once every row is added; the run's rows are rows
    // `firstRow` on of `table`. Costs time in proportion to the tail.
    void Finish(const PriceTable& table, std::size_t firstRow);

    std::size_t Rows() const { return rows_; }
    // Rows 0 to OrderedRows() - 1 are in order; the tail follows them.
    std::size_t OrderedRows() const { return ordered_; }
    TextEncoding Encoding() const { return folder_.Encoding(); }
    // Whether the run decoded a byte above 127, so that its keys depend on
    // the encoding.
    bool Decoded() const { return folder_.Decoded(); }

    // A tail too short to be grouped keeps each row's key, to be scanned.
    bool Grouped() const { return !groupStart_.empty(); }
    std::span<const PrefixKey> TailKeys() const { return {keys_.data(), keys_.size()}; }

    // Of a grouped tail: the prefix that its grouped codes begin with (its
    // first SharedLength() bytes), and the first row whose code does.
    const PrefixKey& SharedPrefix() const { return shared_; }
    std::uint32_t SharedLength() const { return skip_; }
    std::uint32_t FirstSharingRow() const { return firstShared_; }
    // The first row whose code has `byte` right after the shared prefix.
    std::uint32_t FirstRowWithByte(unsigned char byte) const { return firstByByte_[byte]; }
    // Calls visit(row, next) for the rows whose code has the two bytes of
    // `group` (first byte high) right after the shared prefix, in row order,
    // with the four bytes after those (first byte lowest, zero past the end),
    // until it returns true; returns that row, or kNoRow.
    template <typename Visit> std::uint32_t FindInGroup(std::uint32_t group, Visit&& visit) const {
        const std::uint32_t i = group - lowGroup_;
        if (group < lowGroup_ || i + 1 >= groupStart_.size())
            return kNoRow;
        const TailEntry* const end = entries_.data() + groupStart_[i + 1];
        std::uint32_t row = 0;
        for (const TailEntry* entry = entries_.data() + groupStart_[i]; entry != end; ++entry) {
            const std::uint32_t bytes = entry->Next();
            if (entry->step == TailEntry::kJump) {
                row += bytes;
                continue;
            }
            row += entry->step;
            if (visit(row, bytes))
                return row;
        }
        return kNoRow;
    }
    // The rows that do not begin with the shared prefix, in row order.
    std::span<const ApartRow> RowsApart() const { return apart_; }

    // Bytes held beside the table.
    std::size_t MemoryUsed() const;

private:
    // A row of a group as the group keeps it, in six bytes: its step from
    // the group's row before (from row 0 for the first), with the four bytes
    // after the group. A step that does not fit in 16 bits takes an entry of
    // its own first, a jump, with the step where the bytes go.
    struct TailEntry {
        std::uint16_t step;
        unsigned char next[4]; // as a word in memory: one load

        static constexpr std::uint16_t kJump = UINT16_MAX;
        static TailEntry Of(std::uint16_t step, std::uint32_t next) {
            TailEntry entry{step, {}};
            std::memcpy(entry.next, &next, sizeof next);
            return entry;
        }
        std::uint32_t Next() const {
            std::uint32_t word;
            std::memcpy(&word, next, sizeof word);
            return word;
        }
    };
    static_assert(sizeof(TailEntry) == 6);
    static constexpr std::size_t kGroups = 65536;
    // Tails shorter than this are scanned row by row: a table of groups pays
    // only from some thousand rows on.
    static constexpr std::size_t kGroupedFrom = 4096;

    void AddCode(std::string_view code);
    void ChooseSharedPrefix();
    void GroupTail(const PriceTable& table, std::size_t firstRow);
    // Writes each row's place over its key and counts the entries of each
    // group g at entries[g + 1].
    void PlaceTail(const PriceTable& table, std::size_t firstRow,
                   std::vector<std::uint32_t>& entries);
    // Writes each group's entries from start[g] on, moving start[g] past them.
    void FillGroups(std::vector<std::uint32_t>& start);

    KeyFolder folder_;
    KeyBufferPool* pool_;
    std::size_t rows_ = 0;
    std::size_t expected_ = 0;
    std::size_t ordered_ = 0; // rows from the start that are in order
    PrefixKey last_;          // the last ordered row's code
    std::string lastLong_;    // and that code itself, when over 16 bytes

    // The tail: rows ordered_ to rows_ - 1.
    PodBuffer<PrefixKey> keys_; // each row's key, until the tail is grouped
    PrefixKey shared_;          // its first skip_ bytes begin most codes of the tail
    std::uint32_t skip_ = 0;
    std::uint32_t firstShared_ = 0; // the first row that begins with them
    // Where each group from lowGroup_ on starts in entries_, and where the
    // last ends: only the groups between the lowest and the highest that have
    // rows, which codes of letters and digits keep to a tenth of them.
    PodBuffer<std::uint32_t> groupStart_;
    std::uint32_t lowGroup_ = 0;
    PodBuffer<TailEntry> entries_;   // those rows by group, in row order
    std::uint32_t firstByByte_[256]; // those rows by their byte after the prefix
    std::vector<ApartRow> apart_;    // the rows that begin otherwise, in order
};

} // namespace pricelookup
