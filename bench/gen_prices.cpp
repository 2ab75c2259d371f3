// gen_prices LINES OUTPUT_PATH [SEED]: writes a price file of LINES lines.
#include "benchgen.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Accepts plain digits with an optional K or M, as in 10M.
bool ParseCount(const char* text, std::uint64_t& value) {
    char* end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(text, &end, 10);
    if (end == text || errno != 0 || *text == '-')
        return false;
    unsigned long long scale = 1;
    if (*end == 'K' || *end == 'k')
        scale = 1'000;
    else if (*end == 'M' || *end == 'm')
        scale = 1'000'000;
    if (scale != 1)
        ++end;
    if (*end != '\0')
        return false;
    value = n * scale;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t lines = 0;
    std::uint64_t seed = pricelookup::benchgen::kDefaultSeed;
    if (argc < 3 || argc > 4 || !ParseCount(argv[1], lines) ||
        (argc == 4 && !ParseCount(argv[3], seed))) {
        std::fprintf(stderr, "usage: %s LINES OUTPUT_PATH [SEED]\n", argv[0]);
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    auto result = pricelookup::benchgen::GeneratePriceFile(lines, argv[2], seed);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", result.error.c_str());
        return 1;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(
        stderr, "%llu lines, %llu bytes (%.1f bytes a line) in %.2f s: %s\n",
        static_cast<unsigned long long>(result.lines),
        static_cast<unsigned long long>(result.bytes),
        result.lines ? static_cast<double>(result.bytes) / static_cast<double>(result.lines) : 0.0,
        seconds, argv[2]);
    return 0;
}
