#pragma once

// The camera as any host finds it: among the devices of DirectShow's video input category,
// which the system device enumerator lists, by the name "Tolvek Camera", and bound from its
// moniker into a filter. COM must be initialised on the calling thread.

#include <windows.h>
#include <dshow.h>

#include "com_ptr_win.h"

#include <string>
#include <vector>

namespace tolvek::vcam {

// The devices of DirectShow's video input category, as ICreateDevEnum lists them.
struct VideoInputDevices {
    std::vector<std::wstring> friendly_names;
    ComPtr<IMoniker> camera; // the one named "Tolvek Camera", if listed
};
[[nodiscard]] HRESULT list_video_input_devices(VideoInputDevices& devices);

// The camera's filter, bound from its moniker as a host does it.
[[nodiscard]] HRESULT bind_camera(IMoniker* camera, ComPtr<IBaseFilter>& filter);

} // namespace tolvek::vcam
