#pragma once

#include "file_access.h"
#include "part_code_finder.h"
#include "pod_buffer.h"
#include "price_table.h"
#include "split_line.h"
#include "text_encoding.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup {

// The name of the price file, looked for in the current directory.
inline constexpr std::string_view kPriceFileName = "sorted.dat";

// The most rows the lists can hold: a row number must fit the toolkit's int,
// and so must the rows' total height in pixels. A longer file is refused.
inline constexpr std::uint64_t kMaxRows = 50'000'000;

// Told the length in bytes of each line as read, before the line was split,
// without its line ending. The one-pass read calls it after every line;
// the read in parts, on the calling thread, with the sum of the
// lengths of several lines at once, and only where no line could have carried
// the count past the budget it was given (see LoadOptions).
using LineProgress = std::function<void(std::uint64_t)>;

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

// Files from this size on are read in parts on every core: below it the
// threads would cost more than they win.
inline constexpr std::uint64_t kReadInPartsFrom = 4 << 20;

// What the load waits for, when it waits: the file was seen changing and is
// waited for until it stands still, to be read again from its start
// (Settling); or it was read whole, but had been written just before, and is
// looked at until it has stood still for long enough (Checking).
enum class LoadWait { Settling, Checking };

struct LoadOptions {
    std::uint64_t maxRows = kMaxRows;
    // How far the progress count may rise with the lines' lengths without
    // refusing one: its maximum less its value before the first line. With a
    // progress function the file is read in parts only when it is no larger,
    // so that sums of lengths give the count every single line would have.
    std::uint64_t progressBudget = 0;
    // Threads to read with; 0 for every core the process may run on.
    unsigned threads = 0;
    // Files from this size on are read in parts.
    std::uint64_t partsFrom = kReadInPartsFrom;
    // Bytes of a part; 0 to choose from the size and the threads.
    std::uint64_t partBytes = 0;
    // Bytes of text an arena of a part holds before its next line goes to a
    // new one; smaller than the 4 GiB a row's offset allows only in tests.
    std::size_t arenaBytes = PriceTable::kMaxRowStart;
    // When given, the part-code finder is built too, with this fold.
    CaseFoldFn fold = nullptr;
    // Called before each new read of a file that changed while it was read,
    // with its size at the new open; returns the progress budget for that
    // read (the count starts over as for a new file).
    std::function<std::uint64_t(std::uint64_t size)> startOver;
    // Called about every kPollInterval while the load waits for the file to
    // stand still, so that the caller can keep its windows painted.
    std::function<void(LoadWait)> waiting;
};

// How often the load reads a file that changes while it is read before it
// gives up on it.
inline constexpr int kLoadTries = 5;

// How long the price file must stand still (the same file, size and last
// write time) before a read of it counts, once it was seen changing or when it
// was written just before the read began. Copiers write many times a second,
// so half a second of stillness means the writer is done, and it is as long
// as a user waits without wondering.
inline constexpr std::chrono::milliseconds kSettleTime{500};
// The most the load waits in all for a file that never stands still.
inline constexpr std::chrono::seconds kLongestWait{15};
// How often the file is looked at while the load waits.
inline constexpr std::chrono::milliseconds kPollInterval{50};

// Thrown by a load in parts that runs out of memory, once every thread of it
// has stopped: about what the table of the whole file needs, scaled up from
// what the parts read before; 0 when they read nothing.
struct LoadOutOfMemory : std::bad_alloc {
    std::uint64_t need = 0;
};

// What the table of a whole file of `fileSize` bytes needs, scaled up from a
// load that took `memoryUsed` bytes for `lineBytes` bytes of lines in `rows`
// rows (every line has an ending of at least one byte); 0 when nothing was
// read.
std::uint64_t ScaledMemoryNeed(std::uint64_t fileSize, double memoryUsed, double lineBytes,
                               double rows);

// About how much memory the load of a file of `fileSize` bytes needs, when it
// ran out (`error`) after `lineBytes` bytes of lines went into `table`: at
// least the room taken ahead of the load, what the table holds scaled up to
// the whole file, and what a load in parts reported.
std::uint64_t MemoryNeedOfLoad(const std::bad_alloc& error, std::uint64_t fileSize,
                               const PriceTable& table, std::uint64_t lineBytes);

struct LoadResult {
    bool ok = false;
    std::string reason;      // why the load stopped, when not ok
    std::uint64_t lines = 0; // lines read into the table
    TextEncoding encoding = TextEncoding::Utf8;
    std::unique_ptr<PartCodeFinder> finder; // when ok and a fold was given
    // Not ok because the file changed while each of the kLoadTries reads ran,
    // or never stood still for kLongestWait: the table is then left empty,
    // never a mix of two files.
    bool changed = false;
    // Not ok because the file could not be opened: it was removed while the
    // load waited for it, say.
    bool openFailed = false;
};

// Makes `result` say that the read saw the file change, and empties `table`.
void DiscardChangedRead(LoadResult& result, PriceTable& table);

// A file as one read of the load sees it: the price file, or a stand-in.
class PriceSource {
public:
    virtual ~PriceSource() = default;
    // The file's state when it was opened; a read takes its size as the end.
    virtual FileState State() const = 0;
    std::uint64_t Size() const { return State().size; }
    // As ReadOnlyFile::ReadAt; called from several threads at once.
    virtual FileRead ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const = 0;
    // As ReadOnlyFile::Unchanged.
    virtual bool Unchanged() const = 0;
};

// Where each read of the load finds the price file, and the clocks the load
// waits by: the system's (SystemPriceFiles), or a stand-in that plays a
// writer in tests.
class PriceFileSystem {
public:
    virtual ~PriceFileSystem() = default;
    // Opens the price file for one read, or gives the reason it cannot.
    virtual std::unique_ptr<PriceSource> Open(std::string& reason) = 0;
    // The state of the file that the price file's name leads to now; nothing,
    // with the reason, when there is none.
    virtual std::optional<FileState> LookUp(std::string& reason) = 0;
    // The wall clock, in the unit of FileState::written.
    virtual std::int64_t WallClock() = 0;
    // A clock that never goes back, and a wait on it.
    virtual std::chrono::nanoseconds SteadyClock() = 0;
    virtual void Sleep(std::chrono::nanoseconds time) = 0;
};

// The price file in the current directory, and the system's clocks.
class SystemPriceFiles final : public PriceFileSystem {
public:
    std::unique_ptr<PriceSource> Open(std::string& reason) override;
    std::optional<FileState> LookUp(std::string& reason) override;
    std::int64_t WallClock() override;
    std::chrono::nanoseconds SteadyClock() override;
    void Sleep(std::chrono::nanoseconds time) override;
};

// Reads the price file in the current directory into `table`, in large
// blocks: in parts on several threads when the file is large, otherwise in one
// pass that calls `progress` after every line. Opens the file read-only;
// writes nothing. Running out of memory throws std::bad_alloc, with the file
// closed again and every thread of the load ended.
//
// A read counts only when the file stayed the same from its first byte to its
// last: no read ended before the size seen at the open or found bytes past
// it, and afterwards the file is still as opened (ReadOnlyFile::Unchanged).
// A file last written less than kSettleTime before its read began counts only
// once it has stood still for kSettleTime since then. Otherwise the load waits
// until the file the name leads to stands still for kSettleTime, and reads it
// again from its start (options.startOver is told), up to kLoadTries reads
// and kLongestWait of waiting in all; then the result says `changed`. A file
// that is gone when the load has waited for it says `openFailed`.
LoadResult LoadPriceFile(PriceTable& table, LineProgress progress, const LoadOptions& options);
LoadResult LoadPriceFile(PriceTable& table, LineProgress progress,
                         std::uint64_t maxRows = kMaxRows);

// The same with the file and clocks of `files`.
LoadResult LoadPriceSource(PriceFileSystem& files, PriceTable& table, LineProgress progress,
                           const LoadOptions& options);

// One read of `source` from its start: `changed` when it changed meanwhile.
LoadResult ReadPriceSource(const PriceSource& source, PriceTable& table,
                           const LineProgress& progress, const LoadOptions& options);

// The same for a file already open, read once from its start: `changed` when
// it changed meanwhile.
LoadResult LoadPriceFile(const ReadOnlyFile& file, PriceTable& table, LineProgress progress,
                         const LoadOptions& options);
LoadResult LoadPriceFile(const ReadOnlyFile& file, PriceTable& table, LineProgress progress,
                         std::uint64_t maxRows = kMaxRows);

// The same for bytes already in memory (for tests and fuzzing), read as a
// file that never changes.
LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table, LineProgress progress,
                          const LoadOptions& options);
LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table, LineProgress progress,
                          std::uint64_t maxRows = kMaxRows);

} // namespace pricelookup
