#pragma once

// A mapped view of a named shared section, kept mapped (and its section open) for exactly
// as long as the object lives. The platform-free reader, viewer registration and producer
// work on the base pointer; how the view came to be (a real mapping on Windows, a plain
// buffer in native tests) is the opener's business.

#include <cstddef>
#include <functional>
#include <memory>

namespace tolvek::vcam {

class SectionView {
public:
    SectionView() = default;
    SectionView(const SectionView&) = delete;
    SectionView& operator=(const SectionView&) = delete;
    virtual ~SectionView() = default;

    // The first byte of the view. A view opened for reading only must not be written.
    [[nodiscard]] virtual std::byte* base() const noexcept = 0;
};

// Opens and maps a section, or gives null when it cannot (absent, no access, too small).
using SectionOpener = std::function<std::unique_ptr<SectionView>()>;

} // namespace tolvek::vcam
