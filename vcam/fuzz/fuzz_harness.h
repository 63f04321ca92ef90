#pragma once

// What the camera's fuzz targets share: reading the fuzz input as a writer's script, and
// stopping the run with a message when a check fails.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace tolvek::vcam::fuzzing {

// Stops the run, so that libFuzzer keeps the input, when `condition` is false.
inline void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// The fuzz input read front to back as steps and their arguments: little-endian integers of
// fixed width. An input that ends within a step gives zeros for the rest.
class WriterScript {
public:
    WriterScript(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    [[nodiscard]] bool done() const noexcept { return position_ >= size_; }

    template <class T>
    [[nodiscard]] T take() noexcept
    {
        static_assert(std::is_integral_v<T>);
        std::make_unsigned_t<T> value = 0;
        for (std::size_t byte = 0; byte < sizeof(T) && position_ < size_; ++byte) {
            value |= static_cast<std::make_unsigned_t<T>>(
                static_cast<std::make_unsigned_t<T>>(data_[position_++]) << (8 * byte));
        }
        return static_cast<T>(value);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

} // namespace tolvek::vcam::fuzzing
