#include "part_reader.h"

#include "byte_scan.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace pricelookup {

namespace {

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

// Reads one part of the file straight into its table: each block is read
// into the table's arena and its lines found where they lie, while the block
// is still in the cache. The part begins at a line start and ends at the first
// line start at or past its nominal end; the last part ends with the file.
class PartReader {
public:
    PartReader(Part& part, bool first, std::uint64_t size, const ReadAtFn& readAt,
               const LoadOptions& options)
        : part_(part), table_(part.table), first_(first), size_(size), readAt_(readAt),
          maxRows_(options.maxRows),
          arenaLimit_(std::min(options.arenaBytes, PriceTable::kMaxRowStart)) {}

    // Reads from `start`, the part's first line start. betweenBlocks() is
    // called after every block; it returns false to stop the read.
    template <typename Between> void Read(std::uint64_t start, Between&& betweenBlocks);

private:
    enum class Scan { More, Ended, Stop, NewArena };

    // Finds the lines of the text read and not yet looked at.
    Scan ScanText();
    Scan ScanLines();
    // The line from `begin` to `end` of the arena's `text` is the next row.
    bool AddRow(const char* text, std::size_t begin, std::size_t end);
    // Hands the finder the codes of the rows added since it was last told.
    void AddCodes();
    bool LineStartEndsPart(std::size_t lineStart);
    void ReserveRest(std::uint64_t start, std::uint64_t read);
    void Rebase(std::size_t offset);

    Part& part_;
    PriceTable& table_;
    const bool first_;
    const std::uint64_t size_;
    const ReadAtFn& readAt_;
    const std::uint64_t maxRows_;
    const std::size_t arenaLimit_; // no row starts past this in an arena
    std::uint64_t base_ = 0;       // where the arena's text starts in the file
    std::size_t lineStart_ = 0;    // in the text: where the line being read starts
    std::size_t scanned_ = 0;      // in the text: bytes looked at for line ends
    std::size_t validated_ = 0;    // in the text: bytes checked as UTF-8
    bool afterCr_ = false;         // the text ends with a CR; an LF after it is its own
    std::uint64_t lineBytes_ = 0;
    Utf8Validator utf8_;
    std::string scratch_;
    // The codes of the rows added, handed to the finder in one call: with a
    // call for every row, the reader's state and the finder's were written
    // back and read again around each one. Views of the arena's text, which
    // stays where it is while its lines are found.
    static constexpr std::size_t kCodesAtOnce = 256;
    std::string_view codes_[kCodesAtOnce];
    std::size_t pendingCodes_ = 0;
};

bool PartReader::LineStartEndsPart(std::size_t lineStart) {
    return part_.nominalEnd != UINT64_MAX && base_ + lineStart >= part_.nominalEnd;
}

bool PartReader::AddRow(const char* text, std::size_t begin, std::size_t end) {
    if (part_.lines >= maxRows_) {
        part_.tooMany = true;
        return false;
    }
    lineBytes_ += end - begin;
    // A UTF-8 byte-order mark at the file's start counts in the first line's
    // length, but is not part of its first field.
    if (first_ && part_.lines == 0 && end - begin >= 3 &&
        std::memcmp(text + begin, "\xEF\xBB\xBF", 3) == 0)
        begin += 3;
    table_.AddRowAt(begin);
    ++part_.lines;
    if (part_.run) {
        const std::string_view code = PriceTable::PartCodeOf({text + begin, end - begin}, scratch_);
        if (code.data() == scratch_.data()) {
            // A quoted code, unquoted in the scratch that the next one takes.
            AddCodes();
            part_.run->Add(code);
        } else {
            codes_[pendingCodes_++] = code;
            if (pendingCodes_ == kCodesAtOnce)
                AddCodes();
        }
    }
    return true;
}

void PartReader::AddCodes() {
    if (pendingCodes_ > 0)
        part_.run->Add({codes_, pendingCodes_});
    pendingCodes_ = 0;
}

PartReader::Scan PartReader::ScanText() {
    for (;;) {
        const Scan scan = ScanLines();
        // Before the text can move: a new arena, or more text read.
        AddCodes();
        if (scan != Scan::NewArena)
            return scan;
        // The next line would start past what a row's offset holds.
        Rebase(lineStart_);
    }
}

PartReader::Scan PartReader::ScanLines() {
    const std::string_view text = table_.LastText();
    const char* const data = text.data();
    const char* p = data + scanned_;
    const char* const end = data + text.size();
    // Where the next line starts: the part may end there.
    auto lineStartsAt = [&](const char* start) {
        lineStart_ = static_cast<std::size_t>(start - data);
        scanned_ = lineStart_;
        if (LineStartEndsPart(lineStart_))
            return Scan::Ended;
        return lineStart_ > arenaLimit_ ? Scan::NewArena : Scan::More;
    };
    if (afterCr_ && p < end) {
        if (*p == '\n')
            ++p;
        afterCr_ = false;
        if (const Scan scan = lineStartsAt(p); scan != Scan::More)
            return scan;
    }
    while (p < end) {
        const char* cr = FindByte(p, end, '\r');
        if (cr == end) {
            p = end;
            break;
        }
        if (!AddRow(data, lineStart_, static_cast<std::size_t>(cr - data)))
            return Scan::Stop;
        p = cr + 1;
        if (p == end) {
            // The next line starts here, or a byte on if an LF comes next.
            lineStart_ = static_cast<std::size_t>(p - data);
            afterCr_ = true;
            break;
        }
        if (*p == '\n')
            ++p;
        if (const Scan scan = lineStartsAt(p); scan != Scan::More)
            return scan;
    }
    scanned_ = static_cast<std::size_t>(p - data);
    return Scan::More;
}

// Moves the text from `offset` on, a line start, into a new arena.
void PartReader::Rebase(std::size_t offset) {
    if (offset > validated_)
        utf8_.Feed(table_.LastText().data() + validated_, offset - validated_);
    validated_ = std::max(validated_, offset);
    table_.MoveTextToNewArena(offset);
    base_ += offset;
    lineStart_ -= offset;
    scanned_ -= offset;
    validated_ -= std::min(validated_, offset);
}

// Room for the rest of the part at the rate of its first block (`read`
// bytes from `start`), backed with memory at once: a little more than the
// rate asks, as room left over is memory taken until the table gives it back,
// and a table that outgrows its room grows in place.
void PartReader::ReserveRest(std::uint64_t start, std::uint64_t read) {
    const std::uint64_t partEnd = part_.nominalEnd != UINT64_MAX ? part_.nominalEnd : size_;
    const std::uint64_t expected = std::max(partEnd, start + read) - start + 4096;
    const double scale = static_cast<double>(expected) / static_cast<double>(read);
    const auto rows =
        static_cast<std::size_t>(static_cast<double>(part_.lines) * scale * 1.01) + 64;
    const std::size_t text = table_.LastText().size();
    table_.Reserve(rows, static_cast<std::size_t>(expected > text ? expected - text : 0) + 4096,
                   true);
    if (part_.run)
        part_.run->ExpectRows(rows);
}

template <typename Between> void PartReader::Read(std::uint64_t start, Between&& betweenBlocks) {
    base_ = start;
    // Up to the nominal end (the last part: the size) in large blocks; past
    // it, where the last line ends (or that the file ends), in blocks that
    // start small: most lines end within a few bytes, and the room taken
    // for the part then holds them.
    const std::uint64_t bodyEnd = part_.nominalEnd != UINT64_MAX ? part_.nominalEnd : size_;
    std::size_t tailBlock = 256;
    std::uint64_t offset = start;
    bool reserved = false;
    for (;;) {
        std::size_t want = tailBlock;
        if (offset < bodyEnd)
            want =
                static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlockSize, bodyEnd - offset));
        else
            tailBlock = std::min(kReadBlockSize, tailBlock * 2);
        if (table_.LastText().size() + want > arenaLimit_ && lineStart_ > 0)
            Rebase(lineStart_);
        char* room = table_.TextRoom(want);
        FileRead got = readAt_(offset, room, want);
        if (!got.error.empty()) {
            part_.error = std::move(got.error);
            break;
        }
        Scan scan = Scan::More;
        if (got.bytes == 0) {
            // The end of the file: the last line, when it has no ending,
            // counts like the others.
            const std::size_t textEnd = table_.LastText().size();
            if (!afterCr_ && lineStart_ < textEnd &&
                !AddRow(table_.LastText().data(), lineStart_, textEnd))
                scan = Scan::Stop;
            AddCodes();
            lineStart_ = textEnd;
            scan = scan == Scan::Stop ? scan : Scan::Ended;
        } else {
            table_.KeepText(got.bytes);
            offset += got.bytes;
            scan = ScanText();
        }
        // The bytes past the part's end are the next part's.
        const std::size_t partText = scan == Scan::Ended ? lineStart_ : table_.LastText().size();
        table_.CutLastText(partText);
        if (partText > validated_)
            utf8_.Feed(table_.LastText().data() + validated_, partText - validated_);
        validated_ = partText;
        if (!reserved && part_.lines > 0 && offset > start) {
            ReserveRest(start, offset - start);
            reserved = true;
        }
        part_.lineBytes.store(lineBytes_, std::memory_order_relaxed);
        if (scan != Scan::More || !betweenBlocks())
            break;
    }
    part_.validUtf8 = utf8_.Valid();
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

} // namespace

void ReadPart(Part& part, bool first, std::uint64_t size, const ReadAtFn& readAt,
              const LoadOptions& options, std::atomic<std::uint64_t>& rowsSoFar,
              std::atomic<bool>& stop, const std::function<void()>& betweenBlocks) {
    const std::optional<std::uint64_t> start = PartStart(part, readAt, stop);
    if (!start) {
        // No line of its own: its run gives back its buffer to the pool all the same.
        if (part.run)
            part.run->Finish(part.table, 0);
        return;
    }
    std::uint64_t linesTold = 0;
    PartReader reader(part, first, size, readAt, options);
    reader.Read(*start, [&] {
        // The row limit holds for the whole file: every part counts into it.
        const std::uint64_t added = part.lines - linesTold;
        linesTold = part.lines;
        if (rowsSoFar.fetch_add(added, std::memory_order_relaxed) + added > options.maxRows) {
            part.tooMany = true;
            stop = true;
        }
        if (stop.load(std::memory_order_relaxed))
            return false;
        if (betweenBlocks)
            betweenBlocks();
        return true;
    });
    if (!part.error.empty() || part.tooMany)
        stop = true;
    rowsSoFar.fetch_add(part.lines - linesTold, std::memory_order_relaxed);
    part.table.ShrinkToFit();
    // Grouped here, while the part's rows are fresh: the finder is whole when
    // the load ends.
    if (part.run)
        part.run->Finish(part.table, 0);
}

} // namespace pricelookup
