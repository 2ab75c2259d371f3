#pragma once

#include "file_access.h"
#include "pod_buffer.h"
#include "price_table.h"
#include "text_encoding.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pricelookup {

// The name of the price file, looked for in the current directory.
inline constexpr std::string_view kPriceFileName = "sorted.dat";

// The most rows the lists can hold: a row number must fit the toolkit's int,
// and so must the rows' total height in pixels. A longer file is refused.
inline constexpr std::uint64_t kMaxRows = 50'000'000;

// Adds to tVal the number of commas in tStr.
void CountCommas(std::string_view tStr, std::uint64_t& tVal);

// Removes one leading double quote, then, if anything is left and it ends in a
// double quote, that one too.
void StripTextDelim(std::string& tmpStr);
void StripTextDelim(std::string_view& tmpStr);

// Cuts one line (without its ending) into fields and hands fields 1 to 4 to
// the table's PopulateForm; then ends the row, so every line is one row.
// A comma separates fields, except inside a field that opens with a double
// quote and has a closing one: a double quote at the end of the line or right
// before a comma, where "" stands for one quote. Such a field is the text
// between its quotes with every "" made ". A field that opens with a quote but
// never closes is cut at the next comma and loses its enclosing quotes.
// `scratch` is a reusable buffer that holds the line's unescaped quoted
// fields until its row ends. Linear in the line.
void DoCommas(std::string_view tStr, PriceTable& table, std::string& scratch);
void SplitStr(std::string_view tStr, PriceTable& table, std::string& scratch);

// Called after every line with the line's length in bytes as read, before the
// line was split, without its line ending.
using LineProgress = std::function<void(std::uint64_t)>;

// Turns a stream of bytes, fed in blocks of any size, into lines and rows.
// A line ends at CR or CR LF; a line feed alone is an ordinary character;
// the last line needs no ending, and a final ending makes no empty line after
// it. A UTF-8 byte-order mark at the very start is not part of the first
// field, though it counts in the first line's length.
class LineReader {
public:
    LineReader(PriceTable& table, LineProgress progress, std::uint64_t maxRows = kMaxRows);

    // Returns false once the rows would pass maxRows; nothing more is read.
    bool Feed(const char* data, std::size_t size);
    // Reads the last line, if it had no ending.
    bool Finish();

    bool TooManyRows() const { return tooMany_; }
    std::uint64_t Lines() const { return lines_; }
    // Whether every byte fed so far is valid UTF-8.
    bool ValidUtf8() const { return utf8_.Valid(); }

private:
    bool Line(std::string_view line);

    PriceTable& table_;
    LineProgress progress_;
    std::uint64_t maxRows_;
    PodBuffer<char> pending_;
    std::string scratch_;
    Utf8Validator utf8_;
    std::uint64_t lines_ = 0;
    bool skipLineFeed_ = false;
    bool tooMany_ = false;
};

// The price file's path in the current directory: the directory, a separator
// and the name. Nothing when the directory has no name any more (see
// CurrentDirectoryName); the file is still opened in the directory itself.
std::optional<std::string> PriceFilePath();

// What the reading of the price file learnt.
struct PriceFileStatus {
    bool ok = false;
    std::uint64_t size = 0; // bytes, when ok
    std::string reason;     // why not, when not ok
};

// Opens the price file in the current directory for reading and tells its
// size, without reading it. Anything but a regular file (a directory, a pipe,
// a device) is refused without being read or waited on.
PriceFileStatus MeasurePriceFile();

struct LoadResult {
    bool ok = false;
    std::string reason;      // why the load stopped, when not ok
    std::uint64_t lines = 0; // lines read into the table
    TextEncoding encoding = TextEncoding::Utf8;
};

// Reads the price file in the current directory into `table`, one pass in
// large blocks, calling `progress` after every line. Opens the file read-only;
// writes nothing. Running out of memory throws std::bad_alloc, with the file
// closed again.
LoadResult LoadPriceFile(PriceTable& table, LineProgress progress,
                         std::uint64_t maxRows = kMaxRows);

// The same for a file already open, read from its start.
LoadResult LoadPriceFile(const ReadOnlyFile& file, PriceTable& table, LineProgress progress,
                         std::uint64_t maxRows = kMaxRows);

// The same road for bytes already in memory (for tests and fuzzing).
LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table, LineProgress progress,
                          std::uint64_t maxRows = kMaxRows);

} // namespace pricelookup
