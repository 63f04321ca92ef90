#pragma once

// tolvek_display_client: virtual monitors for an application, from the display helper's
// service TolvekDisplayHelper, in a few calls.
//
//   auto client = tolvek::display::DisplayClient::connect();   // starts the service if needed
//   if (!client) { report(client.error().text); return; }
//   auto monitor = client.value()->create(1920, 1080, 1);
//
// Monitors live exactly as long as the client's connection to the helper: destroying the
// client, the application ending or crashing, and the service stopping or dying all take
// every monitor of the connection away. The client notices a lost connection within a second,
// also while the application makes no call, and tells through a waitable event and an
// optional callback; restore() then connects again (starting the service again) and
// re-creates every monitor it held, with the same modes and serials.
//
// Before it sends anything, the client checks that the process serving the helper's pipe is
// the running service TolvekDisplayHelper, and refuses to talk to any other program that
// holds the pipe's name.
//
// Threads: every call may be made from any thread, also at the same time as others on the
// same client. Calls that talk to the helper (ping, create, destroy, restore) take turns: each
// waits for the one before it. monitors(), connection_lost() and lost_event() never wait for a
// call in progress. Destroy the client only when no other call on it is in progress; the
// destructor waits for a running lost-connection callback to return.
//
// Errors are values: nothing here throws (running out of memory is the error out_of_memory).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tolvek/result.h"

namespace tolvek::display {

enum class ErrorKind {
    not_installed,   // the service TolvekDisplayHelper is not installed
    access_denied,   // the service or its pipe is not this user's: installed for another user
    start_failed,    // the service would not start, or stopped as it started; the text says why
    pipe_busy,       // every instance of the helper's pipe stayed busy for the whole wait
    timed_out,       // a wait ran out; the text says what was waited for
    impostor,        // another program holds the helper's pipe name
    connection_lost, // the connection to the helper is gone; restore() brings it back
    refused,         // the helper refused the request: a mode or serial it does not take
    limit,           // the connection already holds the most monitors the helper allows (4)
    failed,          // the helper could not make the monitor's device
    unknown,         // a destroy named a serial that this client does not hold
    protocol,        // the helper's reply did not read; the connection was dropped
    usage,           // a call the client cannot carry out from where it was made
    out_of_memory,
    system, // any other failure of a system call; the text has the system's message
};

// The general clause for a kind, for callers that have only the kind.
[[nodiscard]] std::string_view error_kind_text(ErrorKind kind);

struct ClientError {
    ErrorKind kind = ErrorKind::system;
    std::string text; // one line a person can act on
};

template <class T>
using ClientResult = Result<T, ClientError>;
using ClientStatus = Result<void, ClientError>;

// A monitor the client holds. Every monitor runs at 60 Hz and carries the helper's vendor
// and product ids.
struct Monitor {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t serial = 0;

    friend bool operator==(const Monitor&, const Monitor&) = default;
};

// Called once for each lost connection, from the thread that noticed it: the client's own
// watcher thread while no call is in progress, or the thread whose call met the loss, before
// that call returns. Inside it, only connection_lost(), monitors() and lost_event() may be
// called; the other calls return the error usage there.
using LostCallback = void (*)(void* context);

struct ClientOptions {
    // The longest a connect or a restore waits, in all: for the service to start and open its
    // pipe, and for a free instance of a busy pipe.
    std::chrono::milliseconds wait_limit{10'000};
    // The longest a request waits for its reply. A create can wait for the creations of the
    // helper's other connections (up to 15 seconds each) before its own.
    std::chrono::milliseconds reply_limit{70'000};
    LostCallback on_lost = nullptr;
    void* context = nullptr; // handed to on_lost
};

class DisplayClient {
public:
    // Connects to the helper's service, starting it when its pipe does not exist (install
    // lets the user start it), and asks for its version to prove the connection.
    [[nodiscard]] static ClientResult<std::unique_ptr<DisplayClient>>
    connect(const ClientOptions& options = {});

    // Closes the connection: the helper lets go of every monitor it made for this client.
    ~DisplayClient();
    DisplayClient(const DisplayClient&) = delete;
    DisplayClient& operator=(const DisplayClient&) = delete;

    // The helper's version, "0.0.0".
    [[nodiscard]] ClientResult<std::string> ping();

    // A monitor of this mode with this serial (not 0, not held yet). The helper takes even
    // sides of at most 5120 with at most 14,745,600 pixels, and at most 4 monitors a client.
    [[nodiscard]] ClientResult<Monitor> create(std::uint32_t width, std::uint32_t height,
                                               std::uint32_t serial);

    // Lets the monitor of this serial go. While the connection is lost this only takes it
    // off the list that restore() brings back, and succeeds.
    [[nodiscard]] ClientStatus destroy(std::uint32_t serial);

    // After a lost connection: connects again and re-creates every monitor of monitors(), in
    // the order they were made. All or nothing: when any step fails, nothing is held, the
    // connection stays lost with the same list, and restore() may be tried again. Does
    // nothing and succeeds while the connection stands.
    [[nodiscard]] ClientStatus restore();

    // The monitors held, or to be restored while the connection is lost, in creation order.
    [[nodiscard]] std::vector<Monitor> monitors() const;

    [[nodiscard]] bool connection_lost() const;

    // A manual-reset event (a Windows HANDLE) that is signalled while the connection is lost
    // and reset by a successful restore(). It belongs to the client: wait on it, never close
    // it. Valid for as long as the client lives.
    [[nodiscard]] void* lost_event() const;

private:
    struct Parts; // the client's insides, defined where it is built

    explicit DisplayClient(std::unique_ptr<Parts> parts);

    std::unique_ptr<Parts> parts_;
};

} // namespace tolvek::display
