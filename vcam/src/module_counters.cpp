#include "module_counters.h"

namespace tolvek::vcam {

std::atomic<std::int32_t> live_objects{0};
std::atomic<std::int32_t> server_locks{0};

bool module_can_unload() noexcept
{
    const bool no_objects = live_objects.load() == 0;
    return no_objects && server_locks.load() == 0;
}

} // namespace tolvek::vcam
