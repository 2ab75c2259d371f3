#pragma once

#include <cstdint>

namespace pricelookup {

// The load's progress, counted exactly in 64-bit integers: it starts at 10 of
// a maximum of the file's length + 10, and each line adds its length when that
// does not carry it past the maximum (a line that would is skipped; a later,
// shorter one may still fit). The bar shows this scaled down to int only when
// the numbers pass what int can hold.
class ProgressCount {
public:
    static constexpr std::uint64_t kHeadStart = 10;

    void Start(std::uint64_t fileLength) {
        max_ = fileLength + kHeadStart;
        value_ = kHeadStart;
        shift_ = 0;
        while ((max_ >> shift_) > static_cast<std::uint64_t>(INT32_MAX))
            ++shift_;
    }
    void Step(std::uint64_t lineLength) {
        if (lineLength <= max_ - value_)
            value_ += lineLength;
    }

    std::uint64_t Value() const { return value_; }
    std::uint64_t Max() const { return max_; }
    // What the bar is given.
    int BarValue() const { return static_cast<int>(value_ >> shift_); }
    int BarMax() const { return static_cast<int>(max_ >> shift_); }

private:
    std::uint64_t max_ = 100;
    std::uint64_t value_ = 0;
    int shift_ = 0;
};

} // namespace pricelookup
