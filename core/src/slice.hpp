// Contiguous runs of elements that need not be aligned to their element size.
//
// Elements are read and written through memcpy, which compiles to plain (unaligned)
// loads and stores and keeps the loops vectorisable.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>

namespace pelm_ossrel {

template <class T>
class SrcSlice {
public:
    constexpr SrcSlice() noexcept = default;
    SrcSlice(const void* data, std::size_t size) noexcept
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    SrcSlice(std::span<const T> s) noexcept : SrcSlice(s.data(), s.size()) {}

    std::size_t size() const noexcept { return size_; }
    const unsigned char* bytes() const noexcept { return data_; }

    T operator[](std::size_t i) const noexcept {
        T v;
        std::memcpy(&v, data_ + i * sizeof(T), sizeof(T));
        return v;
    }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

template <class T>
class DstSlice {
public:
    constexpr DstSlice() noexcept = default;
    DstSlice(void* data, std::size_t size) noexcept
        : data_(static_cast<unsigned char*>(data)), size_(size) {}
    DstSlice(std::span<T> s) noexcept : DstSlice(s.data(), s.size()) {}

    std::size_t size() const noexcept { return size_; }
    unsigned char* bytes() const noexcept { return data_; }

    T operator[](std::size_t i) const noexcept {
        T v;
        std::memcpy(&v, data_ + i * sizeof(T), sizeof(T));
        return v;
    }
    void set(std::size_t i, T v) const noexcept {
        std::memcpy(data_ + i * sizeof(T), &v, sizeof(T));
    }

private:
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace pelm_ossrel
