#include "frame_copy_baseline_win.h"

#include "camera_format.h"
#include "frame_pacing.h"

#include <chrono>
#include <cstdint>
#include <cstring>

namespace tolvek::vcam {

namespace {

constexpr int kBackToBackCopies = 3000;

} // namespace

double thread_seconds(HANDLE thread)
{
    FILETIME created{}, ended{}, kernel{}, user{};
    if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) {
        return -1;
    }
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

FrameCopyBaseline::FrameCopyBaseline()
    : sources_(new std::byte[3 * kFrameSize]), samples_(new std::byte[2 * kFrameSize])
{
    std::memset(sources_.get(), 0x5A, 3 * kFrameSize);
    std::memset(samples_.get(), 0, 2 * kFrameSize);
}

double FrameCopyBaseline::back_to_back()
{
    const double before = thread_seconds(GetCurrentThread());
    for (int index = 0; index < kBackToBackCopies; ++index) {
        copy(index);
    }
    return (thread_seconds(GetCurrentThread()) - before) / (kBackToBackCopies / 30.0);
}

double FrameCopyBaseline::paced(int seconds)
{
    const double before = thread_seconds(GetCurrentThread());
    const auto start = std::chrono::steady_clock::now();
    for (int index = 0; index < seconds * 30; ++index) {
        copy(index);
        const Nanoseconds wait = wait_after_sample(static_cast<std::uint64_t>(index), start,
                                                   std::chrono::steady_clock::now());
        if (wait > Nanoseconds::zero()) {
            Sleep(static_cast<DWORD>(
                std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()));
        }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return (thread_seconds(GetCurrentThread()) - before) / wall;
}

void FrameCopyBaseline::copy(int index)
{
    std::memcpy(samples_.get() + (index % 2) * kFrameSize,
                sources_.get() + (index % 3) * kFrameSize, kFrameSize);
    // Keeps the compiler from dropping copies whose result nobody reads.
    asm volatile("" : : "r"(samples_.get()) : "memory");
}

} // namespace tolvek::vcam
