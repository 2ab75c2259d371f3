#include "price_file.h"

#include "byte_scan.h"
#include "load_in_parts.h"
#include "part_code_finder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pricelookup {

void CountCommas(std::string_view tStr, std::uint64_t& tVal) {
    tVal += static_cast<std::uint64_t>(std::count(tStr.begin(), tStr.end(), ','));
}

void StripTextDelim(std::string_view& tmpStr) {
    if (!tmpStr.empty() && tmpStr.front() == '"')
        tmpStr.remove_prefix(1);
    if (!tmpStr.empty() && tmpStr.back() == '"')
        tmpStr.remove_suffix(1);
}

void StripTextDelim(std::string& tmpStr) {
    std::string_view v = tmpStr;
    StripTextDelim(v);
    tmpStr = std::string(v);
}

namespace {

std::size_t FindComma(std::string_view s, std::size_t from) {
    if (from >= s.size())
        return s.size();
#if defined(__SSE2__)
    // The price fields at the end of a line leave fewer than sixteen bytes to
    // look at, which FindByte would walk one at a time. When the line itself
    // is long enough, its last sixteen bytes are one load that stays inside
    // it; the bytes before `from` are masked off.
    const std::size_t left = s.size() - from;
    if (left < 16 && s.size() >= 16) {
        const __m128i block =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + s.size() - 16));
        auto mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(','))));
        mask &= 0xFFFFu << (16 - left);
        return mask != 0 ? s.size() - 16 + static_cast<std::size_t>(__builtin_ctz(mask)) : s.size();
    }
#endif
    return static_cast<std::size_t>(FindByte(s.data() + from, s.data() + s.size(), ',') - s.data());
}

// The commas of a line's first 64 bytes as one mask, found with four loads
// for the whole line instead of a scan per field, each ending in a
// mispredicted branch. The loads overlap on a short line so that none leaves
// it; a line under sixteen bytes, or a position past the mask, falls back to
// FindComma.
class CommaFinder {
public:
    explicit CommaFinder(std::string_view s) : s_(s) {
#if defined(__SSE2__)
        if (s.size() >= 16) {
            const __m128i comma = _mm_set1_epi8(',');
            const std::size_t last = s.size() - 16;
            for (std::size_t i = 0; i < 4; ++i) {
                const std::size_t at = std::min(16 * i, last);
                const __m128i block =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + at));
                const auto bits =
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, comma)));
                mask_ |= std::uint64_t{bits} << at;
            }
            covered_ = std::min<std::size_t>(s.size(), 64);
        }
#endif
    }

    // The first comma at or after `from`, or the line's length.
    std::size_t Find(std::size_t from) const {
        if (from < covered_) {
            const std::uint64_t m = mask_ & (~std::uint64_t{0} << from);
            if (m != 0)
                return static_cast<std::size_t>(__builtin_ctzll(m));
            if (covered_ == s_.size())
                return s_.size();
            from = covered_;
        }
        return FindComma(s_, from);
    }

private:
    std::string_view s_;
    std::uint64_t mask_ = 0;
    std::size_t covered_ = 0;
};

// For a field opening with a quote at `open`: the position of its closing
// quote, or npos. Pairs of quotes are skipped; a lone quote closes only at the
// end of the line or before a comma, and is otherwise an ordinary character.
std::size_t FindClosingQuote(std::string_view s, std::size_t open, bool& escaped) {
    std::size_t i = open + 1;
    while (i < s.size()) {
        const void* hit = std::memchr(s.data() + i, '"', s.size() - i);
        if (!hit)
            return std::string_view::npos;
        std::size_t q = static_cast<std::size_t>(static_cast<const char*>(hit) - s.data());
        if (q + 1 < s.size() && s[q + 1] == '"') {
            escaped = true;
            i = q + 2;
        } else if (q + 1 == s.size() || s[q + 1] == ',') {
            return q;
        } else {
            i = q + 1;
        }
    }
    return std::string_view::npos;
}

// Appends the unescaped field to `scratch` and returns a view of it. The table
// keeps the views of a line's fields until the row ends, so one line's fields
// share the buffer side by side: it is sized for the whole line before the
// first of them, and so never moves while the line is split.
std::string_view Unescape(std::string_view quoted, std::string_view line, std::string& scratch) {
    if (scratch.empty())
        scratch.reserve(line.size());
    const std::size_t start = scratch.size();
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        scratch.push_back(quoted[i]);
        if (quoted[i] == '"' && i + 1 < quoted.size() && quoted[i + 1] == '"')
            ++i;
    }
    return std::string_view(scratch).substr(start);
}

} // namespace

void DoCommas(std::string_view tStr, PriceTable& table, std::string& scratch) {
    std::size_t pos = 0;
    scratch.clear();
    const CommaFinder commas(tStr);
    // Fields after the fourth are dropped, so the scan ends with the fourth:
    // a line of millions of commas costs no more than its first four fields.
    for (int tCol = PartCode; tCol <= RetailPrice; ++tCol) {
        std::string_view field;
        std::size_t end;
        bool escaped = false;
        std::size_t close = pos < tStr.size() && tStr[pos] == '"'
                                ? FindClosingQuote(tStr, pos, escaped)
                                : std::string_view::npos;
        if (close != std::string_view::npos) {
            field = tStr.substr(pos + 1, close - pos - 1);
            if (escaped)
                field = Unescape(field, tStr, scratch);
            end = close + 1;
        } else {
            end = commas.Find(pos);
            field = tStr.substr(pos, end - pos);
            if (!field.empty() && field.front() == '"')
                StripTextDelim(field);
        }
        table.PopulateForm(field, tCol);
        if (end >= tStr.size())
            break;
        pos = end + 1;
    }
    table.EndRow();
}

void SplitStr(std::string_view tStr, PriceTable& table, std::string& scratch) {
    DoCommas(tStr, table, scratch);
}

LineReader::LineReader(PriceTable& table, LineProgress progress, std::uint64_t maxRows)
    : table_(table), progress_(std::move(progress)), maxRows_(maxRows) {}

void LineReader::ReadPart(bool atFileStart, std::uint64_t stopAt, std::uint64_t summedUpTo) {
    atFileStart_ = atFileStart;
    stopAt_ = stopAt;
    summedUpTo_ = summedUpTo;
    ended_ = stopAt == 0;
}

bool LineReader::Line(std::string_view line, std::uint64_t end) {
    if (lines_ >= maxRows_) {
        tooMany_ = true;
        return false;
    }
    std::uint64_t length = line.size();
    if (lines_ == 0 && atFileStart_ && line.substr(0, 3) == "\xEF\xBB\xBF")
        line.remove_prefix(3);
    ++lines_;
    SplitStr(line, table_, scratch_);
    if (groups_)
        groups_->Add(table_.LastPartCode());
    if (progress_)
        progress_(length);
    else if (end <= summedUpTo_)
        lineBytes_ += length;
    else
        late_.push_back(length);
    return true;
}

bool LineReader::Feed(const char* data, std::size_t size) {
    if (tooMany_ || ended_)
        return false;
    const std::uint64_t base = fed_;
    fed_ += size;
    const char* p = data;
    const char* end = data + size;
    // Ends the part at the line start p; only the bytes before it were the part's.
    auto endPart = [&] {
        utf8_.Feed(data, static_cast<std::size_t>(p - data));
        ended_ = true;
        return false;
    };
    if (skipLineFeed_ && p < end) {
        if (*p == '\n')
            ++p;
        skipLineFeed_ = false;
        if (StopsAt(base + static_cast<std::uint64_t>(p - data)))
            return endPart();
    }
    while (p < end) {
        const char* cr = FindByte(p, end, '\r');
        if (cr == end) {
            pending_.append(p, static_cast<std::size_t>(end - p));
            break;
        }
        const std::uint64_t lineEnd = base + static_cast<std::uint64_t>(cr - data);
        bool ok;
        if (pending_.empty()) {
            ok = Line(std::string_view(p, static_cast<std::size_t>(cr - p)), lineEnd);
        } else {
            pending_.append(p, static_cast<std::size_t>(cr - p));
            ok = Line(std::string_view(pending_.data(), pending_.size()), lineEnd);
            pending_.clear();
        }
        if (!ok)
            return false;
        p = cr + 1;
        if (p == end) {
            skipLineFeed_ = true;
        } else {
            if (*p == '\n')
                ++p;
            if (StopsAt(base + static_cast<std::uint64_t>(p - data)))
                return endPart();
        }
    }
    utf8_.Feed(data, size);
    return true;
}

bool LineReader::Finish() {
    if (tooMany_ || ended_ || pending_.empty())
        return !tooMany_;
    bool ok = Line(std::string_view(pending_.data(), pending_.size()), fed_);
    pending_.clear();
    return ok;
}

std::optional<std::string> PriceFilePath() {
#ifdef _WIN32
    constexpr char kSeparator = '\\';
#else
    constexpr char kSeparator = '/';
#endif
    std::optional<std::string> path = CurrentDirectoryName();
    if (!path)
        return std::nullopt;
    if (path->empty() || (path->back() != kSeparator && path->back() != '/'))
        *path += kSeparator;
    *path += kPriceFileName;
    return path;
}

namespace {

// Small enough that a block read by the kernel is still in the core's cache
// when the splitter walks it: 1 MiB blocks made the 10M-line load 15% slower.
constexpr std::size_t kBlockSize = 1 << 17;

LoadResult Finished(LineReader& reader, LoadResult result, std::uint64_t maxRows) {
    if (result.ok && !reader.Finish())
        result.ok = false;
    if (reader.TooManyRows()) {
        result.ok = false;
        result.reason = TooManyRowsReason(maxRows);
    }
    result.lines = reader.Lines();
    result.encoding = reader.ValidUtf8() ? TextEncoding::Utf8 : TextEncoding::Windows1252;
    return result;
}

// Whether the file is read in parts: when it is large, and the progress count
// cannot refuse a line of it.
bool InParts(std::uint64_t size, const LineProgress& progress, const LoadOptions& options) {
    return size >= options.partsFrom && size > 0 && (!progress || size <= options.progressBudget);
}

void BuildFinder(const PriceTable& table, LoadResult& result, const LoadOptions& options) {
    if (result.ok && options.fold)
        result.finder = std::make_unique<PartCodeFinder>(table, result.encoding, options.fold);
}

} // namespace

std::string TooManyRowsReason(std::uint64_t maxRows) {
    return "The file has more than " + std::to_string(maxRows) +
           " lines, more than the lists can show";
}

PriceFileStatus MeasurePriceFile() {
    PriceFileStatus status;
    const ReadOnlyFile file(kPriceFileName);
    status.ok = file.IsOpen();
    status.size = file.Size();
    status.reason = file.Error();
    return status;
}

LoadResult LoadPriceFile(PriceTable& table, LineProgress progress, const LoadOptions& options) {
    const ReadOnlyFile file(kPriceFileName);
    if (!file.IsOpen()) {
        LoadResult result;
        result.reason = file.Error();
        return result;
    }
    return LoadPriceFile(file, table, std::move(progress), options);
}

LoadResult LoadPriceFile(PriceTable& table, LineProgress progress, std::uint64_t maxRows) {
    LoadOptions options;
    options.maxRows = maxRows;
    return LoadPriceFile(table, std::move(progress), options);
}

LoadResult LoadPriceFile(const ReadOnlyFile& file, PriceTable& table, LineProgress progress,
                         const LoadOptions& options) {
    if (InParts(file.Size(), progress, options)) {
        // The parts keep tables of their own, each sized from what its first
        // block holds: room the caller took ahead of the load is given back.
        if (table.empty())
            table = PriceTable();
        const ReadAtFn readAt = [&file](std::uint64_t offset, char* buffer, std::size_t n) {
            return file.ReadAt(offset, buffer, n);
        };
        return LoadInParts(file.Size(), readAt, table, progress, options);
    }
    table.ReserveForFile(file.Size());
    LineReader reader(table, std::move(progress), options.maxRows);
    PodBuffer<char> block;
    block.reserve(kBlockSize);
    LoadResult result;
    result.ok = true;
    for (std::uint64_t offset = 0;;) {
        const FileRead read = file.ReadAt(offset, block.data(), kBlockSize);
        if (!read.error.empty()) {
            result.ok = false;
            result.reason = read.error;
            break;
        }
        offset += read.bytes;
        if (read.bytes == 0 || !reader.Feed(block.data(), read.bytes))
            break;
    }
    result = Finished(reader, std::move(result), options.maxRows);
    table.ShrinkToFit();
    BuildFinder(table, result, options);
    return result;
}

LoadResult LoadPriceFile(const ReadOnlyFile& file, PriceTable& table, LineProgress progress,
                         std::uint64_t maxRows) {
    LoadOptions options;
    options.maxRows = maxRows;
    return LoadPriceFile(file, table, std::move(progress), options);
}

LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table, LineProgress progress,
                          const LoadOptions& options) {
    if (InParts(bytes.size(), progress, options)) {
        const ReadAtFn readAt = [bytes](std::uint64_t offset, char* buffer, std::size_t n) {
            FileRead got;
            if (offset < bytes.size()) {
                got.bytes = std::min<std::size_t>(n, bytes.size() - offset);
                std::memcpy(buffer, bytes.data() + offset, got.bytes);
            }
            return got;
        };
        return LoadInParts(bytes.size(), readAt, table, progress, options);
    }
    LineReader reader(table, std::move(progress), options.maxRows);
    LoadResult result;
    result.ok = true;
    reader.Feed(bytes.data(), bytes.size());
    result = Finished(reader, std::move(result), options.maxRows);
    BuildFinder(table, result, options);
    return result;
}

LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table, LineProgress progress,
                          std::uint64_t maxRows) {
    LoadOptions options;
    options.maxRows = maxRows;
    return LoadPriceBytes(bytes, table, std::move(progress), options);
}

} // namespace pricelookup
