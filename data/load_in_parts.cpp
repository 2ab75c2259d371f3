#include "load_in_parts.h"

#include "file_access.h"
#include "parallel.h"
#include "part_code_finder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace pricelookup {

namespace {

// As the one-pass read does: a block the splitter finds still in the cache.
constexpr std::size_t kBlockSize = 1 << 17;
// Parts per thread: the calling thread also paints the bar, so the others
// take over its parts as they finish theirs, and the last part to end keeps
// the other threads waiting for less (four a thread left one idle for up to
// 90 ms of a 10M-line load).
constexpr std::uint64_t kPartsPerThread = 8;
constexpr std::uint64_t kSmallestPart = 1 << 20;
// How often the bar hears of the lines read: 25 times a second. Every 10 ms,
// painting it made the calling thread's parts a third slower than the others'.
constexpr auto kProgressPeriod = std::chrono::milliseconds(40);

struct Part {
    std::uint64_t nominalStart =
        0;                        // where the cut was made; the part begins at the next line start
    std::uint64_t nominalEnd = 0; // UINT64_MAX for the last part: it reads to the end
    PriceTable table;
    std::unique_ptr<PartCodeGroups> groups;
    std::atomic<std::uint64_t> lineBytes{0}; // published for the progress count
    std::uint64_t lines = 0;
    std::vector<std::uint64_t> lateLines;
    bool validUtf8 = true;
    bool tooMany = false;
    std::string error;
};

// The first line start at or after `at`: the file's start, or the byte after
// a CR that no LF follows, or after a CR LF pair. The end of the file when no
// line starts after `at`. Reads from two bytes before `at`, so that a CR LF
// pair around it is seen whole.
std::uint64_t FindLineStart(const ReadAtFn& readAt, std::uint64_t at, std::string& error) {
    if (at == 0)
        return 0;
    char block[4096];
    // Most lines end within the first bytes; a long line reads more each time.
    std::size_t want = 128;
    std::uint64_t offset = at >= 2 ? at - 2 : 0;
    int before = -1; // the byte before the one looked at
    int twoBefore = -1;
    for (;;) {
        FileRead got = readAt(offset, block, want);
        want = std::min(sizeof block, want * 2);
        if (!got.error.empty()) {
            error = std::move(got.error);
            return offset;
        }
        if (got.bytes == 0)
            return offset;
        for (std::size_t i = 0; i < got.bytes; ++i) {
            const int c = static_cast<unsigned char>(block[i]);
            if (offset + i >= at &&
                ((before == '\r' && c != '\n') || (before == '\n' && twoBefore == '\r')))
                return offset + i;
            twoBefore = before;
            before = c;
        }
        offset += got.bytes;
    }
}

// Room for the rest of a part at the rate of its first block (read from
// `start` to `offset`), backed with memory at once: a little more than the
// rate asks, as room left over is memory taken until the table gives it back,
// and a table that outgrows its room grows in place.
void ReserveRestOfPart(Part& part, std::uint64_t partEnd, std::uint64_t start,
                       std::uint64_t offset) {
    const std::uint64_t expected = (partEnd > offset ? partEnd : offset) - start + 4096;
    const double scale = static_cast<double>(expected) / static_cast<double>(offset - start);
    const auto rows = static_cast<std::size_t>(part.table.size() * scale * 1.01) + 64;
    part.table.Reserve(
        rows, static_cast<std::size_t>(part.table.MemoryUsed() * scale * 1.01) + 4096, true);
    if (part.groups)
        part.groups->ExpectRows(rows);
}

// What a part's reader leaves in the part when it stops.
void EndPart(Part& part, const LineReader& reader) {
    part.lines = reader.Lines();
    part.lineBytes.store(reader.LineBytes(), std::memory_order_relaxed);
    part.lateLines = reader.LateLines();
    part.validUtf8 = reader.ValidUtf8();
    part.table.ShrinkToFit();
    // Grouped here, while the part's rows are fresh: the finder is whole when
    // the load ends.
    if (part.groups)
        part.groups->Finish(part.table, 0);
}

// Where the part's first line starts; nothing when the part has no line of
// its own, or when looking failed (the part's error then says why).
std::optional<std::uint64_t> PartStart(Part& part, const ReadAtFn& readAt,
                                       std::atomic<bool>& stop) {
    std::string error;
    const std::uint64_t start = FindLineStart(readAt, part.nominalStart, error);
    if (!error.empty()) {
        part.error = std::move(error);
        stop = true;
        return std::nullopt;
    }
    // A part whose first line starts at or past its end has no line of its own.
    if (part.nominalEnd != UINT64_MAX && start >= part.nominalEnd)
        return std::nullopt;
    return start;
}

void ReadPart(Part& part, bool first, std::uint64_t size, const ReadAtFn& readAt,
              std::uint64_t maxRows, std::atomic<std::uint64_t>& rowsSoFar, std::atomic<bool>& stop,
              const std::function<void()>& betweenBlocks) {
    const std::optional<std::uint64_t> firstLine = PartStart(part, readAt, stop);
    if (!firstLine)
        return;
    const std::uint64_t start = *firstLine;
    LineReader reader(part.table, nullptr, maxRows);
    reader.ReadPart(first, part.nominalEnd == UINT64_MAX ? UINT64_MAX : part.nominalEnd - start,
                    size > start ? size - start : 0);
    reader.CountPartCodes(part.groups.get());
    // A small part needs no large block: its room is filled in for every part.
    const std::uint64_t partEnd = part.nominalEnd != UINT64_MAX ? part.nominalEnd : size;
    const std::size_t blockSize = static_cast<std::size_t>(std::min<std::uint64_t>(
        kBlockSize, std::max<std::uint64_t>(partEnd > start ? partEnd - start : 0, 256)));
    PodBuffer<char> block;
    block.resize(blockSize);
    std::uint64_t offset = start;
    std::uint64_t linesTold = 0;
    // The row limit holds for the whole file: every part counts into it.
    auto withinRowLimit = [&] {
        const std::uint64_t added = reader.Lines() - linesTold;
        const std::uint64_t rows = rowsSoFar.fetch_add(added, std::memory_order_relaxed) + added;
        linesTold = reader.Lines();
        if (rows <= maxRows && !reader.TooManyRows())
            return true;
        part.tooMany = true;
        stop = true;
        return false;
    };
    bool reserved = false;
    while (!stop.load(std::memory_order_relaxed)) {
        FileRead got = readAt(offset, block.data(), blockSize);
        if (!got.error.empty()) {
            part.error = std::move(got.error);
            stop = true;
            break;
        }
        if (got.bytes == 0) {
            // The last line, when it has no ending, counts like the others.
            reader.Finish();
            withinRowLimit();
            break;
        }
        const bool more = reader.Feed(block.data(), got.bytes);
        offset += got.bytes;
        if (!reserved && reader.Lines() > 0) {
            ReserveRestOfPart(part, partEnd, start, offset);
            reserved = true;
        }
        part.lineBytes.store(reader.LineBytes(), std::memory_order_relaxed);
        if (!withinRowLimit() || !more)
            break;
        if (betweenBlocks)
            betweenBlocks();
    }
    EndPart(part, reader);
}

// The parts of a file of `size` bytes, each with a finder's groups of its
// own when the load builds a finder.
std::vector<Part> MakeParts(std::uint64_t size, unsigned threads, const LoadOptions& options,
                            HeadsRoom& room) {
    std::uint64_t partBytes = options.partBytes;
    if (partBytes == 0)
        partBytes = std::max(kSmallestPart, size / (kPartsPerThread * threads) + 1);
    const std::uint64_t count = std::max<std::uint64_t>(1, (size + partBytes - 1) / partBytes);
    std::vector<Part> parts(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        parts[i].nominalStart = i * partBytes;
        parts[i].nominalEnd = i + 1 < count ? (i + 1) * partBytes : UINT64_MAX;
        if (options.fold)
            parts[i].groups =
                std::make_unique<PartCodeGroups>(TextEncoding::Utf8, options.fold, &room);
    }
    return parts;
}

// Tells the caller's progress of the bytes of lines the parts have read since
// it was last told: at most every kProgressPeriod, unless told to now. Runs on
// the calling thread only; a progress that throws stops the parts.
class PartsProgress {
public:
    PartsProgress(const std::vector<Part>& parts, const LineProgress& progress,
                  std::atomic<bool>& stop)
        : parts_(parts), progress_(progress), stop_(stop) {}

    void Tell(bool now) {
        if (!progress_)
            return;
        const auto time = std::chrono::steady_clock::now();
        if (!now && time - lastTold_ < kProgressPeriod)
            return;
        lastTold_ = time;
        std::uint64_t sum = 0;
        for (const Part& part : parts_)
            sum += part.lineBytes.load(std::memory_order_relaxed);
        if (sum <= told_)
            return;
        try {
            progress_(sum - told_);
        } catch (...) {
            stop_ = true;
            throw;
        }
        told_ = sum;
    }

private:
    const std::vector<Part>& parts_;
    const LineProgress& progress_;
    std::atomic<bool>& stop_;
    std::uint64_t told_ = 0;
    std::chrono::steady_clock::time_point lastTold_ = std::chrono::steady_clock::now();
};

// Reads every part, on up to `threads` threads. Throws what a part threw
// once every thread has stopped; running out of memory as LoadOutOfMemory.
void ReadParts(std::vector<Part>& parts, unsigned threads, std::uint64_t size,
               const ReadAtFn& readAt, std::uint64_t maxRows, std::atomic<std::uint64_t>& rowsSoFar,
               std::atomic<bool>& stop, PartsProgress& progress) {
    const std::thread::id caller = std::this_thread::get_id();
    const std::function<void()> callerBetweenBlocks = [&] { progress.Tell(false); };
    try {
        RunTasks(
            parts.size(), threads,
            [&](std::size_t i) {
                const bool onCaller = std::this_thread::get_id() == caller;
                try {
                    ReadPart(parts[i], i == 0, size, readAt, maxRows, rowsSoFar, stop,
                             onCaller ? callerBetweenBlocks : std::function<void()>());
                } catch (...) {
                    stop = true;
                    throw;
                }
            },
            [&] { progress.Tell(false); }, kProgressPeriod);
    } catch (const std::bad_alloc&) {
        // Every thread has stopped. What the parts hold, scaled up to the
        // whole file by the share of it they read.
        double used = 0;
        double lineBytes = 0;
        double rows = 0;
        for (const Part& part : parts) {
            used += static_cast<double>(part.table.MemoryUsed());
            lineBytes += static_cast<double>(part.lineBytes.load());
            rows += static_cast<double>(part.table.size());
        }
        LoadOutOfMemory outOfMemory;
        outOfMemory.need = ScaledMemoryNeed(size, used, lineBytes, rows);
        throw outOfMemory;
    }
}

// The result of the parts once read: the first error, the rows, the encoding.
LoadResult PartsResult(const std::vector<Part>& parts, std::uint64_t rowsSoFar,
                       std::uint64_t maxRows) {
    LoadResult result;
    result.ok = true;
    bool validUtf8 = true;
    for (const Part& part : parts) {
        if (!part.error.empty() && result.ok) {
            result.ok = false;
            result.reason = part.error;
        }
        validUtf8 = validUtf8 && part.validUtf8;
        result.lines += part.lines;
    }
    if (result.ok &&
        (rowsSoFar > maxRows ||
         std::any_of(parts.begin(), parts.end(), [](const Part& p) { return p.tooMany; }))) {
        result.ok = false;
        result.reason = TooManyRowsReason(maxRows);
    }
    result.lines = std::min(result.lines, maxRows);
    result.encoding = validUtf8 ? TextEncoding::Utf8 : TextEncoding::Windows1252;
    return result;
}

// Joins the parts' tables after the rows of `table`, in file order, and
// builds the finder from their groups.
void JoinParts(std::vector<Part>& parts, PriceTable& table, LoadResult& result, unsigned threads,
               const LoadOptions& options) {
    std::vector<PartCodeGroups> runs;
    runs.reserve(parts.size());
    for (Part& part : parts) {
        table.Append(std::move(part.table));
        if (part.groups)
            runs.push_back(std::move(*part.groups));
    }
    if (options.fold)
        result.finder =
            std::make_unique<PartCodeFinder>(table, result.encoding, options.fold, runs, threads);
}

} // namespace

LoadResult LoadInParts(std::uint64_t size, const ReadAtFn& readAt, PriceTable& table,
                       const LineProgress& progress, const LoadOptions& options) {
    const unsigned threads = options.threads > 0 ? options.threads : UsableCores();
    // Declared first, so that it outlives the parts' groups.
    HeadsRoom room;
    std::vector<Part> parts = MakeParts(size, threads, options, room);
    std::atomic<std::uint64_t> rowsSoFar{0};
    std::atomic<bool> stop{false};
    PartsProgress partsProgress(parts, progress, stop);
    ReadParts(parts, threads, size, readAt, options.maxRows, rowsSoFar, stop, partsProgress);

    LoadResult result = PartsResult(parts, rowsSoFar.load(), options.maxRows);
    if (!result.ok)
        return result;
    partsProgress.Tell(true);
    if (progress)
        for (const Part& part : parts)
            for (std::uint64_t length : part.lateLines)
                progress(length);
    JoinParts(parts, table, result, threads, options);
    return result;
}

} // namespace pricelookup
