#pragma once

#include "price_table.h"
#include "row_builder.h"
#include "text_encoding.h"

#include <cstddef>
#include <string>
#include <vector>

namespace pricelookup::testing {

// A table of nothing but these part codes, each quoted.
inline PriceTable TableOf(const std::vector<std::string>& codes) {
    PriceTable table;
    RowBuilder rows(table);
    for (const std::string& code : codes) {
        rows.AddQuotedField(code, PartCode);
        rows.EndRow();
    }
    return table;
}

// Texts to find among `codes`: prefixes of codes near the top, the middle
// and the bottom, whole codes, codes with a character no code has, and the
// text as it is typed.
inline std::vector<std::string> ProbesOf(const std::vector<std::string>& codes,
                                         TextEncoding encoding) {
    std::vector<std::string> probes{"", "p", "px", "~"};
    const std::size_t n = codes.size();
    for (std::size_t row : {std::size_t{0}, std::size_t{1}, n / 3 + 1, n / 2, n - 6, n - 1}) {
        std::string text;
        AppendFolded(
            codes[row], encoding, [](char32_t c) { return c; }, text);
        for (std::size_t size = 1; size <= text.size(); ++size)
            probes.push_back(text.substr(0, size));
        probes.push_back(text + "~");
    }
    return probes;
}

} // namespace pricelookup::testing
