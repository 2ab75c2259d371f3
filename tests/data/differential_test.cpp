#include "reference_reader.h"
#include "table_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::ReferenceRead;

namespace {

class FileMaker {
public:
    explicit FileMaker(unsigned seed) : rng_(seed) {}

    // Bytes drawn from the pieces that matter to the reader, in no order.
    std::string Scrambled() {
        static const char* const pieces[] = {
            "\"", "\"", "\"\"", ",",        ",",    ",",    "\r",   "\n",          "\r\n", " ",
            "\t", "0",  "1",    "5",        "9",    "-",    "+",    ".",           "e",    "D",
            "A",  "z",  "&H",   "\xC3\xA9", "\xE9", "\x80", "\xFF", "\xEF\xBB\xBF"};
        std::string bytes = Pick(8) == 0 ? "\xEF\xBB\xBF" : "";
        for (std::size_t n = Pick(120); n > 0; --n)
            bytes += pieces[Pick(std::size(pieces))];
        return bytes;
    }

    // Lines that look like a price file, quoted and not, with odd ones among them.
    std::string Records() {
        static const char* const endings[] = {"\r\n", "\r\n", "\r", "\n", "\r\r", "\r\n\r\n"};
        std::string bytes = Pick(6) == 0 ? "\xEF\xBB\xBF" : "";
        for (std::size_t n = Pick(12); n > 0; --n) {
            for (std::size_t f = 0, fields = Pick(7); f < fields; ++f) {
                if (f > 0)
                    bytes += ',';
                bytes += f >= 2 && f < 4 ? Number() : Text();
            }
            if (n > 1 || Pick(2))
                bytes += endings[Pick(std::size(endings))];
        }
        return bytes;
    }

    std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }

private:
    std::string Text() {
        static const char* const letters[] = {"A",  "b",    "7",        " ",    "-",  ",",
                                              "\"", "\"\"", "\xC3\x89", "\xC9", "\n", "x"};
        std::string text;
        for (std::size_t n = Pick(6); n > 0; --n)
            text += letters[Pick(std::size(letters))];
        switch (Pick(4)) {
        case 0:
            return '"' + text + '"';
        case 1:
            return '"' + text;
        default:
            return text;
        }
    }

    std::string Number() {
        static const char* const signs[] = {"", "", "-", "+", " ", "- "};
        std::string number = signs[Pick(std::size(signs))];
        for (std::size_t n = Pick(20); n > 0; --n)
            number += static_cast<char>('0' + Pick(10));
        if (Pick(4) == 0)
            number += "." + std::to_string(Pick(1000));
        if (Pick(6) == 0)
            number += "eEdD"[Pick(4)] + std::string(Pick(2) ? "-" : "") + std::to_string(Pick(420));
        if (Pick(8) == 0)
            number += "x";
        return Pick(5) == 0 ? '"' + number + '"' : number;
    }

    std::mt19937 rng_;
};

void ExpectSameAsReference(std::string_view bytes, std::size_t block) {
    auto reference = ReferenceRead(bytes);

    PriceTable whole;
    std::vector<std::uint64_t> lengths;
    LoadResult result =
        LoadPriceBytes(bytes, whole, [&](std::uint64_t n) { lengths.push_back(n); });
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(pricelookup::testing::Rows(whole), reference.rows) << "file [" << bytes << "]";
    ASSERT_EQ(lengths, reference.lengths) << "file [" << bytes << "]";

    PriceTable fed;
    lengths.clear();
    LineReader reader(fed, [&](std::uint64_t n) { lengths.push_back(n); });
    for (std::size_t at = 0; at < bytes.size(); at += block)
        reader.Feed(bytes.data() + at, std::min(block, bytes.size() - at));
    reader.Finish();
    ASSERT_EQ(pricelookup::testing::Rows(fed), reference.rows)
        << "block " << block << " of [" << bytes << "]";
    ASSERT_EQ(lengths, reference.lengths) << "block " << block << " of [" << bytes << "]";
}

} // namespace

TEST(reading_road, scrambled_bytes_read_as_the_reference_reads_them) {
    FileMaker maker(1);
    for (int i = 0; i < 4000; ++i) {
        std::string bytes = maker.Scrambled();
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsReference(bytes, 1 + maker.Pick(9)));
    }
}

TEST(reading_road, price_file_records_read_as_the_reference_reads_them) {
    FileMaker maker(2);
    for (int i = 0; i < 4000; ++i) {
        std::string bytes = maker.Records();
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsReference(bytes, 1 + maker.Pick(16)));
    }
}
