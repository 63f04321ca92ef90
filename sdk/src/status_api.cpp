// The entry points of the C interface that concern the interface itself: status texts, the
// calling thread's last error text, and the version. Platform-free.

#include "last_error_text.h"
#include "status_codes.h"
#include "tolvek_sdk.h"

extern "C" {

TOLVEK_SDK_API const char* TOLVEK_SDK_CALL tolvek_status_text(tolvek_status status)
{
    return tolvek::sdk::status_text(status);
}

TOLVEK_SDK_API const char* TOLVEK_SDK_CALL tolvek_last_error_text(void)
{
    return tolvek::sdk::last_error_text();
}

TOLVEK_SDK_API uint32_t TOLVEK_SDK_CALL tolvek_version(void)
{
    return TOLVEK_SDK_VERSION;
}

} // extern "C"
