#include "last_error_text.h"

#include <cstring>

namespace tolvek::sdk {
namespace {

// Trivially destructible, so that nothing has to run for it when a thread ends or the DLL is
// unloaded.
thread_local char t_last_error_text[kLastErrorTextCapacity] = {};

// Whether `byte` continues a UTF-8 sequence (10xxxxxx) rather than starting a character.
bool is_continuation_byte(char byte) noexcept
{
    return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

} // namespace

void set_last_error_text(std::string_view text) noexcept
{
    std::size_t length = text.size();
    if (length > kLastErrorTextCapacity - 1) {
        length = kLastErrorTextCapacity - 1;
        // Back to the start of the character that the cut would split.
        while (length > 0 && is_continuation_byte(text[length])) {
            --length;
        }
    }
    if (length > 0) { // an empty view may have no data at all
        std::memcpy(t_last_error_text, text.data(), length);
    }
    t_last_error_text[length] = '\0';
}

const char* last_error_text() noexcept
{
    return t_last_error_text;
}

} // namespace tolvek::sdk
