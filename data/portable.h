#pragma once

// What compilers spell differently, for the finder's hot paths: GCC and clang
// have a 128-bit integer and GNU attributes; other compilers (MSVC) get two
// 64-bit words and their own spelling of the attributes.

#include <cstdint>

#if defined(__GNUC__)
#define PRICELOOKUP_ALWAYS_INLINE [[gnu::always_inline]] inline
#define PRICELOOKUP_NOINLINE [[gnu::noinline]]
#elif defined(_MSC_VER)
#define PRICELOOKUP_ALWAYS_INLINE __forceinline
#define PRICELOOKUP_NOINLINE __declspec(noinline)
#else
#define PRICELOOKUP_ALWAYS_INLINE inline
#define PRICELOOKUP_NOINLINE
#endif

namespace pricelookup {

// An unsigned 128-bit number as two 64-bit words, with the operations the
// finder uses; shifts take 0 to 127.
class UInt128Words {
public:
    constexpr UInt128Words(std::uint64_t low = 0) : high_(0), low_(low) {}
    constexpr UInt128Words(std::uint64_t high, std::uint64_t low) : high_(high), low_(low) {}

    constexpr std::uint64_t High() const { return high_; }
    constexpr explicit operator std::uint64_t() const { return low_; }

    friend constexpr UInt128Words operator|(UInt128Words a, UInt128Words b) {
        return {a.high_ | b.high_, a.low_ | b.low_};
    }
    friend constexpr UInt128Words operator&(UInt128Words a, UInt128Words b) {
        return {a.high_ & b.high_, a.low_ & b.low_};
    }
    constexpr UInt128Words operator~() const { return {~high_, ~low_}; }
    constexpr UInt128Words& operator|=(UInt128Words b) { return *this = *this | b; }
    constexpr UInt128Words operator<<(unsigned n) const {
        if (n == 0)
            return *this;
        if (n >= 64)
            return {low_ << (n - 64), 0};
        return {high_ << n | low_ >> (64 - n), low_ << n};
    }
    constexpr UInt128Words operator>>(unsigned n) const {
        if (n == 0)
            return *this;
        if (n >= 64)
            return {0, high_ >> (n - 64)};
        return {high_ >> n, low_ >> n | high_ << (64 - n)};
    }
    constexpr bool operator==(const UInt128Words&) const = default;

private:
    std::uint64_t high_;
    std::uint64_t low_;
};

#if defined(__SIZEOF_INT128__)
__extension__ using UInt128 = unsigned __int128;
constexpr UInt128 MakeUInt128(std::uint64_t high, std::uint64_t low) {
    return static_cast<UInt128>(high) << 64 | low;
}
constexpr std::uint64_t HighWord(UInt128 v) {
    return static_cast<std::uint64_t>(v >> 64);
}
#else
using UInt128 = UInt128Words;
constexpr UInt128 MakeUInt128(std::uint64_t high, std::uint64_t low) {
    return {high, low};
}
constexpr std::uint64_t HighWord(UInt128 v) {
    return v.High();
}
#endif

} // namespace pricelookup
