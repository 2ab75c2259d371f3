#pragma once

#include "part_code_index.h"
#include "prefix_key.h"
#include "price_table.h"
#include "text_encoding.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup {

// The prefix find on the part-code column: the first row from the top whose
// part code begins with a text, letters compared without regard to case
// (through the same fold for the codes, decoded as the file is, and the text).
// Each run answers for its rows, and the runs are asked from the top: an
// ordered run by binary search, a grouped tail by its group. Complete when it
// is made: no find waits for anything. The table must not change while the
// finder lives.
//
// One thread at a time: Find keeps the folded text of the find under way in
// the finder, so that typing a code allocates nothing. Two threads that find
// at once need a finder each.
class PartCodeFinder {
public:
    // Learns the table's rows, in runs on several threads where given.
    PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                   unsigned threads = 1);
    // With the runs already learnt (and finished) as the rows loaded; they
    // cover the table's rows in order.
    PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                   std::vector<PartCodeRun>& runs, unsigned threads);

    // `text` is UTF-8. Returns the 0-based row, or nothing. The empty text
    // yields row 0 when the table has rows. Not for two threads at once (see
    // above).
    std::optional<std::size_t> Find(std::string_view text) const;

    // Bytes held beside the table.
    std::size_t MemoryUsed() const;

private:
    void Relearn(std::vector<PartCodeRun>& runs, unsigned threads);
    std::optional<std::size_t> FindInOrdered(const PartCodeRun& run, std::size_t first) const;
    std::optional<std::size_t> FindInTail(const PartCodeRun& run, std::size_t first) const;
    std::optional<std::size_t> ScanTail(const PartCodeRun& run, std::size_t first) const;
    std::optional<std::size_t> FindInGroups(const PartCodeRun& run, std::size_t first) const;
    std::optional<std::size_t> FindApart(const PartCodeRun& run, std::size_t first) const;
    // Whether the folded code of `row` is below the folded text, or begins with it.
    bool CodeBelowText(std::size_t row) const;
    bool CodeStartsWithText(std::size_t row) const;
    std::string_view Code(std::size_t row) const;

    const PriceTable& table_;
    TextEncoding encoding_;
    CaseFoldFn fold_;
    std::vector<PartCodeRun> runs_;
    std::vector<std::size_t> firstRow_; // each run's first row, and the end

    // The find under way: its text folded, that text's prefix key, and a
    // quoted code as read from the table. Kept from one find to the next for
    // their memory only, which is what makes a finder one thread's.
    struct Scratch {
        std::string folded;
        PrefixKey textKey;
        std::string cell;
    };
    mutable Scratch scratch_;
};

} // namespace pricelookup
