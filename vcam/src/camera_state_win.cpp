#include "camera_state_win.h"

#include <new>

namespace tolvek::vcam {

std::shared_ptr<CameraState> CameraState::create() noexcept
{
    try {
        return std::make_shared<CameraState>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_lock<std::mutex> CameraState::lock_state() noexcept
{
    if (is_connecting_thread()) {
        return std::unique_lock<std::mutex>(state_lock, std::defer_lock);
    }
    return std::unique_lock<std::mutex>(state_lock);
}

} // namespace tolvek::vcam
