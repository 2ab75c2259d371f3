#pragma once

// A case fold for tests, benchmarks and the fuzzer, where no toolkit is at
// hand: the letters of ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic,
// one to one, as the toolkit folds them.
namespace pricelookup::testing {

char32_t BasicCaseFold(char32_t c) noexcept;

} // namespace pricelookup::testing
