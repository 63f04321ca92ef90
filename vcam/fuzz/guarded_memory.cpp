#include "guarded_memory.h"

#include "fuzz_harness.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>

namespace tolvek::vcam::fuzzing {

namespace {

std::size_t page_size()
{
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

} // namespace

GuardedSection::GuardedSection(std::size_t size, ViewAccess access_under_test)
    : size_(size), mapped_size_((size + page_size() - 1) / page_size() * page_size())
{
    const int memory_file = memfd_create("tolvek-fuzz-section", MFD_CLOEXEC);
    require(memory_file >= 0, "memfd_create failed");
    require(ftruncate(memory_file, static_cast<off_t>(mapped_size_)) == 0, "ftruncate failed");
    view_under_test_ = map_view(memory_file, access_under_test == ViewAccess::read_write);
    writer_ = map_view(memory_file, true);
    close(memory_file); // the mappings keep the memory
}

GuardedSection::~GuardedSection()
{
    for (const Mapping& mapping : {view_under_test_, writer_}) {
        ASAN_UNPOISON_MEMORY_REGION(mapping.reservation, mapping.reservation_size);
        munmap(mapping.reservation, mapping.reservation_size);
    }
}

GuardedSection::Mapping GuardedSection::map_view(int memory_file, bool writable) const
{
    const std::size_t page = page_size();
    Mapping mapping;
    mapping.reservation_size = mapped_size_ + 2 * page;
    mapping.reservation =
        mmap(nullptr, mapping.reservation_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    require(mapping.reservation != MAP_FAILED, "mmap of the guarded reservation failed");
    std::byte* pages = static_cast<std::byte*>(mapping.reservation) + page;
    const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    require(mmap(pages, mapped_size_, protection, MAP_SHARED | MAP_FIXED, memory_file, 0) == pages,
            "mmap of the section's pages failed");
    // The layout ends where the pages do; what comes before it in the first page is off
    // limits like the guard pages.
    const std::size_t slack = mapped_size_ - size_;
    ASAN_POISON_MEMORY_REGION(pages, slack);
    mapping.base = pages + slack;
    return mapping;
}

ExactBuffer::ExactBuffer(std::size_t capacity)
    : capacity_(capacity), storage_(new std::byte[capacity])
{
}

ExactBuffer::~ExactBuffer()
{
    ASAN_UNPOISON_MEMORY_REGION(storage_.get(), capacity_);
}

std::span<std::byte> ExactBuffer::take(std::size_t size) noexcept
{
    size = std::min(size, capacity_);
    std::byte* start = storage_.get() + (capacity_ - size);
    ASAN_UNPOISON_MEMORY_REGION(storage_.get(), capacity_);
    ASAN_POISON_MEMORY_REGION(storage_.get(), capacity_ - size);
    return {start, size};
}

} // namespace tolvek::vcam::fuzzing
