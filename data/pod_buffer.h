#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace pricelookup {

// A growable array of trivially copyable values on malloc/realloc.
// Large blocks come from mmap in glibc, and realloc moves them with mremap,
// so growing a buffer of hundreds of megabytes never holds two copies at once
// (std::vector would copy, and peak at three times the final size).
template <typename T> class PodBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodBuffer() = default;
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    PodBuffer(PodBuffer&& other) noexcept
        : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    PodBuffer& operator=(PodBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = other.data_;
            size_ = other.size_;
            capacity_ = other.capacity_;
            other.data_ = nullptr;
            other.size_ = other.capacity_ = 0;
        }
        return *this;
    }
    ~PodBuffer() { std::free(data_); }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

    void reserve(std::size_t n) {
        if (n <= capacity_)
            return;
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        void* p = std::realloc(data_, n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        data_ = static_cast<T*>(p);
        capacity_ = n;
    }

    // Makes room for n more values and returns where they go; commit() counts them.
    T* grow_by(std::size_t n) {
        if (capacity_ - size_ < n)
            reserve(next_capacity(size_ + n));
        return data_ + size_;
    }
    void commit(std::size_t n) { size_ += n; }

    void push_back(const T& v) {
        if (size_ == capacity_)
            reserve(next_capacity(size_ + 1));
        data_[size_++] = v;
    }
    void append(const T* p, std::size_t n) {
        if (n == 0)
            return;
        std::memcpy(grow_by(n), p, n * sizeof(T));
        size_ += n;
    }
    void resize(std::size_t n) {
        reserve(n);
        size_ = n;
    }
    void clear() { size_ = 0; }

    // Gives back the capacity that was reserved but never used, all but
    // `spare` values.
    void shrink_to_fit(std::size_t spare = 0) {
        const std::size_t keep = size_ + spare;
        if (capacity_ <= keep || size_ == 0)
            return;
        if (void* p = std::realloc(data_, keep * sizeof(T))) {
            data_ = static_cast<T*>(p);
            capacity_ = keep;
        }
    }

private:
    std::size_t next_capacity(std::size_t needed) const {
        std::size_t c = capacity_ < 4096 / sizeof(T) ? 4096 / sizeof(T) : capacity_ + capacity_ / 2;
        return c < needed ? needed : c;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace pricelookup
