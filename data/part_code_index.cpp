#include "part_code_index.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

namespace pricelookup {

namespace {

// Up to this many shared bytes, the group and the next four bytes after them
// are within the key's 16; past it they are read from the code.
constexpr std::uint32_t kMaxSkip = 10;

// Where a row of the tail goes, packed in one word so that it fits over the
// row's key while the tail is grouped: the four bytes after its group, the
// group (the two bytes after the shared prefix, whose first is the byte right
// after the prefix), and flags for a code that ends before two more bytes or
// before one, and for a row kept apart.
class Place {
public:
    static constexpr unsigned kNextBits = 32;
    static constexpr unsigned kGroupShift = kNextBits;
    static constexpr unsigned kGroupBits = 16;
    static constexpr unsigned kFlagsShift = kGroupShift + kGroupBits;
    static constexpr std::uint64_t kGroupMask = (std::uint64_t{1} << kGroupBits) - 1;
    static constexpr std::uint64_t kNoGroup = std::uint64_t{1} << kFlagsShift;
    static constexpr std::uint64_t kNoFirstByte = std::uint64_t{1} << (kFlagsShift + 1);
    static constexpr std::uint64_t kApart = std::uint64_t{1} << (kFlagsShift + 2);

    Place() = default;
    static Place KeptApart() { return Place(kApart); }
    // `group`: the two bytes after the shared prefix, first byte high;
    // `next`: the four after them, first byte lowest; zero past the end of a
    // code of `after` bytes past the shared prefix.
    static Place Of(std::uint32_t group, std::uint32_t next, std::uint32_t after) {
        return Place(std::uint64_t{next} | std::uint64_t{group} << kGroupShift |
                     (after < 2 ? kNoGroup : 0) | (after < 1 ? kNoFirstByte : 0));
    }

    bool Apart() const { return (bits_ & kApart) != 0; }
    bool InGroup() const { return (bits_ & (kApart | kNoGroup)) == 0; }
    bool HasFirstByte() const { return (bits_ & kNoFirstByte) == 0; }
    std::uint32_t Group() const {
        return static_cast<std::uint32_t>(bits_ >> kGroupShift & kGroupMask);
    }
    unsigned FirstByte() const { return Group() >> 8; }
    std::uint32_t Next() const { return static_cast<std::uint32_t>(bits_); }

private:
    explicit Place(std::uint64_t bits) : bits_(bits) {}

    std::uint64_t bits_;
};

// The place of a code from its key, when skip <= kMaxSkip.
Place PlaceOf(const PrefixKey& key, std::uint32_t skip) {
    // The key's bytes from `skip` on, at the top of a word.
    const std::uint32_t bits = 8 * skip;
    const std::uint64_t from = skip == 0  ? key.high
                               : skip < 8 ? key.high << bits | key.low >> (64 - bits)
                                          : key.low << (bits - 64);
    const std::uint32_t after = key.size > skip ? key.size - skip : 0;
    // The next four bytes, first byte lowest, so that a mask keeps the first n.
    const auto nextBigEndian = static_cast<std::uint32_t>(from >> 16);
    const std::uint32_t next = (nextBigEndian >> 24) | (nextBigEndian >> 8 & 0xFF00) |
                               (nextBigEndian << 8 & 0xFF0000) | (nextBigEndian << 24);
    return Place::Of(static_cast<std::uint32_t>(from >> 48), next, after);
}

// The place of a code whose group lies past its key's 16 bytes: from the
// code itself.
Place PlaceOfCode(std::string_view code, std::uint32_t skip, const KeyFolder& folder) {
    unsigned char bytes[6] = {};
    std::uint32_t have = 0;
    FoldedBytes folded(code, folder.Encoding(), folder.Fold());
    for (std::uint32_t i = 0; i < skip && !folded.Done(); ++i)
        folded.Next();
    while (have < 6 && !folded.Done())
        bytes[have++] = folded.Next();
    std::uint32_t next = 0;
    for (std::uint32_t i = 2; i < 6; ++i)
        next |= std::uint32_t{bytes[i]} << (8 * (i - 2));
    return Place::Of(std::uint32_t{bytes[0]} << 8 | bytes[1], next, have);
}

// Each group's last row so far, from which the step to its next row is
// taken: from row 0 for its first.
class GroupSteps {
public:
    GroupSteps() : last_(65536, 0) {}
    std::uint32_t Take(std::uint32_t group, std::uint32_t row) {
        return row - std::exchange(last_[group], row);
    }

private:
    std::vector<std::uint32_t> last_;
};

} // namespace

PodBuffer<PrefixKey> KeyBufferPool::Acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.empty())
        return {};
    PodBuffer<PrefixKey> keys = std::move(spare_.back());
    spare_.pop_back();
    return keys;
}

void KeyBufferPool::Release(PodBuffer<PrefixKey> keys) {
    keys.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    spare_.push_back(std::move(keys));
}

PartCodeRun::PartCodeRun(TextEncoding assumed, CaseFoldFn fold, KeyBufferPool* pool)
    : folder_(assumed, fold), pool_(pool) {
    std::fill(std::begin(firstByByte_), std::end(firstByByte_), kNoRow);
}

// Inlined into both Adds: in a loop over many rows, the run's state stays in
// registers.
PRICELOOKUP_ALWAYS_INLINE void PartCodeRun::AddCode(std::string_view code) {
    PrefixKey key;
    folder_.KeyOf(code, key);
    // Most price lists have each code follow the one before.
    bool follows = ordered_ == rows_;
    if (follows && rows_ > 0) {
        const int order = Compare(last_, key);
        follows =
            order < 0 || (order == 0 && (key.size < kLongKey || folder_.InOrder(lastLong_, code)));
    }
    if (follows) {
        last_ = key;
        if (key.size == kLongKey)
            lastLong_.assign(code);
        ++ordered_;
    } else {
        if (keys_.capacity() == 0 && pool_)
            keys_ = pool_->Acquire();
        if (keys_.empty() && expected_ > rows_)
            keys_.reserve(expected_ - rows_);
        keys_.push_back(key);
    }
    ++rows_;
}

void PartCodeRun::Add(std::string_view code) {
    AddCode(code);
}

void PartCodeRun::Add(std::span<const std::string_view> codes) {
    for (const std::string_view code : codes)
        AddCode(code);
}

void PartCodeRun::Finish(const PriceTable& table, std::size_t firstRow) {
    KeyBufferPool* const pool = std::exchange(pool_, nullptr);
    if (!groupStart_.empty())
        return;
    if (keys_.size() < kGroupedFrom) {
        // A short tail keeps its keys: only the memory they fill.
        keys_.shrink_to_fit();
        return;
    }
    ChooseSharedPrefix();
    GroupTail(table, firstRow);
    if (pool)
        pool->Release(std::move(keys_));
    keys_ = PodBuffer<PrefixKey>();
}

void PartCodeRun::ChooseSharedPrefix() {
    // The longest prefix that all but a few codes begin with, judged against
    // a code from the start, the middle and the end of the tail, on a sample
    // of its rows: codes that all begin alike would otherwise fall into one
    // group. The rows that begin otherwise are found exactly when grouped.
    const std::size_t n = keys_.size();
    const std::size_t step = std::max<std::size_t>(1, n / 4096);
    const std::size_t sampled = (n + step - 1) / step;
    const std::size_t fewest = sampled - sampled / 32;
    for (const std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
        const PrefixKey& candidate = keys_[at];
        std::size_t sharing[17] = {};
        for (std::size_t i = 0; i < n; i += step)
            ++sharing[SharedBytes(keys_[i], candidate)];
        // Codes that share at least k bytes with the candidate, k from 16 down.
        std::size_t atLeast = 0;
        for (std::uint32_t k = 16; k > skip_; --k) {
            atLeast += sharing[k];
            if (atLeast >= fewest) {
                skip_ = k;
                shared_ = candidate;
                break;
            }
        }
    }
}

void PartCodeRun::GroupTail(const PriceTable& table, std::size_t firstRow) {
    // Of each group: how many entries it takes, then where it starts.
    std::vector<std::uint32_t> start(kGroups + 1, 0);
    PlaceTail(table, firstRow, start);
    for (std::size_t g = 0; g < kGroups; ++g)
        start[g + 1] += start[g];
    entries_.resize(start[kGroups]);
    FillGroups(start);
    // Each group's start served as where its next entry goes: it is now where
    // the group ends. Only the groups from the lowest to the highest with
    // entries are kept; the highest is the first to end where all end.
    std::uint32_t low = 0;
    while (low < kGroups && start[low] == 0)
        ++low;
    std::uint32_t groups = 0;
    if (low < kGroups) {
        std::uint32_t high = low;
        while (start[high] < start[kGroups])
            ++high;
        groups = high - low + 1;
    }
    lowGroup_ = low < kGroups ? low : 0;
    groupStart_.resize(groups + 1);
    groupStart_[0] = 0;
    for (std::uint32_t i = 0; i < groups; ++i)
        groupStart_[i + 1] = start[lowGroup_ + i];
}

void PartCodeRun::PlaceTail(const PriceTable& table, std::size_t firstRow,
                            std::vector<std::uint32_t>& entries) {
    // Each row's place is written over the keys already read, so that the
    // tail's rows cost no more memory here than while they loaded. Rows kept
    // apart take their key with them first.
    static_assert(sizeof(Place) <= sizeof(PrefixKey) && std::is_trivially_copyable_v<Place>);
    auto* places = reinterpret_cast<unsigned char*>(keys_.data());
    GroupSteps steps;
    std::string scratch;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        PrefixKey key;
        std::memcpy(&key, places + i * sizeof(PrefixKey), sizeof key);
        const auto row = static_cast<std::uint32_t>(ordered_ + i);
        Place place = Place::KeptApart();
        if (SharedBytes(key, shared_) < skip_)
            apart_.push_back({row, key});
        else
            place = skip_ <= kMaxSkip ? PlaceOf(key, skip_)
                                      : PlaceOfCode(table.Cell(firstRow + row, PartCode, scratch),
                                                    skip_, folder_);
        std::memcpy(places + i * sizeof place, &place, sizeof place);
        if (place.InGroup())
            entries[place.Group() + 1] += steps.Take(place.Group(), row) < TailEntry::kJump ? 1 : 2;
    }
}

void PartCodeRun::FillGroups(std::vector<std::uint32_t>& start) {
    const auto* places = reinterpret_cast<const unsigned char*>(keys_.data());
    GroupSteps steps;
    firstShared_ = kNoRow;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        Place place;
        std::memcpy(&place, places + i * sizeof place, sizeof place);
        if (place.Apart())
            continue;
        const auto row = static_cast<std::uint32_t>(ordered_ + i);
        if (firstShared_ == kNoRow)
            firstShared_ = row;
        if (place.HasFirstByte() && firstByByte_[place.FirstByte()] == kNoRow)
            firstByByte_[place.FirstByte()] = row;
        if (!place.InGroup())
            continue;
        std::uint32_t step = steps.Take(place.Group(), row);
        std::uint32_t& at = start[place.Group()];
        if (step >= TailEntry::kJump) {
            entries_[at++] = TailEntry::Of(TailEntry::kJump, step);
            step = 0;
        }
        entries_[at++] = TailEntry::Of(static_cast<std::uint16_t>(step), place.Next());
    }
}

std::size_t PartCodeRun::MemoryUsed() const {
    return sizeof *this + keys_.size() * sizeof(PrefixKey) +
           groupStart_.size() * sizeof(std::uint32_t) + entries_.size() * sizeof(TailEntry) +
           apart_.size() * sizeof(ApartRow);
}

} // namespace pricelookup
