#include "frame_producer_win.h"

#include "frame_section_layout.h"
#include "mapped_section_win.h"
#include "producer_texts.h"
#include "tolvek/error_text_win.h"
#include "viewer_section_layout.h"

#include <cstdint>
#include <new>

namespace tolvek::vcam {

namespace {

// The session's producer lock. It is the existence of this named object, not the ownership
// of a mutex: a mutex belongs to the thread that took it, so a producer created on one thread
// and destroyed on another could not release it, and one whose creating thread ended would
// leave it abandoned for the next taker to walk into while this producer still writes. A
// named object lives exactly as long as some handle to it is open, and only producers open
// it, each holding its handle (not inheritable) for its whole life; the system closes the
// handle when the process ends, however it ends.
constexpr wchar_t kProducerLockName[] = L"Local\\TolvekVcamProducer";

// Creates the lock object, or finds that another producer holds it. A refused producer
// drops its handle at once: for that moment a third one is refused as well, even if the
// first has just gone, which is right for a moment in which the second was starting.
HRESULT take_producer_lock(UniqueHandle& lock) noexcept
{
    // Nothing is ever done with the object, so no access beyond SYNCHRONIZE is asked for:
    // the least that lets a producer open the lock of another one and see it taken.
    UniqueHandle object{
        CreateEventExW(nullptr, kProducerLockName, CREATE_EVENT_MANUAL_RESET, SYNCHRONIZE)};
    if (!object) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        return kAnotherProducerRunning;
    }
    lock = std::move(object);
    return S_OK;
}

// Creates the paging-file-backed section `name` of `size` bytes, or opens it when it
// exists, and maps all of it for writing. The default security descriptor leaves it to the
// creating user, which is whom the cameras of the session run as.
HRESULT create_section(const wchar_t* name, std::size_t size,
                       std::unique_ptr<SectionView>& section) noexcept
{
    const auto size64 = static_cast<std::uint64_t>(size);
    UniqueHandle mapping{CreateFileMappingW(INVALID_HANDLE_VALUE, // backed by the paging file
                                            nullptr, PAGE_READWRITE,
                                            static_cast<DWORD>(size64 >> 32),
                                            static_cast<DWORD>(size64), name)};
    if (!mapping) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    // An existing section keeps its size: one smaller than ours fails to map here.
    section = map_section(std::move(mapping), FILE_MAP_WRITE, size);
    return section != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

} // namespace

std::string producer_failure_text(HRESULT result)
{
    if (result == kAnotherProducerRunning) {
        return kAnotherProducerRunningText;
    }
    return hresult_error_text(result);
}

FrameProducer::FrameProducer(UniqueHandle lock, std::unique_ptr<SectionView> frame_section,
                             std::unique_ptr<SectionView> viewer_section) noexcept
    : lock_(std::move(lock)), frame_section_(std::move(frame_section)),
      viewer_section_(std::move(viewer_section)), publisher_(frame_section_->base()),
      viewers_(viewer_section_->base())
{
}

HRESULT FrameProducer::create(std::unique_ptr<FrameProducer>& producer) noexcept
{
    // Before the sections: a second producer must not even initialise a header.
    UniqueHandle lock;
    if (const HRESULT result = take_producer_lock(lock); FAILED(result)) {
        return result;
    }
    std::unique_ptr<SectionView> frame_section;
    if (const HRESULT result = create_section(kFrameSectionName, kFrameSectionSize, frame_section);
        FAILED(result)) {
        return result;
    }
    std::unique_ptr<SectionView> viewer_section;
    if (const HRESULT result =
            create_section(kViewerSectionName, kViewerSectionSize, viewer_section);
        FAILED(result)) {
        return result;
    }
    producer.reset(new (std::nothrow) FrameProducer(std::move(lock), std::move(frame_section),
                                                    std::move(viewer_section)));
    return producer != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace tolvek::vcam
