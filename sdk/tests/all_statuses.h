#ifndef TOLVEK_SDK_TESTS_ALL_STATUSES_H
#define TOLVEK_SDK_TESTS_ALL_STATUSES_H

/* Every status code of tolvek_sdk.h, as an initialiser that C and C++ tests both take: each
 * must have a text of its own. */

#include "tolvek_sdk.h"

#define TOLVEK_ALL_STATUSES                                                                        \
    {                                                                                              \
        TOLVEK_OK, TOLVEK_ERROR_INVALID_ARGUMENT, TOLVEK_ERROR_OUT_OF_MEMORY,                      \
            TOLVEK_ERROR_BUFFER_TOO_SMALL, TOLVEK_ERROR_SYSTEM, TOLVEK_ERROR_INTERNAL,             \
            TOLVEK_ERROR_NOT_INSTALLED, TOLVEK_ERROR_ACCESS_DENIED, TOLVEK_ERROR_START_FAILED,     \
            TOLVEK_ERROR_PIPE_BUSY, TOLVEK_ERROR_TIMED_OUT, TOLVEK_ERROR_IMPOSTOR,                 \
            TOLVEK_ERROR_CONNECTION_LOST, TOLVEK_ERROR_REFUSED, TOLVEK_ERROR_LIMIT,                \
            TOLVEK_ERROR_MONITOR_FAILED, TOLVEK_ERROR_UNKNOWN_SERIAL, TOLVEK_ERROR_PROTOCOL,       \
            TOLVEK_ERROR_USAGE, TOLVEK_ERROR_ANOTHER_PRODUCER_RUNNING                              \
    }

#endif /* TOLVEK_SDK_TESTS_ALL_STATUSES_H */
