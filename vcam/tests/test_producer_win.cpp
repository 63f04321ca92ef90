// A frame producer in a process of its own, for the tests of the camera's real section path:
// it creates both sections with the producer library, publishes pattern frames, and ends
// when told to, with the number of live viewers it counted as its exit code.
//
//   vcam_test_producer hold   <pattern> <ready event> <quit event>   one frame, then waits
//   vcam_test_producer stream <pattern> <ready event> <quit event>   frames back to back
//   vcam_test_producer paced  <pattern> <ready event> <quit event>   30 frames a second
//
// Exit codes 0-8: live viewers at the end; 100 and up: the producer failed.

#include <windows.h>

#include "frame_patterns.h"
#include "frame_producer_win.h"
#include "tolvek/owners_win.h"

#include <cwchar>
#include <memory>
#include <string_view>

namespace {

constexpr DWORD kHoldLimitMs = 60'000; // a forgotten producer ends by itself
constexpr DWORD kPacedIntervalMs = 33; // about 30 frames a second, as a real producer

enum ExitCode : int {
    kBadArguments = 100,
    kNoEvents = 101,
    kNoSections = 102,
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    using namespace tolvek;
    using namespace tolvek::vcam;
    if (argc != 5) {
        return kBadArguments;
    }
    const std::wstring_view mode = argv[1];
    auto pattern = static_cast<std::uint32_t>(std::wcstoul(argv[2], nullptr, 10));
    UniqueHandle ready{OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3])};
    UniqueHandle quit{OpenEventW(SYNCHRONIZE, FALSE, argv[4])};
    if (!ready || !quit) {
        return kNoEvents;
    }
    std::unique_ptr<FrameProducer> producer;
    if (FAILED(FrameProducer::create(producer))) {
        return kNoSections;
    }
    const auto draw = [&](FramePixels pixels) { testing::draw_pattern(pixels.data(), pattern); };
    producer->publish_with(draw);
    SetEvent(ready.get());

    if (mode == L"stream" || mode == L"paced") {
        const DWORD interval = mode == L"paced" ? kPacedIntervalMs : 0;
        while (WaitForSingleObject(quit.get(), interval) == WAIT_TIMEOUT) {
            ++pattern;
            producer->publish_with(draw);
        }
    } else {
        WaitForSingleObject(quit.get(), kHoldLimitMs);
    }
    return static_cast<int>(producer->live_viewers());
}
