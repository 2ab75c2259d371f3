#pragma once

// The few byte scans that run over every byte of a price file, with SSE2
// where the compiler offers it and plain C++ everywhere else: nothing outside
// this header needs to know which. Both are always built, so that tests hold
// the vector scans against the plain ones.

#include <bit>
#include <cstdint>
#include <cstring>

// MSVC says SSE2 by the target alone: every x86-64 processor has it.
#if defined(__SSE2__) || defined(_M_X64)
#define PRICELOOKUP_SSE2 1
#include <emmintrin.h>
#endif

namespace pricelookup {

namespace plain_scan {

inline unsigned MatchMask16(const char* p, char c) {
    unsigned mask = 0;
    for (unsigned i = 0; i < 16; ++i)
        mask |= unsigned{p[i] == c} << i;
    return mask;
}

inline unsigned HighBytes16(const char* p) {
    unsigned mask = 0;
    for (unsigned i = 0; i < 16; ++i)
        mask |= unsigned{static_cast<unsigned char>(p[i]) >= 0x80} << i;
    return mask;
}

inline bool AnyHighByte64(const unsigned char* p) {
    std::uint64_t any = 0;
    for (int i = 0; i < 8; ++i) {
        std::uint64_t word;
        std::memcpy(&word, p + 8 * i, 8);
        any |= word;
    }
    return (any & 0x8080808080808080ULL) != 0;
}

} // namespace plain_scan

#if defined(PRICELOOKUP_SSE2)
namespace sse2_scan {

inline unsigned MatchMask16(const char* p, char c) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(c))));
}

inline unsigned HighBytes16(const char* p) {
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

inline bool AnyHighByte64(const unsigned char* p) {
    const auto* v = reinterpret_cast<const __m128i*>(p);
    const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                                     _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3)));
    return _mm_movemask_epi8(any) != 0;
}

} // namespace sse2_scan
namespace best_scan = sse2_scan;
#else
namespace best_scan = plain_scan;
#endif

// Of the sixteen bytes at `p`, those equal to `c`: bit i for byte i.
inline unsigned MatchMask16(const char* p, char c) {
    return best_scan::MatchMask16(p, c);
}

// Of the sixteen bytes at `p`, those above 127: bit i for byte i.
inline unsigned HighBytes16(const char* p) {
    return best_scan::HighBytes16(p);
}

// Whether any of the 64 bytes at `p` is above 127.
inline bool AnyHighByte64(const unsigned char* p) {
    return best_scan::AnyHighByte64(p);
}

// The first `c` in [p, end), or end. Tuned for the common case of a few bytes
// (a field, a line): no call, sixteen bytes a step.
inline const char* FindByte(const char* p, const char* end, char c) {
    while (end - p >= 16) {
        if (const unsigned mask = MatchMask16(p, c))
            return p + std::countr_zero(mask);
        p += 16;
    }
    while (p != end && *p != c)
        ++p;
    return p;
}

} // namespace pricelookup
