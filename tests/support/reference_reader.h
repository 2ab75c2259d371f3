#pragma once

// The whole reading of a price file written the plain way, one character at a time and
// with no shortcuts, to hold the real loader against: lines by the line rule,
// fields by the quote rule, prices through ReadNumber, AmountTextForm and
// DoDecimals. Rows come out as table_text.h writes them.

#include "amount.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup::testing {

// A line ends at CR or CR LF; anything else, a lone LF too, belongs to it.
// After the last ending only a non-empty rest is a line.
inline std::vector<std::string> ReferenceLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            line += bytes[i];
            open = true;
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

// Every field of a line, the ones past the fourth too.
inline std::vector<std::string> ReferenceFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t pos = 0;
    for (;;) {
        std::string field;
        std::size_t end = pos; // where the field stops: at its comma or the line's end
        bool closed = false;
        if (pos < line.size() && line[pos] == '"') {
            std::size_t i = pos + 1;
            while (i < line.size()) {
                if (line[i] == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else if (line[i] == '"' && (i + 1 == line.size() || line[i + 1] == ',')) {
                    closed = true;
                    break;
                } else {
                    field += line[i];
                    ++i;
                }
            }
            if (closed)
                end = i + 1;
        }
        if (!closed) {
            field.clear();
            while (end < line.size() && line[end] != ',')
                field += line[end++];
            if (!field.empty() && field.front() == '"') {
                field.erase(0, 1);
                if (!field.empty() && field.back() == '"')
                    field.pop_back();
            }
        }
        fields.push_back(field);
        if (end >= line.size())
            return fields;
        pos = end + 1;
    }
}

inline std::string ReferencePrice(const std::string& field) {
    char buf[kMaxAmountText];
    return std::string(buf, DoDecimals(buf, AmountTextForm(ReadNumber(field) / 100.0, buf)));
}

struct ReferenceReading {
    std::vector<std::string> rows;
    std::vector<std::uint64_t> lengths; // line lengths as read, for the progress step
};

inline ReferenceReading ReferenceRead(std::string_view bytes) {
    ReferenceReading out;
    std::vector<std::string> lines = ReferenceLines(bytes);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::string line = lines[n];
        out.lengths.push_back(line.size());
        if (n == 0 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        std::vector<std::string> fields = ReferenceFields(line);
        fields.resize(4);
        out.rows.push_back(fields[0] + " | " + fields[1] + " | " + ReferencePrice(fields[2]) +
                           " | " + ReferencePrice(fields[3]));
    }
    return out;
}

} // namespace pricelookup::testing
