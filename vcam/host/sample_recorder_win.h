#pragma once

// A camera host's view of the samples that reach a Sample Grabber: when each came, what its
// picture shows, and a copy of one on request, as a host keeps a snapshot.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "com_object_win.h"
#include "com_ptr_win.h"
#include "frame_reader.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tolvek::vcam {

// What one grabbed sample carried, and when it came.
struct GrabbedSample {
    enum class Picture {
        numbered,    // a numbered picture, its number in `number`
        fill_colour, // the camera's fill colour
        matching,    // the picture that a reader of the host's own looked for
        other,
        not_inspected,
    };

    MonotonicTime arrival;
    Picture picture = Picture::not_inspected;
    std::uint32_t number = 0; // of a numbered picture
    long data_length = 0;
    REFERENCE_TIME start = -1;
    REFERENCE_TIME stop = -1;
};

// A grabbed sample with a copy of its bytes.
struct CapturedFrame {
    GrabbedSample sample;
    std::vector<std::byte> bytes;
};

// The Sample Grabber's callback, called on the camera's worker thread for every sample: it
// records each one, copies one when asked to, can hold on to samples the way a slow consumer
// does, and lets a host wait for a condition on what came.
class SampleRecorder final
    : public ComObject<SampleRecorder, LiveObject::not_counted, ISampleGrabberCB> {
public:
    using Condition = std::function<bool(const std::vector<GrabbedSample>&)>;
    // Tells from a sample's bytes and data length what it shows; sets `number` for a
    // numbered picture. Called on the camera's worker thread; it must not throw.
    using PictureReader = std::function<GrabbedSample::Picture(const std::byte* data, long length,
                                                               std::uint32_t& number)>;

    // Keeps only the arrival time and the sample times of each sample, as for pacing.
    SampleRecorder() = default;
    // Tells the pictures apart with `read_picture` as well.
    explicit SampleRecorder(PictureReader read_picture) : read_picture_(std::move(read_picture)) {}

    // ISampleGrabberCB
    HRESULT STDMETHODCALLTYPE SampleCB(double sample_time, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    // True once `condition` holds for the samples so far; false when `limit` passed first.
    [[nodiscard]] bool wait_until(const Condition& condition, std::chrono::milliseconds limit);
    [[nodiscard]] std::vector<GrabbedSample> samples() const;
    [[nodiscard]] std::size_t count() const;
    void clear();

    // A copy of the next sample that comes showing `picture` (as the reader tells; without a
    // reader every sample is not_inspected); nothing when none came within `limit`. One
    // capture at a time.
    [[nodiscard]] std::optional<CapturedFrame> capture_next(GrabbedSample::Picture picture,
                                                            std::chrono::milliseconds limit);

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
    std::optional<GrabbedSample::Picture> wanted_; // what a waiting capture asks for
    std::optional<CapturedFrame> captured_;
};

} // namespace tolvek::vcam
