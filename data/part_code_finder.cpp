#include "part_code_finder.h"

#include "byte_scan.h"
#include "parallel.h"
#include "portable.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace pricelookup {

namespace {

constexpr std::uint32_t kNoRow = UINT32_MAX;
// The head's size for a code of more than 16 folded bytes.
constexpr std::uint32_t kLong = 17;
// A head's 16 bytes in one value, first byte highest.
using HeadBits = UInt128;
// Up to this many shared bytes, the group and the next four bytes after them
// are within the head's 16; past it they are read from the code.
constexpr std::uint32_t kMaxSkip = 10;

constexpr std::uint64_t ByteSwap(std::uint64_t v) {
    v = (v & 0x00FF00FF00FF00FF) << 8 | (v >> 8 & 0x00FF00FF00FF00FF);
    v = (v & 0x0000FFFF0000FFFF) << 16 | (v >> 16 & 0x0000FFFF0000FFFF);
    return v << 32 | v >> 32;
}

std::uint64_t BigEndian(const unsigned char* bytes) {
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, bytes, sizeof v);
        return ByteSwap(v);
    }
    for (int i = 0; i < 8; ++i)
        v = v << 8 | bytes[i];
    return v;
}

// The n low bytes of a little-endian word (all when n >= 8). From a table:
// codes of every length follow each other, and a branch on the length
// guessed wrong for most of them.
constexpr auto kLowBytes = [] {
    std::array<std::uint64_t, 9> masks{};
    for (std::size_t n = 1; n <= 8; ++n)
        masks[n] = masks[n - 1] << 8 | 0xFF;
    return masks;
}();
std::uint64_t LowBytes(std::size_t n) {
    return kLowBytes[std::min<std::size_t>(n, 8)];
}

// Folds the ASCII letters of eight bytes that are all below 128: bit 7 of a
// byte is set from 'A' on, and from past 'Z' on, and no carry crosses bytes.
std::uint64_t FoldAscii(std::uint64_t w) {
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    const std::uint64_t fromA = w + 0x3F3F3F3F3F3F3F3F;
    const std::uint64_t pastZ = w + 0x2525252525252525;
    return w | (fromA & ~pastZ & kHigh) >> 2;
}

// The head of a code whose first 16 bytes are ASCII, from two loads; false
// when a byte above 127 is among them. 16 bytes from the code's start must
// be readable, as they are for codes in the table.
PRICELOOKUP_ALWAYS_INLINE bool AsciiHead(std::string_view code, FoldedHead& head) {
    if constexpr (std::endian::native != std::endian::little)
        return false;
    std::uint64_t w[2];
    std::memcpy(w, code.data(), sizeof w);
    const std::size_t n = std::min<std::size_t>(code.size(), 16);
    w[0] &= LowBytes(n);
    w[1] &= LowBytes(n > 8 ? n - 8 : 0);
    if ((w[0] | w[1]) & 0x8080808080808080)
        return false;
    head.high = ByteSwap(FoldAscii(w[0]));
    head.low = ByteSwap(FoldAscii(w[1]));
    head.size = code.size() > 16 ? kLong : static_cast<std::uint32_t>(code.size());
    return true;
}

// The head of a code with a byte above 127 among its first 16 (16 bytes
// from its start readable). Its ASCII letters are folded eight at a time,
// and its runs of ASCII bytes moved into the head whole; foldAt(at, left),
// for the `left` bytes of the code from `at`, gives the folded character
// there (an entry of the tables below, 0 to give up) and the bytes it
// takes, and moves the bytes after it along by the bytes of its fold. Byte
// by byte, an accented code took as long as the rest of its load.
// `decoded` is set when a byte above 127 was decoded.
template <typename FoldAt>
std::optional<FoldedHead> HeadWithHighBytes(std::string_view code, FoldAt&& foldAt, bool& decoded) {
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(code.size(), 16));
    const auto* bytes = reinterpret_cast<const unsigned char*>(code.data());
    std::uint64_t first = BigEndian(bytes) & ~LowBytes(8 - std::min(n, 8u));
    std::uint64_t second = BigEndian(bytes + 8) & ~LowBytes(n > 8 ? 16 - n : 8);
    // Left out of the fold, where they would carry into the byte before.
    // Two words, not an array: an array was stored, then read back whole
    // before the stores had landed.
    first = FoldAscii(first & ~(((first & kHigh) >> 7) * 0xFF));
    second = FoldAscii(second & ~(((second & kHigh) >> 7) * 0xFF));
    const HeadBits ascii = MakeUInt128(first, second);
    HeadBits head = 0;
    std::uint32_t have = 0; // bytes of the head placed, past 16 too
    std::uint32_t from = 0; // the code's first byte not yet placed
    auto placeAscii = [&](std::uint32_t to) {
        if (to <= from)
            return;
        if (have < 16)
            head |= (ascii << (8 * from) & ~HeadBits(0) << (128 - 8 * (to - from))) >> (8 * have);
        have += to - from;
    };
    for (unsigned above127 = HighBytes16(code.data()) & ((1u << n) - 1); above127 != 0;
         above127 &= ~0u << from) {
        const auto at = static_cast<std::uint32_t>(std::countr_zero(above127));
        placeAscii(at);
        const auto [entry, used] = foldAt(bytes + at, code.size() - at);
        if (entry == 0)
            return std::nullopt;
        have += entry & 0xFF;
        const HeadBits folded = entry >> 8;
        if (have <= 16)
            head |= folded << (128 - 8 * have);
        else if (have - (entry & 0xFF) < 16)
            head |= folded >> (8 * (have - 16)); // its first bytes end the head
        from = at + static_cast<std::uint32_t>(used);
        decoded = true;
    }
    placeAscii(n);
    return FoldedHead{HighWord(head), static_cast<std::uint64_t>(head),
                      code.size() > 16 ? kLong : std::min(have, kLong)};
}

FoldedHead HeadOfBytes(const unsigned char* bytes, std::size_t size) {
    unsigned char padded[16] = {};
    std::memcpy(padded, bytes, std::min<std::size_t>(size, 16));
    return {BigEndian(padded), BigEndian(padded + 8),
            static_cast<std::uint32_t>(std::min<std::size_t>(size, kLong))};
}

// `decoded` is set when a byte above 127 was decoded.
PRICELOOKUP_NOINLINE FoldedHead DecodedHead(std::string_view code, TextEncoding encoding,
                                            CaseFoldFn fold, bool& decoded) {
    unsigned char bytes[kLong];
    std::size_t have = 0;
    FoldedBytes folded(code, encoding, fold);
    while (have < kLong && !folded.Done())
        bytes[have++] = folded.Next();
    decoded = decoded || folded.Decoded();
    return HeadOfBytes(bytes, have);
}

bool ValidUtf8(std::string_view text) {
    Utf8Validator validator;
    validator.Feed(text.data(), text.size());
    return validator.Valid();
}

// Orders two heads by their 16 bytes, then by size: a code that another
// begins with comes first. 0 for equal codes, or long codes that agree on 16
// bytes.
int Compare(const FoldedHead& a, const FoldedHead& b) {
    if (a.high != b.high)
        return a.high < b.high ? -1 : 1;
    if (a.low != b.low)
        return a.low < b.low ? -1 : 1;
    if (a.size != b.size)
        return a.size < b.size ? -1 : 1;
    return 0;
}

// How many leading bytes two heads share, at most 16.
std::uint32_t SharedBytes(const FoldedHead& a, const FoldedHead& b) {
    std::uint32_t n = 16;
    if (a.high != b.high)
        n = static_cast<std::uint32_t>(std::countl_zero(a.high ^ b.high)) / 8;
    else if (a.low != b.low)
        n = 8 + static_cast<std::uint32_t>(std::countl_zero(a.low ^ b.low)) / 8;
    return std::min({n, a.size, b.size, 16u});
}

unsigned ByteAt(const FoldedHead& head, std::uint32_t i) {
    const std::uint64_t word = i < 8 ? head.high : head.low;
    return static_cast<unsigned>(word >> (56 - 8 * (i % 8)) & 0xFF);
}

// Whether the code of `head` begins with the (at most 16) bytes of `text`.
bool HeadStartsWith(const FoldedHead& head, const FoldedHead& text) {
    const std::uint32_t n = std::min(text.size, 16u);
    if (head.size < n)
        return false;
    const std::uint64_t highMask = ~LowBytes(8 - std::min(n, 8u));
    const std::uint64_t lowMask = ~LowBytes(8 - (n > 8 ? n - 8 : 0));
    return ((head.high ^ text.high) & highMask) == 0 && ((head.low ^ text.low) & lowMask) == 0;
}

} // namespace

PodBuffer<FoldedHead> HeadsRoom::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.empty())
        return {};
    PodBuffer<FoldedHead> heads = std::move(spare_.back());
    spare_.pop_back();
    return heads;
}

void HeadsRoom::Give(PodBuffer<FoldedHead> heads) {
    heads.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    spare_.push_back(std::move(heads));
}

PartCodeGroups::PartCodeGroups(TextEncoding assumed, CaseFoldFn fold, HeadsRoom* room)
    : assumed_(assumed), fold_(fold), room_(room) {
    std::fill(std::begin(firstByByte_), std::end(firstByByte_), kNoRow);
}

FoldedHead PartCodeGroups::DecodedHeadOf(std::string_view code) {
    // Bytes that are not UTF-8 make the whole file Windows-1252.
    if (assumed_ == TextEncoding::Utf8 && !decoded_ && !ValidUtf8(code))
        assumed_ = TextEncoding::Windows1252;
    bool decoded = false;
    std::optional<FoldedHead> head;
    if (assumed_ == TextEncoding::Windows1252)
        head = HeadWithHighBytes(
            code,
            [this](const unsigned char* at, std::size_t) {
                return std::pair{Folded1252(*at), std::size_t{1}};
            },
            decoded);
    else
        head = HeadWithHighBytes(
            code,
            [this](const unsigned char* at, std::size_t left) {
                return std::pair{FoldedUtf8Pair(at, left), std::size_t{2}};
            },
            decoded);
    if (head) {
        decoded_ = decoded_ || decoded;
        return *head;
    }
    // A character of three or four bytes, or bytes that are not UTF-8.
    return DecodedHead(code, assumed_, fold_, decoded_);
}

// Folded characters come from tables, made as a run first needs them: a
// price list with accented codes would otherwise decode and fold each one by
// a call. An entry is the folded UTF-8 bytes (up to three, first highest)
// over their count in the low eight bits; 0 when it is not known yet, or the
// character is left to the slow road.
std::uint32_t PartCodeGroups::FoldedEntry(char32_t c) const {
    char bytes[4];
    const std::size_t n = EncodeUtf8(fold_(c), bytes);
    if (n > 3)
        return 0;
    std::uint32_t entry = 0;
    for (std::size_t k = 0; k < n; ++k)
        entry = entry << 8 | static_cast<unsigned char>(bytes[k]);
    return entry << 8 | static_cast<std::uint32_t>(n);
}

std::uint32_t PartCodeGroups::Folded1252(unsigned char byte) {
    if (folded1252_.empty()) {
        folded1252_.resize(128);
        for (unsigned b = 128; b < 256; ++b)
            folded1252_[b - 128] = FoldedEntry(Windows1252ToUnicode(static_cast<unsigned char>(b)));
    }
    return folded1252_[byte - 128];
}

std::uint32_t PartCodeGroups::FoldedUtf8Pair(const unsigned char* at, std::size_t left) {
    // Characters of two bytes (U+0080 to U+07FF: the accented Latin letters,
    // Greek, Cyrillic, Hebrew, Arabic) only.
    if (left < 2 || at[0] < 0xC2 || at[0] > 0xDF || (at[1] & 0xC0) != 0x80)
        return 0;
    const auto c = static_cast<char32_t>((at[0] & 0x1F) << 6 | (at[1] & 0x3F));
    if (foldedUtf8_.empty())
        foldedUtf8_.resize(0x800 - 0x80);
    std::uint32_t& entry = foldedUtf8_[c - 0x80];
    if (entry == 0)
        entry = FoldedEntry(c);
    return entry;
}

bool PartCodeGroups::LongCodeFollowsLast(std::string_view code) {
    FoldedBytes before(lastLong_, assumed_, fold_);
    FoldedBytes now(code, assumed_, fold_);
    bool ordered = true;
    while (!before.Done()) {
        if (now.Done()) {
            ordered = false;
            break;
        }
        const unsigned char a = before.Next();
        const unsigned char b = now.Next();
        if (a != b) {
            ordered = a < b;
            break;
        }
    }
    decoded_ = decoded_ || before.Decoded() || now.Decoded();
    return ordered;
}

// Inlined in both: in a loop over many rows, the run's state stays at hand.
PRICELOOKUP_ALWAYS_INLINE void PartCodeGroups::AddCode(std::string_view code) {
    // Every code of most price lists is ASCII, and follows the one before.
    FoldedHead head;
    if (!AsciiHead(code, head))
        head = DecodedHeadOf(code);
    bool follows = ordered_ == rows_;
    if (follows && rows_ > 0) {
        const int order = Compare(last_, head);
        follows = order < 0 || (order == 0 && (head.size < kLong || LongCodeFollowsLast(code)));
    }
    if (follows) {
        last_ = head;
        if (head.size == kLong)
            lastLong_.assign(code);
        ++ordered_;
    } else {
        if (heads_.capacity() == 0 && room_)
            heads_ = room_->Take();
        if (heads_.empty() && expected_ > rows_)
            heads_.reserve(expected_ - rows_);
        heads_.push_back(head);
    }
    ++rows_;
}

void PartCodeGroups::Add(std::string_view code) {
    AddCode(code);
}

void PartCodeGroups::Add(std::span<const std::string_view> codes) {
    for (const std::string_view code : codes)
        AddCode(code);
}

void PartCodeGroups::Finish(const PriceTable& table, std::size_t firstRow) {
    HeadsRoom* const room = std::exchange(room_, nullptr);
    if (!groupStart_.empty())
        return;
    if (heads_.size() < kGroupedFrom) {
        // A short tail keeps its heads: only the room they fill.
        heads_.shrink_to_fit();
        return;
    }
    ChooseSharedHead();
    Group(table, firstRow);
    if (room)
        room->Give(std::move(heads_));
    heads_ = PodBuffer<FoldedHead>();
}

void PartCodeGroups::ChooseSharedHead() {
    // The longest head that all but a few codes begin with, judged against a
    // code from the start, the middle and the end of the tail, on a sample of
    // its rows: codes that all begin alike would otherwise fall into one
    // group. The rows that begin otherwise are found exactly when grouped.
    const std::size_t n = heads_.size();
    const std::size_t step = std::max<std::size_t>(1, n / 4096);
    const std::size_t sampled = (n + step - 1) / step;
    const std::size_t fewest = sampled - sampled / 32;
    for (const std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
        const FoldedHead& candidate = heads_[at];
        std::size_t sharing[17] = {};
        for (std::size_t i = 0; i < n; i += step)
            ++sharing[SharedBytes(heads_[i], candidate)];
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

PartCodeGroups::Place PartCodeGroups::PlaceOf(const FoldedHead& head) const {
    // The head's bytes from skip_ on, at the top of a word (skip_ <= kMaxSkip).
    const std::uint32_t bits = 8 * skip_;
    const std::uint64_t from = skip_ == 0  ? head.high
                               : skip_ < 8 ? head.high << bits | head.low >> (64 - bits)
                                           : head.low << (bits - 64);
    const std::uint32_t after = head.size > skip_ ? head.size - skip_ : 0;
    // The next four bytes, first byte lowest, so that a mask keeps the first n.
    const auto nextBigEndian = static_cast<std::uint32_t>(from >> 16);
    const std::uint32_t next = (nextBigEndian >> 24) | (nextBigEndian >> 8 & 0xFF00) |
                               (nextBigEndian << 8 & 0xFF0000) | (nextBigEndian << 24);
    return Place{next} | (from >> 48) << 32 | (from >> 56) << 48 | (after < 2 ? kNoGroup : 0) |
           (after < 1 ? kNoFirstByte : 0);
}

PartCodeGroups::Place PartCodeGroups::PlaceOfCode(std::string_view code) const {
    // Past the head's 16 bytes: from the code itself.
    unsigned char bytes[6] = {};
    std::uint32_t have = 0;
    FoldedBytes folded(code, assumed_, fold_);
    for (std::uint32_t i = 0; i < skip_ && !folded.Done(); ++i)
        folded.Next();
    while (have < 6 && !folded.Done())
        bytes[have++] = folded.Next();
    Place place = std::uint64_t{bytes[0]} << 48 | std::uint64_t{bytes[0]} << 40 |
                  std::uint64_t{bytes[1]} << 32 | (have < 2 ? kNoGroup : 0) |
                  (have < 1 ? kNoFirstByte : 0);
    for (std::uint32_t i = 2; i < 6; ++i)
        place |= std::uint64_t{bytes[i]} << (8 * (i - 2));
    return place;
}

void PartCodeGroups::Group(const PriceTable& table, std::size_t firstRow) {
    const std::size_t n = heads_.size();
    // Each row's place is written over the heads already read (a place is a
    // third of a head), so that the tail's rows cost no more memory here than
    // while they loaded. Rows kept apart take their head with them first.
    static_assert(sizeof(Place) <= sizeof(FoldedHead));
    auto* places = reinterpret_cast<unsigned char*>(heads_.data());
    groupStart_.resize(kGroups + 1);
    std::fill(groupStart_.data(), groupStart_.data() + groupStart_.size(), 0u);
    std::string scratch;
    for (std::size_t i = 0; i < n; ++i) {
        FoldedHead head;
        std::memcpy(&head, places + i * sizeof(FoldedHead), sizeof head);
        const auto row = static_cast<std::uint32_t>(ordered_ + i);
        Place place = kApart;
        if (SharedBytes(head, shared_) < skip_)
            apart_.push_back({row, head});
        else
            place = skip_ <= kMaxSkip ? PlaceOf(head)
                                      : PlaceOfCode(table.Cell(firstRow + row, PartCode, scratch));
        std::memcpy(places + i * sizeof place, &place, sizeof place);
        if (!(place & (kApart | kNoGroup)))
            ++groupStart_[(place >> 32 & 0xFFFF) + 1];
    }
    for (std::size_t g = 0; g < kGroups; ++g)
        groupStart_[g + 1] += groupStart_[g];
    entries_.resize(groupStart_[kGroups]);
    // Each group's start serves as where its next row goes; once every row
    // is in, it is where the next group starts, and moves up by one.
    firstShared_ = kNoRow;
    for (std::size_t i = 0; i < n; ++i) {
        Place place;
        std::memcpy(&place, places + i * sizeof place, sizeof place);
        if (place & kApart)
            continue;
        const auto row = static_cast<std::uint32_t>(ordered_ + i);
        if (firstShared_ == kNoRow)
            firstShared_ = row;
        const auto firstByte = static_cast<std::size_t>(place >> 48 & 0xFF);
        if (!(place & kNoFirstByte) && firstByByte_[firstByte] == kNoRow)
            firstByByte_[firstByte] = row;
        if (!(place & kNoGroup))
            entries_[groupStart_[place >> 32 & 0xFFFF]++] = {row,
                                                             static_cast<std::uint32_t>(place)};
    }
    std::memmove(groupStart_.data() + 1, groupStart_.data(), kGroups * sizeof(std::uint32_t));
    groupStart_[0] = 0;
}

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                               unsigned threads)
    : table_(table), encoding_(encoding), fold_(fold) {
    const std::size_t rows = table.size();
    const std::size_t parts = rows < 65536 ? 1 : std::max(1u, threads);
    std::vector<PartCodeGroups> runs;
    for (std::size_t i = 0; i < parts; ++i)
        runs.emplace_back(encoding, fold);
    firstRow_.assign(parts + 1, 0);
    for (std::size_t i = 0; i <= parts; ++i)
        firstRow_[i] = rows * i / parts;
    RunTasks(parts, threads, [&](std::size_t i) {
        table_.ForEachPartCode(firstRow_[i], firstRow_[i + 1],
                               [&](std::size_t, std::string_view code) { runs[i].Add(code); });
        runs[i].Finish(table_, firstRow_[i]);
    });
    runs_ = std::move(runs);
}

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                               std::vector<PartCodeGroups>& runs, unsigned threads)
    : table_(table), encoding_(encoding), fold_(fold) {
    firstRow_.assign(runs.size() + 1, 0);
    for (std::size_t i = 0; i < runs.size(); ++i)
        firstRow_[i + 1] = firstRow_[i] + runs[i].rows_;
    Relearn(runs, threads);
    runs_ = std::move(runs);
}

void PartCodeFinder::Relearn(std::vector<PartCodeGroups>& runs, unsigned threads) {
    // A run that decoded its codes as UTF-8 in a file that is not learns
    // them again, in the file's encoding. Most loads have none.
    std::vector<std::size_t> stale;
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (runs[i].assumed_ != encoding_ && runs[i].decoded_)
            stale.push_back(i);
    if (stale.empty())
        return;
    RunTasks(stale.size(), threads, [&](std::size_t task) {
        const std::size_t i = stale[task];
        PartCodeGroups again(encoding_, fold_);
        table_.ForEachPartCode(firstRow_[i], firstRow_[i + 1],
                               [&](std::size_t, std::string_view code) { again.Add(code); });
        again.Finish(table_, firstRow_[i]);
        runs[i] = std::move(again);
    });
}

std::size_t PartCodeFinder::MemoryUsed() const {
    std::size_t bytes = 0;
    for (const PartCodeGroups& run : runs_)
        bytes += sizeof run + run.heads_.size() * sizeof(FoldedHead) +
                 run.groupStart_.size() * sizeof(std::uint32_t) +
                 run.entries_.size() * sizeof(PartCodeGroups::Entry) +
                 run.apart_.size() * sizeof(PartCodeGroups::Apart);
    return bytes;
}

std::string_view PartCodeFinder::Code(std::size_t row) const {
    return table_.Cell(row, PartCode, cell_);
}

bool PartCodeFinder::CodeBelowText(std::size_t row) const {
    FoldedBytes code(Code(row), encoding_, fold_);
    for (char c : folded_) {
        if (code.Done())
            return true;
        const unsigned char b = code.Next();
        if (b != static_cast<unsigned char>(c))
            return b < static_cast<unsigned char>(c);
    }
    return false;
}

bool PartCodeFinder::CodeStartsWithText(std::size_t row) const {
    FoldedBytes code(Code(row), encoding_, fold_);
    for (char c : folded_)
        if (code.Done() || code.Next() != static_cast<unsigned char>(c))
            return false;
    return true;
}

std::optional<std::size_t> PartCodeFinder::FindInOrdered(const PartCodeGroups& run,
                                                         std::size_t first) const {
    // The codes that begin with the text follow each other, after every code
    // below it.
    std::size_t low = 0;
    std::size_t high = run.ordered_;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (CodeBelowText(first + middle))
            low = middle + 1;
        else
            high = middle;
    }
    if (low < run.ordered_ && CodeStartsWithText(first + low))
        return first + low;
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::ScanTail(const PartCodeGroups& run,
                                                    std::size_t first) const {
    for (std::size_t i = 0; i < run.heads_.size(); ++i) {
        if (!HeadStartsWith(run.heads_[i], textHead_))
            continue;
        const std::size_t row = first + run.ordered_ + i;
        if (folded_.size() <= 16 || CodeStartsWithText(row))
            return row;
    }
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::FindInGroups(const PartCodeGroups& run,
                                                        std::size_t first) const {
    const auto* text = reinterpret_cast<const unsigned char*>(folded_.data());
    const std::size_t size = folded_.size();
    const std::uint32_t skip = run.skip_;
    // Every grouped code begins with the shared head.
    for (std::uint32_t i = 0; i < std::min<std::size_t>(size, skip); ++i)
        if (text[i] != ByteAt(run.shared_, i))
            return std::nullopt;
    std::uint32_t row = kNoRow;
    if (size <= skip) {
        row = run.firstShared_;
    } else if (size == skip + 1) {
        row = run.firstByByte_[text[skip]];
    } else {
        const std::uint32_t group = std::uint32_t{text[skip]} << 8 | text[skip + 1];
        std::uint32_t next = 0;
        const std::size_t have = std::min<std::size_t>(size - skip - 2, 4);
        for (std::size_t i = 0; i < have; ++i)
            next |= std::uint32_t{text[skip + 2 + i]} << (8 * i);
        const auto mask = static_cast<std::uint32_t>(LowBytes(have));
        // Most rows of a group differ from the text within the next four
        // bytes, which the group keeps beside each row: only the rest needs
        // the table.
        for (std::uint32_t i = run.groupStart_[group]; i < run.groupStart_[group + 1]; ++i) {
            const PartCodeGroups::Entry entry = run.entries_[i];
            if ((entry.next & mask) == next && CodeStartsWithText(first + entry.row)) {
                row = entry.row;
                break;
            }
        }
    }
    return row == kNoRow ? std::nullopt : std::optional<std::size_t>(first + row);
}

std::optional<std::size_t> PartCodeFinder::FindApart(const PartCodeGroups& run,
                                                     std::size_t first) const {
    for (const PartCodeGroups::Apart& apart : run.apart_)
        if (HeadStartsWith(apart.head, textHead_) &&
            (folded_.size() <= 16 || CodeStartsWithText(first + apart.row)))
            return first + apart.row;
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::FindInTail(const PartCodeGroups& run,
                                                      std::size_t first) const {
    if (run.groupStart_.empty())
        return ScanTail(run, first);
    const std::optional<std::size_t> grouped = FindInGroups(run, first);
    const std::optional<std::size_t> apart = FindApart(run, first);
    if (grouped && apart)
        return std::min(*grouped, *apart);
    return grouped ? grouped : apart;
}

std::optional<std::size_t> PartCodeFinder::Find(std::string_view text) const {
    folded_.clear();
    AppendFolded(text, TextEncoding::Utf8, fold_, folded_);
    if (folded_.empty())
        return table_.empty() ? std::nullopt : std::optional<std::size_t>(0);
    textHead_ = HeadOfBytes(reinterpret_cast<const unsigned char*>(folded_.data()), folded_.size());
    // The runs follow each other down the table: the first that has a match
    // has the first.
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        const PartCodeGroups& run = runs_[i];
        if (run.ordered_ > 0)
            if (auto row = FindInOrdered(run, firstRow_[i]))
                return row;
        if (run.rows_ > run.ordered_)
            if (auto row = FindInTail(run, firstRow_[i]))
                return row;
    }
    return std::nullopt;
}

} // namespace pricelookup
