#pragma once

// The camera's tests and benchmarks in real DirectShow graphs, all of them Wine's own: the
// products' camera host (vcam/host: the system device enumerator, the Filter Graph Manager,
// the Capture Graph Builder, the Sample Grabber and the Null Renderer), under the names the
// tests know, and what only tests need besides. Tests take the camera through COM, from its
// registration, as any host gets it; benchmarks may build it into themselves.

#include <windows.h>

#include "capture_graph_win.h"
#include "com_apartment_win.h"
#include "sample_recorder_win.h"
#include "video_input_devices_win.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvek::vcam::testing {

using vcam::bind_camera;
using vcam::CaptureGraph;
using vcam::GrabbedSample;
using vcam::GraphClock;
using vcam::GraphConnection;
using vcam::list_video_input_devices;
using vcam::SampleRecorder;
using vcam::VideoInputDevices;

// The camera module built beside the running program, registered for the object's life.
class ScopedCameraRegistration {
public:
    ScopedCameraRegistration();
    ~ScopedCameraRegistration();
    ScopedCameraRegistration(const ScopedCameraRegistration&) = delete;
    ScopedCameraRegistration& operator=(const ScopedCameraRegistration&) = delete;

    // Empty when the registration worked, else why not.
    [[nodiscard]] const std::string& error() const noexcept { return error_; }

private:
    std::string error_;
};

// The camera module if this process has it loaded now, else null.
[[nodiscard]] HMODULE loaded_camera_module();

// The loaded camera module's own DllCanUnloadNow.
[[nodiscard]] HRESULT camera_module_can_unload_now();

// A recorder's reader of the tests' numbered patterns (frame_patterns.h): tells a whole
// pattern, the fill colour and anything else apart.
[[nodiscard]] GrabbedSample::Picture read_test_pattern(const std::byte* data, long length,
                                                       std::uint32_t& number);

} // namespace tolvek::vcam::testing
