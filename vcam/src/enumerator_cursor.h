#pragma once

// The cursor of an enumerator over a list of exactly one item that never changes (the
// filter's one pin, the pin's one media type): 0 while the item is next, 1 at the end.

#include <algorithm>
#include <cstdint>

namespace tolvek::vcam {

class EnumeratorCursor {
public:
    explicit EnumeratorCursor(std::uint32_t position = 0) noexcept : position_(position) {}

    [[nodiscard]] std::uint32_t position() const noexcept { return position_; }

    // How many of `wanted` items are left to hand out: 0 or 1.
    [[nodiscard]] std::uint32_t available(std::uint32_t wanted) const noexcept
    {
        return std::min(wanted, kItems - position_);
    }

    // Moves past `handed_out` items, which available() allowed.
    void advance(std::uint32_t handed_out) noexcept { position_ += handed_out; }

    // Moves `count` items on, stopping at the end; false when that cut the move short.
    [[nodiscard]] bool skip(std::uint32_t count) noexcept
    {
        const std::uint64_t target = std::uint64_t{position_} + count; // no wrap-around
        position_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(target, kItems));
        return target <= kItems;
    }

    void reset() noexcept { position_ = 0; }

private:
    static constexpr std::uint32_t kItems = 1;

    std::uint32_t position_;
};

} // namespace tolvek::vcam
