/* tolvek_sdk.h as a C89 compiler with pedantic warnings sees it: this file only has to
 * compile. */

#include "tolvek_sdk.h"

int tolvek_sdk_header_is_c89(void)
{
    return TOLVEK_OK;
}
