#include "camera_test_support_win.h"

#include <amvideo.h>

#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace tolvek::vcam::testing {

namespace {

std::mutex threads_lock;
std::vector<UniqueHandle> recorded_threads;
DWORD refusal_error = ERROR_SUCCESS;

// A second handle of `thread`, owned by the caller; null when none could be made.
UniqueHandle duplicate_thread_handle(HANDLE thread) noexcept
{
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return UniqueHandle{copy};
}

HANDLE record_thread_start(LPTHREAD_START_ROUTINE body, void* context) noexcept
{
    HANDLE thread = start_worker_thread(body, context);
    if (thread != nullptr) {
        UniqueHandle copy = duplicate_thread_handle(thread);
        std::lock_guard lock(threads_lock);
        recorded_threads.push_back(std::move(copy));
    }
    return thread;
}

// What a thread started in a single-threaded apartment runs once it has joined.
struct ApartmentStart {
    LPTHREAD_START_ROUTINE body;
    void* context;
};

DWORD WINAPI run_in_single_threaded_apartment(void* parameter)
{
    const ApartmentStart start = *static_cast<ApartmentStart*>(parameter);
    delete static_cast<ApartmentStart*>(parameter);
    // Never left: the worker's body ends the thread itself.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return start.body(start.context);
}

HANDLE record_single_threaded_start(LPTHREAD_START_ROUTINE body, void* context) noexcept
{
    auto* start = new (std::nothrow) ApartmentStart{body, context};
    if (start == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE thread = record_thread_start(&run_in_single_threaded_apartment, start);
    if (thread == nullptr) {
        delete start;
    }
    return thread;
}

HANDLE refuse_thread_start(LPTHREAD_START_ROUTINE, void*) noexcept
{
    SetLastError(refusal_error);
    return nullptr;
}

} // namespace

ULONG reference_count(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

StreamingOptions WorkerThreads::recording_options() noexcept
{
    return {PacingSleepKind::high_resolution_timer, &record_thread_start};
}

StreamingOptions WorkerThreads::single_threaded_options() noexcept
{
    return {PacingSleepKind::high_resolution_timer, &record_single_threaded_start};
}

StreamingOptions WorkerThreads::failing_options(DWORD error) noexcept
{
    refusal_error = error;
    return {PacingSleepKind::high_resolution_timer, &refuse_thread_start};
}

std::size_t WorkerThreads::started()
{
    std::lock_guard lock(threads_lock);
    return recorded_threads.size();
}

UniqueHandle WorkerThreads::last_started()
{
    std::lock_guard lock(threads_lock);
    return recorded_threads.empty() ? UniqueHandle{}
                                    : duplicate_thread_handle(recorded_threads.back().get());
}

bool WorkerThreads::wait_until_ended(const UniqueHandle& handle)
{
    return handle && WaitForSingleObject(handle.get(), static_cast<DWORD>(kWaitLimit.count())) ==
                         WAIT_OBJECT_0;
}

bool WorkerThreads::has_ended(const UniqueHandle& handle)
{
    return handle && WaitForSingleObject(handle.get(), 0) == WAIT_OBJECT_0;
}

Camera make_camera(const StreamingOptions& options)
{
    Camera camera;
    ComPtr<CameraFilter> filter = CameraFilter::create_with_pin(options);
    if (!filter) {
        return camera;
    }
    camera.filter = ComPtr<IBaseFilter>(filter.get());
    filter->FindPin(kCapturePinName, camera.pin.put());
    return camera;
}

::testing::AssertionResult is_camera_media_type(const AM_MEDIA_TYPE& media_type, const BYTE* format)
{
    const UniqueMediaType camera = build_media_type();
    if (!camera) {
        return ::testing::AssertionFailure() << "no memory for the camera type";
    }
    if (media_type.majortype != camera->majortype || media_type.subtype != camera->subtype ||
        media_type.formattype != camera->formattype ||
        media_type.bFixedSizeSamples != camera->bFixedSizeSamples ||
        media_type.bTemporalCompression != camera->bTemporalCompression ||
        media_type.lSampleSize != camera->lSampleSize || media_type.pUnk != nullptr ||
        media_type.cbFormat != camera->cbFormat) {
        return ::testing::AssertionFailure() << "a field of the type differs";
    }
    if (format == nullptr || std::memcmp(format, camera->pbFormat, camera->cbFormat) != 0) {
        return ::testing::AssertionFailure() << "the format block differs";
    }
    return ::testing::AssertionSuccess();
}

UniqueMediaType camera_type_changed(LONG width, LONG height, WORD bit_count)
{
    UniqueMediaType media_type = build_media_type();
    auto* header = reinterpret_cast<VIDEOINFOHEADER*>(media_type->pbFormat);
    header->bmiHeader.biWidth = width;
    header->bmiHeader.biHeight = height;
    header->bmiHeader.biBitCount = bit_count;
    return media_type;
}

ComPtr<TestInputPin> make_sink(TestInputPin::Script script)
{
    return TestInputPin::create(std::move(script));
}

} // namespace tolvek::vcam::testing
