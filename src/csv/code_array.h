// A small number for each row, each in as few bytes as the highest needs:
// one, two or four. A column of a hundred values takes a byte a row.
#pragma once

#include "csv/large_array.h"

#include <cstdint>

namespace tarlo {

class CodeArray {
public:
    CodeArray() = default;
    // Every code below width.
    CodeArray(LargeArray<uint32_t> codes, uint32_t width) : size_(codes.size()) {
        if (width <= 0x100) {
            bytes_ = 1;
            narrow(codes, one_);
        } else if (width <= 0x10000) {
            bytes_ = 2;
            narrow(codes, two_);
        } else {
            four_ = std::move(codes);
        }
    }

    size_t size() const { return size_; }
    unsigned bytes() const { return bytes_; }
    uint32_t operator[](size_t row) const {
        switch (bytes_) {
        case 1: return one_[row];
        case 2: return two_[row];
        default: return four_[row];
        }
    }
    const uint8_t* ones() const { return one_.data(); }
    const uint16_t* twos() const { return two_.data(); }
    const uint32_t* fours() const { return four_.data(); }

private:
    template <typename T>
    static void narrow(const LargeArray<uint32_t>& from, LargeArray<T>& to) {
        to.resize(from.size());
        for (size_t i = 0; i < from.size(); ++i) to[i] = T(from[i]);
    }
    size_t size_ = 0;
    unsigned bytes_ = 4;
    LargeArray<uint8_t> one_;
    LargeArray<uint16_t> two_;
    LargeArray<uint32_t> four_;
};

}  // namespace tarlo
