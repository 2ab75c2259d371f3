#include "price_file.h"

#include "line_reader.h"
#include "load_in_parts.h"
#include "memory_need.h"
#include "part_code_finder.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace pricelookup {

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
    explicit FileSource(std::unique_ptr<ReadOnlyFile> file) : file_(std::move(file)) {}
    FileState State() const override { return file_->State(); }
    FileRead ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const override {
        return file_->ReadAt(offset, buffer, size);
    }
    bool Unchanged() const override { return file_->Unchanged(); }

private:
    std::unique_ptr<ReadOnlyFile> file_;
};

// Whether the file is read in parts: when it is large, and the progress count
// cannot refuse a line of it.
bool InParts(std::uint64_t size, const LineProgress& progress, const LoadOptions& options) {
    return size >= options.partsFrom && size > 0 && (!progress || size <= options.progressBudget);
}

// The one-pass read of a file of `size` bytes through `readAt`, block by
// block. Running out of memory empties the table and throws what the whole
// file would need, from what the read held.
LoadResult ReadInOnePass(std::uint64_t size, const ReadAtFn& readAt, PriceTable& table,
                         const LineProgress& progress, const LoadOptions& options) {
    LineReader reader(table, progress, options.maxRows);
    LoadResult result;
    try {
        table.ReserveForFile(size);
        PodBuffer<char> block;
        const std::size_t blockSize =
            static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlockSize, size + 1));
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
        if (result.ok && !reader.Finish())
            result.ok = false;
    } catch (const std::bad_alloc&) {
        LoadOutOfMemory outOfMemory;
        outOfMemory.need = MemoryNeedOfLoad(size, static_cast<double>(table.MemoryUsed()),
                                            static_cast<double>(reader.LineBytes()),
                                            static_cast<double>(table.size()));
        table = PriceTable();
        throw outOfMemory;
    }
    if (reader.TooManyRows()) {
        result.ok = false;
        result.reason = TooManyRowsReason(options.maxRows);
    }
    result.lines = reader.Lines();
    result.encoding = reader.ValidUtf8() ? TextEncoding::Utf8 : TextEncoding::Windows1252;
    table.ShrinkToFit();
    if (result.ok && options.fold)
        result.finder = std::make_unique<PartCodeFinder>(table, result.encoding, options.fold);
    return result;
}

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
LoadResult LoadPriceFile(const PriceSource& source, PriceTable& table, const LineProgress& progress,
                         const LoadOptions& options) {
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
        result = ReadInOnePass(size, readAt, table, progress, options);
    }
    if (changed.load() || !source.Unchanged())
        DiscardChangedRead(result, table);
    return result;
}

std::unique_ptr<PriceSource> SystemPriceFiles::Open(std::string& reason) {
    auto file = std::make_unique<ReadOnlyFile>(kPriceFileName);
    if (!file->IsOpen()) {
        reason = file->Error();
        return nullptr;
    }
    return std::make_unique<FileSource>(std::move(file));
}

} // namespace pricelookup
