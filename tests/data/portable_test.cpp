// The two-word 128-bit number that compilers without one of their own get,
// held against the compiler's own on the same values.

#include "portable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

using namespace pricelookup;

#if defined(__SIZEOF_INT128__)
namespace {

UInt128Words Words(UInt128 v) {
    return {HighWord(v), static_cast<std::uint64_t>(v)};
}

} // namespace

// Every shift the finder can make, and the bit operations, on values with
// bits at both ends of both words and on random ones.
TEST(portable, two_words_do_what_the_compilers_own_128_bits_do) {
    std::mt19937_64 random(128);
    std::vector<UInt128> values{0,
                                1,
                                ~UInt128(0),
                                MakeUInt128(1, 0),
                                MakeUInt128(1ull << 63, 1),
                                MakeUInt128(0x8000000000000001, 0x8000000000000001)};
    for (int i = 0; i < 50; ++i)
        values.push_back(MakeUInt128(random(), random()));
    for (UInt128 a : values) {
        const UInt128Words w = Words(a);
        EXPECT_EQ(~w, Words(~a));
        EXPECT_EQ(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(a));
        for (unsigned n = 0; n < 128; ++n) {
            ASSERT_EQ(w << n, Words(a << n)) << n;
            ASSERT_EQ(w >> n, Words(a >> n)) << n;
        }
        for (UInt128 b : values) {
            EXPECT_EQ(w | Words(b), Words(a | b));
            EXPECT_EQ(w & Words(b), Words(a & b));
            UInt128Words both = w;
            both |= Words(b);
            EXPECT_EQ(both, Words(a | b));
        }
    }
}
#endif
