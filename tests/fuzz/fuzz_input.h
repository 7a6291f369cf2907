// Fuzz target helpers: a check that aborts, and values taken one by one from the input bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Past the end of the input every byte reads 0, so a short input is still a whole case.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    std::size_t left() const { return size_ - pos_; }

    void bytes(void *out, std::size_t n)
    {
        const std::size_t have = n < left() ? n : left();
        std::memcpy(out, data_ + pos_, have);
        std::memset(static_cast<std::uint8_t *>(out) + have, 0, n - have);
        pos_ += have;
    }

    template <typename T> T take()
    {
        T v;
        bytes(&v, sizeof v);
        return v;
    }

    std::uint8_t byte() { return take<std::uint8_t>(); }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};
