#pragma once

// The camera in a DirectShow graph as a capture host builds one, of the system's own filters:
// the Filter Graph Manager, the Capture Graph Builder, the Sample Grabber, whose callback sees
// every sample, and the Null Renderer. COM must be initialised on the calling thread.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "com_ptr_win.h"

// In strmiids, but not declared by MinGW's qedit.h.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace tolvek::vcam {

// The first pin of `filter` in `direction`; VFW_E_NOT_FOUND when it has none.
[[nodiscard]] HRESULT find_pin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>& found);

// A new Sample Grabber that calls `callback`'s SampleCB with every sample.
[[nodiscard]] HRESULT make_sample_grabber(ISampleGrabberCB* callback, ComPtr<IBaseFilter>& grabber);

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
    // decommitted), so a graph that reconnects the camera connects it to the grabber directly.
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

} // namespace tolvek::vcam
