#pragma once

// The price file: where it is, its size, and its load into a table. The load
// is LoadPriceFile, with the types of load_types.h.

#include "load_types.h"
#include "price_table.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pricelookup {

// The name of the price file, looked for in the current directory.
inline constexpr std::string_view kPriceFileName = "sorted.dat";

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

// The price file in the current directory, and the system's clocks.
class SystemPriceFiles final : public PriceFileSystem {
public:
    std::unique_ptr<PriceSource> Open(std::string& reason) override;
    std::optional<FileState> LookUp(std::string& reason) override;
    std::int64_t WallClock() override;
    std::chrono::nanoseconds SteadyClock() override;
    void Sleep(std::chrono::nanoseconds time) override;
};

// Reads the price file that `files` leads to into `table`, in large blocks:
// in parts on several threads when the file is large, otherwise in one pass
// that calls `progress` after every line. Opens the file read-only; writes
// nothing. Running out of memory throws LoadOutOfMemory, with the table
// empty, the file closed again and every thread of the load ended.
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
LoadResult LoadPriceFile(PriceFileSystem& files, PriceTable& table, const LineProgress& progress,
                         const LoadOptions& options);

// One read of `source` from its start, with no wait: `changed` when it
// changed meanwhile.
LoadResult LoadPriceFile(const PriceSource& source, PriceTable& table, const LineProgress& progress,
                         const LoadOptions& options);

// Makes `result` say that the read saw the file change, and empties `table`.
void DiscardChangedRead(LoadResult& result, PriceTable& table);

} // namespace pricelookup
