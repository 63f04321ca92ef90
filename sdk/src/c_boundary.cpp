#include "c_boundary.h"

#include <algorithm>

namespace tolvek::sdk {
namespace {

// A fixed buffer for a text made of the entry point's name and a clause, so that reporting
// an exhausted memory needs no memory.
constexpr std::size_t kComposedTextCapacity = 256;

} // namespace

Failure client_failure(const display::ClientError& error)
{
    return {status_of(error.kind), error.text};
}

Outcome EntryPoint::require(const void* pointer, std::string_view argument) const
{
    if (pointer != nullptr) {
        return {};
    }
    return invalid_argument(std::string{argument} + " is null");
}

Failure EntryPoint::invalid_argument(std::string_view why) const
{
    return failure(TOLVEK_ERROR_INVALID_ARGUMENT, why);
}

Failure EntryPoint::failure(tolvek_status status, std::string_view what) const
{
    std::string text{name_};
    text += ": ";
    text += what;
    return {status, std::move(text)};
}

void record_outcome(const EntryPoint& entry, tolvek_status status, std::string_view text) noexcept
{
    if (status == TOLVEK_OK || !text.empty()) {
        set_last_error_text(text);
        return;
    }
    char composed[kComposedTextCapacity];
    std::size_t length = 0;
    for (std::string_view part :
         {entry.name(), std::string_view{": "}, std::string_view{status_text(status)}}) {
        const std::size_t taken = std::min(part.size(), sizeof composed - length);
        part.copy(composed + length, taken);
        length += taken;
    }
    set_last_error_text({composed, length});
}

} // namespace tolvek::sdk
