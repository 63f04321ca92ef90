#pragma once

// How every entry point of the C interface runs its work: argument checks that name the
// function and the argument, failures as a status with a detailed text for the calling
// thread, and nothing thrown across: running out of memory is TOLVEK_ERROR_OUT_OF_MEMORY and
// anything else unexpected is TOLVEK_ERROR_INTERNAL.

#include <new>
#include <string>
#include <string_view>

#include "last_error_text.h"
#include "status_codes.h"
#include "tolvek/display_client.h"
#include "tolvek/result.h"
#include "tolvek_sdk.h"

namespace tolvek::sdk {

// A failed call: its status and the detailed text that tolvek_last_error_text() gives.
struct Failure {
    tolvek_status status = TOLVEK_ERROR_INTERNAL;
    std::string text;
};

using Outcome = Result<void, Failure>;

// The failure of the display client as the C interface reports it; the text is the client's.
[[nodiscard]] Failure client_failure(const display::ClientError& error);

// The entry point being run, for the texts of its argument failures.
class EntryPoint {
public:
    explicit constexpr EntryPoint(std::string_view name) noexcept : name_(name) {}

    // "tolvek_producer_publish: pixels is null" when `pointer` is null.
    [[nodiscard]] Outcome require(const void* pointer, std::string_view argument) const;

    // "tolvek_producer_publish: <why>".
    [[nodiscard]] Failure invalid_argument(std::string_view why) const;

    // "tolvek_display_ping: <what>" with the given status.
    [[nodiscard]] Failure failure(tolvek_status status, std::string_view what) const;

    [[nodiscard]] std::string_view name() const noexcept { return name_; }

private:
    std::string_view name_;
};

// Sets this thread's last error text for a call that ended with `status`: empty for success,
// else `text`, or the status's general text after the entry point's name when `text` is empty.
void record_outcome(const EntryPoint& entry, tolvek_status status, std::string_view text) noexcept;

// Runs `work(entry)`, which returns an Outcome, as the entry point `name`, and gives its
// status; this thread's last error text is set for it either way. Nothing escapes.
template <class Work>
[[nodiscard]] tolvek_status run_at_boundary(std::string_view name, Work&& work) noexcept
{
    const EntryPoint entry{name};
    try {
        const Outcome outcome = work(entry);
        if (outcome) {
            record_outcome(entry, TOLVEK_OK, {});
            return TOLVEK_OK;
        }
        record_outcome(entry, outcome.error().status, outcome.error().text);
        return outcome.error().status;
    } catch (const std::bad_alloc&) {
        record_outcome(entry, TOLVEK_ERROR_OUT_OF_MEMORY, {});
        return TOLVEK_ERROR_OUT_OF_MEMORY;
    } catch (...) {
        record_outcome(entry, TOLVEK_ERROR_INTERNAL, {});
        return TOLVEK_ERROR_INTERNAL;
    }
}

} // namespace tolvek::sdk
