#pragma once

#include "basic_case_fold.h"
#include "price_table.h"
#include "text_encoding.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pricelookup::testing {

// The part-code find done the plain way, to hold the real one against: fold
// every code and the text, and compare from the top.
class LinearFinder {
public:
    LinearFinder(const PriceTable& table, TextEncoding encoding) {
        for (std::size_t r = 0; r < table.size(); ++r) {
            codes_.emplace_back();
            AppendFolded(table.Text(r, PartCode), encoding, BasicCaseFold, codes_.back());
        }
    }

    std::optional<std::size_t> Find(std::string_view text) const {
        std::string folded;
        AppendFolded(text, TextEncoding::Utf8, BasicCaseFold, folded);
        for (std::size_t r = 0; r < codes_.size(); ++r)
            if (codes_[r].starts_with(folded))
                return r;
        return std::nullopt;
    }

private:
    std::vector<std::string> codes_;
};

} // namespace pricelookup::testing
