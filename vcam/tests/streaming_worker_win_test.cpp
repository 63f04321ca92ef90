// The streaming worker, started and stopped by the filter, delivering into the test's own
// input pin: how many workers start, what each sample carries, how downstream answers and
// failures end or continue a run, stopping it in every place it can wait, the filter's last
// reference going while it streams, a thread that cannot start, and the producer's frames.

#include "streaming_worker_win.h"

#include <vfwmsgs.h>

#include "camera_test_support_win.h"
#include "module_counters.h"
#include "producer_process_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvek::vcam {
namespace {

using testing::Camera;
using testing::ComApartment;
using testing::kWaitLimit;
using testing::TestInputPin;
using testing::WorkerThreads;

constexpr REFERENCE_TIME kSampleDuration = 333'333;

bool wait_for_event(const UniqueHandle& event)
{
    return WaitForSingleObject(event.get(), static_cast<DWORD>(kWaitLimit.count())) ==
           WAIT_OBJECT_0;
}

UniqueHandle new_event()
{
    return UniqueHandle{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
}

class StreamingTest : public ::testing::Test {
protected:
    void connect(const ComPtr<TestInputPin>& sink)
    {
        ASSERT_EQ(camera.pin->Connect(sink.get(), nullptr), S_OK);
    }

    FILTER_STATE state() const
    {
        FILTER_STATE state = static_cast<FILTER_STATE>(-1);
        EXPECT_EQ(camera.filter->GetState(0, &state), S_OK);
        return state;
    }

    ComApartment apartment;
    Camera camera = testing::make_camera();
};

TEST_F(StreamingTest, pause_starts_one_worker_run_starts_nothing_more_and_stop_ends_it)
{
    ComPtr<TestInputPin> sink = testing::make_sink();
    connect(sink);
    const std::size_t workers = WorkerThreads::started();

    ASSERT_EQ(camera.filter->Pause(), S_OK);
    EXPECT_EQ(WorkerThreads::started(), workers + 1);
    EXPECT_EQ(state(), State_Paused);
    EXPECT_TRUE(sink->wait_for_samples(2)) << "paused already delivers";
    ASSERT_EQ(camera.filter->Run(0), S_OK);
    EXPECT_EQ(WorkerThreads::started(), workers + 1);
    EXPECT_EQ(state(), State_Running);

    const UniqueHandle worker = WorkerThreads::last_started();
    ASSERT_EQ(camera.filter->Stop(), S_OK);
    EXPECT_TRUE(WorkerThreads::has_ended(worker)) << "Stop returns after the worker ended";
    EXPECT_EQ(state(), State_Stopped);

    const std::size_t delivered = sink->sample_count();
    ASSERT_EQ(camera.filter->Run(0), S_OK);
    EXPECT_EQ(WorkerThreads::started(), workers + 2);
    ASSERT_TRUE(sink->wait_for_samples(delivered + 1));
    EXPECT_EQ(sink->samples()[delivered].start, 0) << "a new run counts from 0";
    EXPECT_EQ(camera.filter->Stop(), S_OK);
}

TEST_F(StreamingTest, samples_carry_their_index_times_a_whole_frame_and_nothing_else)
{
    ComPtr<TestInputPin> sink = testing::make_sink();
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    ASSERT_TRUE(sink->wait_for_samples(6));
    ASSERT_EQ(camera.filter->Stop(), S_OK);

    const std::vector<testing::ReceivedSample> samples = sink->samples();
    for (std::size_t index = 0; index < 6; ++index) {
        const testing::ReceivedSample& sample = samples[index];
        SCOPED_TRACE(index);
        EXPECT_EQ(sample.time_result, S_OK);
        EXPECT_EQ(sample.start, static_cast<REFERENCE_TIME>(index) * kSampleDuration);
        EXPECT_EQ(sample.stop, sample.start + kSampleDuration);
        EXPECT_EQ(sample.data_length, 3'686'400);
        EXPECT_GE(sample.size, 3'686'400);
        EXPECT_TRUE(sample.sync_point);
        EXPECT_FALSE(sample.discontinuity);
        EXPECT_FALSE(sample.preroll);
        EXPECT_FALSE(sample.has_media_type);
        EXPECT_FALSE(sample.has_media_time);
        EXPECT_TRUE(sample.fill_colour) << "no producer: the dark fill colour";
    }
}

TEST_F(StreamingTest, buffers_smaller_than_a_frame_are_filled_to_their_size)
{
    ComPtr<TestInputPin> sink = testing::make_sink({.offers_allocator = true});
    sink->own_allocator()->granted_buffer_size = 5'123; // whole pixels and three bytes
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    ASSERT_TRUE(sink->wait_for_samples(2));
    ASSERT_EQ(camera.filter->Stop(), S_OK);

    for (const testing::ReceivedSample& sample : sink->samples()) {
        EXPECT_EQ(sample.size, 5'123);
        EXPECT_EQ(sample.data_length, 5'123);
        EXPECT_TRUE(sample.fill_colour);
    }
}

TEST_F(StreamingTest, receive_answering_s_false_counts_as_delivered_and_streaming_goes_on)
{
    ComPtr<TestInputPin> sink =
        testing::make_sink({.on_receive = [](std::size_t, IMediaSample*) { return S_FALSE; }});
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    const UniqueHandle worker = WorkerThreads::last_started();

    ASSERT_TRUE(sink->wait_for_samples(4));
    EXPECT_FALSE(WorkerThreads::has_ended(worker));
    const std::vector<testing::ReceivedSample> samples = sink->samples();
    for (std::size_t index = 0; index < 4; ++index) {
        EXPECT_EQ(samples[index].start, static_cast<REFERENCE_TIME>(index) * kSampleDuration);
    }
    EXPECT_EQ(camera.filter->Stop(), S_OK);
}

TEST_F(StreamingTest, a_failing_receive_ends_the_worker_until_stop_and_pause_start_one_afresh)
{
    ComPtr<TestInputPin> sink =
        testing::make_sink({.on_receive = [](std::size_t index, IMediaSample*) {
            return index == 2 ? VFW_E_WRONG_STATE : S_OK;
        }});
    connect(sink);
    ASSERT_EQ(camera.filter->Run(0), S_OK);
    const std::size_t workers = WorkerThreads::started();
    ASSERT_TRUE(WorkerThreads::wait_until_ended(WorkerThreads::last_started()));
    EXPECT_EQ(sink->sample_count(), 3u) << "nothing after the refused sample";

    EXPECT_EQ(camera.filter->Run(0), S_OK);
    EXPECT_EQ(camera.filter->Pause(), S_OK);
    EXPECT_EQ(WorkerThreads::started(), workers) << "the ended worker still counts as present";

    ASSERT_EQ(camera.filter->Stop(), S_OK);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    EXPECT_EQ(WorkerThreads::started(), workers + 1);
    ASSERT_TRUE(sink->wait_for_samples(4));
    EXPECT_EQ(sink->samples()[3].start, 0);
    EXPECT_EQ(camera.filter->Stop(), S_OK);
}

TEST_F(StreamingTest, after_a_failing_receive_disconnect_and_a_new_connection_restart_streaming)
{
    ComPtr<TestInputPin> sink =
        testing::make_sink({.on_receive = [](std::size_t index, IMediaSample*) {
            return index == 0 ? E_FAIL : S_OK;
        }});
    connect(sink);
    ASSERT_EQ(camera.filter->Run(0), S_OK);
    ASSERT_TRUE(WorkerThreads::wait_until_ended(WorkerThreads::last_started()));

    EXPECT_EQ(camera.pin->Disconnect(), S_OK);
    EXPECT_EQ(state(), State_Running) << "Disconnect leaves the filter state";
    connect(sink);
    ASSERT_EQ(camera.filter->Run(0), S_OK);
    ASSERT_TRUE(sink->wait_for_samples(2));
    EXPECT_EQ(sink->samples()[1].start, 0);
    EXPECT_EQ(camera.filter->Stop(), S_OK);
}

TEST_F(StreamingTest, stop_while_the_worker_waits_for_a_buffer_ends_it)
{
    std::mutex held_lock;
    std::vector<ComPtr<IMediaSample>> held;
    ComPtr<TestInputPin> sink = testing::make_sink(
        {.offers_allocator = true, .on_receive = [&](std::size_t, IMediaSample* sample) {
             std::lock_guard lock(held_lock);
             held.emplace_back(sample);
             return S_OK;
         }});
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    const UniqueHandle worker = WorkerThreads::last_started();
    ASSERT_TRUE(sink->own_allocator()->wait_for_get_buffer_calls(3))
        << "both buffers are held; the third request waits";

    EXPECT_EQ(camera.filter->Stop(), S_OK);

    EXPECT_TRUE(WorkerThreads::has_ended(worker));
    EXPECT_EQ(sink->sample_count(), 2u);
    std::lock_guard lock(held_lock);
    held.clear();
}

TEST_F(StreamingTest, stop_while_receive_is_in_progress_returns_after_it)
{
    const UniqueHandle inside = new_event();
    const UniqueHandle may_return = new_event();
    std::atomic<bool> receive_returned{false};
    ComPtr<TestInputPin> sink = testing::make_sink(
        {.offers_allocator = true, .on_receive = [&](std::size_t index, IMediaSample*) {
             if (index == 0) {
                 SetEvent(inside.get());
                 WaitForSingleObject(may_return.get(), static_cast<DWORD>(kWaitLimit.count()));
                 receive_returned = true;
             }
             return S_OK;
         }});
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    const UniqueHandle worker = WorkerThreads::last_started();
    ASSERT_TRUE(wait_for_event(inside));

    bool returned_after_receive = false;
    std::thread stopper([&] {
        ComApartment thread_apartment;
        camera.filter->Stop();
        returned_after_receive = receive_returned.load();
    });
    // Stop has decommitted the allocator and now waits for the worker, still inside Receive.
    EXPECT_TRUE(sink->own_allocator()->wait_for_decommits(1));
    SetEvent(may_return.get());
    stopper.join();

    EXPECT_TRUE(returned_after_receive);
    EXPECT_TRUE(WorkerThreads::has_ended(worker));
    EXPECT_EQ(sink->sample_count(), 1u);
}

TEST_F(StreamingTest, the_last_filter_reference_going_while_streaming_stops_the_worker_first)
{
    const std::int32_t objects = live_objects.load();
    ComPtr<TestInputPin> sink = testing::make_sink();
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    const UniqueHandle worker = WorkerThreads::last_started();
    ASSERT_TRUE(sink->wait_for_samples(2));

    camera.filter.reset();

    EXPECT_TRUE(WorkerThreads::has_ended(worker)) << "stopped and waited for by the Release";
    EXPECT_EQ(live_objects.load(), objects - 1);
    ComPtr<IPin> peer;
    EXPECT_EQ(camera.pin->ConnectedTo(peer.put()), S_OK) << "the pin keeps its connection";
    peer.reset();
    camera.pin.reset();
    EXPECT_EQ(live_objects.load(), objects - 2);
    EXPECT_EQ(testing::reference_count(sink->identity()), 1u);
}

// A downstream filter that holds the last reference to the camera and lets it go from inside
// Receive: the filter's destruction runs on the worker's own thread, which must not wait
// for itself, and the worker must end by itself once Receive returns.
TEST_F(StreamingTest, the_last_filter_reference_going_inside_receive_lets_the_worker_end)
{
    const std::int32_t objects = live_objects.load();
    std::atomic<IBaseFilter*> last_reference{nullptr};
    const UniqueHandle dropped = new_event();
    ComPtr<TestInputPin> sink = testing::make_sink({.on_receive = [&](std::size_t, IMediaSample*) {
        if (IBaseFilter* filter = last_reference.exchange(nullptr)) {
            filter->Release();
            SetEvent(dropped.get());
        }
        return S_OK;
    }});
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    const UniqueHandle worker = WorkerThreads::last_started();
    last_reference = camera.filter.release();

    ASSERT_TRUE(wait_for_event(dropped));
    ASSERT_TRUE(WorkerThreads::wait_until_ended(worker));
    EXPECT_EQ(live_objects.load(), objects - 1);
    PIN_INFO info{};
    ASSERT_EQ(camera.pin->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, nullptr) << "the filter is gone";
    camera.pin.reset();
    EXPECT_EQ(live_objects.load(), objects - 2);
    EXPECT_EQ(testing::reference_count(sink->identity()), 1u);
}

TEST_F(StreamingTest, stop_from_inside_receive_does_not_wait_for_itself)
{
    const UniqueHandle stopped = new_event();
    std::atomic<HRESULT> stop_result{E_FAIL};
    IBaseFilter* filter = camera.filter.get();
    ComPtr<TestInputPin> sink =
        testing::make_sink({.on_receive = [&](std::size_t index, IMediaSample*) {
            if (index == 1) {
                stop_result = filter->Stop();
                SetEvent(stopped.get());
            }
            return S_OK;
        }});
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    const UniqueHandle first_worker = WorkerThreads::last_started();
    ASSERT_TRUE(wait_for_event(stopped));
    EXPECT_EQ(stop_result.load(), S_OK);
    EXPECT_EQ(state(), State_Stopped);

    // The stopped worker may still be finishing; Pause waits for it before starting anew.
    const std::size_t workers = WorkerThreads::started();
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    EXPECT_TRUE(WorkerThreads::has_ended(first_worker));
    EXPECT_EQ(WorkerThreads::started(), workers + 1);
    ASSERT_TRUE(sink->wait_for_samples(3));
    EXPECT_EQ(sink->samples()[2].start, 0);
    EXPECT_EQ(camera.filter->Stop(), S_OK);
}

TEST_F(StreamingTest, disconnect_from_inside_receive_ends_the_worker_without_deadlock)
{
    const UniqueHandle disconnected = new_event();
    IPin* pin = camera.pin.get();
    ComPtr<TestInputPin> sink =
        testing::make_sink({.on_receive = [&](std::size_t index, IMediaSample*) {
            if (index == 0) {
                pin->Disconnect();
                SetEvent(disconnected.get());
            }
            return S_OK;
        }});
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    const UniqueHandle worker = WorkerThreads::last_started();

    ASSERT_TRUE(wait_for_event(disconnected));
    ASSERT_TRUE(WorkerThreads::wait_until_ended(worker));
    ComPtr<IPin> peer;
    EXPECT_EQ(camera.pin->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(testing::reference_count(sink->identity()), 1u);
    const std::size_t workers = WorkerThreads::started();
    EXPECT_EQ(camera.filter->Pause(), S_OK);
    EXPECT_EQ(WorkerThreads::started(), workers) << "nothing to stream to";
}

// The apartment of a thread, as CoGetApartmentType gives it.
struct Apartment {
    HRESULT result = E_FAIL;
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
};

// Downstream code relies on delivery from a member of the multithreaded apartment, as
// DirectShow's streaming threads are; a worker that merely runs beside one (implicitly) fails
// such code in a host without one. A thread that is a single-threaded apartment's already
// cannot join; the worker then streams all the same.
TEST_F(StreamingTest, the_worker_joins_the_multithreaded_apartment_and_streams_when_it_cannot)
{
    struct Case {
        const char* name;
        StreamingOptions options;
        bool multithreaded;
    };
    for (const Case& worker_case : {
             Case{"a thread of no apartment", WorkerThreads::recording_options(), true},
             Case{"a thread of a single-threaded apartment",
                  WorkerThreads::single_threaded_options(), false},
         }) {
        SCOPED_TRACE(worker_case.name);
        Camera streaming_camera = testing::make_camera(worker_case.options);
        std::mutex seen_lock;
        std::vector<Apartment> seen;
        ComPtr<TestInputPin> sink =
            testing::make_sink({.on_receive = [&](std::size_t, IMediaSample*) {
                Apartment receiving;
                receiving.result = CoGetApartmentType(&receiving.type, &receiving.qualifier);
                std::lock_guard lock(seen_lock);
                seen.push_back(receiving);
                return S_OK;
            }});
        ASSERT_EQ(streaming_camera.pin->Connect(sink.get(), nullptr), S_OK);
        ASSERT_EQ(streaming_camera.filter->Pause(), S_OK);
        EXPECT_TRUE(sink->wait_for_samples(3));
        ASSERT_EQ(streaming_camera.filter->Stop(), S_OK);

        std::lock_guard lock(seen_lock);
        ASSERT_FALSE(seen.empty());
        for (const Apartment& receiving : seen) {
            EXPECT_EQ(receiving.result, S_OK);
            EXPECT_EQ(receiving.type == APTTYPE_MTA, worker_case.multithreaded) << receiving.type;
            EXPECT_EQ(receiving.qualifier, APTTYPEQUALIFIER_NONE) << "not merely implicitly";
        }
    }
}

TEST_F(StreamingTest, a_worker_thread_that_cannot_start_fails_pause_and_run_and_decommits_again)
{
    camera = testing::make_camera(WorkerThreads::failing_options(ERROR_NOT_ENOUGH_MEMORY));
    ComPtr<TestInputPin> sink = testing::make_sink({.offers_allocator = true});
    connect(sink);

    EXPECT_EQ(camera.filter->Pause(), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(state(), State_Stopped);
    EXPECT_EQ(camera.filter->Run(0), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(state(), State_Stopped);

    EXPECT_EQ(sink->own_allocator()->commits(), 2);
    EXPECT_EQ(sink->own_allocator()->decommits(), 2);
    IMediaSample* sample = nullptr;
    EXPECT_EQ(sink->own_allocator()->inner()->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT),
              VFW_E_NOT_COMMITTED);
}

TEST_F(StreamingTest, a_failing_commit_fails_pause_and_starts_nothing)
{
    ComPtr<TestInputPin> sink = testing::make_sink({.offers_allocator = true});
    sink->own_allocator()->commit_result = E_OUTOFMEMORY;
    connect(sink);
    const std::size_t workers = WorkerThreads::started();

    EXPECT_EQ(camera.filter->Pause(), E_OUTOFMEMORY);
    EXPECT_EQ(state(), State_Stopped);
    EXPECT_EQ(WorkerThreads::started(), workers);
}

TEST_F(StreamingTest, a_streaming_camera_shows_the_producers_frames_and_counts_as_a_viewer)
{
    testing::ProducerProcess producer(L"stream", 500);
    ASSERT_TRUE(producer.wait_until_ready());
    ComPtr<TestInputPin> sink = testing::make_sink();
    connect(sink);
    ASSERT_EQ(camera.filter->Pause(), S_OK);
    ASSERT_TRUE(sink->wait_for_samples(5));

    EXPECT_EQ(producer.quit_and_count_viewers(), 1u) << "the worker keeps its slot alive";
    ASSERT_EQ(camera.filter->Stop(), S_OK);
    std::uint32_t previous = 0;
    for (const testing::ReceivedSample& sample : sink->samples()) {
        if (!sample.pattern) {
            continue; // the fill colour once the producer has gone
        }
        EXPECT_GE(*sample.pattern, previous) << "frames arrive whole and in order";
        previous = *sample.pattern;
    }
    EXPECT_GT(previous, 500u) << "the producer's frames reached the samples";
}

} // namespace
} // namespace tolvek::vcam
