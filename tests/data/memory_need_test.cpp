// What a load that ran out of memory says the whole file needs.

#include "memory_need.h"
#include "price_table.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace pricelookup;

// At least the room the table takes ahead of the load; more when what was read
// before memory ran out, scaled up to the whole file, asks for more: the
// bytes read are the lines and one ending per row.
TEST(memory_need, the_room_taken_ahead_or_what_was_read_scaled_up) {
    for (std::uint64_t size :
         {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{1} << 30, std::uint64_t{8} << 40}) {
        SCOPED_TRACE(size);
        const std::uint64_t room = PriceTable::ReservationForFile(size);
        // Nothing read: only the room is known.
        EXPECT_EQ(ScaledMemoryNeed(size, 4096, 0, 0), 0u);
        EXPECT_EQ(MemoryNeedOfLoad(size, 4096, 0, 0), room);
        // Read as the room foresaw: the room.
        EXPECT_EQ(MemoryNeedOfLoad(size, 0.5, 0.9, 0.1), room);
    }
    // 40 bytes of lines in 10 rows (50 bytes of the file) took 1000 bytes: the
    // whole file of a million bytes takes 20 million.
    EXPECT_EQ(ScaledMemoryNeed(1'000'000, 1000, 40, 10), 20'000'000u);
    EXPECT_EQ(MemoryNeedOfLoad(1'000'000, 1000, 40, 10), 20'000'000u);
    // Empty lines only: their endings are what was read.
    EXPECT_EQ(MemoryNeedOfLoad(1'000'000, 400, 0, 100), 4'000'000u);
    // Files far larger than memory: no overflow, the scale holds.
    EXPECT_EQ(ScaledMemoryNeed(std::uint64_t{8} << 40, 2, 1, 1), std::uint64_t{8} << 40);
}
