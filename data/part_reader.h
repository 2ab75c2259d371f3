#pragma once

// One part of a file read in parts: a run of whole lines, read on one thread
// straight into a table of its own.

#include "load_types.h"
#include "part_code_index.h"
#include "price_table.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pricelookup {

struct Part {
    std::uint64_t nominalStart =
        0;                        // where the cut was made; the part begins at the next line start
    std::uint64_t nominalEnd = 0; // UINT64_MAX for the last part: it reads to the end
    PriceTable table;
    std::unique_ptr<PartCodeRun> run;        // the finder's index of its rows, when it is built
    std::atomic<std::uint64_t> lineBytes{0}; // published for the progress count
    std::uint64_t lines = 0;
    bool validUtf8 = true;
    bool tooMany = false;
    std::string error;
};

// Reads `part` (the first part when `first`) of a file of `size` bytes: from
// the first line start at or after its nominal start to the first at or past
// its nominal end, or to the file's end for the last part. Its rows count
// into `rowsSoFar`, and it stops early, setting `stop`, when they pass
// options.maxRows or it fails; it stops too when another part set `stop`.
// `betweenBlocks`, when given, runs after every block.
void ReadPart(Part& part, bool first, std::uint64_t size, const ReadAtFn& readAt,
              const LoadOptions& options, std::atomic<std::uint64_t>& rowsSoFar,
              std::atomic<bool>& stop, const std::function<void()>& betweenBlocks);

} // namespace pricelookup
