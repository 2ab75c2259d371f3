#pragma once

// What a load of the price file takes and gives, shared by its stages (the
// one-pass line_reader, the read in parts, the reads of price_file and the
// waits of settled_read) and by their callers.

#include "file_access.h"
#include "part_code_finder.h"
#include "price_table.h"
#include "text_encoding.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace pricelookup {

// The most rows the lists can hold: a row number must fit the toolkit's int,
// and so must the rows' total height in pixels. A longer file is refused.
inline constexpr std::uint64_t kMaxRows = 50'000'000;

// Why a file of more than maxRows lines is refused.
std::string TooManyRowsReason(std::uint64_t maxRows);

// Files from this size on are read in parts on every core: below it the
// threads would cost more than they win.
inline constexpr std::uint64_t kReadInPartsFrom = 4 << 20;

// The block both reads take at a time: small enough that a block the system
// has just copied is still in the core's cache when its lines are found.
inline constexpr std::size_t kReadBlockSize = 1 << 17;

// Told the length in bytes of each line as read, before the line was split,
// without its line ending. The one-pass read calls it after every line;
// the read in parts, on the calling thread, with the sum of the
// lengths of several lines at once, and only where no line could have carried
// the count past the budget it was given (see LoadOptions).
using LineProgress = std::function<void(std::uint64_t)>;

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

// Thrown by a load that runs out of memory, once every thread of it has
// stopped and its table is given back: about what the table of the whole
// file needs.
struct LoadOutOfMemory : std::bad_alloc {
    std::uint64_t need = 0;
};

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

// Reads up to `size` bytes at `offset`, as ReadOnlyFile::ReadAt does; called
// from several threads at once.
using ReadAtFn = std::function<FileRead(std::uint64_t offset, char* buffer, std::size_t size)>;

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

} // namespace pricelookup
