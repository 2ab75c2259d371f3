#include "line_reader.h"

#include "byte_scan.h"

#include <string>
#include <utility>

namespace pricelookup {

std::string TooManyRowsReason(std::uint64_t maxRows) {
    return "The file has more than " + std::to_string(maxRows) +
           " lines, more than the lists can show";
}

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
    lineBytes_ += length;
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

} // namespace pricelookup
