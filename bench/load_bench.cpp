// Loading large price files through LoadPriceFile, on one thread and on
// several, and building the part-code finder over the loaded table. Files are
// generated on first use and cached under $PRICELOOKUP_BENCH_DATA (default
// build/bench-data).
#include "basic_case_fold.h"
#include "bench_support.h"
#include "benchgen.h"
#include "file_access.h"
#include "part_code_finder.h"
#include "price_file.h"
#include "price_table.h"
#include "text_encoding.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace pricelookup;
using pricelookup::testing::BasicCaseFold;

// What one fresh process needs to load a file: peak resident memory is only
// meaningful in a process that has done nothing else, hence the fork.
struct MemoryReport {
    bool ok = false;
    std::uint64_t startRss = 0;        // bytes resident before the load
    std::uint64_t peakAfterLoad = 0;   // VmHWM after the load
    std::uint64_t peakAfterFinder = 0; // VmHWM after building the finder as well
    std::uint64_t tableBytes = 0;      // PriceTable::MemoryUsed()
    std::uint64_t lines = 0;
};

struct Prepared {
    benchgen::PreparedFile file;
    MemoryReport memory;
};

// The program reads sorted.dat in the current directory only.
LoadResult LoadIn(const std::string& directory, PriceTable& table, LineProgress progress,
                  const LoadOptions& options = {}) {
    if (::chdir(directory.c_str()) != 0) {
        LoadResult failed;
        failed.reason = "cannot enter " + directory;
        return failed;
    }
    SystemPriceFiles files;
    return LoadPriceFile(files, table, progress, options);
}

MemoryReport MeasureInChild(const std::string& directory) {
    MemoryReport report;
    int fds[2];
    if (::pipe(fds) != 0)
        return report;
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return report;
    }
    if (pid == 0) {
        ::close(fds[0]);
        MemoryReport child;
        child.startRss = benchgen::StatusBytes("VmRSS");
        PriceTable table;
        std::uint64_t sum = 0;
        LoadOptions options;
        options.progressBudget = UINT64_MAX;
        LoadResult loaded = LoadIn(
            directory, table, [&sum](std::uint64_t n) { sum += n; }, options);
        benchmark::DoNotOptimize(sum);
        child.peakAfterLoad = benchgen::StatusBytes("VmHWM");
        child.tableBytes = table.MemoryUsed();
        child.lines = loaded.lines;
        PartCodeFinder finder(table, loaded.encoding, BasicCaseFold, UsableCores());
        benchmark::DoNotOptimize(&finder);
        child.peakAfterFinder = benchgen::StatusBytes("VmHWM");
        child.ok = loaded.ok && child.peakAfterLoad != 0;
        ssize_t w = ::write(fds[1], &child, sizeof child);
        ::_exit(w == static_cast<ssize_t>(sizeof child) ? 0 : 1);
    }
    ::close(fds[1]);
    std::size_t got = 0;
    auto* out = reinterpret_cast<char*>(&report);
    while (got < sizeof report) {
        ssize_t n = ::read(fds[0], out + got, sizeof report - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got != sizeof report || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report = MemoryReport{};
    return report;
}

// Reads the file once so the timed loads start from a warm page cache.
void WarmPageCache(const std::string& directory) {
    int fd = ::open((directory + "/sorted.dat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    static char block[1 << 20];
    while (::read(fd, block, sizeof block) > 0) {
    }
    ::close(fd);
}

// Generates (or finds) the file and measures its memory once per size, before
// this process holds any table of its own.
const Prepared& Prepare(std::uint64_t lines) {
    static std::map<std::uint64_t, Prepared> cache;
    auto it = cache.find(lines);
    if (it != cache.end())
        return it->second;
    Prepared p;
    p.file = benchgen::PreparePriceDirectory(benchgen::DataRoot(), lines);
    if (p.file.ok)
        p.memory = MeasureInChild(p.file.directory);
    return cache.emplace(lines, std::move(p)).first->second;
}

bool Ready(benchmark::State& state, const Prepared& p) {
    if (!p.file.ok) {
        state.SkipWithError(p.file.error.c_str());
        return false;
    }
    if (!p.memory.ok) {
        state.SkipWithError("the measuring child process failed");
        return false;
    }
    WarmPageCache(p.file.directory);
    return true;
}

double Megabytes(std::uint64_t bytes) {
    return static_cast<double>(bytes) / 1e6;
}

void FileCounters(benchmark::State& state, const Prepared& p) {
    state.counters["lines"] = static_cast<double>(p.memory.lines);
    state.counters["bytes"] = static_cast<double>(p.file.bytes);
    // A rate: shown as MB=.../s, file megabytes per second of real time.
    state.counters["MB"] =
        benchmark::Counter(Megabytes(p.file.bytes), benchmark::Counter::kIsIterationInvariantRate);
}

// The load on a number of threads (0: one pass, line by line, as small files
// are read), the part-code finder built as well, as the start-up does it.
void BM_LoadPriceFile(benchmark::State& state) {
    const auto lines = static_cast<std::uint64_t>(state.range(0));
    const auto threads = static_cast<unsigned>(state.range(1));
    const Prepared& p = Prepare(lines);
    if (!Ready(state, p))
        return;
    std::uint64_t sum = 0;
    LoadOptions options;
    options.progressBudget = UINT64_MAX;
    options.fold = BasicCaseFold;
    options.threads = threads;
    if (threads == 0)
        options.partsFrom = UINT64_MAX;
    for (auto _ : state) {
        std::optional<PriceTable> table(std::in_place);
        LoadResult result = LoadIn(
            p.file.directory, *table, [&sum](std::uint64_t n) { sum += n; }, options);
        if (!result.ok || result.lines != lines) {
            state.SkipWithError(result.ok ? "wrong number of lines" : result.reason.c_str());
            break;
        }
        benchmark::DoNotOptimize(sum);
        // Freeing the table is not part of the load.
        state.PauseTiming();
        result.finder.reset();
        table.reset();
        state.ResumeTiming();
    }
    FileCounters(state, p);
    const double file = static_cast<double>(p.file.bytes);
    state.counters["base_MB"] = Megabytes(p.memory.startRss);
    state.counters["peak_MB"] = Megabytes(p.memory.peakAfterLoad);
    state.counters["peak/file"] = static_cast<double>(p.memory.peakAfterLoad) / file;
    state.counters["table/file"] = static_cast<double>(p.memory.tableBytes) / file;
}

void BM_BuildPartCodeFinder(benchmark::State& state) {
    const auto lines = static_cast<std::uint64_t>(state.range(0));
    const Prepared& p = Prepare(lines);
    if (!Ready(state, p))
        return;
    PriceTable table;
    LoadResult loaded = LoadIn(p.file.directory, table, nullptr);
    if (!loaded.ok) {
        state.SkipWithError(loaded.reason.c_str());
        return;
    }
    const auto threads = static_cast<unsigned>(state.range(1));
    for (auto _ : state) {
        std::optional<PartCodeFinder> finder(std::in_place, table, loaded.encoding, BasicCaseFold,
                                             threads);
        benchmark::DoNotOptimize(&*finder);
        state.PauseTiming();
        finder.reset();
        state.ResumeTiming();
    }
    FileCounters(state, p);
    const double file = static_cast<double>(p.file.bytes);
    state.counters["peak_MB"] = Megabytes(p.memory.peakAfterFinder);
    state.counters["peak/file"] = static_cast<double>(p.memory.peakAfterFinder) / file;
}

} // namespace

BENCHMARK(BM_LoadPriceFile)
    ->ArgNames({"lines", "threads"})
    ->ArgsProduct({{1'000'000}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LoadPriceFile)
    ->ArgNames({"lines", "threads"})
    ->ArgsProduct({{10'000'000}, {0, 1, 2}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BuildPartCodeFinder)
    ->ArgNames({"lines", "threads"})
    ->ArgsProduct({{1'000'000}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BuildPartCodeFinder)
    ->ArgNames({"lines", "threads"})
    ->ArgsProduct({{10'000'000}, {1, 2}})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
