#pragma once

#include "pod_buffer.h"
#include "price_table.h"
#include "text_encoding.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pricelookup {

// The prefix find on the part-code column: the first row from the top whose
// part code begins with a text, letters compared without regard to case
// (through the same fold for the codes, decoded as the file is, and the text).
//
// Built once after the load: the rows are grouped by the first two bytes of
// their folded code, in row order within each group, so a find looks only at
// the rows that share its first two bytes, and mostly only at the next four
// bytes that the group keeps beside each row. When the text grows by typing, the
// next find starts where the last one stopped.
class PartCodeFinder {
public:
    PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold);

    // `text` is UTF-8. Returns the 0-based row, or nothing. The empty text
    // yields row 0 when the table has rows.
    std::optional<std::size_t> Find(std::string_view text) const;

    TextEncoding Encoding() const { return encoding_; }
    CaseFoldFn Fold() const { return fold_; }

private:
    bool CodeStartsWith(std::size_t row, std::string_view foldedPrefix) const;
    std::optional<std::size_t> Scan(std::string_view folded, std::size_t from) const;

    static constexpr std::uint32_t kNone = UINT32_MAX;

    const PriceTable& table_;
    TextEncoding encoding_;
    CaseFoldFn fold_;
    std::uint32_t firstByByte_[256];
    PodBuffer<std::uint32_t> bucketStart_; // 65537 entries
    // A row of a group, with the four folded bytes of its code after the
    // group's two (zero where the code is shorter).
    struct Entry {
        std::uint32_t row;
        std::uint32_t next;
    };
    PodBuffer<Entry> rows_; // rows grouped by their first two bytes, in row order

    // The last find: its folded text, and where in its group it stopped.
    mutable std::string lastFolded_;
    mutable std::optional<std::size_t> lastPosition_;
    mutable bool haveLast_ = false;
    mutable std::string folded_;
};

} // namespace pricelookup
