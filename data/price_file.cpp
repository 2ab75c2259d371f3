#include "price_file.h"

#include "byte_scan.h"
#include "load_in_parts.h"
#include "part_code_finder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

namespace pricelookup {

LineReader::LineReader(PriceTable& table, LineProgress progress, std::uint64_t maxRows)
    : table_(table), progress_(std::move(progress)), maxRows_(maxRows) {}

bool LineReader::Line(std::string_view line) {
    if (lines_ >= maxRows_) {
        tooMany_ = true;
        return false;
    }
    const std::uint64_t length = line.size();
    if (lines_ == 0 && line.substr(0, 3) == "\xEF\xBB\xBF")
        line.remove_prefix(3);
    ++lines_;
    table_.AddLine(line);
    if (progress_)
        progress_(length);
    return true;
}

bool LineReader::Feed(const char* data, std::size_t size) {
    if (tooMany_)
        return false;
    utf8_.Feed(data, size);
    const char* p = data;
    const char* end = data + size;
    if (skipLineFeed_ && p < end) {
        if (*p == '\n')
            ++p;
        skipLineFeed_ = false;
    }
    while (p < end) {
        const char* cr = FindByte(p, end, '\r');
        if (cr == end) {
            pending_.append(p, static_cast<std::size_t>(end - p));
            break;
        }
        bool ok;
        if (pending_.empty()) {
            ok = Line(std::string_view(p, static_cast<std::size_t>(cr - p)));
        } else {
            pending_.append(p, static_cast<std::size_t>(cr - p));
            ok = Line(std::string_view(pending_.data(), pending_.size()));
            pending_.clear();
        }
        if (!ok)
            return false;
        p = cr + 1;
        if (p == end)
            skipLineFeed_ = true;
        else if (*p == '\n')
            ++p;
    }
    return true;
}

bool LineReader::Finish() {
    if (tooMany_ || pending_.empty())
        return !tooMany_;
    const bool ok = Line(std::string_view(pending_.data(), pending_.size()));
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

namespace {

// What a read that found the file changed gives as its error: the load stops
// at once, and then reads the file again.
const char kChangedWhileRead[] = "The file changed while it was read";

class FileSource final : public PriceSource {
public:
    explicit FileSource(const ReadOnlyFile& file) : file_(file) {}
    explicit FileSource(std::unique_ptr<ReadOnlyFile> owned)
        : owned_(std::move(owned)), file_(*owned_) {}
    FileState State() const override { return file_.State(); }
    FileRead ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const override {
        return file_.ReadAt(offset, buffer, size);
    }
    bool Unchanged() const override { return file_.Unchanged(); }

private:
    std::unique_ptr<ReadOnlyFile> owned_;
    const ReadOnlyFile& file_;
};

// Bytes in memory, read as a file that never changes.
class BytesSource final : public PriceSource {
public:
    explicit BytesSource(std::string_view bytes) : bytes_(bytes) {}
    FileState State() const override { return FileState{.size = bytes_.size()}; }
    FileRead ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const override {
        FileRead got;
        if (offset < bytes_.size()) {
            got.bytes = std::min<std::size_t>(size, bytes_.size() - offset);
            std::memcpy(buffer, bytes_.data() + offset, got.bytes);
        }
        return got;
    }
    bool Unchanged() const override { return true; }

private:
    std::string_view bytes_;
};

} // namespace

void DiscardChangedRead(LoadResult& result, PriceTable& table) {
    // The finder reads the table, and may still be placing its rows.
    result.finder.reset();
    table = PriceTable();
    result.ok = false;
    result.changed = true;
    result.lines = 0;
    result.reason = kChangedWhileRead;
}

// Each part of the read reads at its own offset and time, so a file that
// changed meanwhile would give a mix of old and new bytes: any sign of a
// change empties the table and says `changed`.
LoadResult ReadPriceSource(const PriceSource& source, PriceTable& table,
                           const LineProgress& progress, const LoadOptions& options) {
    const std::uint64_t size = source.Size();
    std::atomic<bool> changed{false};
    // A read that ends before the size seen at the open, or finds bytes past
    // it, saw the file cut or grown.
    const ReadAtFn readAt = [&](std::uint64_t offset, char* buffer, std::size_t n) {
        FileRead got = source.ReadAt(offset, buffer, n);
        const bool cut = got.bytes == 0 && n > 0 && offset < size;
        const bool grown = offset > size || got.bytes > size - offset;
        if (got.error.empty() && (cut || grown)) {
            changed = true;
            got.bytes = 0;
            got.error = kChangedWhileRead;
        }
        return got;
    };

    LoadResult result;
    if (InParts(size, progress, options)) {
        // The parts keep tables of their own, each sized from what its first
        // block holds: room the caller took ahead of the load is given back.
        if (table.empty())
            table = PriceTable();
        result = LoadInParts(size, readAt, table, progress, options);
    } else {
        table.ReserveForFile(size);
        LineReader reader(table, progress, options.maxRows);
        PodBuffer<char> block;
        const std::size_t blockSize =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size + 1));
        block.reserve(blockSize);
        result.ok = true;
        for (std::uint64_t offset = 0;;) {
            const FileRead read = readAt(offset, block.data(), blockSize);
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
    }
    if (changed.load() || !source.Unchanged())
        DiscardChangedRead(result, table);
    return result;
}

std::uint64_t ScaledMemoryNeed(std::uint64_t fileSize, double memoryUsed, double lineBytes,
                               double rows) {
    const double read = lineBytes + rows;
    return read > 0 ? static_cast<std::uint64_t>(memoryUsed * static_cast<double>(fileSize) / read)
                    : 0;
}

std::uint64_t MemoryNeedOfLoad(const std::bad_alloc& error, std::uint64_t fileSize,
                               const PriceTable& table, std::uint64_t lineBytes) {
    std::uint64_t need = PriceTable::ReservationForFile(fileSize);
    // When the table outgrew the room taken for it.
    need = std::max(need, ScaledMemoryNeed(fileSize, static_cast<double>(table.MemoryUsed()),
                                           static_cast<double>(lineBytes),
                                           static_cast<double>(table.size())));
    // A load in parts fills tables of its own, gone by now: it tells.
    if (const auto* parts = dynamic_cast<const LoadOutOfMemory*>(&error))
        need = std::max(need, parts->need);
    return need;
}

std::unique_ptr<PriceSource> SystemPriceFiles::Open(std::string& reason) {
    auto file = std::make_unique<ReadOnlyFile>(kPriceFileName);
    if (!file->IsOpen()) {
        reason = file->Error();
        return nullptr;
    }
    return std::make_unique<FileSource>(std::move(file));
}

LoadResult LoadPriceFile(const ReadOnlyFile& file, PriceTable& table, LineProgress progress,
                         const LoadOptions& options) {
    return ReadPriceSource(FileSource(file), table, progress, options);
}

LoadResult LoadPriceFile(const ReadOnlyFile& file, PriceTable& table, LineProgress progress,
                         std::uint64_t maxRows) {
    LoadOptions options;
    options.maxRows = maxRows;
    return LoadPriceFile(file, table, std::move(progress), options);
}

LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table, LineProgress progress,
                          const LoadOptions& options) {
    return ReadPriceSource(BytesSource(bytes), table, progress, options);
}

LoadResult LoadPriceBytes(std::string_view bytes, PriceTable& table, LineProgress progress,
                          std::uint64_t maxRows) {
    LoadOptions options;
    options.maxRows = maxRows;
    return LoadPriceBytes(bytes, table, std::move(progress), options);
}

} // namespace pricelookup
