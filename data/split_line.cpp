#include "split_line.h"

#include "byte_scan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace pricelookup {

void StripTextDelim(std::string_view& field) {
    if (!field.empty() && field.front() == '"')
        field.remove_prefix(1);
    if (!field.empty() && field.back() == '"')
        field.remove_suffix(1);
}

namespace {

std::size_t FindComma(std::string_view s, std::size_t from) {
    if (from >= s.size())
        return s.size();
    // The price fields at the end of a line leave fewer than sixteen bytes to
    // look at, which FindByte would walk one at a time. When the line itself
    // is long enough, its last sixteen bytes are one load that stays inside
    // it; the bytes before `from` are masked off.
    const std::size_t left = s.size() - from;
    if (left < 16 && s.size() >= 16) {
        const unsigned mask = MatchMask16(s.data() + s.size() - 16, ',') & (0xFFFFu << (16 - left));
        return mask != 0 ? s.size() - 16 + static_cast<std::size_t>(std::countr_zero(mask))
                         : s.size();
    }
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
        if (s.size() >= 16) {
            const std::size_t last = s.size() - 16;
            for (std::size_t i = 0; i < 4; ++i) {
                const std::size_t at = std::min(16 * i, last);
                mask_ |= std::uint64_t{MatchMask16(s.data() + at, ',')} << at;
            }
            covered_ = std::min<std::size_t>(s.size(), 64);
        }
    }

    // The first comma at or after `from`, or the line's length.
    std::size_t Find(std::size_t from) const {
        if (from < covered_) {
            const std::uint64_t m = mask_ & (~std::uint64_t{0} << from);
            if (m != 0)
                return static_cast<std::size_t>(std::countr_zero(m));
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

void DoCommas(std::string_view line, std::string_view* fields, int count, std::string& scratch) {
    std::size_t pos = 0;
    scratch.clear();
    for (int i = 0; i < count; ++i)
        fields[i] = {};
    // An unquoted first field alone needs no comma mask: the part code of
    // every row is cut during the load.
    if (count == 1 && (line.empty() || line.front() != '"')) {
        fields[0] = line.substr(0, FindComma(line, 0));
        return;
    }
    const CommaFinder commas(line);
    // Fields after the last one asked for are never looked at: a line of
    // millions of commas costs no more than its first four fields.
    for (int i = 0; i < count; ++i) {
        std::string_view field;
        std::size_t end;
        bool escaped = false;
        std::size_t close = pos < line.size() && line[pos] == '"'
                                ? FindClosingQuote(line, pos, escaped)
                                : std::string_view::npos;
        if (close != std::string_view::npos) {
            field = line.substr(pos + 1, close - pos - 1);
            if (escaped)
                field = Unescape(field, line, scratch);
            end = close + 1;
        } else {
            end = commas.Find(pos);
            field = line.substr(pos, end - pos);
            if (!field.empty() && field.front() == '"')
                StripTextDelim(field);
        }
        fields[i] = field;
        if (end >= line.size())
            break;
        pos = end + 1;
    }
}

} // namespace pricelookup
