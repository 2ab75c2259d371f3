#include "basic_case_fold.h"
#include "fake_price_files.h"
#include "linear_finder.h"
#include "part_code_samples.h"
#include "prefix_key.h"
#include "price_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace pricelookup;
using pricelookup::testing::BasicCaseFold;
using pricelookup::testing::LinearFinder;
using pricelookup::testing::LoadPriceBytes;
using pricelookup::testing::ProbesOf;

namespace {

// Loads `bytes` with the finder, in one pass (`partBytes` 0) or in parts of
// that size on two threads.
LoadResult LoadWithFinder(const std::string& bytes, std::uint64_t partBytes, PriceTable& table) {
    LoadOptions options;
    options.fold = BasicCaseFold;
    options.partsFrom = partBytes == 0 ? UINT64_MAX : 0;
    options.partBytes = partBytes;
    options.threads = 2;
    return LoadPriceBytes(bytes, table, nullptr, options);
}

// A thousand codes of each stem, a digit and a number after it, stems in turn.
std::vector<std::string> CodesOfStems(std::span<const char* const> stems) {
    std::vector<std::string> codes;
    for (int i = 0; i < 1000; ++i)
        for (const char* stem : stems)
            codes.push_back(stem + std::to_string(i % 7) + "-" + std::to_string(i));
    return codes;
}

// Every prefix of `text` into `probes`.
void AddPrefixes(std::string_view text, std::vector<std::string>& probes) {
    for (std::size_t size = 1; size <= text.size(); ++size)
        probes.emplace_back(text.substr(0, size));
}

} // namespace

// Windows-1252 letters fold to one, two or three UTF-8 bytes, so a key's
// bytes land across its two words and past its sixteen: € at bytes 7 to 9,
// Š at 15 and 16, É past 16, and codes of nothing but them; ASCII after a
// letter that ends at byte 15, and letters right before a byte above 127,
// which a fold of eight bytes at once must not touch. In code order and
// shuffled, in one pass and in parts, where the first part decodes valid
// UTF-8 before the others show the file is not UTF-8, and is learnt again.
TEST(prefix_key, windows_1252_keys_fold_across_their_two_words) {
    const char* const stems[] = {"ABCDEFG\x80x",
                                 "abcdefghijklmn\x8Az",
                                 "ABCDEFGHIJKLMNO\x9A",
                                 "ABCDEFGHIJKLMNOP\xC9",
                                 "\xC9\xE9\xC9\xE9\xC9\xE9\xC9\xE9\xC9",
                                 "\x80\x80\x80\x80\x80\x80",
                                 "ABCDEFGHIJKLM\xE9xy",
                                 "@\xC9Z\xDCz\xFF"};
    std::vector<std::string> codes = CodesOfStems(stems);
    auto folded = [](const std::string& code) {
        std::string out;
        AppendFolded(code, TextEncoding::Windows1252, BasicCaseFold, out);
        return out;
    };
    std::sort(codes.begin(), codes.end(),
              [&](const std::string& a, const std::string& b) { return folded(a) < folded(b); });
    std::vector<std::string> shuffled = codes;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
    for (const std::vector<std::string>* order : {&codes, &shuffled}) {
        // Out of order, so that the second row's key is kept: as UTF-8 "éa",
        // which the finder must learn again as "Ã©a".
        std::string bytes = "\xC3\xA9z,valid UTF-8,1,2\r\n\xC3\xA9"
                            "a,valid UTF-8,1,2\r\n";
        for (const std::string& code : *order)
            bytes += code + ",Part,100,200\r\n";
        for (std::uint64_t partBytes : {std::uint64_t{0}, bytes.size() / 5}) {
            PriceTable table;
            const LoadResult loaded = LoadWithFinder(bytes, partBytes, table);
            ASSERT_TRUE(loaded.ok && loaded.finder);
            ASSERT_EQ(loaded.encoding, TextEncoding::Windows1252);
            const LinearFinder linear(table, loaded.encoding);
            std::vector<std::string> rows = {"\xC3\xA9z", "\xC3\xA9"
                                                          "a"};
            rows.insert(rows.end(), order->begin(), order->end());
            std::vector<std::string> probes = ProbesOf(rows, loaded.encoding);
            // Every stem, whichever rows the probes above met.
            for (const char* stem : stems) {
                std::string text;
                AppendFolded(
                    stem, TextEncoding::Windows1252, [](char32_t c) { return c; }, text);
                AddPrefixes(text, probes);
            }
            for (const std::string& probe : probes)
                ASSERT_EQ(loaded.finder->Find(probe), linear.Find(probe))
                    << (order == &codes ? "in order" : "shuffled") << ", parts of " << partBytes
                    << ", text " << probe;
        }
    }
}

// UTF-8 letters of two bytes fold to one (ſ to s), two or three bytes, and
// at bytes 7 and 8, 15 and 16 of a code they straddle the key's words and
// its end; € (three bytes) takes the slow path, the rest of its code too.
// The letters of the description after a short code are not the code's.
TEST(prefix_key, utf8_keys_fold_letters_of_two_bytes_in_place) {
    const char* const stems[] = {
        "ABCDEFG\xC3\x89x",
        "abcdefghijklmnO\xC3\x89",
        "\xC5\xBF\xC5\xBF\xC2\xB5\xC2\xB5zz",
        "\xD0\x96\xCE\xA9\xE2\x82\xAC\xCE\xA9",
        "@\xC3\x89Z\xDF\x80",
        "\xC3\x80\xC3\x81\xC3\x82\xC3\x83\xC3\x84\xC3\x85\xC3\x86\xC3\x87\xC3\x88"};
    std::vector<std::string> codes = CodesOfStems(stems);
    std::shuffle(codes.begin(), codes.end(), std::mt19937(7));
    std::string bytes;
    for (const std::string& code : codes)
        bytes += code + ",\xC3\x89"
                        "crou \xC3\xA0 \xC3\xA9paulement,100,200\r\n";
    for (std::uint64_t partBytes : {std::uint64_t{0}, bytes.size() / 3}) {
        PriceTable table;
        const LoadResult loaded = LoadWithFinder(bytes, partBytes, table);
        ASSERT_TRUE(loaded.ok && loaded.finder);
        ASSERT_EQ(loaded.encoding, TextEncoding::Utf8);
        const LinearFinder linear(table, loaded.encoding);
        std::vector<std::string> probes = ProbesOf(codes, loaded.encoding);
        for (const char* stem : stems)
            AddPrefixes(stem, probes);
        for (const std::string& probe : probes)
            ASSERT_EQ(loaded.finder->Find(probe), linear.Find(probe))
                << "parts of " << partBytes << ", text " << probe;
    }
}

namespace {

// The key `folder` makes of `code` with 16 bytes readable from its start,
// as the table holds codes.
PrefixKey KeyOf(KeyFolder& folder, std::string_view code) {
    const std::string padded = std::string(code) + std::string(16, '\0');
    PrefixKey key;
    folder.KeyOf(std::string_view(padded).substr(0, code.size()), key);
    return key;
}

PrefixKey KeyFoldedByCharacter(std::string_view code, TextEncoding encoding) {
    std::string folded;
    AppendFolded(code, encoding, BasicCaseFold, folded);
    return KeyOfBytes(reinterpret_cast<const unsigned char*>(folded.data()), folded.size());
}

} // namespace

// ASCII eight bytes at a time and letters above 127 from the folder's tables
// give the key that folding a character at a time gives, for codes of every
// length, letters that straddle the key's words and its end, and characters
// the tables leave out.
TEST(prefix_key, every_path_gives_the_key_of_folding_a_character_at_a_time) {
    std::mt19937 rng(3);
    const std::vector<std::string> utf8Letters = {"a",
                                                  "Z",
                                                  "0",
                                                  "-",
                                                  "\xC3\xA9",
                                                  "\xC3\x89",
                                                  "\xC5\xBF",
                                                  "\xD0\x96",
                                                  "\xE2\x82\xAC",
                                                  "\xF0\x9F\x94\xA7"};
    const std::vector<std::string> byteLetters = {"a",    "Z",    "0",    "\x80", "\x81",
                                                  "\x8A", "\xC9", "\xE9", "\xFF"};
    for (TextEncoding encoding : {TextEncoding::Utf8, TextEncoding::Windows1252}) {
        const auto& letters = encoding == TextEncoding::Utf8 ? utf8Letters : byteLetters;
        KeyFolder folder(encoding, BasicCaseFold);
        for (int i = 0; i < 5000; ++i) {
            std::string code;
            for (std::size_t n = rng() % 13; n > 0; --n)
                code += letters[rng() % letters.size()];
            const PrefixKey key = KeyOf(folder, code);
            ASSERT_EQ(Compare(key, KeyFoldedByCharacter(code, encoding)), 0) << code;
        }
        EXPECT_EQ(folder.Encoding(), encoding);
    }
}

// Bytes that are not UTF-8 switch a folder that assumed UTF-8 to
// Windows-1252, but only while it has decoded nothing: a run that has must
// be learnt again as a whole.
TEST(prefix_key, bytes_not_utf8_switch_the_folder_while_it_has_decoded_nothing) {
    const std::string notUtf8 = "\xC9t\xE9";
    KeyFolder fresh(TextEncoding::Utf8, BasicCaseFold);
    KeyOf(fresh, "abc");
    EXPECT_FALSE(fresh.Decoded());
    const PrefixKey key = KeyOf(fresh, notUtf8);
    EXPECT_EQ(fresh.Encoding(), TextEncoding::Windows1252);
    EXPECT_TRUE(fresh.Decoded());
    EXPECT_EQ(Compare(key, KeyFoldedByCharacter(notUtf8, TextEncoding::Windows1252)), 0);

    KeyFolder decoded(TextEncoding::Utf8, BasicCaseFold);
    KeyOf(decoded, "\xC3\xA9");
    KeyOf(decoded, notUtf8);
    EXPECT_EQ(decoded.Encoding(), TextEncoding::Utf8);
    EXPECT_TRUE(decoded.Decoded());
}

// Every cut of a long code, across the key's two words and up to its end:
// the code begins with the cut, shares exactly its bytes and comes after it;
// with the cut's last byte changed, it does none of these.
TEST(prefix_key, comparisons_hold_at_every_length_across_the_two_words) {
    const std::string code = "abcdefghijklmnopqrst";
    const PrefixKey whole = KeyFoldedByCharacter(code, TextEncoding::Utf8);
    EXPECT_EQ(whole.size, kLongKey);
    for (std::uint32_t n = 0; n <= 16; ++n) {
        const PrefixKey cut = KeyFoldedByCharacter(code.substr(0, n), TextEncoding::Utf8);
        EXPECT_TRUE(KeyStartsWith(whole, cut)) << n;
        EXPECT_EQ(SharedBytes(whole, cut), n);
        EXPECT_LT(Compare(cut, whole), 0) << n;
        if (n < 16) {
            EXPECT_EQ(ByteAt(whole, n), static_cast<unsigned>(code[n])) << n;
        }
        if (n == 0)
            continue;
        std::string changed = code.substr(0, n);
        changed.back() = '~';
        const PrefixKey other = KeyFoldedByCharacter(changed, TextEncoding::Utf8);
        EXPECT_FALSE(KeyStartsWith(whole, other)) << n;
        EXPECT_EQ(SharedBytes(whole, other), n - 1);
        EXPECT_GT(Compare(other, whole), 0) << n;
    }
    // Long codes that agree on their first 16 bytes have equal keys: the
    // rest is read from the table.
    EXPECT_EQ(Compare(whole, KeyFoldedByCharacter("ABCDEFGHIJKLMNOPxyz", TextEncoding::Utf8)), 0);
}
