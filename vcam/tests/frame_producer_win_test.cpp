// One producer per session: the producer lock, taken in this process and by producer
// processes, released when a producer ends normally and when its process is killed.

#include "frame_producer_win.h"

#include "frame_patterns.h"
#include "frame_reader.h"
#include "producer_process_win.h"
#include "shared_sections_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tolvek::vcam {
namespace {

using testing::ProducerProcess;

TEST(FrameProducerWin, a_second_producer_is_refused_until_the_first_is_destroyed)
{
    std::unique_ptr<FrameProducer> first;
    ASSERT_EQ(FrameProducer::create(first), S_OK);

    std::unique_ptr<FrameProducer> second;
    EXPECT_EQ(FrameProducer::create(second), kAnotherProducerRunning);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(FrameProducer::create(second), kAnotherProducerRunning)
        << "a refusal leaves nothing held";

    first.reset();
    EXPECT_EQ(FrameProducer::create(second), S_OK);
    EXPECT_NE(second, nullptr);
}

// A lock that belonged to the creating thread (a mutex's ownership) would be abandoned when
// that thread ends, letting a second producer in while the first still writes, and could not
// be released from the destroying thread.
TEST(FrameProducerWin, the_lock_belongs_to_the_producer_not_to_the_thread_that_created_it)
{
    std::unique_ptr<FrameProducer> first;
    HRESULT created = E_FAIL;
    std::thread([&] { created = FrameProducer::create(first); }).join();
    ASSERT_EQ(created, S_OK);

    std::unique_ptr<FrameProducer> second;
    EXPECT_EQ(FrameProducer::create(second), kAnotherProducerRunning)
        << "the creating thread has ended, the producer has not";

    std::thread([&] { first.reset(); }).join();
    EXPECT_EQ(FrameProducer::create(second), S_OK) << "destroyed on a third thread";
}

TEST(FrameProducerWin, a_create_failure_has_a_text_of_its_own)
{
    struct Case {
        HRESULT result;
        std::string text;
    };
    for (const Case& c : std::vector<Case>{
             {kAnotherProducerRunning, "another producer is running"},
             {HRESULT_FROM_WIN32(ERROR_BUSY), "another producer is running"},
             {E_OUTOFMEMORY, "(0x8007000E)"},
             {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "(0x80070005)"},
         }) {
        const std::string text = producer_failure_text(c.result);
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
        EXPECT_EQ(text.find("another producer") != std::string::npos,
                  c.result == kAnotherProducerRunning)
            << text;
    }
}

TEST(FrameProducerWin, a_producer_process_is_refused_while_another_runs_and_takes_over_after_it)
{
    ProducerProcess first(L"hold", 7);
    ASSERT_TRUE(first.wait_until_ready());

    ProducerProcess second(L"hold", 8);
    EXPECT_EQ(second.wait_for_exit(), testing::kProducerRefusedExitCode);
    std::unique_ptr<FrameProducer> in_this_process;
    EXPECT_EQ(FrameProducer::create(in_this_process), kAnotherProducerRunning);

    // The refused one wrote nothing: the camera still reads the first one's frame.
    FrameReader reader{open_frame_section, MonotonicClock::now()};
    std::vector<std::byte> sample(kFrameSize);
    EXPECT_EQ(reader.fill_sample(sample.data(), sample.size(), MonotonicClock::now()).content,
              SampleContent::frame);
    EXPECT_TRUE(testing::is_whole_pattern(sample.data(), 7));

    EXPECT_EQ(first.quit_and_count_viewers(), 0u);
    ProducerProcess third(L"hold", 9);
    EXPECT_TRUE(third.wait_until_ready()) << "the first ended normally";
    EXPECT_EQ(third.quit_and_count_viewers(), 0u);
}

TEST(FrameProducerWin, a_killed_producer_process_leaves_the_lock_to_the_next)
{
    ProducerProcess first(L"hold", 7);
    ASSERT_TRUE(first.wait_until_ready());
    ASSERT_TRUE(first.kill());

    ProducerProcess second(L"hold", 8);
    EXPECT_TRUE(second.wait_until_ready());
    EXPECT_EQ(second.quit_and_count_viewers(), 0u);

    std::unique_ptr<FrameProducer> in_this_process;
    EXPECT_EQ(FrameProducer::create(in_this_process), S_OK);
}

} // namespace
} // namespace tolvek::vcam
