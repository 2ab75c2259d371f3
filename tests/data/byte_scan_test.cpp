// The vector byte scans held against the plain ones on the same bytes: every
// byte value in every position, and random blocks.

#include "byte_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace pricelookup;

TEST(byte_scan, vector_scans_find_what_the_plain_ones_find) {
#if !defined(PRICELOOKUP_SSE2)
    GTEST_SKIP() << "no vector scans on this target";
#else
    std::vector<std::vector<unsigned char>> blocks;
    // Each byte value alone at each place, among zeros and among 0xFF.
    for (int value = 0; value < 256; ++value)
        for (int at = 0; at < 64; at += 5)
            for (unsigned char fill : {0x00, 0xFF}) {
                std::vector<unsigned char> block(64, fill);
                block[at] = static_cast<unsigned char>(value);
                blocks.push_back(block);
            }
    std::mt19937 random(16);
    for (int i = 0; i < 2000; ++i) {
        std::vector<unsigned char> block(64);
        for (unsigned char& byte : block)
            byte = static_cast<unsigned char>(i % 2 ? random() % 128 : random());
        blocks.push_back(block);
    }
    for (const std::vector<unsigned char>& block : blocks) {
        const auto* bytes = reinterpret_cast<const char*>(block.data());
        ASSERT_EQ(sse2_scan::AnyHighByte64(block.data()), plain_scan::AnyHighByte64(block.data()));
        for (int at = 0; at <= 48; at += 16) {
            ASSERT_EQ(sse2_scan::HighBytes16(bytes + at), plain_scan::HighBytes16(bytes + at));
            for (char c : {'\0', '\r', '\n', ',', '"', '\x80', '\xFF', bytes[at + 3]})
                ASSERT_EQ(sse2_scan::MatchMask16(bytes + at, c),
                          plain_scan::MatchMask16(bytes + at, c));
        }
    }
#endif
}
