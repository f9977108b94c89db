// A heap block of exactly the requested size, so that AddressSanitizer reports any access one
// byte past its end (or before its start). Tests put the bytes under test into one of these
// instead of a vector or an array with slack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

class ExactBuffer {
public:
    explicit ExactBuffer(size_t size, uint8_t fill = 0) : size_(size), bytes_(new uint8_t[size])
    {
        std::memset(bytes_.get(), fill, size_);
    }

    explicit ExactBuffer(const std::vector<uint8_t>& contents) : ExactBuffer(contents.size())
    {
        if (size_ != 0) {
            std::memcpy(bytes_.get(), contents.data(), size_);
        }
    }

    // The first `size` bytes of contents (size <= contents.size()).
    ExactBuffer(const std::vector<uint8_t>& contents, size_t size) : ExactBuffer(size)
    {
        if (size_ != 0) {
            std::memcpy(bytes_.get(), contents.data(), size_);
        }
    }

    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    std::vector<uint8_t> ToVector() const { return std::vector<uint8_t>(bytes_.get(), bytes_.get() + size_); }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};
