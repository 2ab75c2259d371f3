#include "memory_need.h"

#include "price_table.h"

#include <algorithm>

namespace pricelookup {

std::uint64_t ScaledMemoryNeed(std::uint64_t fileSize, double memoryUsed, double lineBytes,
                               double rows) {
    const double read = lineBytes + rows;
    return read > 0 ? static_cast<std::uint64_t>(memoryUsed * static_cast<double>(fileSize) / read)
                    : 0;
}

std::uint64_t MemoryNeedOfLoad(std::uint64_t fileSize, double memoryUsed, double lineBytes,
                               double rows) {
    return std::max(PriceTable::ReservationForFile(fileSize),
                    ScaledMemoryNeed(fileSize, memoryUsed, lineBytes, rows));
}

} // namespace pricelookup
