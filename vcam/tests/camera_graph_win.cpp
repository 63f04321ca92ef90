#include "camera_graph_win.h"

#include "camera_registration_win.h"
#include "camera_registry_layout.h"
#include "frame_patterns.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::vcam::testing {

ScopedCameraRegistration::ScopedCameraRegistration()
{
    Result<std::u16string> registered = module_beside_this_program();
    if (registered) {
        registered = register_camera(registered.value());
    }
    if (!registered) {
        error_ = registered.error().text;
    }
}

ScopedCameraRegistration::~ScopedCameraRegistration()
{
    (void)unregister_camera(); // a test that needs it gone checks it itself
}

HMODULE loaded_camera_module()
{
    // The name views a literal, so it ends in a null.
    return GetModuleHandleW(as_wide(kCameraModuleFileName.data()));
}

HRESULT camera_module_can_unload_now()
{
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const HMODULE module = loaded_camera_module();
    if (module == nullptr) {
        return E_UNEXPECTED;
    }
    // Through void*: FARPROC is a placeholder type that GCC will not cast to another directly.
    const auto can_unload_now = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return can_unload_now != nullptr ? can_unload_now() : E_UNEXPECTED;
}

GrabbedSample::Picture read_test_pattern(const std::byte* data, long length, std::uint32_t& number)
{
    if (length != static_cast<long>(kFrameSize)) {
        return GrabbedSample::Picture::other;
    }
    if (is_fill_colour(data, kFrameSize / kBytesPerPixel)) {
        return GrabbedSample::Picture::fill_colour;
    }
    number = pattern_named_by(data);
    return is_whole_pattern(data, number) ? GrabbedSample::Picture::numbered
                                          : GrabbedSample::Picture::other;
}

} // namespace tolvek::vcam::testing
