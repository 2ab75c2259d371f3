#pragma once

#include <cstdint>

namespace pricelookup {

// What the table of a whole file of `fileSize` bytes needs, scaled up from a
// load that took `memoryUsed` bytes for `lineBytes` bytes of lines in `rows`
// rows (every line has an ending of at least one byte); 0 when nothing was
// read.
std::uint64_t ScaledMemoryNeed(std::uint64_t fileSize, double memoryUsed, double lineBytes,
                               double rows);

// About how much memory the load of a file of `fileSize` bytes needs, told
// when it ran out: at least the room the table takes ahead of the load, and
// what the load held, scaled up to the whole file.
std::uint64_t MemoryNeedOfLoad(std::uint64_t fileSize, double memoryUsed, double lineBytes,
                               double rows);

} // namespace pricelookup
