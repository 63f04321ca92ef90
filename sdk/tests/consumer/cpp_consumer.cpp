// Feeds the camera one frame and holds a monitor for a moment, on the SDK's C++ libraries.
// Writes one line for each, with the outcome.

#include "frame_producer_win.h"
#include "tolvek/display_client.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

void feed_camera()
{
    std::unique_ptr<tolvek::vcam::FrameProducer> producer;
    if (const HRESULT result = tolvek::vcam::FrameProducer::create(producer); FAILED(result)) {
        std::printf("camera: %s\n", tolvek::vcam::producer_failure_text(result).c_str());
        return;
    }
    const std::vector<std::byte> frame(tolvek::vcam::kFrameSize, std::byte{0x40});
    producer->publish(tolvek::vcam::ConstFramePixels{frame.data(), tolvek::vcam::kFrameSize});
    std::printf("camera: published frame %llu to %u viewers\n",
                static_cast<unsigned long long>(producer->frame_counter()),
                producer->live_viewers());
}

void hold_monitor()
{
    auto connected = tolvek::display::DisplayClient::connect();
    if (!connected) {
        std::printf("monitors: %s\n", connected.error().text.c_str());
        return;
    }
    tolvek::display::DisplayClient& client = *connected.value();
    const auto version = client.ping();
    const auto monitor = client.create(1920, 1080, 1);
    if (!version || !monitor) {
        std::printf("monitors: %s\n", (!version ? version.error() : monitor.error()).text.c_str());
        return;
    }
    std::printf("monitors: helper %s holds %ux%u as serial %u\n", version.value().c_str(),
                monitor.value().width, monitor.value().height, monitor.value().serial);
}

} // namespace

int main()
{
    feed_camera();
    hold_monitor();
    return 0;
}
