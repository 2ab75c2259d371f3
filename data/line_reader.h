#pragma once

#include "load_types.h"
#include "pod_buffer.h"
#include "price_table.h"
#include "text_encoding.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pricelookup {

// Turns a stream of bytes, fed in blocks of any size, into lines and rows.
// A line ends at CR or CR LF; a line feed alone is an ordinary character;
// the last line needs no ending, and a final ending makes no empty line after
// it. A UTF-8 byte-order mark at the very start is not part of the first
// field, though it counts in the first line's length.
class LineReader {
public:
    LineReader(PriceTable& table, LineProgress progress, std::uint64_t maxRows = kMaxRows);

    // Returns false once nothing more is to be read: the rows would pass
    // maxRows.
    bool Feed(const char* data, std::size_t size);
    // Reads the last line, if it had no ending.
    bool Finish();

    bool TooManyRows() const { return tooMany_; }
    std::uint64_t Lines() const { return lines_; }
    // The bytes of the lines read, without their endings.
    std::uint64_t LineBytes() const { return lineBytes_; }
    // Whether every byte read so far is valid UTF-8.
    bool ValidUtf8() const { return utf8_.Valid(); }

private:
    bool Line(std::string_view line);

    PriceTable& table_;
    LineProgress progress_;
    std::uint64_t maxRows_;
    PodBuffer<char> pending_;
    Utf8Validator utf8_;
    std::uint64_t lines_ = 0;
    std::uint64_t lineBytes_ = 0;
    bool skipLineFeed_ = false;
    bool tooMany_ = false;
};

} // namespace pricelookup
