#pragma once

// The two module-wide counters from which the COM server decides whether it may be
// unloaded. Both change only by atomic increment and decrement, from any thread.

#include <atomic>
#include <cstdint>

namespace tolvek::vcam {

// Filters, pins, enumerators and weak references handed out to callers, alive now (class
// factories are not counted).
extern std::atomic<std::int32_t> live_objects;
// IClassFactory::LockServer(TRUE) calls not yet matched by LockServer(FALSE).
extern std::atomic<std::int32_t> server_locks;

// True when no counted object is alive and no lock is held; `live_objects` is read first.
[[nodiscard]] bool module_can_unload() noexcept;

} // namespace tolvek::vcam
