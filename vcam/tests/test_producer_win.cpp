// A frame producer in a process of its own, for the tests of the camera's real section path:
// it creates both sections with the producer library, publishes pattern frames, and ends
// when told to, with the number of live viewers it counted as its exit code.
//
//   vcam_test_producer hold   <pattern> <ready event> <quit event>   one frame, then waits
//   vcam_test_producer stream <pattern> <ready event> <quit event>   frames back to back
//   vcam_test_producer paced  <pattern> <ready event> <quit event>   30 frames a second
//
// Two more modes make sections of shapes that the producer library never makes, the way a
// careless or hostile program of the session could, and hold them until told to quit:
//
//   reserved   both sections made with SEC_RESERVE; only the frame header's page is
//              committed, and carries a valid header with one frame published
//   short      the frame section one page smaller than the layout, with the same header
//
// Exit codes 0-8: live viewers at the end; 100 and up: the producer failed
// (kProducerRefusedExitCode: another producer of the session is running).

#include <windows.h>

#include "frame_patterns.h"
#include "frame_producer_win.h"
#include "frame_section_layout.h"
#include "producer_process_win.h"
#include "shared_memory.h"
#include "tolvek/owners_win.h"
#include "viewer_section_layout.h"

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr DWORD kHoldLimitMs = 60'000; // a forgotten producer ends by itself
constexpr DWORD kPacedIntervalMs = 33; // about 30 frames a second, as a real producer

enum ExitCode : int {
    kBadArguments = 100,
    kNoEvents = 101,
    kNoSections = 102,
};

constexpr std::size_t kPageSize = 4096;

// A section and the creator's view of it, kept for the life of the program.
struct HeldSection {
    tolvek::UniqueHandle mapping;
    tolvek::UniqueMappedView view;
};

// Creates the section `name` of `size` bytes with `attributes` (SEC_COMMIT or SEC_RESERVE)
// and maps all of it for writing; an empty view when either fails.
HeldSection create_raw_section(const wchar_t* name, std::size_t size, DWORD attributes)
{
    HeldSection section;
    section.mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr,
                                             PAGE_READWRITE | attributes, 0,
                                             static_cast<DWORD>(size), name));
    if (section.mapping) {
        section.view.reset(MapViewOfFile(section.mapping.get(), FILE_MAP_WRITE, 0, 0, size));
    }
    return section;
}

// A frame header that a reader takes for a published frame in slot 0.
void write_published_header(std::byte* section)
{
    using namespace tolvek::vcam;
    shared_field<std::uint32_t>(section, kFrameVersionOffset).store(kFrameSectionVersion);
    shared_field<std::uint32_t>(section, kLatestSlotOffset).store(0);
    shared_field<std::uint64_t>(section, kFrameCounterOffset).store(1);
    shared_field<std::uint32_t>(section, kFrameMagicOffset).store(kFrameSectionMagic);
}

// The sections of the modes "reserved" and "short"; empty when they cannot be made.
std::vector<HeldSection> create_unusable_sections(std::wstring_view mode)
{
    using namespace tolvek::vcam;
    std::vector<HeldSection> sections;
    if (mode == L"short") {
        sections.push_back(
            create_raw_section(kFrameSectionName, kFrameSectionSize - kPageSize, SEC_COMMIT));
    } else {
        sections.push_back(create_raw_section(kFrameSectionName, kFrameSectionSize, SEC_RESERVE));
        // Commits the header's page in the section, so that every view of it sees the header.
        if (sections.back().view && VirtualAlloc(sections.back().view.get(), kFrameHeaderSize,
                                                 MEM_COMMIT, PAGE_READWRITE) == nullptr) {
            return {};
        }
        sections.push_back(create_raw_section(kViewerSectionName, kViewerSectionSize, SEC_RESERVE));
    }
    for (const HeldSection& section : sections) {
        if (!section.view) {
            return {};
        }
    }
    write_published_header(static_cast<std::byte*>(sections.front().view.get()));
    return sections;
}

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
    if (mode == L"reserved" || mode == L"short") {
        const std::vector<HeldSection> sections = create_unusable_sections(mode);
        if (sections.empty()) {
            return kNoSections;
        }
        SetEvent(ready.get());
        WaitForSingleObject(quit.get(), kHoldLimitMs);
        return 0;
    }
    std::unique_ptr<FrameProducer> producer;
    if (const HRESULT result = FrameProducer::create(producer); FAILED(result)) {
        return result == kAnotherProducerRunning
                   ? static_cast<int>(testing::kProducerRefusedExitCode)
                   : kNoSections;
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
