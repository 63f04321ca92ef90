#include "service/pipe_listener_win.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "log.h"
#include "service/connection_session_win.h"
#include "service/user_sid_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"

namespace tolvek {
namespace {

// Who may open the pipe, with the served user's SID in place of the braces:
//   D:P            a protected DACL: nothing is inherited
//   (A;;GA;;;SY)   GENERIC_ALL for LocalSystem
//   (A;;GA;;;{})   GENERIC_ALL for the served user
// Nobody else has an entry, so no other local user, an administrator included, can open
// the pipe at all. No owner, group or SACL.
constexpr std::string_view kPipeSecurityDescriptor = "D:P(A;;GA;;;SY)(A;;GA;;;{})";

// Only the first instance of a run claims the name; later ones join it.
constexpr DWORD kFirstInstanceOpenMode =
    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;
constexpr DWORD kLaterInstanceOpenMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
constexpr DWORD kPipeMode =
    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
constexpr DWORD kMaxInstances = 4;
constexpr DWORD kBufferSize = 512;

std::string pipe_open_error(DWORD code)
{
    return "the pipe would not open: " + win32_error_code_text(code);
}

Result<UniqueLocalMemory<void>> pipe_security_descriptor(const std::string& user_sid)
{
    const std::size_t braces = kPipeSecurityDescriptor.find("{}");
    Result<UniqueLocalMemory<void>> descriptor = security_descriptor_from_text(
        std::string{kPipeSecurityDescriptor.substr(0, braces)} + user_sid +
        std::string{kPipeSecurityDescriptor.substr(braces + 2)});
    if (!descriptor) {
        return Error{"the pipe's security descriptor would not build"};
    }
    return descriptor;
}

// One pipe instance and the manual-reset event of its overlapped operations.
class PipeInstance {
public:
    PipeInstance(UniqueHandle pipe, UniqueHandle event)
        : pipe_(std::move(pipe)), event_(std::move(event))
    {
    }
    PipeInstance(PipeInstance&&) = default;
    PipeInstance& operator=(PipeInstance&&) = delete;
    ~PipeInstance() { close(); }

    [[nodiscard]] HANDLE pipe() const { return pipe_.get(); }
    [[nodiscard]] HANDLE event() const { return event_.get(); }

    // Disconnects a client that may still be there, then closes the pipe and its event, in
    // that order. An instance counts against the pipe's four for as long as either end is
    // open, and a dropped client may keep its end open as long as it likes: the disconnect
    // frees the instance as soon as ours is closed.
    void close()
    {
        if (pipe_) {
            DisconnectNamedPipe(pipe_.get()); // fails harmlessly when nobody is connected
        }
        pipe_.reset();
        event_.reset();
    }

private:
    UniqueHandle pipe_;
    UniqueHandle event_;
};

// What one admitted connection's thread needs, shared by the listener and that thread.
struct SessionLaunch {
    explicit SessionLaunch(PipeInstance admitted) : instance(std::move(admitted)) {}

    PipeInstance instance;
    // The thread waits for its id: the connection is counted and registered only once its
    // thread exists, so a thread that cannot start leaves nothing behind.
    std::promise<std::uint64_t> admission;
    std::atomic<bool> ended{false};
};

enum class FreeInstanceWait { released, stop_signalled, failed };

using RegistryEntry = decltype(PipeServerState::connection_registry)::node_type;

// The registry entry of a connection's pipe, allocated ahead and not yet in the registry; its
// key is set to the connection's id when it goes in.
RegistryEntry unregistered_entry(HANDLE pipe)
{
    decltype(PipeServerState::connection_registry) scratch;
    scratch.emplace(0, pipe);
    return scratch.extract(scratch.begin());
}

// The threads of the sessions that the listener admitted, and the signal by which a session
// that has given its pipe instance back wakes a listener waiting for a free one.
class SessionThreads {
public:
    SessionThreads()
        : instance_released_(CreateEventW(nullptr, FALSE /* auto reset */, FALSE, nullptr))
    {
    }
    SessionThreads(const SessionThreads&) = delete;
    SessionThreads& operator=(const SessionThreads&) = delete;

    [[nodiscard]] bool ready() const { return instance_released_.valid(); }

    // Starts the admitted connection's thread, then gives the connection its id, counts and
    // registers it and lets the thread run. Everything that allocates is done before the
    // thread starts, so that nothing can fail once it exists. Nothing is counted when the
    // memory or the thread is not there; the instance is then closed, which drops the client.
    void admit(PipeServerState& state, PipeInstance instance,
               const SessionThreadStarter& start_thread)
    {
        std::shared_ptr<SessionLaunch> launch;
        RegistryEntry entry;
        Result<std::thread> thread = Error{"no memory"};
        try {
            launch = std::make_shared<SessionLaunch>(std::move(instance));
            entry = unregistered_entry(launch->instance.pipe());
            sessions_.reserve(sessions_.size() + 1);
            thread =
                start_thread([this, &state, launch, id = launch->admission.get_future().share()] {
                    run(state, id.get(), *launch);
                });
        } catch (const std::bad_alloc&) {
            // A step before the start, or the start itself, ran out of memory: no thread
            // runs, and the error above stands.
        }
        if (!thread) {
            log_line("dropped a connection: its session thread would not start: " +
                     thread.error().text);
            return;
        }
        const std::uint64_t id = state.next_connection_id.fetch_add(1);
        state.live_connections.fetch_add(1);
        state.admitted_connections.fetch_add(1);
        entry.key() = id;
        {
            const std::lock_guard lock{state.registry_lock};
            state.connection_registry.insert(std::move(entry)); // a node: nothing allocated
        }
        instances_held_.fetch_add(1);
        sessions_.push_back({std::move(thread).value(), launch}); // within the reserved room
        launch->admission.set_value(id);
    }

    // Pipe instances held by sessions that have not yet closed them.
    [[nodiscard]] std::uint32_t instances_held() const { return instances_held_.load(); }

    // Forgets a release that happened before now, so that the next wait waits for a new one.
    void forget_earlier_releases() { ResetEvent(instance_released_.get()); }

    // Waits without limit until some session has closed its pipe instance or the stop event
    // is set (stopping wins when both are).
    [[nodiscard]] FreeInstanceWait wait_for_released_instance(HANDLE stop_event)
    {
        const HANDLE events[] = {stop_event, instance_released_.get()};
        switch (WaitForMultipleObjects(2, events, FALSE /* any */, INFINITE)) {
        case WAIT_OBJECT_0:
            return FreeInstanceWait::stop_signalled;
        case WAIT_OBJECT_0 + 1:
            return FreeInstanceWait::released;
        default:
            return FreeInstanceWait::failed;
        }
    }

    // Joins the threads of sessions that have ended, so that a long-lived service keeps no
    // thread of a past connection. None of these joins waits for a running session.
    void reap_ended()
    {
        std::erase_if(sessions_, [](Session& session) {
            if (!session.launch->ended.load()) {
                return false;
            }
            session.thread.join();
            return true;
        });
    }

    // Waits for every session; the caller has cancelled them first.
    void join_all()
    {
        for (Session& session : sessions_) {
            session.thread.join();
        }
        sessions_.clear();
    }

private:
    struct Session {
        std::thread thread;
        std::shared_ptr<SessionLaunch> launch;
    };

    void run(PipeServerState& state, std::uint64_t connection_id, SessionLaunch& launch)
    {
        run_session(state, connection_id, launch.instance.pipe(), launch.instance.event());
        launch.instance.close();
        instances_held_.fetch_sub(1);
        SetEvent(instance_released_.get());
        launch.ended.store(true);
    }

    UniqueHandle instance_released_;
    std::atomic<std::uint32_t> instances_held_{0};
    std::vector<Session> sessions_;
};

// Whether the process at the client end of `pipe` runs as the served user. Both sides are
// the system's canonical rendering, so they are compared byte for byte. If the client went
// between its connect and this check, a step fails and the client counts as another user.
bool client_is_served_user(HANDLE pipe, const std::string& user_sid)
{
    ULONG process_id = 0;
    if (!GetNamedPipeClientProcessId(pipe, &process_id)) {
        return false;
    }
    const UniqueHandle process{
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE /* not inherited */, process_id)};
    if (!process) {
        return false;
    }
    UniqueHandle token; // closed before the process
    if (!OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) {
        return false;
    }
    const std::optional<std::string> client_sid = token_user_sid(token.get());
    return client_sid && *client_sid == user_sid;
}

// Offers the instance and waits up to `client_wait` for a client or the stop event.
Result<WaitEnd> wait_for_client(const PipeInstance& instance, HANDLE stop_event,
                                std::chrono::milliseconds client_wait)
{
    ResetEvent(instance.event());
    OVERLAPPED overlapped{};
    overlapped.hEvent = instance.event();
    if (!ConnectNamedPipe(instance.pipe(), &overlapped)) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            return WaitEnd::client_connected; // it came between creation and connect
        }
        if (error == ERROR_NO_DATA) {
            // It came and went between creation and connect. That ends this instance, not
            // the listener: any local client of the served user can cause it at will.
            return WaitEnd::client_gone;
        }
        if (error != ERROR_IO_PENDING) {
            return Error{"the pipe would not listen: " + win32_error_code_text(error)};
        }
    }
    const HANDLE events[] = {instance.event(), stop_event};
    const DWORD waited =
        WaitForMultipleObjects(2, events, FALSE /* any */, static_cast<DWORD>(client_wait.count()));
    if (waited == WAIT_OBJECT_0) {
        return WaitEnd::client_connected;
    }
    CancelIoEx(instance.pipe(), nullptr); // a failure means the connect has ended already
    // The record lives on this stack: wait until the system has finished with it. A client
    // that connected just as the wait ran out is still a connected client.
    DWORD unused = 0;
    const bool connected_meanwhile =
        GetOverlappedResult(instance.pipe(), &overlapped, &unused, TRUE /* wait */);
    if (waited == WAIT_OBJECT_0 + 1) {
        return WaitEnd::stop_signalled;
    }
    return connected_meanwhile ? WaitEnd::client_connected : WaitEnd::timed_out;
}

// The listener loop. Returns success when the stop event or the idle rule ends it.
Status run_listener(PipeServerState& state, HANDLE stop_event, SessionThreads& sessions,
                    const ListenerSeams& seams)
{
    const Result<UniqueLocalMemory<void>> descriptor = pipe_security_descriptor(state.user_sid);
    if (!descriptor) {
        return descriptor.error();
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor.value().get();
    attributes.bInheritHandle = FALSE;

    const auto start = std::chrono::steady_clock::now();
    DWORD open_mode = kFirstInstanceOpenMode;
    for (;;) {
        sessions.reap_ended();
        sessions.forget_earlier_releases();
        UniqueHandle pipe{CreateNamedPipeW(kPipeName, open_mode, kPipeMode, kMaxInstances,
                                           kBufferSize, // out
                                           kBufferSize, // in
                                           0,           // default client wait time
                                           &attributes)};
        if (!pipe) {
            const DWORD error = GetLastError();
            if (step_after_open_failure(error, sessions.instances_held()) ==
                OpenFailureStep::end_listener) {
                return Error{pipe_open_error(error)};
            }
            // Every instance serves a live session. Clients that come meanwhile meet the
            // pipe's own "busy" at their open; an instance is offered again once a session
            // has ended.
            const FreeInstanceWait waited = sessions.wait_for_released_instance(stop_event);
            if (waited == FreeInstanceWait::stop_signalled) {
                return success();
            }
            if (waited == FreeInstanceWait::failed) {
                return Error{pipe_open_error(error)};
            }
            continue;
        }
        open_mode = kLaterInstanceOpenMode;

        UniqueHandle event{CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr)};
        if (!event) {
            return Error{"no event for the pipe"};
        }
        PipeInstance instance{std::move(pipe), std::move(event)};

        const Result<WaitEnd> end =
            wait_for_client(instance, stop_event, seams.timings.client_wait);
        if (!end) {
            return end.error();
        }
        const auto since_start = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        switch (step_after_wait(end.value(), state.admitted_connections.load(), since_start,
                                seams.timings.idle_limit)) {
        case ListenerStep::check_client:
            if (!client_is_served_user(instance.pipe(), state.user_sid)) {
                log_line("dropped a connection from another user");
                break;
            }
            sessions.admit(state, std::move(instance), seams.start_thread);
            break;
        case ListenerStep::stop:
            return success();
        case ListenerStep::stop_idle:
            log_line("nothing connected; stopping");
            return success();
        case ListenerStep::renew_instance:
            break;
        }
    }
}

} // namespace

Result<std::thread> start_session_thread(std::function<void()> body)
{
    // The start fails with system_error when the system has no thread to give, and with
    // bad_alloc when the thread's state finds no memory; neither may leave the listener.
    try {
        return std::thread{std::move(body)};
    } catch (const std::system_error& error) {
        return Error{error.what()};
    } catch (...) {
        return Error{"no memory"};
    }
}

Status serve_connections(PipeServerState& state, HANDLE stop_event, const ListenerSeams& seams)
{
    SessionThreads sessions;
    if (!sessions.ready()) {
        return Error{"no event for ending sessions"};
    }
    Status result = run_listener(state, stop_event, sessions, seams);
    cancel_all_connections(state);
    sessions.join_all();
    return result;
}

void cancel_all_connections(PipeServerState& state)
{
    const std::lock_guard lock{state.registry_lock};
    for (const auto& [connection_id, pipe] : state.connection_registry) {
        CancelIoEx(pipe, nullptr); // failures of both are ignored: the session ends either way
        DisconnectNamedPipe(pipe);
    }
}

} // namespace tolvek
