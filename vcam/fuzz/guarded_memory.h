#pragma once

// Memory whose every access outside its bounds is reported at once, for the fuzz targets
// (built on Linux with clang and AddressSanitizer only).

#include "view_region_check.h"

#include <cstddef>
#include <memory>
#include <span>

namespace tolvek::vcam::fuzzing {

// A section of `size` bytes in memory mapped twice, as a named section is between producer
// and camera: the view that the code under test gets, and the writer's view through which the
// fuzz input changes the contents. Each view ends exactly where the layout ends, at an
// inaccessible page, and the bytes of its first page before the layout are poisoned for
// AddressSanitizer, so any access outside the layout stops the run. A read-only view under
// test is mapped read-only, as the camera's view of the frame section is: a write faults.
class GuardedSection {
public:
    GuardedSection(std::size_t size, ViewAccess access_under_test);
    ~GuardedSection();
    GuardedSection(const GuardedSection&) = delete;
    GuardedSection& operator=(const GuardedSection&) = delete;

    [[nodiscard]] std::byte* view_under_test() const noexcept { return view_under_test_.base; }
    [[nodiscard]] std::byte* writer() const noexcept { return writer_.base; }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }

private:
    struct Mapping {
        void* reservation = nullptr; // guard page, the section's pages, guard page
        std::size_t reservation_size = 0;
        std::byte* base = nullptr; // the layout's first byte
    };

    Mapping map_view(int memory_file, bool writable) const;

    std::size_t size_;
    std::size_t mapped_size_; // the size rounded up to whole pages
    Mapping view_under_test_;
    Mapping writer_;
};

// A destination buffer of exactly the size asked for, carved from the end of one allocation
// with the bytes before it poisoned: AddressSanitizer reports any access past its end, and
// any before its start except within the 8-byte granule that holds an unaligned start.
class ExactBuffer {
public:
    explicit ExactBuffer(std::size_t capacity);
    ~ExactBuffer();
    ExactBuffer(const ExactBuffer&) = delete;
    ExactBuffer& operator=(const ExactBuffer&) = delete;

    // The last `size` bytes (at most the capacity) of the allocation; valid until the next
    // call.
    [[nodiscard]] std::span<std::byte> take(std::size_t size) noexcept;

private:
    std::size_t capacity_;
    std::unique_ptr<std::byte[]> storage_;
};

} // namespace tolvek::vcam::fuzzing
