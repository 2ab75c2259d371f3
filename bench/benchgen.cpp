#include "benchgen.h"
#include "benchgen_words.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pricelookup::benchgen {

namespace {

// Bump when the output changes, so cached files from older runs are remade.
constexpr int kGeneratorVersion = 2;

template <std::size_t N> const Phrase& Pick(Random& random, const Phrase (&list)[N]) {
    return list[random.Below(static_cast<std::uint32_t>(N))];
}

// How often each letter begins a code, roughly as catalogues spread them:
// some letters are common prefixes, a few are almost never used.
constexpr std::array<std::uint8_t, 26> kFirstLetterWeight = {
    8, 9, 9, 6, 5, 6, 5, 6, 1, 3, 5, 6, 8, 4, 1, 8, 1, 6, 9, 6, 2, 5, 4, 1, 1, 2,
};

constexpr std::uint32_t FirstLetterTotal() {
    std::uint32_t total = 0;
    for (auto w : kFirstLetterWeight)
        total += w;
    return total;
}

char FirstLetter(Random& random) {
    std::uint32_t r = random.Below(FirstLetterTotal());
    for (std::size_t i = 0; i < kFirstLetterWeight.size(); ++i) {
        if (r < kFirstLetterWeight[i])
            return static_cast<char>('A' + i);
        r -= kFirstLetterWeight[i];
    }
    return 'Z';
}

char* Letters(Random& random, char* o, std::uint32_t n) {
    *o++ = FirstLetter(random);
    for (std::uint32_t i = 1; i < n; ++i)
        *o++ = static_cast<char>('A' + random.Below(26));
    return o;
}

char* Digits(Random& random, char* o, std::uint32_t n) {
    std::uint64_t bits = random.Next();
    for (std::uint32_t i = 0; i < n; ++i) {
        *o++ = static_cast<char>('0' + bits % 10);
        bits /= 10;
    }
    return o;
}

char* PartCode(Random& random, char* o) {
    std::uint32_t shape = random.Below(100);
    if (shape < 80) {
        // One to three letters, then three to seven digits.
        std::uint32_t l = random.Below(100);
        o = Letters(random, o, l < 35 ? 1 : l < 80 ? 2 : 3);
        o = Digits(random, o, random.Between(3, 7));
    } else if (shape < 94) {
        // Digits only; a leading zero is kept, as in the catalogues.
        o = Digits(random, o, random.Between(5, 8));
    } else {
        // Digits, a letter group, digits.
        o = Digits(random, o, random.Between(1, 2));
        o = Letters(random, o, random.Between(1, 2));
        o = Digits(random, o, random.Between(3, 5));
    }
    if (random.Below(100) < 8) {
        static constexpr std::string_view kSuffixes[] = {"-A", "-B", "-C", "-L",  "-R",
                                                         "/2", "/3", "-1", "-01", "-X"};
        auto s = kSuffixes[random.Below(std::size(kSuffixes))];
        std::memcpy(o, s.data(), s.size());
        o += s.size();
    }
    return o;
}

char* Put(char* o, std::string_view s) {
    std::memcpy(o, s.data(), s.size());
    return o + s.size();
}

char* Description(Random& random, char* o) {
    // About one line in two hundred quotes its description round a comma.
    const bool quoted = random.Below(200) == 0;
    static constexpr std::uint8_t kTargetWeight[] = {3, 7, 15, 30, 45}; // 2 to 6 words
    std::uint32_t r = random.Below(100);
    int target = 2;
    for (std::uint8_t w : kTargetWeight) {
        if (r < w)
            break;
        r -= w;
        ++target;
    }
    const Phrase& base = Pick(random, kBases);
    if (quoted)
        *o++ = '"';
    o = Put(o, base.text);
    int words = base.words;
    bool first = true;
    auto add = [&](const Phrase& m) {
        *o++ = quoted && first ? ',' : ' ';
        if (quoted && first)
            *o++ = ' ';
        o = Put(o, m.text);
        words += m.words;
        first = false;
    };
    // In catalogue order: what kind, where, what size, what make, what it fits.
    const Phrase* slots[] = {&Pick(random, kKinds), &Pick(random, kPositions),
                             &Pick(random, kSizes), &Pick(random, kMakes),
                             &Pick(random, kFitments)};
    // Each is left out now and then, unless the words would fall short without it.
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        const Phrase& m = *slots[i];
        const auto left = static_cast<int>(std::size(slots) - 1 - i);
        if (words + m.words <= target && (random.Below(100) < 75 || words + left < target))
            add(m);
    }
    if (words < 2 || (quoted && first))
        add(*slots[0]);
    if (quoted)
        *o++ = '"';
    return o;
}

char* Number(char* o, std::uint32_t v) {
    char tmp[10];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0)
        *o++ = tmp[--n];
    return o;
}

std::string Stamp(std::uint64_t lines, std::uint64_t seed, std::uint64_t bytes, Shape shape) {
    std::string stamp = "benchgen " + std::to_string(kGeneratorVersion) + " lines " +
                        std::to_string(lines) + " seed " + std::to_string(seed);
    if (shape != Shape::Spread)
        stamp += std::string(" shape ") + ShapeName(shape);
    return stamp + " bytes " + std::to_string(bytes) + "\n";
}

// Returns 0 or the errno of the failed write.
int WriteAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return 0;
}

// The fields after the part code: description, cost and retail, CR LF.
char* RestOfLine(Random& random, char* o) {
    *o++ = ',';
    o = Description(random, o);
    *o++ = ',';
    // Cost in hundredths, spread over pence to thousands; retail 15% to 120% above.
    std::uint32_t tier = random.Below(100);
    std::uint32_t cost = tier < 12   ? random.Between(20, 999)
                         : tier < 45 ? random.Between(1000, 9999)
                         : tier < 85 ? random.Between(10000, 99999)
                         : tier < 98 ? random.Between(100000, 999999)
                                     : random.Between(1000000, 4999999);
    auto markup = static_cast<std::uint32_t>(std::uint64_t{cost} * random.Between(15, 120) / 100);
    std::uint32_t retail = cost + (markup == 0 ? 1 : markup);
    o = Number(o, cost);
    *o++ = ',';
    o = Number(o, retail);
    *o++ = '\r';
    *o++ = '\n';
    return o;
}

char* FixedDigits(char* o, std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i, v /= 10)
        o[i] = static_cast<char>('0' + v % 10);
    return o + n;
}

// A permutation of 0 .. lines - 1 that looks random: a step coprime with the
// count, so every index is taken once.
std::uint64_t Shuffle(std::uint64_t index, std::uint64_t lines) {
    std::uint64_t step = 0x9E3779B1 % lines;
    while (std::gcd(step, lines) != 1)
        ++step;
    // Below 2^64 for any count of lines that fits a price list.
    return (index * step + lines / 3) % lines;
}

// PX2024-00001234-BQ: a shared prefix, a counter, and two letters from it.
char* PrefixCode(std::uint64_t n, char* o) {
    o = Put(o, "PX2024-");
    o = FixedDigits(o, n, 8);
    *o++ = '-';
    *o++ = static_cast<char>('A' + n * 7 % 26);
    *o++ = static_cast<char>('A' + n * 11 % 26);
    return o;
}

// ABC-0123: three letters and four digits counting the run, in order.
char* RunCode(std::uint64_t run, char* o) {
    *o++ = static_cast<char>('A' + run / 676 % 26);
    *o++ = static_cast<char>('A' + run / 26 % 26);
    *o++ = static_cast<char>('A' + run % 26);
    *o++ = '-';
    return FixedDigits(o, run, 4);
}

// An accented letter and a counter, in three letter cases: \xC9123-AB,
// \xE9123-ab, \xC9123-aB. The accented letters are taken in the order of
// their folded forms, so the codes are in order when case is ignored.
char* CasedCode(std::uint64_t index, std::uint64_t lines, char* o) {
    static constexpr unsigned char kUpper[] = {0xC0, 0xC9, 0xD1, 0xD6, 0xDC}; // À É Ñ Ö Ü
    const std::uint64_t base = index / 3;
    const int variant = static_cast<int>(index % 3);
    const std::uint64_t bases = (lines + 2) / 3;
    const unsigned char upper = kUpper[base * std::size(kUpper) / bases];
    *o++ = static_cast<char>(variant == 0 || variant == 2 ? upper : upper + 0x20);
    o = FixedDigits(o, base, 8);
    *o++ = '-';
    *o++ = variant == 0 ? 'A' : 'a';
    *o++ = variant == 1 ? 'b' : 'B';
    return o;
}

} // namespace

std::size_t WriteLine(Random& random, char* out) {
    char* o = PartCode(random, out);
    return static_cast<std::size_t>(RestOfLine(random, o) - out);
}

std::size_t WriteShapedLine(Shape shape, std::uint64_t index, std::uint64_t lines, Random& random,
                            char* out) {
    char* o = out;
    switch (shape) {
    case Shape::Spread:
        return WriteLine(random, out);
    case Shape::Prefix:
        o = PrefixCode(index, o);
        break;
    case Shape::Shuffled:
        o = PrefixCode(Shuffle(index, lines), o);
        break;
    case Shape::Runs:
        o = RunCode(index / 1000, o);
        break;
    case Shape::Cased:
        o = CasedCode(index, lines, o);
        break;
    }
    return static_cast<std::size_t>(RestOfLine(random, o) - out);
}

const char* ShapeName(Shape shape) {
    switch (shape) {
    case Shape::Spread:
        return "spread";
    case Shape::Prefix:
        return "prefix";
    case Shape::Shuffled:
        return "shuffled";
    case Shape::Runs:
        return "runs";
    case Shape::Cased:
        return "cased";
    }
    return "spread";
}

bool ParseShape(std::string_view name, Shape& shape) {
    for (Shape s : kShapes)
        if (name == ShapeName(s)) {
            shape = s;
            return true;
        }
    return false;
}

GenerateResult GeneratePriceFile(std::uint64_t lines, const std::string& path, std::uint64_t seed,
                                 Shape shape) {
    GenerateResult result;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        result.error = path + ": " + std::strerror(errno);
        return result;
    }
    constexpr std::size_t kBufferSize = 8 << 20;
    std::vector<char> buffer(kBufferSize);
    std::size_t used = 0;
    int err = 0;
    Random random(seed);
    for (std::uint64_t i = 0; i < lines && err == 0; ++i) {
        if (kBufferSize - used < kMaxLineLength) {
            err = WriteAll(fd, buffer.data(), used);
            result.bytes += used;
            used = 0;
        }
        used += WriteShapedLine(shape, i, lines, random, buffer.data() + used);
    }
    if (err == 0) {
        err = WriteAll(fd, buffer.data(), used);
        result.bytes += used;
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        result.error = path + ": " + std::strerror(err);
        return result;
    }
    result.ok = true;
    result.lines = lines;
    return result;
}

std::string LinesName(std::uint64_t lines) {
    if (lines != 0 && lines % 1'000'000 == 0)
        return std::to_string(lines / 1'000'000) + "M";
    if (lines != 0 && lines % 1'000 == 0)
        return std::to_string(lines / 1'000) + "K";
    return std::to_string(lines);
}

namespace {

// Whether the stamp file holds exactly `want`.
bool ReadStamp(const std::string& path, const std::string& want) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::string have(want.size() + 1, '\0');
    have.resize(std::fread(have.data(), 1, have.size(), f));
    std::fclose(f);
    return have == want;
}

} // namespace

PreparedFile PreparePriceDirectory(const std::string& root, std::uint64_t lines, std::uint64_t seed,
                                   Shape shape) {
    namespace fs = std::filesystem;
    PreparedFile prepared;
    fs::path dir = fs::path(root) / LinesName(lines);
    if (seed != kDefaultSeed)
        dir += "-seed" + std::to_string(seed);
    if (shape != Shape::Spread)
        dir += std::string("-") + ShapeName(shape);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        prepared.error = dir.string() + ": " + ec.message();
        return prepared;
    }
    prepared.directory = dir.string();
    fs::path file = dir / "sorted.dat";
    fs::path stampFile = dir / "sorted.dat.stamp";

    // The stamp names what made the file; without a match, make it again.
    const std::uint64_t size = fs::file_size(file, ec);
    if (!ec && ReadStamp(stampFile.string(), Stamp(lines, seed, size, shape))) {
        prepared.ok = true;
        prepared.bytes = size;
        return prepared;
    }

    // Made under another name and renamed, so an interrupted run leaves no
    // half file that a later run could take for a whole one.
    fs::remove(stampFile, ec);
    fs::path part = dir / "sorted.dat.part";
    GenerateResult made = GeneratePriceFile(lines, part.string(), seed, shape);
    if (!made.ok) {
        fs::remove(part, ec);
        prepared.error = made.error;
        return prepared;
    }
    fs::rename(part, file, ec);
    if (ec) {
        prepared.error = file.string() + ": " + ec.message();
        return prepared;
    }
    std::string stamp = Stamp(lines, seed, made.bytes, shape);
    std::FILE* f = std::fopen(stampFile.c_str(), "wb");
    if (!f || std::fwrite(stamp.data(), 1, stamp.size(), f) != stamp.size()) {
        if (f)
            std::fclose(f);
        prepared.error = stampFile.string() + ": cannot write";
        return prepared;
    }
    std::fclose(f);
    prepared.ok = true;
    prepared.bytes = made.bytes;
    return prepared;
}

} // namespace pricelookup::benchgen
