#include "pattern_feed_win.h"

#include "feed_report.h"
#include "frame_pacing.h"
#include "pacing_sleep_win.h"
#include "pattern_picture.h"

#include <algorithm>

namespace tolvek::vcam {

namespace {

using Clock = std::chrono::steady_clock;

bool is_set(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

void draw_pattern_now(FramePixels frame, std::uint64_t frame_number) noexcept
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    draw_pattern_picture(frame, frame_number,
                         {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds});
}

std::uint64_t run_feed(FrameProducer& producer, const FeedSettings& settings)
{
    const Clock::time_point started = Clock::now();
    const Clock::time_point deadline =
        settings.duration ? started + *settings.duration : Clock::time_point::max();
    PacingSleep sleep{PacingSleepKind::high_resolution_timer};
    ViewerWatch watch;
    std::uint64_t published = 0;
    // While somebody watches: when this run of frames began, and how many it has published.
    // Frames are due on the camera's own schedule, counted from the start of the run.
    std::optional<Clock::time_point> run_started;
    std::uint64_t published_in_run = 0;

    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline || is_set(settings.stop)) {
            return published;
        }
        const std::uint32_t viewers = producer.live_viewers();
        if (const std::optional<std::string> line = watch.update(viewers)) {
            settings.say(*line);
        }
        if (viewers == 0) {
            run_started.reset();
            const auto wait = std::min<Clock::duration>(kIdleCheckInterval, deadline - now);
            WaitForSingleObject(settings.stop,
                                whole_milliseconds(std::chrono::duration_cast<Nanoseconds>(wait)));
            continue;
        }
        if (!run_started) {
            run_started = now;
            published_in_run = 0;
        }
        producer.publish_with([&](FramePixels frame) { settings.draw(frame, published); });
        ++published;
        const Clock::time_point after = Clock::now();
        const Nanoseconds wait =
            std::min<Nanoseconds>(wait_after_sample(published_in_run++, *run_started, after),
                                  std::chrono::duration_cast<Nanoseconds>(deadline - after));
        if (wait > Nanoseconds::zero()) {
            sleep.sleep_for(wait);
        }
    }
}

} // namespace tolvek::vcam
