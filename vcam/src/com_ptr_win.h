#pragma once

// The owner of one COM reference: AddRef on copy, Release on reset and destruction.

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace tolvek::vcam {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Shares `pointer`: adds a reference of its own.
    explicit ComPtr(T* pointer) noexcept : pointer_(pointer) { add_ref(); }
    ComPtr(const ComPtr& other) noexcept : pointer_(other.pointer_) { add_ref(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(const ComPtr& other) noexcept
    {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already holds (a creation or an out-parameter).
    [[nodiscard]] static ComPtr adopt(T* pointer) noexcept
    {
        ComPtr owner;
        owner.pointer_ = pointer;
        return owner;
    }

    [[nodiscard]] T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    // Releases the held reference, if any.
    void reset() noexcept
    {
        if (T* old = std::exchange(pointer_, nullptr)) {
            old->Release();
        }
    }

    // Gives the reference up without releasing it, e.g. to hand it to a COM caller.
    [[nodiscard]] T* release() noexcept { return std::exchange(pointer_, nullptr); }

    // Releases the held reference and returns the place where an out-parameter writes a new
    // one.
    [[nodiscard]] T** put() noexcept
    {
        reset();
        return &pointer_;
    }

    // put() for calls that take void**, QueryInterface and CoCreateInstance.
    [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Writes a new reference to the held object (or null) into an out-parameter.
    void copy_to(T** destination) const noexcept
    {
        *destination = pointer_;
        add_ref();
    }

    void swap(ComPtr& other) noexcept { std::swap(pointer_, other.pointer_); }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept
    {
        return a.pointer_ == b.pointer_;
    }

private:
    void add_ref() const noexcept
    {
        if (pointer_ != nullptr) {
            pointer_->AddRef();
        }
    }

    T* pointer_ = nullptr;
};

} // namespace tolvek::vcam
