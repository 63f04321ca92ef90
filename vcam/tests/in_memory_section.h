#pragma once

// A section in plain memory for native tests and fuzz targets: what the platform's named
// section is to the camera and the producer, with an opener that counts its attempts and its
// live views.

#include "section_view.h"

#include <atomic>
#include <cstddef>
#include <memory>

namespace tolvek::vcam::testing {

class InMemorySection {
public:
    explicit InMemorySection(std::size_t size) : bytes_(new std::byte[size]()), base_(bytes_.get())
    {
    }

    // Over memory that the caller owns and keeps for as long as this section and its views
    // live (the fuzz targets' guarded pages).
    explicit InMemorySection(std::byte* memory) noexcept : base_(memory) {}

    [[nodiscard]] std::byte* base() const noexcept { return base_; }

    // An opener that maps this section, or fails while the section is made unavailable.
    [[nodiscard]] SectionOpener opener()
    {
        return [this]() -> std::unique_ptr<SectionView> {
            ++open_attempts_;
            if (!available_) {
                return nullptr;
            }
            return std::make_unique<View>(*this);
        };
    }

    void set_available(bool available) noexcept { available_ = available; }
    [[nodiscard]] int open_attempts() const noexcept { return open_attempts_; }
    [[nodiscard]] int live_views() const noexcept { return live_views_; }

private:
    class View final : public SectionView {
    public:
        explicit View(InMemorySection& section) : section_(section) { ++section_.live_views_; }
        ~View() override { --section_.live_views_; }
        [[nodiscard]] std::byte* base() const noexcept override { return section_.base(); }

    private:
        InMemorySection& section_;
    };

    std::unique_ptr<std::byte[]> bytes_; // empty over the caller's memory
    std::byte* base_;
    std::atomic<bool> available_{true};
    std::atomic<int> open_attempts_{0};
    std::atomic<int> live_views_{0};
};

} // namespace tolvek::vcam::testing
