#pragma once

#include <utility>

namespace tolvek {

// A move-only owner of one platform resource. The traits name the resource type, its empty
// value, which values count as empty, and how a value is closed:
//
//   struct Traits {
//       using Type = ...;
//       static constexpr Type empty() noexcept;
//       static bool is_empty(Type) noexcept;
//       static void close(Type) noexcept;
//   };
//
// ClosedWith (owners_win.h) makes such traits for the Win32 kinds from their close call.
template <class Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    [[nodiscard]] Type get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return !Traits::is_empty(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes the held value, if any, and takes ownership of `value`.
    void reset(Type value = Traits::empty()) noexcept
    {
        Type old = std::exchange(value_, value);
        if (!Traits::is_empty(old)) {
            Traits::close(old);
        }
    }

    // Gives up ownership without closing.
    [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::empty()); }

    // Closes the held value and returns the place where an out-parameter writes a new one.
    [[nodiscard]] Type* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::empty();
};

} // namespace tolvek
