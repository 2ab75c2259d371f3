#include "part_code_finder.h"

#include "parallel.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <system_error>

namespace pricelookup {

namespace {

constexpr std::uint32_t kNoKey = UINT32_MAX;
constexpr std::size_t kGroups = 65536;
// Up to this many rows the finder sorts them into their groups: a few KB
// of codes then cost microseconds, not the tables of all 65536 groups.
constexpr std::size_t kFewRows = 4096;

// The head of a folded code: its first two bytes as a group number (kNoKey
// when the folded code is shorter), the next four packed into one word
// (missing bytes are zero), and its first byte (-1 when empty).
struct Head {
    std::uint32_t group = kNoKey;
    std::uint32_t next = 0;
    int first = -1;
};

// The four bytes after the group, packed so that a mask can keep the first n.
std::uint32_t PackNext(const unsigned char* bytes, std::size_t have) {
    std::uint32_t next = 0;
    for (std::size_t i = 0; i < 4 && 2 + i < have; ++i)
        next |= std::uint32_t{bytes[2 + i]} << (8 * i);
    return next;
}

std::uint32_t NextMask(std::size_t have) {
    return have >= 6 ? UINT32_MAX : have <= 2 ? 0 : (std::uint32_t{1} << (8 * (have - 2))) - 1;
}

// The head of a code whose first six bytes are ASCII, from one load of eight
// bytes, folded all at once; false when a byte above 127 is among them. The
// eight bytes must be readable, as they are for codes in the table, where
// each code has at least the lengths and prices of its row after it.
[[gnu::always_inline]] inline bool AsciiHeadOf(std::string_view code, Head& head) {
    if constexpr (std::endian::native != std::endian::little)
        return false;
    std::uint64_t w;
    std::memcpy(&w, code.data(), sizeof w);
    const std::size_t n = std::min<std::size_t>(code.size(), 6);
    w &= n == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * n);
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    if (w & kHigh)
        return false;
    // Bit 7 of each byte: set from 'A' on, and from past 'Z' on; no carry
    // crosses a byte below 128.
    const std::uint64_t fromA = w + 0x3F3F3F3F3F3F3F3F;
    const std::uint64_t pastZ = w + 0x2525252525252525;
    w |= (fromA & ~pastZ & kHigh) >> 2;
    head.first = n > 0 ? static_cast<int>(w & 0xFF) : -1;
    head.group = n >= 2 ? static_cast<std::uint32_t>((w & 0xFF) << 8 | (w >> 8 & 0xFF)) : kNoKey;
    head.next = static_cast<std::uint32_t>(w >> 16);
    return true;
}

// `decoded` is set when the head took a byte above 127, whose character
// depends on the encoding.
[[gnu::noinline]] Head DecodedHeadOf(std::string_view code, TextEncoding encoding, CaseFoldFn fold,
                                     bool& decoded) {
    Head head;
    unsigned char bytes[6];
    std::size_t have = 0;
    FoldedBytes folded(code, encoding, fold);
    while (have < 6 && !folded.Done())
        bytes[have++] = folded.Next();
    decoded = decoded || folded.Decoded();
    head.first = have > 0 ? bytes[0] : -1;
    if (have >= 2)
        head.group = std::uint32_t{bytes[0]} << 8 | bytes[1];
    head.next = PackNext(bytes, have);
    return head;
}

// With `padded`, eight bytes from the code's start are readable, whatever its
// length. Inlined: a head handed back through memory cost a stalled load.
[[gnu::always_inline]] inline Head HeadOf(std::string_view code, TextEncoding encoding,
                                          CaseFoldFn fold, bool& decoded, bool padded = false) {
    Head head;
    if (padded && AsciiHeadOf(code, head))
        return head;
    return DecodedHeadOf(code, encoding, fold, decoded);
}

} // namespace

PartCodeGroups::PartCodeGroups(TextEncoding assumed, CaseFoldFn fold)
    : assumed_(assumed), fold_(fold) {
    std::fill(std::begin(firstByByte_), std::end(firstByByte_), kNoKey);
}

void PartCodeGroups::Add(std::string_view code) {
    const Head head = HeadOf(code, assumed_, fold_, decoded_, true);
    if (head.first >= 0 && firstByByte_[head.first] == kNoKey)
        firstByByte_[head.first] = static_cast<std::uint32_t>(rows_);
    if (counts_.empty()) {
        // A short run keeps its rows' groups; a table of every group pays
        // only from some thousand rows on.
        if (rows_ < kListedRows) {
            listed_.push_back(head.group);
            ++rows_;
            return;
        }
        counts_.resize(kGroups);
        std::fill(counts_.data(), counts_.data() + kGroups, 0u);
        for (std::uint32_t group : listed_)
            if (group != kNoKey)
                ++counts_[group];
        listed_ = {};
    }
    if (head.group != kNoKey)
        ++counts_[head.group];
    ++rows_;
}

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                               unsigned threads)
    : table_(table), encoding_(encoding), fold_(fold) {
    // Uncounted runs, one per thread: Build counts them.
    const std::size_t rows = table.size();
    const std::size_t parts = rows < 65536 ? 1 : std::max(1u, threads);
    std::vector<PartCodeGroups> runs;
    for (std::size_t i = 0; i < parts; ++i) {
        runs.emplace_back(encoding, fold);
        runs.back().rows_ = rows * (i + 1) / parts - rows * i / parts;
        runs.back().counted_ = false;
    }
    Build(runs, threads, false);
}

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                               std::vector<PartCodeGroups>& runs, unsigned threads)
    : table_(table), encoding_(encoding), fold_(fold) {
    Build(runs, threads, true);
}

void PartCodeFinder::Build(std::vector<PartCodeGroups>& runs, unsigned threads, bool later) {
    firstRow_.assign(runs.size() + 1, 0);
    for (std::size_t i = 0; i < runs.size(); ++i)
        firstRow_[i + 1] = firstRow_[i] + runs[i].rows_;
    if (firstRow_.back() <= kFewRows) {
        BuildFew();
        return;
    }
    CountRuns(runs, firstRow_, threads);
    PositionRuns(runs, SizeGroups(runs));
    runs_ = std::move(runs);
    if (!later) {
        PlaceCountedRuns(threads);
        return;
    }
    // Nothing needs the rows in their groups before the first find, which
    // waits for them: they are placed on a thread of their own while the
    // window shows. Every allocation is made by now, so running out of memory
    // is still told during the load.
    try {
        placed_ = std::async(std::launch::async, [this] { PlaceCountedRuns(1); });
    } catch (const std::system_error&) {
        PlaceCountedRuns(threads);
    }
}

void PartCodeFinder::BuildFew() {
    few_ = true;
    std::fill(std::begin(firstByByte_), std::end(firstByByte_), kNone);
    struct Keyed {
        std::uint32_t group;
        Entry entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(table_.size());
    bool decoded = false;
    table_.ForEachPartCode(0, table_.size(), [&](std::size_t row, std::string_view code) {
        const Head head = HeadOf(code, encoding_, fold_, decoded, true);
        if (head.first >= 0 && firstByByte_[head.first] == kNone)
            firstByByte_[head.first] = static_cast<std::uint32_t>(row);
        if (head.group != kNoKey)
            keyed.push_back({head.group, {static_cast<std::uint32_t>(row), head.next}});
    });
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return a.group < b.group; });
    rows_.resize(keyed.size());
    fewGroups_.resize(keyed.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        rows_[i] = keyed[i].entry;
        fewGroups_[i] = keyed[i].group;
    }
}

PartCodeFinder::~PartCodeFinder() {
    stop_ = true;
    if (placed_.valid())
        placed_.wait();
}

void PartCodeFinder::CountRuns(std::vector<PartCodeGroups>& runs,
                               const std::vector<std::size_t>& firstRow, unsigned threads) {
    // A run counted in the other encoding counts again where that mattered.
    RunTasks(runs.size(), threads, [&](std::size_t i) {
        PartCodeGroups& run = runs[i];
        if (run.counted_ && (run.assumed_ == encoding_ || !run.decoded_))
            return;
        PartCodeGroups again(encoding_, fold_);
        table_.ForEachPartCode(firstRow[i], firstRow[i + 1],
                               [&](std::size_t, std::string_view code) { again.Add(code); });
        run = std::move(again);
    });

    std::fill(std::begin(firstByByte_), std::end(firstByByte_), kNone);
    for (std::size_t i = runs.size(); i-- > 0;)
        for (std::size_t b = 0; b < 256; ++b)
            if (runs[i].firstByByte_[b] != kNoKey)
                firstByByte_[b] = static_cast<std::uint32_t>(firstRow[i] + runs[i].firstByByte_[b]);
}

std::vector<std::size_t> PartCodeFinder::SizeGroups(const std::vector<PartCodeGroups>& runs) {
    // The runs are taken together into segments of about a million rows, or
    // one run each when they are larger; each segment groups its rows on its
    // own, after the segments before it. A run's rows then go to the few
    // megabytes of its segment rather than all over the finder, and a find
    // looks at its group in each segment in turn.
    std::vector<std::size_t> segmentOf(runs.size());
    segments_ = 0;
    for (std::size_t i = 0, rows = 0; i < runs.size(); ++i) {
        if (i == 0 || rows >= kSegmentRows) {
            ++segments_;
            rows = 0;
        }
        segmentOf[i] = segments_ - 1;
        rows += runs[i].rows_;
    }
    bucketStart_.resize(segments_ * (kGroups + 1));
    std::fill(bucketStart_.data(), bucketStart_.data() + bucketStart_.size(), 0u);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        std::uint32_t* rowsOf = bucketStart_.data() + segmentOf[i] * (kGroups + 1) + 1;
        if (!runs[i].counts_.empty()) {
            for (std::size_t g = 0; g < kGroups; ++g)
                rowsOf[g] += runs[i].counts_[g];
        } else {
            for (std::uint32_t group : runs[i].listed_)
                if (group != kNoKey)
                    ++rowsOf[group];
        }
    }
    std::uint32_t placed = 0;
    for (std::size_t s = 0; s < segments_; ++s) {
        std::uint32_t* start = bucketStart_.data() + s * (kGroups + 1);
        start[0] = placed;
        for (std::size_t g = 0; g < kGroups; ++g)
            start[g + 1] += start[g];
        placed = start[kGroups];
    }
    rows_.resize(placed);
    return segmentOf;
}

void PartCodeFinder::PlaceRun(std::size_t first, std::size_t last, std::uint32_t* fill) {
    bool decoded = false;
    table_.ForEachPartCode(first, last, [&](std::size_t row, std::string_view code) {
        const Head head = HeadOf(code, encoding_, fold_, decoded, true);
        if (head.group != kNoKey)
            rows_[fill[head.group]++] = {static_cast<std::uint32_t>(row), head.next};
    });
}

void PartCodeFinder::PositionRuns(std::vector<PartCodeGroups>& runs,
                                  const std::vector<std::size_t>& segmentOf) {
    // Within a group of a segment the runs follow each other, so rows keep
    // their order. A run's count of a group becomes where its rows of that
    // group go; the rows of a short run go there at once.
    PodBuffer<std::uint32_t> next;
    next.resize(kGroups);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i == 0 || segmentOf[i] != segmentOf[i - 1])
            std::memcpy(next.data(), bucketStart_.data() + segmentOf[i] * (kGroups + 1),
                        kGroups * sizeof(std::uint32_t));
        PartCodeGroups& run = runs[i];
        if (run.counts_.empty()) {
            PlaceRun(firstRow_[i], firstRow_[i + 1], next.data());
            continue;
        }
        for (std::size_t g = 0; g < kGroups; ++g) {
            const std::uint32_t n = run.counts_[g];
            run.counts_[g] = next[g];
            next[g] += n;
        }
    }
}

void PartCodeFinder::PlaceCountedRuns(unsigned threads) {
    // In slices, so that a finder let go of at once (the program ending
    // right after the load) stops without placing the rest.
    constexpr std::size_t kSlice = 65536;
    RunTasks(runs_.size(), threads, [&](std::size_t i) {
        if (runs_[i].counts_.empty())
            return;
        for (std::size_t first = firstRow_[i]; first < firstRow_[i + 1]; first += kSlice) {
            if (stop_.load(std::memory_order_relaxed))
                return;
            PlaceRun(first, std::min(first + kSlice, firstRow_[i + 1]), runs_[i].counts_.data());
        }
    });
}

bool PartCodeFinder::CodeStartsWith(std::size_t row, std::string_view prefix) const {
    FoldedBytes code(table_.Cell(row, PartCode, cell_), encoding_, fold_);
    for (char c : prefix)
        if (code.Done() || code.Next() != static_cast<unsigned char>(c))
            return false;
    return true;
}

std::optional<std::size_t> PartCodeFinder::Scan(std::string_view folded, std::size_t from) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(folded.data());
    const std::uint32_t key = std::uint32_t{bytes[0]} << 8 | bytes[1];
    // Most rows of a group differ from the text within its next four bytes,
    // which the group keeps beside each row: only the rest needs the table.
    const std::uint32_t mask = NextMask(folded.size());
    const std::uint32_t next = PackNext(bytes, folded.size());
    auto scan = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = std::max(from, begin); i < end; ++i) {
            if ((rows_[i].next & mask) == next && CodeStartsWith(rows_[i].row, folded)) {
                lastPosition_ = i;
                return true;
            }
        }
        return false;
    };
    if (few_) {
        const std::uint32_t* groups = fewGroups_.data();
        const auto [begin, end] = std::equal_range(groups, groups + fewGroups_.size(), key);
        if (scan(static_cast<std::size_t>(begin - groups), static_cast<std::size_t>(end - groups)))
            return rows_[*lastPosition_].row;
        lastPosition_.reset();
        return std::nullopt;
    }
    // Positions grow from segment to segment, so `from` skips whole segments.
    for (std::size_t s = 0; s < segments_; ++s) {
        const std::uint32_t* start = bucketStart_.data() + s * (kGroups + 1);
        if (scan(start[key], start[key + 1]))
            return rows_[*lastPosition_].row;
    }
    lastPosition_.reset();
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::Find(std::string_view text) const {
    if (placed_.valid())
        placed_.wait();
    folded_.clear();
    AppendFolded(text, TextEncoding::Utf8, fold_, folded_);
    if (folded_.empty())
        return table_.empty() ? std::nullopt : std::optional<std::size_t>(0);
    if (folded_.size() == 1) {
        std::uint32_t row = firstByByte_[static_cast<unsigned char>(folded_[0])];
        return row == kNone ? std::nullopt : std::optional<std::size_t>(row);
    }
    // Every row that matches the longer text also matches the shorter one, so
    // nothing above the last find's row can match now.
    std::size_t from = 0;
    if (haveLast_ && lastFolded_.size() >= 2 && folded_.starts_with(lastFolded_)) {
        if (!lastPosition_) {
            lastFolded_ = folded_;
            return std::nullopt;
        }
        from = *lastPosition_;
    }
    std::optional<std::size_t> found = Scan(folded_, from);
    lastFolded_ = folded_;
    haveLast_ = true;
    return found;
}

} // namespace pricelookup
