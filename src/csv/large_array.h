// A growable array for the big buffers of a parsed table (the file's text,
// its field slices), on whole pages from the system (platform/pages.h),
// because page faults, not parsing, dominate the load time of large files.
// Holds trivially copyable elements only.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/pages.h"

namespace tarlo {

template <typename T>
class LargeArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    LargeArray() = default;
    ~LargeArray() { release(); }
    LargeArray(const LargeArray&) = delete;
    LargeArray& operator=(const LargeArray&) = delete;
    LargeArray(LargeArray&& other) noexcept { swap(other); }
    LargeArray& operator=(LargeArray&& other) noexcept {
        if (this != &other) {
            release();
            swap(other);
        }
        return *this;
    }

    // The same pages seen as another element type of the same size, for
    // converting a column's cells in place.
    template <typename U>
    LargeArray<U> reinterpretAs() && {
        static_assert(sizeof(U) == sizeof(T));
        LargeArray<U> out;
        out.adopt(reinterpret_cast<U*>(data_), size_, capacity_);
        data_ = nullptr;
        size_ = capacity_ = 0;
        return out;
    }
    void adopt(T* data, size_t size, size_t capacity) {
        release();
        data_ = data;
        size_ = size;
        capacity_ = capacity;
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    T& back() { return data_[size_ - 1]; }
    const T& back() const { return data_[size_ - 1]; }

    void reserve(size_t n) { grow(n, false); }
    // Gives the pages past n elements back to the system.
    void shrinkTo(size_t n) {
        if (n >= capacity_) return;
        const size_t keep = std::max<size_t>(n * sizeof(T), 4096);
        if (keep >= capacity_ * sizeof(T)) return;
        if (!shrinkPages(data_, capacity_ * sizeof(T), keep)) return;  // keeping the pages is no fault
        capacity_ = keep / sizeof(T);
        size_ = std::min(size_, n);
    }
    // New elements are zero (fresh pages) or whatever was there before a
    // shrink. They are to be written: fresh pages are given at once.
    void resize(size_t n) {
        if (n > capacity_) grow(std::max(n, capacity_ * 2), true);
        size_ = n;
    }
    void push_back(const T& value) {
        if (size_ == capacity_) reserve(capacity_ ? capacity_ * 2 : 4096 / sizeof(T) + 1);
        data_[size_++] = value;
    }
    void pop_back() { --size_; }
    // Empty, keeping the pages for what comes next.
    void clear() { size_ = 0; }
    void append(const T* values, size_t n) {
        if (n == 0) return;  // values may then be null, which memcpy must not see
        if (size_ + n > capacity_) reserve(std::max(size_ + n, capacity_ * 2));
        std::memcpy(data_ + size_, values, n * sizeof(T));
        size_ += n;
    }

private:
    void grow(size_t n, bool filling) {
        if (n <= capacity_) return;
        const size_t bytes = n * sizeof(T);
        void* p = growPages(data_, capacity_ * sizeof(T), bytes, filling);
        if (!p) throw std::bad_alloc();
        data_ = static_cast<T*>(p);
        capacity_ = n;
    }
    void release() {
        if (data_) releasePages(data_, capacity_ * sizeof(T));
        data_ = nullptr;
        size_ = capacity_ = 0;
    }
    void swap(LargeArray& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

using TextBuffer = LargeArray<char>;

inline TextBuffer textBufferOf(std::string_view s) {
    TextBuffer b;
    b.append(s.data(), s.size());
    return b;
}

}  // namespace tarlo
