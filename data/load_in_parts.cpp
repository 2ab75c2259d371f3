#include "load_in_parts.h"

#include "file_access.h"
#include "memory_need.h"
#include "parallel.h"
#include "part_code_finder.h"
#include "part_reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace pricelookup {

namespace {

// Parts per thread: the calling thread also paints the bar, so the others
// take over its parts as they finish theirs, and the last part to end keeps
// the other threads waiting for less. Many small parts also keep each part's
// index of codes small enough to be grouped in the core's cache.
constexpr std::uint64_t kPartsPerThread = 16;
constexpr std::uint64_t kSmallestPart = 1 << 20;
// How often the bar hears of the lines read: 25 times a second, as often as
// the eye follows it; each repaint holds up the calling thread's parts.
constexpr auto kProgressPeriod = std::chrono::milliseconds(40);

// The parts of a file of `size` bytes, each with an index of its codes of its
// own when the load builds a finder.
std::vector<Part> MakeParts(std::uint64_t size, unsigned threads, const LoadOptions& options,
                            KeyBufferPool& pool) {
    std::uint64_t partBytes = options.partBytes;
    if (partBytes == 0)
        partBytes = std::max(kSmallestPart, size / (kPartsPerThread * threads) + 1);
    const std::uint64_t count = std::max<std::uint64_t>(1, (size + partBytes - 1) / partBytes);
    std::vector<Part> parts(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        parts[i].nominalStart = i * partBytes;
        parts[i].nominalEnd = i + 1 < count ? (i + 1) * partBytes : UINT64_MAX;
        if (options.fold)
            parts[i].run = std::make_unique<PartCodeRun>(TextEncoding::Utf8, options.fold, &pool);
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
               const ReadAtFn& readAt, const LoadOptions& options,
               std::atomic<std::uint64_t>& rowsSoFar, std::atomic<bool>& stop,
               PartsProgress& progress) {
    const std::thread::id caller = std::this_thread::get_id();
    const std::function<void()> callerBetweenBlocks = [&] { progress.Tell(false); };
    try {
        RunTasks(
            parts.size(), threads,
            [&](std::size_t i) {
                const bool onCaller = std::this_thread::get_id() == caller;
                try {
                    ReadPart(parts[i], i == 0, size, readAt, options, rowsSoFar, stop,
                             onCaller ? callerBetweenBlocks : std::function<void()>());
                } catch (...) {
                    stop = true;
                    throw;
                }
            },
            [&] { progress.Tell(false); }, kProgressPeriod);
    } catch (const std::bad_alloc&) {
        // Every thread has stopped. What the parts hold, scaled up to the
        // whole file by the share of it they read: their text is the bytes
        // they read, endings and all, and the rest their rows' offsets.
        double used = 0;
        double text = 0;
        for (const Part& part : parts) {
            used += static_cast<double>(part.table.MemoryUsed());
            text += static_cast<double>(part.table.MemoryUsed() -
                                        part.table.size() * sizeof(std::uint32_t));
        }
        LoadOutOfMemory outOfMemory;
        outOfMemory.need = MemoryNeedOfLoad(size, used, text, 0);
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
// builds the finder from their indexes.
void JoinParts(std::vector<Part>& parts, PriceTable& table, LoadResult& result, unsigned threads,
               const LoadOptions& options) {
    std::vector<PartCodeRun> runs;
    runs.reserve(parts.size());
    for (Part& part : parts) {
        table.Append(std::move(part.table));
        if (part.run)
            runs.push_back(std::move(*part.run));
    }
    if (options.fold)
        result.finder =
            std::make_unique<PartCodeFinder>(table, result.encoding, options.fold, runs, threads);
}

} // namespace

LoadResult LoadInParts(std::uint64_t size, const ReadAtFn& readAt, PriceTable& table,
                       const LineProgress& progress, const LoadOptions& options) {
    const unsigned threads = options.threads > 0 ? options.threads : UsableCores();
    // Declared first, so that it outlives the parts' indexes.
    KeyBufferPool pool;
    std::vector<Part> parts = MakeParts(size, threads, options, pool);
    std::atomic<std::uint64_t> rowsSoFar{0};
    std::atomic<bool> stop{false};
    PartsProgress partsProgress(parts, progress, stop);
    ReadParts(parts, threads, size, readAt, options, rowsSoFar, stop, partsProgress);

    LoadResult result = PartsResult(parts, rowsSoFar.load(), options.maxRows);
    if (!result.ok)
        return result;
    partsProgress.Tell(true);
    JoinParts(parts, table, result, threads, options);
    return result;
}

} // namespace pricelookup
