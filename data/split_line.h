#pragma once

#include "price_table.h"

#include <string>
#include <string_view>

namespace pricelookup {

// Removes one leading double quote, then, if anything is left and it ends in a
// double quote, that one too.
void StripTextDelim(std::string_view& tmpStr);

// Cuts one line (without its ending) into fields and hands fields 1 to 4 to
// the table's PopulateForm; then ends the row, so every line is one row.
// A comma separates fields, except inside a field that opens with a double
// quote and has a closing one: a double quote at the end of the line or right
// before a comma, where "" stands for one quote. Such a field is the text
// between its quotes with every "" made ". A field that opens with a quote but
// never closes is cut at the next comma and loses its enclosing quotes.
// `scratch` is a reusable buffer that holds the line's unescaped quoted
// fields until its row ends. Linear in the line.
void DoCommas(std::string_view tStr, PriceTable& table, std::string& scratch);
void SplitStr(std::string_view tStr, PriceTable& table, std::string& scratch);

} // namespace pricelookup
