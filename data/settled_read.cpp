// The load's reads of a price file that may be written while the program
// starts: a read counts only when the file has stood still, and a file seen
// changing is waited for until it stands still, then read again whole.

#include "price_file.h"

#include <algorithm>
#include <thread>

namespace pricelookup {

namespace {

using std::chrono::nanoseconds;

// The waits of one load, which together last at most kLongestWait.
class Waits {
public:
    Waits(PriceFileSystem& files, const std::function<void(LoadWait)>& waiting)
        : files_(files), waiting_(waiting) {}

    // Waits a poll interval, or `atMost` if shorter; false, without waiting,
    // once the load has waited kLongestWait in all.
    bool Pause(LoadWait why, nanoseconds atMost) {
        const nanoseconds left = kLongestWait - waited_;
        if (left <= nanoseconds::zero())
            return false;
        const nanoseconds before = files_.SteadyClock();
        files_.Sleep(std::clamp<nanoseconds>(atMost, nanoseconds(1),
                                             std::min<nanoseconds>(kPollInterval, left)));
        waited_ += files_.SteadyClock() - before;
        if (waiting_)
            waiting_(why);
        return true;
    }

private:
    PriceFileSystem& files_;
    const std::function<void(LoadWait)>& waiting_;
    nanoseconds waited_{0};
};

enum class Settled { Still, Gone, Restless };

// Waits until the file that the name leads to has stood still for
// kSettleTime: the same file, size and last write time, or no file at all
// (Gone, with the reason) all that time.
Settled WaitUntilStill(PriceFileSystem& files, Waits& waits, std::string& reason) {
    std::optional<FileState> seen = files.LookUp(reason);
    nanoseconds since = files.SteadyClock();
    for (;;) {
        const nanoseconds still = files.SteadyClock() - since;
        if (still >= kSettleTime)
            return seen ? Settled::Still : Settled::Gone;
        if (!waits.Pause(LoadWait::Settling, kSettleTime - still))
            return Settled::Restless;
        std::string why;
        std::optional<FileState> now = files.LookUp(why);
        if (now != seen) {
            seen = now;
            reason = why;
            since = files.SteadyClock();
        }
    }
}

// Whether a read that began at `began` (by the wall clock and the steady one)
// can count: the file was last written at least kSettleTime before it, or it
// is still as opened kSettleTime after the read began. A last write time
// ahead of the clock counts as recent.
bool StoodStill(PriceFileSystem& files, const PriceSource& source, Waits& waits,
                std::int64_t wallBegan, nanoseconds began) {
    if (wallBegan - source.State().written >= nanoseconds(kSettleTime).count())
        return true;
    for (;;) {
        if (!source.Unchanged())
            return false;
        const nanoseconds since = files.SteadyClock() - began;
        if (since >= kSettleTime)
            return true;
        if (!waits.Pause(LoadWait::Checking, kSettleTime - since))
            return false;
    }
}

LoadResult OpenFailed(std::string reason) {
    LoadResult result;
    result.openFailed = true;
    result.reason = std::move(reason);
    return result;
}

} // namespace

LoadResult LoadPriceFile(PriceFileSystem& files, PriceTable& table, const LineProgress& progress,
                         const LoadOptions& options) {
    LoadOptions readOptions = options;
    Waits waits(files, options.waiting);
    for (int read = 1;; ++read) {
        std::string reason;
        const std::unique_ptr<PriceSource> source = files.Open(reason);
        if (!source)
            return OpenFailed(reason);
        if (read > 1 && options.startOver)
            readOptions.progressBudget = options.startOver(source->Size());
        const std::int64_t wallBegan = files.WallClock();
        const nanoseconds began = files.SteadyClock();
        LoadResult result = LoadPriceFile(*source, table, progress, readOptions);
        if (result.ok && !StoodStill(files, *source, waits, wallBegan, began))
            DiscardChangedRead(result, table);
        if (!result.changed || read == kLoadTries)
            return result;
        switch (WaitUntilStill(files, waits, reason)) {
        case Settled::Still:
            break;
        case Settled::Gone:
            return OpenFailed(reason);
        case Settled::Restless:
            return result;
        }
    }
}

std::optional<FileState> SystemPriceFiles::LookUp(std::string& reason) {
    return LookUpFile(kPriceFileName, reason);
}

std::int64_t SystemPriceFiles::WallClock() {
    return WallClockNow();
}

nanoseconds SystemPriceFiles::SteadyClock() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

void SystemPriceFiles::Sleep(nanoseconds time) {
    std::this_thread::sleep_for(time);
}

} // namespace pricelookup
