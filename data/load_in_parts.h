#pragma once

#include "price_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace pricelookup {

// Reads up to `size` bytes at `offset`, as ReadOnlyFile::ReadAt does; called
// from several threads at once.
using ReadAtFn = std::function<FileRead(std::uint64_t offset, char* buffer, std::size_t size)>;

// Reads a file of `size` bytes into `table` in parts, on up to
// options.threads threads, the calling one among them; what it finds past
// `size` (a file that grew) is read too. Each part starts at a line start and
// fills a table of its own, which are then joined in file order; the result,
// the table and the encoding are what the one-pass LineReader gives.
// `progress` is called on the calling thread only, with sums of line lengths;
// the lines that end past `size` are told one by one at the end. Throws what a
// part threw (std::bad_alloc, say), once every thread has stopped.
LoadResult LoadInParts(std::uint64_t size, const ReadAtFn& readAt, PriceTable& table,
                       const LineProgress& progress, const LoadOptions& options);

// Why a file of more than maxRows lines is refused.
std::string TooManyRowsReason(std::uint64_t maxRows);

} // namespace pricelookup
