#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tolvek {

// The text of a failure, carried as a value to the one place that reports it.
struct Error {
    std::string text;
};

// Either a value or an error. Nothing in the helper throws; every operation that can fail
// returns one of these. The error is a text by default; a library whose callers must tell
// failures apart carries its own error type (a kind and a text).
template <class T, class E = Error>
class [[nodiscard]] Result {
public:
    Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : storage_(std::in_place_index<1>, std::move(error)) {}

    [[nodiscard]] bool ok() const noexcept { return storage_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    [[nodiscard]] T& value() & { return std::get<0>(storage_); }
    [[nodiscard]] const T& value() const& { return std::get<0>(storage_); }
    [[nodiscard]] T&& value() && { return std::get<0>(std::move(storage_)); }

    [[nodiscard]] const E& error() const& { return std::get<1>(storage_); }
    [[nodiscard]] E&& error() && { return std::get<1>(std::move(storage_)); }

private:
    std::variant<T, E> storage_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(E error) : error_(std::move(error)) {}

    [[nodiscard]] bool ok() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }

    [[nodiscard]] const E& error() const& { return *error_; }
    [[nodiscard]] E&& error() && { return std::move(*error_); }

private:
    std::optional<E> error_;
};

using Status = Result<void>;

inline Status success()
{
    return {};
}

} // namespace tolvek

// Returns the error of a failed Status from the enclosing function.
#define TOLVEK_TRY(expression)                                                                     \
    do {                                                                                           \
        if (auto tolvek_try_status_ = (expression); !tolvek_try_status_) {                         \
            return std::move(tolvek_try_status_).error();                                          \
        }                                                                                          \
    } while (false)
