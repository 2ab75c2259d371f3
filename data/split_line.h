#pragma once

#include <string>
#include <string_view>

namespace pricelookup {

// Removes one leading double quote, then, if anything is left and it ends in a
// double quote, that one too.
void StripTextDelim(std::string_view& field);

// Cuts one line (without its ending) into its first `count` fields, in
// fields[0] to fields[count - 1]; a field the line does not reach is empty.
// A comma separates fields, except inside a field that opens with a double
// quote and has a closing one: a double quote at the end of the line or right
// before a comma, where "" stands for one quote. Such a field is the text
// between its quotes with every "" made ". A field that opens with a quote but
// never closes is cut at the next comma and loses its enclosing quotes.
// The fields are views of the line, or of `scratch` for unescaped quoted
// fields, which it holds until it is used again. Linear in the line.
void DoCommas(std::string_view line, std::string_view* fields, int count, std::string& scratch);

// Cuts a stored line into the fields a shown row needs: the table's one way
// into the splitting, which DoCommas does. Nothing counts a line's commas
// first, as the fields are cut only up to the last one asked for.
inline void SplitStr(std::string_view line, std::string_view* fields, int count,
                     std::string& scratch) {
    DoCommas(line, fields, count, scratch);
}

} // namespace pricelookup
