#pragma once

// The streaming worker: while the filter is paused or running, one thread per filter
// instance takes a buffer from the allocator agreed at connection, fills it from the
// producer's newest frame (or the fill colour), stamps it with its sample index and delivers
// it downstream, one sample every 1/30 s. It also keeps the camera's viewer slot alive. Like
// DirectShow's own streaming threads, the worker is a member of the multithreaded apartment
// for its life.
//
// A worker never outlives its module: it holds a reference to the module from its start and
// gives it back as the very last thing it does (FreeLibraryAndExitThread). A host may
// therefore unload the module as soon as every COM object is gone, even while a worker whose
// filter was released from inside Receive is still finishing.

#include <windows.h>

#include "camera_state_win.h"
#include "pacing_sleep_win.h"

#include <memory>

namespace tolvek::vcam {

// Starts a thread running `body` with `context`, with the default stack; the thread's handle,
// or null with the thread's last error set.
using ThreadStarter = HANDLE (*)(LPTHREAD_START_ROUTINE body, void* context);

// The production starter: CreateThread.
HANDLE start_worker_thread(LPTHREAD_START_ROUTINE body, void* context) noexcept;

// How a filter's workers run: the production defaults, or what a benchmark or test asks for.
struct StreamingOptions {
    PacingSleepKind pacing_sleep = PacingSleepKind::high_resolution_timer;
    ThreadStarter start_thread = &start_worker_thread;
};

// Starts a worker when the pin is connected and no worker is present: commits the allocator,
// numbers the new run's samples from 0 and starts the thread. S_OK also when there is nothing
// to start; the allocator's Commit error; or the error of the thread's creation, after which
// the allocator is decommitted again.
[[nodiscard]] HRESULT start_streaming(const std::shared_ptr<CameraState>& state,
                                      const StreamingOptions& options) noexcept;

// Tells the worker to end, decommits the allocator (which frees a worker waiting in
// GetBuffer) and waits for the worker's thread to end, outside `state_lock`. Called on the
// worker's own thread (a downstream filter that stops or releases the filter from inside
// Receive), it does not wait for itself: the worker ends on its own once that call returns,
// and its handle stays recorded until a later start or stop takes it.
void stop_streaming(CameraState& state) noexcept;

} // namespace tolvek::vcam
