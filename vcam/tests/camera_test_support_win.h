#pragma once

// What the camera's Windows-side tests share: COM on the test's threads, reference counts,
// a camera made with a thread starter that records (or refuses) its worker threads, and
// connecting it to a test sink.

#include <windows.h>
#include <strmif.h>

#include "camera_filter_win.h"
#include "com_apartment_win.h"
#include "media_type_win.h"
#include "test_sink_win.h"
#include "tolvek/owners_win.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace tolvek::vcam::testing {

// The reference count of `object` now, read through an AddRef and a Release.
[[nodiscard]] ULONG reference_count(IUnknown* object);

// The worker threads started by filters made with recording_options(), in one process-wide
// record (the tests of one program run one after the other).
class WorkerThreads {
public:
    // Options whose thread starter records every worker thread it starts.
    [[nodiscard]] static StreamingOptions recording_options() noexcept;
    // Options whose thread starter records threads that are members of a single-threaded
    // apartment before the worker's body runs on them.
    [[nodiscard]] static StreamingOptions single_threaded_options() noexcept;
    // Options whose thread starter fails with `error` as the thread's last error.
    [[nodiscard]] static StreamingOptions failing_options(DWORD error) noexcept;

    [[nodiscard]] static std::size_t started();
    // A handle of the worker thread started last (null when none was), for waiting on it.
    [[nodiscard]] static UniqueHandle last_started();
    // True when the thread of `handle` has ended within the test's wait limit.
    [[nodiscard]] static bool wait_until_ended(const UniqueHandle& handle);
    [[nodiscard]] static bool has_ended(const UniqueHandle& handle);
};

// A camera filter and its pin as a host sees them.
struct Camera {
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin;
};

// A new camera whose worker threads are recorded.
[[nodiscard]] Camera
make_camera(const StreamingOptions& options = WorkerThreads::recording_options());

// Whether `media_type`, with its format block `format`, is the camera type field by field.
[[nodiscard]] ::testing::AssertionResult is_camera_media_type(const AM_MEDIA_TYPE& media_type,
                                                              const BYTE* format);

// The camera type with another frame size or bit depth, which the camera refuses.
[[nodiscard]] UniqueMediaType camera_type_changed(LONG width, LONG height, WORD bit_count);

// A new sink input pin following `script`.
[[nodiscard]] ComPtr<TestInputPin> make_sink(TestInputPin::Script script = {});

} // namespace tolvek::vcam::testing
