#include "streaming_worker_win.h"

#include "camera_format.h"
#include "frame_pacing.h"
#include "frame_reader.h"
#include "shared_sections_win.h"
#include "tolvek/com_apartment_win.h"
#include "viewer_registration.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

// The base of the module this code is linked into: the DLL, or a test program.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tolvek::vcam {

namespace {

// What one worker owns, from start_streaming until its thread ends. The members are
// destroyed in the reverse order of their declaration, which is the order in which the
// worker gives things up when it ends: the downstream input pin, the allocator, the frame
// section, the viewer slot and its section, then the shared state.
struct WorkerContext {
    WorkerContext(UniqueLibrary module_reference, PacingSleepKind sleep_kind,
                  std::shared_ptr<CameraState> shared_state, ComPtr<IMemAllocator> sample_allocator,
                  ComPtr<IMemInputPin> downstream_pin, MonotonicTime now) noexcept
        : module(std::move(module_reference)), pacing_sleep(sleep_kind),
          state(std::move(shared_state)), viewer_registration(&open_viewer_section),
          frame_reader(&open_frame_section, now), allocator(std::move(sample_allocator)),
          input_pin(std::move(downstream_pin))
    {
    }

    UniqueLibrary module; // handed to FreeLibraryAndExitThread, never released here
    PacingSleep pacing_sleep;
    std::shared_ptr<CameraState> state;
    ViewerRegistration viewer_registration;
    FrameReader frame_reader;
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input_pin;
};

HRESULT last_error_as_result() noexcept
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// True on the thread of `thread` itself. A thread that has ended is nobody's current thread,
// even when the system has given its id to a new one since.
bool is_current_thread(HANDLE thread) noexcept
{
    return WaitForSingleObject(thread, 0) == WAIT_TIMEOUT &&
           GetThreadId(thread) == GetCurrentThreadId();
}

// Takes a buffer, fills it with sample `index` and delivers it downstream. Any failure ends
// the worker; every success of Receive, S_FALSE included, counts as delivered.
HRESULT deliver_sample(WorkerContext& context, std::uint64_t index) noexcept
{
    ComPtr<IMediaSample> sample;
    HRESULT result = context.allocator->GetBuffer(sample.put(), nullptr, nullptr, 0);
    if (FAILED(result)) {
        return result; // also how a decommit by stop_streaming ends a waiting worker
    }
    if (!sample) {
        return E_FAIL;
    }
    BYTE* buffer = nullptr;
    if (FAILED(result = sample->GetPointer(&buffer))) {
        return result;
    }
    if (buffer == nullptr) {
        return E_POINTER;
    }
    // A negative size from a broken sample counts as an empty buffer.
    const auto size = static_cast<std::size_t>(std::max(sample->GetSize(), 0L));
    const FilledSample filled = context.frame_reader.fill_sample(
        reinterpret_cast<std::byte*>(buffer), size, MonotonicClock::now());
    if (FAILED(result = sample->SetActualDataLength(static_cast<long>(filled.data_length)))) {
        return result;
    }
    REFERENCE_TIME start_time = static_cast<REFERENCE_TIME>(index) * kFrameInterval;
    REFERENCE_TIME stop_time = start_time + kFrameInterval;
    if (FAILED(result = sample->SetTime(&start_time, &stop_time))) {
        return result;
    }
    if (FAILED(result = sample->SetSyncPoint(TRUE))) {
        return result;
    }
    return context.input_pin->Receive(sample.get());
}

void stream_samples(WorkerContext& context) noexcept
{
    CameraState& state = *context.state;
    const MonotonicTime start = MonotonicClock::now();
    while (!state.stop_requested.load()) {
        context.viewer_registration.refresh(GetTickCount64());
        const std::uint64_t index = state.frame_index.load();
        if (FAILED(deliver_sample(context, index))) {
            return; // the error that ended the run is dropped: nobody is there to hear it
        }
        state.frame_index.store(index + 1);
        const Nanoseconds wait = wait_after_sample(index, start, MonotonicClock::now());
        if (wait > Nanoseconds::zero()) {
            context.pacing_sleep.sleep_for(wait);
        }
    }
}

DWORD WINAPI run_worker(void* parameter)
{
    HMODULE module = nullptr;
    {
        // The worker is a streaming thread, and downstream code relies on what DirectShow's
        // own streaming threads are: members of the multithreaded apartment. A grabber
        // callback or a filter that creates a COM object inside Receive fails with
        // CO_E_NOTINITIALIZED on a thread of no apartment in a host whose threads are all
        // single-threaded apartments. Should the join fail, the worker streams all the same,
        // as it would without it; the apartment is left only when joined, after the context
        // has given up every COM reference.
        const ComApartment apartment(ApartmentKind::multithreaded);
        std::unique_ptr<WorkerContext> context(static_cast<WorkerContext*>(parameter));
        stream_samples(*context);
        module = context->module.release();
    }
    // The module reference goes last, together with the thread: no code of the module runs
    // after it, so a host may unload the module at any time before.
    FreeLibraryAndExitThread(module, 0);
}

// Starts the thread of a worker that delivers through `input_pin` from `allocator`, which is
// committed, and records it in `worker`. Under `state_lock`.
HRESULT launch_worker(const std::shared_ptr<CameraState>& state, const StreamingOptions& options,
                      const ComPtr<IMemInputPin>& input_pin,
                      const ComPtr<IMemAllocator>& allocator) noexcept
{
    UniqueLibrary module;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&__ImageBase), module.put())) {
        return last_error_as_result();
    }
    std::unique_ptr<WorkerContext> context(
        new (std::nothrow) WorkerContext(std::move(module), options.pacing_sleep, state, allocator,
                                         input_pin, MonotonicClock::now()));
    if (context == nullptr) {
        return E_OUTOFMEMORY;
    }
    HANDLE thread = options.start_thread(&run_worker, context.get());
    if (thread == nullptr) {
        return last_error_as_result(); // taken before the context's clean-up can change it
    }
    static_cast<void>(context.release()); // the thread owns it now
    state->worker.reset(thread);
    return S_OK;
}

// Under `state_lock`, with no worker recorded.
HRESULT start_worker(const std::shared_ptr<CameraState>& state,
                     const StreamingOptions& options) noexcept
{
    ComPtr<IMemInputPin> input_pin = state->input_pin;
    ComPtr<IMemAllocator> allocator = state->allocator;
    if (!input_pin || !allocator) {
        return S_OK; // not connected: the first Pause or Run after Connect starts the worker
    }
    if (HRESULT result = allocator->Commit(); FAILED(result)) {
        return result;
    }
    state->stop_requested.store(false);
    state->frame_index.store(0);
    const HRESULT result = launch_worker(state, options, input_pin, allocator);
    if (FAILED(result)) {
        allocator->Decommit(); // its own result is dropped: the start has failed either way
    }
    return result;
}

} // namespace

HANDLE start_worker_thread(LPTHREAD_START_ROUTINE body, void* context) noexcept
{
    return CreateThread(nullptr, 0, body, context, 0, nullptr);
}

HRESULT start_streaming(const std::shared_ptr<CameraState>& state,
                        const StreamingOptions& options) noexcept
{
    for (;;) {
        UniqueHandle ending_worker;
        {
            const auto lock = state->lock_state();
            if (!state->worker) {
                return start_worker(state, options);
            }
            // A worker that runs, or that ended by itself on a downstream error, stays until
            // stop_streaming takes it: Pause and Run start nothing then. So does a call from
            // the worker's own thread, which cannot wait for itself.
            if (!state->stop_requested.load() || is_current_thread(state->worker.get())) {
                return S_OK;
            }
            // A worker told to stop from its own thread is still ending. Wait for it as
            // stop_streaming would, outside the lock, then start afresh.
            ending_worker = std::move(state->worker);
        }
        WaitForSingleObject(ending_worker.get(), INFINITE);
    }
}

void stop_streaming(CameraState& state) noexcept
{
    UniqueHandle worker;
    {
        const auto lock = state.lock_state();
        state.stop_requested.store(true);
        if (state.allocator) {
            state.allocator->Decommit(); // its result is dropped; stopping never fails
        }
        if (!state.worker || is_current_thread(state.worker.get())) {
            return;
        }
        worker = std::move(state.worker);
    }
    WaitForSingleObject(worker.get(), INFINITE);
}

} // namespace tolvek::vcam
