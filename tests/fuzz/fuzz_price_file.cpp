// libFuzzer target: any bytes as a price file, through the whole reading path.
// Each broken invariant traps, so libFuzzer keeps the input that broke it.

#include "basic_case_fold.h"
#include "fake_price_files.h"
#include "line_reader.h"
#include "linear_finder.h"
#include "part_code_finder.h"
#include "price_file.h"
#include "price_table.h"
#include "reference_reader.h"
#include "table_text.h"
#include "text_encoding.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::BasicCaseFold;
using pricelookup::testing::LinearFinder;
using pricelookup::testing::LoadPriceBytes;

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// Lines by the line rule, counted without the reader: every CR (or CR LF)
// ends one, and a non-empty rest after the last ending is one more.
std::uint64_t CountLines(std::string_view bytes) {
    std::uint64_t lines = 0;
    bool open = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            ++lines;
            open = false;
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            open = true;
        }
    }
    return lines + (open ? 1 : 0);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// -?[0-9]+\.[0-9]{2,}
bool IsAmountText(std::string_view t) {
    std::size_t i = t.starts_with('-') ? 1 : 0;
    const std::size_t whole = i;
    while (i < t.size() && IsDigit(t[i]))
        ++i;
    if (i == whole || i == t.size() || t[i] != '.')
        return false;
    const std::size_t point = i++;
    while (i < t.size() && IsDigit(t[i]))
        ++i;
    return i == t.size() && t.size() - point > 2;
}

// The progress bar as the load drives it: Min 0, Max the file size plus 10,
// 10 set before the first line, every line's length added after it.
struct Bar {
    explicit Bar(std::size_t size) : max(size + 10) {}
    void Step(std::uint64_t length) {
        value += length;
        Check(value <= max);
        lengths.push_back(length);
    }
    std::uint64_t max;
    std::uint64_t value = 10;
    std::vector<std::uint64_t> lengths;
};

char32_t KeepCase(char32_t c) {
    return c;
}

void CheckFinder(const PartCodeFinder& finder, const PriceTable& table, TextEncoding encoding,
                 std::string_view bytes) {
    const LinearFinder linear(table, encoding);
    auto check = [&](std::string_view text) { Check(finder.Find(text) == linear.Find(text)); };

    // Codes of a few rows as typed (in UTF-8), a character at a time. A find
    // keeps nothing from the last one, so Backspace asks nothing new.
    for (std::size_t row : {std::size_t{0}, table.size() / 2, table.size() - 1}) {
        if (row >= table.size())
            continue;
        std::string typed;
        AppendFolded(table.Text(row, PartCode), encoding, KeepCase, typed);
        typed.resize(std::min<std::size_t>(typed.size(), 12));
        for (std::size_t n = 0; n <= typed.size(); ++n)
            check(std::string_view(typed).substr(0, n));
    }
    // Raw slices of the input, whatever they hold.
    for (std::size_t at = 0; at < bytes.size() && at < 64; at += 7)
        check(bytes.substr(at, 1 + at % 5));
}

// The same bytes read in parts on two or three threads, cut every so many
// bytes (the count taken from the input), so that cuts fall in CR LF pairs,
// quoted fields and UTF-8 sequences: the same rows, encoding, progress and finds.
void CheckReadInParts(std::string_view bytes, const PriceTable& whole, const PartCodeFinder& finder,
                      const LoadResult& one, const Bar& oneBar) {
    LoadOptions options;
    options.partsFrom = 0;
    // At most nine parts, cut every so many bytes from an eighth of the input
    // on: across inputs the cuts still fall anywhere in a line, and no input pays for
    // hundreds of one-byte parts.
    const std::size_t most = 13 + bytes.size() / 4;
    options.partBytes =
        bytes.empty() ? 1
                      : 1 + bytes.size() / 8 + (static_cast<unsigned char>(bytes[0]) * 97) % most;
    // Always more than one thread, so that every input meets the parts' joins.
    options.threads = 2 + static_cast<unsigned>(bytes.size() % 2);
    // Arenas of a few lines for a quarter of the inputs: lines then move to
    // new arenas as they would past 4 GiB.
    if (bytes.size() % 4 == 0)
        options.arenaBytes = 64 + bytes.size() % 192;
    options.progressBudget = bytes.size();
    options.fold = BasicCaseFold;
    PriceTable parted;
    Bar bar(bytes.size());
    LoadResult r = LoadPriceBytes(
        bytes, parted, [&](std::uint64_t n) { bar.Step(n); }, options);
    Check(r.ok && r.lines == one.lines && r.encoding == one.encoding);
    Check(bar.value == oneBar.value);
    Check(testing::SameLines(parted, whole));
    Check(r.finder != nullptr);
    for (std::size_t row : {std::size_t{0}, whole.size() / 2, whole.size() - 1}) {
        if (row >= whole.size())
            continue;
        const std::string code = whole.Text(row, PartCode);
        for (std::size_t n = 0; n <= code.size() && n <= 8; ++n)
            Check(r.finder->Find(code.substr(0, n)) == finder.Find(code.substr(0, n)));
    }
    for (std::size_t at = 0; at < bytes.size() && at < 64; at += 7)
        Check(r.finder->Find(bytes.substr(at, 1 + at % 5)) ==
              finder.Find(bytes.substr(at, 1 + at % 5)));
}

// Whether `table` holds the lines of a file of `bytes`.
bool HoldsFile(const PriceTable& table, std::string_view bytes) {
    PriceTable whole;
    LoadPriceBytes(bytes, whole, nullptr);
    return testing::SameLines(table, whole);
}

// Whatever moment the file changes at, in one pass or in parts, the load
// never yields a table that mixes two files: it shows the file before the
// change or after it, whole, or gives up empty-handed. The change is a cut, a
// growth or a rewrite in place, once after a number of reads taken from the
// input; told by the system or, for a cut or a growth, not (silent), so that
// only what the reads find can tell; or the file keeps changing.
void CheckChangingFile(std::string_view bytes) {
    using namespace std::chrono_literals;
    const unsigned last = bytes.empty() ? 0 : static_cast<unsigned char>(bytes.back());
    std::string after(bytes);
    const unsigned kind = last % 3;
    if (kind == 0)
        after.resize(after.size() / 2);
    else if (kind == 1)
        after += "\rZ9,grown,1,2";
    else
        for (char& c : after)
            c = c == '9' ? '1' : '9';
    LoadOptions options;
    if (last & 4) {
        options.partsFrom = 0;
        options.partBytes = 1 + bytes.size() / 3;
        options.threads = 2;
    }
    unsigned startedOver = 0;
    options.startOver = [&](std::uint64_t size) {
        ++startedOver;
        return size;
    };
    // Reads take 10 ms each on the stand-in's clock.
    std::vector<testing::FakePriceFiles::Version> versions{
        testing::FakePriceFiles::Old(std::string(bytes))};
    if (last & 128) {
        for (int i = 0; i < 160; ++i)
            versions.push_back(
                {.at = i * 100ms + 5ms, .bytes = i % 2 ? std::string(bytes) : after});
    } else {
        versions.push_back({.at = (last / 8 % 8) * 10ms + 5ms,
                            .bytes = after,
                            .silent = kind != 2 && (last & 64) != 0});
    }
    testing::FakePriceFiles files(std::move(versions));
    PriceTable table;
    const LoadResult r = LoadPriceFile(files, table, nullptr, options);
    Check(startedOver + 1 == unsigned(files.Opened()) && files.Opened() <= kLoadTries);
    if (r.changed)
        Check(!r.ok && !r.finder && r.lines == 0 && table.empty());
    else
        Check(r.ok && r.lines == table.size() &&
              (HoldsFile(table, bytes) || HoldsFile(table, after)));
}

// The same lines in order of their bytes, which puts most of them in order
// of their folded codes too: the finder then runs a binary search over them,
// and must still find what a plain scan finds.
void CheckSortedLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\r', at), bytes.size());
        lines.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    std::string sorted;
    for (std::string_view line : lines)
        sorted.append(line).append("\r");
    PriceTable table;
    LoadOptions options;
    options.fold = BasicCaseFold;
    const LoadResult r = LoadPriceBytes(sorted, table, nullptr, options);
    Check(r.ok && r.finder != nullptr);
    CheckFinder(*r.finder, table, r.encoding, sorted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    PriceTable whole;
    Bar wholeBar(size);
    LoadResult result = LoadPriceBytes(bytes, whole, [&](std::uint64_t n) { wholeBar.Step(n); });
    Check(result.ok);
    const std::uint64_t lines = CountLines(bytes);
    Check(result.lines == lines && whole.size() == lines && wholeBar.lengths.size() == lines);
    for (int column = PartCode; column <= RetailPrice; ++column)
        Check(whole.RowCount(column) == lines);
    // The plain reader must see the same rows and line lengths. Each cell is
    // formatted once, and the prices must read as amounts; the other paths
    // are held against this table line by line.
    const testing::ReferenceReading reference = testing::ReferenceRead(bytes);
    Check(reference.rows.size() == lines && wholeBar.lengths == reference.lengths);
    std::string scratch;
    std::string row;
    for (std::size_t r = 0; r < whole.size(); ++r) {
        row.clear();
        for (int c = PartCode; c <= RetailPrice; ++c) {
            const std::string_view cell = whole.Cell(r, c, scratch);
            Check(c < CostPrice || IsAmountText(cell));
            row.append(c == PartCode ? "" : " | ").append(cell);
        }
        Check(row == reference.rows[r]);
    }

    // The same bytes in small blocks, the block size taken from the input.
    PriceTable fed;
    Bar fedBar(size);
    LineReader reader(fed, [&](std::uint64_t n) { fedBar.Step(n); });
    const std::size_t block = size > 0 ? 1 + data[size - 1] % 7 : 1;
    for (std::size_t at = 0; at < size; at += block)
        Check(reader.Feed(bytes.data() + at, std::min(block, size - at)));
    Check(reader.Finish());
    Check(reader.Lines() == lines && fed.size() == lines);
    Check(fedBar.lengths == wholeBar.lengths);
    Check((reader.ValidUtf8() ? TextEncoding::Utf8 : TextEncoding::Windows1252) == result.encoding);
    Check(testing::SameLines(fed, whole));

    const PartCodeFinder finder(whole, result.encoding, BasicCaseFold);
    CheckFinder(finder, whole, result.encoding, bytes);
    CheckReadInParts(bytes, whole, finder, result, wholeBar);
    // These read the input over and over (a changing file up to five times):
    // its first kilobyte tells them as much as the rest, for far less.
    const std::string_view start = bytes.substr(0, 1024);
    CheckChangingFile(start);
    CheckSortedLines(start);
    return 0;
}

// A smaller quarantine than AddressSanitizer's 256 MB: freed memory comes back
// while it is still mapped, rather than a stream of fresh pages, each faulted
// in and later flushed from both cores. Still far more than one input frees.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
