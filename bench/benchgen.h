#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pricelookup::benchgen {

inline constexpr std::uint64_t kDefaultSeed = 20240601;

// splitmix64: the same numbers on every compiler and library, which the
// standard distributions do not promise.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 to n - 1, by multiply and shift: a division per draw would dominate.
    std::uint32_t Below(std::uint32_t n) {
        return static_cast<std::uint32_t>((Next() >> 32) * n >> 32);
    }
    std::uint32_t Between(std::uint32_t lo, std::uint32_t hi) { return lo + Below(hi - lo + 1); }

private:
    std::uint64_t state_;
};

// Writes one price line, CR LF included, at `out` and returns its length.
// `out` needs room for kMaxLineLength bytes.
inline constexpr std::size_t kMaxLineLength = 256;
std::size_t WriteLine(Random& random, char* out);

// How the part codes of a generated file are laid out. Price lists come in
// every one of these, and each one stresses the find and the load otherwise.
enum class Shape {
    Spread,   // random codes over many first letters, in no order
    Prefix,   // every code shares a long prefix, in order
    Shuffled, // the codes of Prefix, in no order
    Runs,     // runs of 1000 rows with the same code, in order
    Cased,    // Windows-1252 codes with accented letters, each in three letter
              // cases one after the other, in order when case is ignored
};
inline constexpr Shape kShapes[] = {Shape::Spread, Shape::Prefix, Shape::Shuffled, Shape::Runs,
                                    Shape::Cased};
// "spread", "prefix", ...; ParseShape takes the same names.
const char* ShapeName(Shape shape);
bool ParseShape(std::string_view name, Shape& shape);

// Line `index` of a file of `lines` lines of `shape`, as WriteLine writes it.
std::size_t WriteShapedLine(Shape shape, std::uint64_t index, std::uint64_t lines, Random& random,
                            char* out);

struct GenerateResult {
    bool ok = false;
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    std::string error; // when not ok
};

// Writes `lines` price lines to `path`. The same lines and seed always give
// the same bytes.
GenerateResult GeneratePriceFile(std::uint64_t lines, const std::string& path,
                                 std::uint64_t seed = kDefaultSeed, Shape shape = Shape::Spread);

// DIR/sorted.dat with `lines` lines, where DIR is a directory under `root`
// named after the line count and the shape ("1M", "10M-prefix"). A file left by an earlier run with
// the same lines, seed and generator version is reused.
struct PreparedFile {
    bool ok = false;
    std::string directory;
    std::uint64_t bytes = 0;
    std::string error; // when not ok
};
PreparedFile PreparePriceDirectory(const std::string& root, std::uint64_t lines,
                                   std::uint64_t seed = kDefaultSeed, Shape shape = Shape::Spread);

// "1M" for 1000000, "250K" for 250000, the plain number otherwise.
std::string LinesName(std::uint64_t lines);

} // namespace pricelookup::benchgen
