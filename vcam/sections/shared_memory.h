#pragma once

// Access to memory shared with another process. Every field that two processes synchronise
// on is loaded and stored through std::atomic_ref; the bulk pixels are protected by the
// slot sequence (a seqlock) instead, so their copy races with the writer by design and is
// checked afterwards.

#include <atomic>
#include <cstddef>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOLVEK_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TOLVEK_THREAD_SANITIZER 1
#endif

#if defined(TOLVEK_THREAD_SANITIZER)
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
#endif

namespace tolvek::vcam {

// Whether a field of type T at `offset` in a view can be shared by two processes of either
// bitness: the offset is a multiple of the field's size, which in a view (it starts on a
// 64 KiB boundary) is the field's natural alignment in a 32-bit and a 64-bit process alike,
// and the field is loaded and stored lock-free, in one access, by both. A 64-bit field at
// an offset of 4 would be read in two halves by a 32-bit process, and a field that needed a
// lock would have it in one process only.
template <class T>
constexpr bool is_shareable_field(std::size_t offset) noexcept
{
    return std::atomic_ref<T>::is_always_lock_free && offset % sizeof(T) == 0 &&
           offset % std::atomic_ref<T>::required_alignment == 0;
}

// The naturally aligned field of type T at `offset` in a writable view.
template <class T>
[[nodiscard]] std::atomic_ref<T> shared_field(std::byte* base, std::size_t offset) noexcept
{
    static_assert(std::atomic_ref<T>::is_always_lock_free && sizeof(T) <= 8,
                  "another process sees only lock-free words, and a read-only view takes plain "
                  "loads only");
    return std::atomic_ref<T>(*reinterpret_cast<T*>(base + offset));
}

// One load of the naturally aligned field of type T at `offset`, also from a read-only view:
// an aligned load of 4 or 8 bytes never writes, so the cast away from const is safe.
template <class T>
[[nodiscard]] T load_shared(const std::byte* base, std::size_t offset,
                            std::memory_order order) noexcept
{
    return shared_field<T>(const_cast<std::byte*>(base), offset).load(order);
}

// Copies bytes that another process may be changing at the same moment. Only a seqlock
// reader calls this, and it throws the copy away when the sequence shows that the writer
// was busy. ThreadSanitizer cannot know that the torn copy is never used, so its view of
// this one copy is switched off; the sequence loads around it stay visible to it.
inline void copy_racing_writer(std::byte* destination, const std::byte* source,
                               std::size_t size) noexcept
{
#if defined(TOLVEK_THREAD_SANITIZER)
    AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
#endif
    std::memcpy(destination, source, size);
#if defined(TOLVEK_THREAD_SANITIZER)
    AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
#endif
}

// Seqlock fences. ThreadSanitizer does not model standalone fences (GCC warns about them),
// but it needs none here: the only accesses it sees on shared memory are the atomic ones.
#if defined(__GNUC__) && !defined(__clang__) && defined(TOLVEK_THREAD_SANITIZER)
#define TOLVEK_FENCE(order)                                                                        \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wtsan\"")                    \
        std::atomic_thread_fence(order);                                                           \
    _Pragma("GCC diagnostic pop")
#else
#define TOLVEK_FENCE(order) std::atomic_thread_fence(order)
#endif

// Between the racy copy and the second sequence load: no read of the copy may be ordered
// after that load.
inline void fence_after_racy_read() noexcept
{
    TOLVEK_FENCE(std::memory_order_acquire);
}

// Between making a sequence odd and the first racy write of the data it protects: no write
// of the data may be ordered before the odd sequence.
inline void fence_before_racy_write() noexcept
{
    TOLVEK_FENCE(std::memory_order_release);
}

#undef TOLVEK_FENCE

} // namespace tolvek::vcam
