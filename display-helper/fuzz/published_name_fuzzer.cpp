// libFuzzer target for the driver store listing parser: any bytes the utility prints must
// give either nothing or a published name that stands in the listing as it is returned.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "setup/published_name.h"

namespace {

bool lower_equals(std::string_view text, std::string_view lower)
{
    if (text.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != lower[i]) {
            return false;
        }
    }
    return true;
}

bool is_published_name_form(std::string_view name)
{
    if (name.size() < 7 || !lower_equals(name.substr(0, 3), "oem") ||
        !lower_equals(name.substr(name.size() - 4), ".inf")) {
        return false;
    }
    for (const char c : name.substr(3, name.size() - 7)) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view listing{reinterpret_cast<const char*>(data), size};
    const auto name = tolvek::find_published_name(listing);
    if (name && (!is_published_name_form(*name) || listing.find(*name) == std::string_view::npos)) {
        std::abort();
    }
    return 0;
}
