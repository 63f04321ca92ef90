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

CameraState::~CameraState()
{
    if (worker.joinable()) {
        worker.detach();
    }
}

} // namespace tolvek::vcam
