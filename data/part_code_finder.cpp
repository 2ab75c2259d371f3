#include "part_code_finder.h"

#include "parallel.h"

#include <algorithm>
#include <utility>

namespace pricelookup {

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                               unsigned threads)
    : table_(table), encoding_(encoding), fold_(fold) {
    const std::size_t rows = table.size();
    const std::size_t parts = rows < 65536 ? 1 : std::max(1u, threads);
    std::vector<PartCodeRun> runs;
    for (std::size_t i = 0; i < parts; ++i)
        runs.emplace_back(encoding, fold);
    firstRow_.assign(parts + 1, 0);
    for (std::size_t i = 0; i <= parts; ++i)
        firstRow_[i] = rows * i / parts;
    RunTasks(parts, threads, [&](std::size_t i) {
        table_.ForEachPartCode(firstRow_[i], firstRow_[i + 1],
                               [&](std::size_t, std::string_view code) { runs[i].Add(code); });
        runs[i].Finish(table_, firstRow_[i]);
    });
    runs_ = std::move(runs);
}

PartCodeFinder::PartCodeFinder(const PriceTable& table, TextEncoding encoding, CaseFoldFn fold,
                               std::vector<PartCodeRun>& runs, unsigned threads)
    : table_(table), encoding_(encoding), fold_(fold) {
    firstRow_.assign(runs.size() + 1, 0);
    for (std::size_t i = 0; i < runs.size(); ++i)
        firstRow_[i + 1] = firstRow_[i] + runs[i].Rows();
    Relearn(runs, threads);
    runs_ = std::move(runs);
}

void PartCodeFinder::Relearn(std::vector<PartCodeRun>& runs, unsigned threads) {
    // A run that decoded its codes as UTF-8 in a file that is not learns
    // them again, in the file's encoding. Most loads have none.
    std::vector<std::size_t> stale;
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (runs[i].Encoding() != encoding_ && runs[i].Decoded())
            stale.push_back(i);
    if (stale.empty())
        return;
    RunTasks(stale.size(), threads, [&](std::size_t task) {
        const std::size_t i = stale[task];
        PartCodeRun again(encoding_, fold_);
        table_.ForEachPartCode(firstRow_[i], firstRow_[i + 1],
                               [&](std::size_t, std::string_view code) { again.Add(code); });
        again.Finish(table_, firstRow_[i]);
        runs[i] = std::move(again);
    });
}

std::size_t PartCodeFinder::MemoryUsed() const {
    std::size_t bytes = 0;
    for (const PartCodeRun& run : runs_)
        bytes += run.MemoryUsed();
    return bytes;
}

std::string_view PartCodeFinder::Code(std::size_t row) const {
    return table_.Cell(row, PartCode, scratch_.cell);
}

bool PartCodeFinder::CodeBelowText(std::size_t row) const {
    FoldedBytes code(Code(row), encoding_, fold_);
    for (char c : scratch_.folded) {
        if (code.Done())
            return true;
        const unsigned char b = code.Next();
        if (b != static_cast<unsigned char>(c))
            return b < static_cast<unsigned char>(c);
    }
    return false;
}

bool PartCodeFinder::CodeStartsWithText(std::size_t row) const {
    FoldedBytes code(Code(row), encoding_, fold_);
    for (char c : scratch_.folded)
        if (code.Done() || code.Next() != static_cast<unsigned char>(c))
            return false;
    return true;
}

std::optional<std::size_t> PartCodeFinder::FindInOrdered(const PartCodeRun& run,
                                                         std::size_t first) const {
    // The codes that begin with the text follow each other, after every code
    // below it.
    std::size_t low = 0;
    std::size_t high = run.OrderedRows();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (CodeBelowText(first + middle))
            low = middle + 1;
        else
            high = middle;
    }
    if (low < run.OrderedRows() && CodeStartsWithText(first + low))
        return first + low;
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::ScanTail(const PartCodeRun& run,
                                                    std::size_t first) const {
    const std::span<const PrefixKey> keys = run.TailKeys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!KeyStartsWith(keys[i], scratch_.textKey))
            continue;
        const std::size_t row = first + run.OrderedRows() + i;
        if (scratch_.folded.size() <= 16 || CodeStartsWithText(row))
            return row;
    }
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::FindInGroups(const PartCodeRun& run,
                                                        std::size_t first) const {
    const auto* text = reinterpret_cast<const unsigned char*>(scratch_.folded.data());
    const std::size_t size = scratch_.folded.size();
    const std::uint32_t skip = run.SharedLength();
    // Every grouped code begins with the shared prefix.
    for (std::uint32_t i = 0; i < std::min<std::size_t>(size, skip); ++i)
        if (text[i] != ByteAt(run.SharedPrefix(), i))
            return std::nullopt;
    std::uint32_t row = PartCodeRun::kNoRow;
    if (size <= skip) {
        row = run.FirstSharingRow();
    } else if (size == skip + 1) {
        row = run.FirstRowWithByte(text[skip]);
    } else {
        const std::uint32_t group = std::uint32_t{text[skip]} << 8 | text[skip + 1];
        std::uint32_t next = 0;
        const std::size_t have = std::min<std::size_t>(size - skip - 2, 4);
        for (std::size_t i = 0; i < have; ++i)
            next |= std::uint32_t{text[skip + 2 + i]} << (8 * i);
        const auto mask = static_cast<std::uint32_t>(LowBytesMask(have));
        // Most rows of a group differ from the text within the next four
        // bytes, which the group keeps beside each row: only the rest needs
        // the table.
        row = run.FindInGroup(group,
                              [this, first, mask, next](std::uint32_t at, std::uint32_t bytes) {
                                  return (bytes & mask) == next && CodeStartsWithText(first + at);
                              });
    }
    return row == PartCodeRun::kNoRow ? std::nullopt : std::optional<std::size_t>(first + row);
}

std::optional<std::size_t> PartCodeFinder::FindApart(const PartCodeRun& run,
                                                     std::size_t first) const {
    for (const PartCodeRun::ApartRow& apart : run.RowsApart())
        if (KeyStartsWith(apart.key, scratch_.textKey) &&
            (scratch_.folded.size() <= 16 || CodeStartsWithText(first + apart.row)))
            return first + apart.row;
    return std::nullopt;
}

std::optional<std::size_t> PartCodeFinder::FindInTail(const PartCodeRun& run,
                                                      std::size_t first) const {
    if (!run.Grouped())
        return ScanTail(run, first);
    const std::optional<std::size_t> grouped = FindInGroups(run, first);
    const std::optional<std::size_t> apart = FindApart(run, first);
    if (grouped && apart)
        return std::min(*grouped, *apart);
    return grouped ? grouped : apart;
}

std::optional<std::size_t> PartCodeFinder::Find(std::string_view text) const {
    std::string& folded = scratch_.folded;
    folded.clear();
    AppendFolded(text, TextEncoding::Utf8, fold_, folded);
    if (folded.empty())
        return table_.empty() ? std::nullopt : std::optional<std::size_t>(0);
    scratch_.textKey =
        KeyOfBytes(reinterpret_cast<const unsigned char*>(folded.data()), folded.size());
    // The runs follow each other down the table: the first that has a match
    // has the first.
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        const PartCodeRun& run = runs_[i];
        if (run.OrderedRows() > 0)
            if (auto row = FindInOrdered(run, firstRow_[i]))
                return row;
        if (run.Rows() > run.OrderedRows())
            if (auto row = FindInTail(run, firstRow_[i]))
                return row;
    }
    return std::nullopt;
}

} // namespace pricelookup
