#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pricelookup {

// The first `c` in [p, end), or end. Tuned for the common case of a few bytes
// (a field, a line): no call, sixteen bytes a step where the platform allows.
inline const char* FindByte(const char* p, const char* end, char c) {
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(c);
    while (end - p >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, needle));
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p != end && *p != c)
        ++p;
    return p;
}

} // namespace pricelookup
