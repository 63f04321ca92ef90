#pragma once

// Building blocks of the camera's tests and benchmarks in real DirectShow graphs, all of
// them Wine's own: the system device enumerator, the Filter Graph Manager, the Capture Graph
// Builder, the Sample Grabber and the Null Renderer. Tests take the camera through COM, from
// its registration, as any host gets it; benchmarks may build it into themselves.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "com_apartment_win.h"
#include "com_object_win.h"
#include "com_ptr_win.h"
#include "frame_reader.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tolvek::vcam::testing {

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

// The devices of DirectShow's video input category, as ICreateDevEnum lists them.
struct VideoInputDevices {
    std::vector<std::wstring> friendly_names;
    ComPtr<IMoniker> camera; // the one named "Tolvek Camera", if listed
};
[[nodiscard]] HRESULT list_video_input_devices(VideoInputDevices& devices);

// The camera's filter, bound from its moniker as a host does it.
[[nodiscard]] HRESULT bind_camera(IMoniker* camera, ComPtr<IBaseFilter>& filter);

// The camera module if this process has it loaded now, else null.
[[nodiscard]] HMODULE loaded_camera_module();

// The loaded camera module's own DllCanUnloadNow.
[[nodiscard]] HRESULT camera_module_can_unload_now();

// What one grabbed sample carried, and when it came.
struct GrabbedSample {
    enum class Picture {
        numbered,    // a numbered picture, its number in `number`
        fill_colour, // the camera's fill colour
        matching,    // the picture that a test's own reader looked for
        other,
        not_inspected,
    };

    MonotonicTime arrival;
    Picture picture = Picture::not_inspected;
    std::uint32_t number = 0; // of a numbered test picture
    long data_length = 0;
    REFERENCE_TIME start = -1;
    REFERENCE_TIME stop = -1;
};

// The Sample Grabber's callback, called on the camera's worker thread for every sample: it
// records each one, can hold on to samples the way a slow consumer does, and lets a test
// wait for a condition on what came.
class SampleRecorder final
    : public ComObject<SampleRecorder, LiveObject::not_counted, ISampleGrabberCB> {
public:
    enum class Inspection {
        picture,      // tells numbered pictures, the fill colour and anything else apart
        arrival_only, // keeps only the arrival time and the sample times, for pacing
    };
    using Condition = std::function<bool(const std::vector<GrabbedSample>&)>;
    // Tells from a sample's bytes and data length what it shows; sets `number` for a
    // numbered picture.
    using PictureReader = std::function<GrabbedSample::Picture(const std::byte* data, long length,
                                                               std::uint32_t& number)>;

    explicit SampleRecorder(Inspection inspection);
    // Tells the pictures apart with a reader of the test's own.
    explicit SampleRecorder(PictureReader read_picture) : read_picture_(std::move(read_picture)) {}

    // ISampleGrabberCB
    HRESULT STDMETHODCALLTYPE SampleCB(double sample_time, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    // True once `condition` holds for the samples so far; false when `limit` passed first.
    [[nodiscard]] bool wait_until(const Condition& condition, std::chrono::milliseconds limit);
    [[nodiscard]] std::vector<GrabbedSample> samples() const;
    [[nodiscard]] std::size_t count() const;
    void clear();

    // From now on keeps a reference to each sample that comes, as a consumer that has not
    // finished with its buffers, until release_held_samples.
    void hold_samples(bool hold);
    void release_held_samples();

private:
    const PictureReader read_picture_; // none: arrival times only
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<GrabbedSample> samples_;
    bool hold_ = false;
    std::vector<ComPtr<IMediaSample>> held_;
};

enum class GraphClock {
    graph_default, // the Filter Graph Manager picks its reference clock; renderers wait on it
    none,          // no reference clock: samples pass as soon as the camera sends them
};

enum class GraphConnection {
    // As a capture host connects: the Capture Graph Builder's
    // RenderStream(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video), which in Wine puts a Smart Tee
    // between the camera and the grabber.
    capture_graph_builder,
    // Pin to pin with ConnectDirect, nothing in between. Wine's Smart Tee passes nothing more
    // once its input has been reconnected (its capture output's allocator stays
    // decommitted), so reconnection tests connect the camera to the grabber directly.
    direct,
};

// The camera in a Filter Graph Manager with a Sample Grabber (calling `callback`) and a Null
// Renderer; without a callback, camera -> Null Renderer, connected directly.
struct CaptureGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> camera;
    ComPtr<IBaseFilter> grabber; // none without a callback
    ComPtr<IBaseFilter> renderer;

    [[nodiscard]] HRESULT
    build(const ComPtr<IBaseFilter>& camera_filter, ISampleGrabberCB* callback, GraphClock clock,
          GraphConnection connection = GraphConnection::capture_graph_builder);

    // The camera's output pin, and the pin it is connected to.
    [[nodiscard]] HRESULT camera_output(ComPtr<IPin>& pin) const;
    [[nodiscard]] HRESULT camera_peer(ComPtr<IPin>& pin) const;

    // Stops the graph and lets every filter go, the graph last.
    void release();

private:
    HRESULT add_sample_grabber(ISampleGrabberCB* callback);
    HRESULT connect_as_capture_host();
    HRESULT connect_directly(IBaseFilter* from, IBaseFilter* to);
};

} // namespace tolvek::vcam::testing
