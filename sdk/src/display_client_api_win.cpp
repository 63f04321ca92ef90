// The display client's entry points of the C interface: each runs one call of
// tolvek::display::DisplayClient at the boundary (c_boundary.h).

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "c_boundary.h"
#include "tolvek/display_client.h"
#include "tolvek_sdk.h"

using tolvek::display::DisplayClient;
using tolvek::sdk::client_failure;
using tolvek::sdk::EntryPoint;
using tolvek::sdk::Outcome;
using tolvek::sdk::run_at_boundary;

// The handle a C program holds.
struct tolvek_display_client {
    std::unique_ptr<DisplayClient> client;
};

namespace {

// The client's lost callback takes the C one as it is: both are plain functions of one
// pointer, and the C one is declared cdecl, the default of C++ functions.
static_assert(std::is_same_v<tolvek_lost_callback, tolvek::display::LostCallback>);

template <class T>
Outcome outcome_of(const tolvek::display::ClientResult<T>& result)
{
    if (result) {
        return {};
    }
    return client_failure(result.error());
}

} // namespace

extern "C" {

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_connect(uint32_t wait_limit_ms,
                                                                    tolvek_lost_callback on_lost,
                                                                    void* context,
                                                                    tolvek_display_client** client)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        *client = nullptr;
        tolvek::display::ClientOptions options;
        options.wait_limit = std::chrono::milliseconds{wait_limit_ms};
        options.on_lost = on_lost;
        options.context = context;
        // Made first, so that a connected client never has to be dropped for want of memory.
        auto handle = std::make_unique<tolvek_display_client>();
        auto connected = DisplayClient::connect(options);
        if (!connected) {
            return client_failure(connected.error());
        }
        handle->client = std::move(connected).value();
        *client = handle.release();
        return {};
    });
}

TOLVEK_SDK_API void TOLVEK_SDK_CALL tolvek_display_close(tolvek_display_client* client)
{
    delete client; // the client's destructor throws nothing
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_ping(tolvek_display_client* client,
                                                                 char* version, size_t capacity)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        if (capacity > 0) {
            TOLVEK_TRY(entry.require(version, "version"));
            version[0] = '\0';
        }
        const auto answer = client->client->ping();
        if (!answer) {
            return client_failure(answer.error());
        }
        const std::string& text = answer.value();
        if (capacity == 0) {
            return {};
        }
        if (text.size() >= capacity) {
            return entry.failure(TOLVEK_ERROR_BUFFER_TOO_SMALL,
                                 "the version \"" + text + "\" needs " +
                                     std::to_string(text.size() + 1) + " bytes; the buffer has " +
                                     std::to_string(capacity));
        }
        std::memcpy(version, text.c_str(), text.size() + 1);
        return {};
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_create_monitor(
    tolvek_display_client* client, uint32_t width, uint32_t height, uint32_t serial)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        return outcome_of(client->client->create(width, height, serial));
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL
tolvek_display_destroy_monitor(tolvek_display_client* client, uint32_t serial)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        return outcome_of(client->client->destroy(serial));
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_restore(tolvek_display_client* client)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        return outcome_of(client->client->restore());
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_monitors(
    const tolvek_display_client* client, tolvek_monitor* monitors, size_t capacity, size_t* count)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        TOLVEK_TRY(entry.require(count, "count"));
        if (capacity > 0) {
            TOLVEK_TRY(entry.require(monitors, "monitors"));
        }
        const std::vector<tolvek::display::Monitor> held = client->client->monitors();
        *count = held.size();
        for (std::size_t i = 0; i < held.size() && i < capacity; ++i) {
            monitors[i] = {held[i].width, held[i].height, held[i].serial};
        }
        if (held.size() > capacity) {
            return entry.failure(TOLVEK_ERROR_BUFFER_TOO_SMALL,
                                 "the client holds " + std::to_string(held.size()) +
                                     " monitors; the array has room for " +
                                     std::to_string(capacity));
        }
        return {};
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL
tolvek_display_connection_lost(const tolvek_display_client* client, int32_t* lost)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        TOLVEK_TRY(entry.require(lost, "lost"));
        *lost = client->client->connection_lost() ? 1 : 0;
        return {};
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL
tolvek_display_lost_event(const tolvek_display_client* client, void** event)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(client, "client"));
        TOLVEK_TRY(entry.require(event, "event"));
        *event = client->client->lost_event();
        return {};
    });
}

} // extern "C"
