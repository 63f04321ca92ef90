#include "sample_recorder_win.h"

#include <algorithm>
#include <new>

namespace tolvek::vcam {

HRESULT SampleRecorder::SampleCB(double, IMediaSample* sample)
{
    // Nothing may leave a COM method; here only memory can run out.
    try {
        GrabbedSample grabbed;
        grabbed.arrival = MonotonicClock::now();
        grabbed.data_length = sample->GetActualDataLength();
        if (FAILED(sample->GetTime(&grabbed.start, &grabbed.stop))) {
            grabbed.start = grabbed.stop = -1;
        }
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) {
            data = nullptr;
        }
        const auto* bytes = reinterpret_cast<const std::byte*>(data);
        if (read_picture_ && bytes != nullptr) {
            grabbed.picture = read_picture_(bytes, grabbed.data_length, grabbed.number);
        }
        {
            std::lock_guard lock(lock_);
            samples_.push_back(grabbed);
            if (hold_) {
                held_.emplace_back(sample);
            }
            // Copied here, under the lock, so that a capture that gives up waiting never
            // meets a copy finished after it.
            if (wanted_ == grabbed.picture && bytes != nullptr) {
                // Never more than the buffer holds, whatever length an upstream filter set.
                const long length = std::clamp(grabbed.data_length, 0L, sample->GetSize());
                captured_.emplace(
                    CapturedFrame{grabbed, std::vector<std::byte>(bytes, bytes + length)});
                wanted_.reset();
            }
        }
        changed_.notify_all();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool SampleRecorder::wait_until(const Condition& condition, std::chrono::milliseconds limit)
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, limit, [&] { return condition(samples_); });
}

std::vector<GrabbedSample> SampleRecorder::samples() const
{
    std::lock_guard lock(lock_);
    return samples_;
}

std::size_t SampleRecorder::count() const
{
    std::lock_guard lock(lock_);
    return samples_.size();
}

void SampleRecorder::clear()
{
    std::lock_guard lock(lock_);
    samples_.clear();
}

std::optional<CapturedFrame> SampleRecorder::capture_next(GrabbedSample::Picture picture,
                                                          std::chrono::milliseconds limit)
{
    std::unique_lock lock(lock_);
    captured_.reset();
    wanted_ = picture;
    changed_.wait_for(lock, limit, [&] { return captured_.has_value(); });
    wanted_.reset();
    std::optional<CapturedFrame> captured = std::move(captured_);
    captured_.reset();
    return captured;
}

void SampleRecorder::hold_samples(bool hold)
{
    std::lock_guard lock(lock_);
    hold_ = hold;
}

void SampleRecorder::release_held_samples()
{
    std::vector<ComPtr<IMediaSample>> released;
    {
        std::lock_guard lock(lock_);
        released.swap(held_);
    }
    // Released outside the lock: giving a buffer back may wake the worker, which then calls
    // SampleCB.
}

} // namespace tolvek::vcam
