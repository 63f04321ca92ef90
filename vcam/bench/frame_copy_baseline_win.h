#pragma once

// What the Windows benchmarks measure their subjects against, in the same run: the processor
// time of a thread, and memcpy of one camera frame (3,686,400 bytes) between buffers as large
// as the frame section's three slots and the allocator's two buffers, the copy at the heart of
// each sample. Wine reports thread times in 10 ms steps, so each figure is taken over many
// seconds or thousands of copies.

#include <windows.h>

#include <cstddef>
#include <memory>

namespace tolvek::vcam {

// User and kernel time of a thread, in seconds; -1 when it cannot be had.
[[nodiscard]] double thread_seconds(HANDLE thread);

class FrameCopyBaseline {
public:
    FrameCopyBaseline();

    // CPU seconds of 30 frame copies, from 3,000 of them in a row.
    [[nodiscard]] double back_to_back();

    // CPU seconds a second of one frame copy every 1/30 s, on an absolute schedule as the
    // camera's worker and the feed keep theirs, over `seconds`. A thread that sleeps between
    // copies meets caches that others have used meanwhile, so a paced copy costs more than one
    // in a tight loop.
    [[nodiscard]] double paced(int seconds);

private:
    void copy(int index);

    std::unique_ptr<std::byte[]> sources_;
    std::unique_ptr<std::byte[]> samples_;
};

} // namespace tolvek::vcam
