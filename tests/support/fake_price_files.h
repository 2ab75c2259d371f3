#pragma once

#include "price_file.h"
#include "price_table.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pricelookup::testing {

using namespace std::chrono_literals;

// The price file as writers change it over a made-up time, with the clocks
// that the load waits by: every wait and every read moves the clock, and
// nothing waits for real. What the name leads to is a list of versions, each
// from its time on; reads and waits from several threads at once are safe.
class FakePriceFiles final : public PriceFileSystem {
public:
    using Time = std::chrono::nanoseconds;

    struct Version {
        Time at{0};
        std::optional<std::string> bytes{}; // nothing: no file by the name
        // The file's index: a file renamed over the name is another file.
        std::uint64_t file = 1;
        // The last write time the system tells: `at` unless given.
        std::optional<Time> written{};
        // The system still tells the state of the version before: only what
        // reads find shows the change.
        bool silent = false;
        // Why reads of this version fail, when they do.
        std::string readError{};
    };

    // `readTime`: what the clock moves for each read of a block.
    explicit FakePriceFiles(std::vector<Version> versions, Time readTime = 10ms)
        : versions_(std::move(versions)), readTime_(readTime) {
        std::stable_sort(versions_.begin(), versions_.end(),
                         [](const Version& a, const Version& b) { return a.at < b.at; });
    }

    // A file of `bytes` last written long before the clock starts.
    static Version Old(std::string bytes) {
        return {.at = 0ns, .bytes = std::move(bytes), .written = -1h};
    }

    std::unique_ptr<PriceSource> Open(std::string& reason) override {
        const std::size_t at = Current(Now());
        if (!versions_[at].bytes) {
            reason = kMissing;
            return nullptr;
        }
        ++opened_;
        return std::make_unique<Source>(*this, versions_[at].file, Told(at));
    }
    std::optional<FileState> LookUp(std::string& reason) override {
        const std::size_t at = Current(Now());
        if (!versions_[at].bytes) {
            reason = kMissing;
            return std::nullopt;
        }
        return Told(at);
    }
    std::int64_t WallClock() override { return (kEpoch + Now()).count(); }
    std::chrono::nanoseconds SteadyClock() override { return Now(); }
    void Sleep(Time time) override { now_ += time.count(); }

    Time Now() const { return Time(now_.load()); }
    int Opened() const { return opened_; }

    static constexpr const char* kMissing = "No such file or directory";

private:
    // The wall clock's time at the made-up time 0.
    static constexpr Time kEpoch = 1'000'000h;

    class Source final : public PriceSource {
    public:
        Source(FakePriceFiles& files, std::uint64_t file, FileState opened)
            : files_(files), file_(file), opened_(opened) {}
        FileState State() const override { return opened_; }
        FileRead ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const override {
            const Time when(files_.now_.fetch_add(files_.readTime_.count()));
            const Version& version = files_.versions_[files_.LastOf(file_, when)];
            const std::string& bytes = *version.bytes;
            FileRead got;
            got.error = version.readError;
            if (got.error.empty() && offset < bytes.size()) {
                got.bytes = std::min<std::size_t>(size, bytes.size() - offset);
                std::memcpy(buffer, bytes.data() + offset, got.bytes);
            }
            return got;
        }
        bool Unchanged() const override {
            const std::size_t at = files_.Current(files_.Now());
            return files_.versions_[at].bytes && files_.Told(at) == opened_;
        }

    private:
        FakePriceFiles& files_;
        std::uint64_t file_;
        FileState opened_;
    };

    // The version the name leads to at `when`.
    std::size_t Current(Time when) const {
        std::size_t at = 0;
        while (at + 1 < versions_.size() && versions_[at + 1].at <= when)
            ++at;
        return at;
    }
    // The last version of `file` by `when`: what an open handle of it reads,
    // even once another file took the name.
    std::size_t LastOf(std::uint64_t file, Time when) const {
        std::size_t last = 0;
        for (std::size_t at = 0; at < versions_.size() && versions_[at].at <= when; ++at)
            if (versions_[at].file == file && versions_[at].bytes)
                last = at;
        return last;
    }
    // The state the system tells of a version.
    FileState Told(std::size_t at) const {
        while (at > 0 && versions_[at].silent)
            --at;
        const Version& v = versions_[at];
        return {.volume = 1,
                .index = v.file,
                .size = v.bytes ? v.bytes->size() : 0,
                .written = (kEpoch + v.written.value_or(v.at)).count()};
    }

    std::vector<Version> versions_;
    Time readTime_;
    std::atomic<std::int64_t> now_{0};
    std::atomic<int> opened_{0};
};

// Loads `bytes` as a price file that no one writes, in one read.
inline LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table,
                                 const LineProgress& progress, const LoadOptions& options = {}) {
    FakePriceFiles files({FakePriceFiles::Old(std::string(bytes))}, 0ns);
    std::string reason;
    const std::unique_ptr<PriceSource> source = files.Open(reason);
    return LoadPriceFile(*source, table, progress, options);
}

inline LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table,
                                 const LineProgress& progress, std::uint64_t maxRows) {
    LoadOptions options;
    options.maxRows = maxRows;
    return LoadPriceBytes(bytes, table, progress, options);
}

} // namespace pricelookup::testing
