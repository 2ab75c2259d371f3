#pragma once

#include "load_types.h"
#include "price_table.h"

#include <cstdint>

namespace pricelookup {

// Reads a file of `size` bytes into `table` in parts, on up to
// options.threads threads, the calling one among them; what it finds past
// `size` (a file that grew) is read too. Each part starts at a line start and
// fills a table of its own, which are then joined in file order; the result,
// the table and the encoding are what the one-pass LineReader gives.
// `progress` is called on the calling thread only, with sums of line lengths;
// the lines that end past `size` are told one by one at the end. Throws what a
// part threw, once every thread has stopped; running out of memory as
// LoadOutOfMemory.
LoadResult LoadInParts(std::uint64_t size, const ReadAtFn& readAt, PriceTable& table,
                       const LineProgress& progress, const LoadOptions& options);

} // namespace pricelookup
