#pragma once

// The helper as a real service of the test's Wine prefix, seen from a test: registered with
// the service control manager, started and stopped there, its log read back, and clients on
// its pipe.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "helper_owners_win.h"
#include "tolvek/win32_owners.h"

namespace tolvek::testing {

inline constexpr wchar_t kHelperServiceName[] = L"TolvekDisplayHelper";
inline constexpr wchar_t kHelperPipeName[] = L"\\\\.\\pipe\\tolvek-display-helper";

// The SID text of the user this process runs as (under Wine S-1-5-21-0-0-0-1000).
[[nodiscard]] std::string current_user_sid();

// The helper, tolvek-display-helper.exe beside the test, registered as the service
// "TolvekDisplayHelper" with the command line `"<helper>" service <sid_argument>`. A
// leftover of an earlier run is stopped and deleted first; the service is stopped and
// deleted again when the object goes. The test process must stay alive while the service
// runs: Wine shuts a prefix's services down once its last ordinary process has gone.
class HelperService {
public:
    explicit HelperService(std::string_view sid_argument);
    ~HelperService();
    HelperService(const HelperService&) = delete;
    HelperService& operator=(const HelperService&) = delete;

    // Whether the service control manager accepted the registration.
    [[nodiscard]] bool registered() const { return service_.valid(); }

    [[nodiscard]] bool start();
    // Sends a control code; the Win32 error of ControlService, or 0.
    DWORD control(DWORD code);

    [[nodiscard]] SERVICE_STATUS_PROCESS status() const;

    // Waits until the service reports `state`; the status last seen, which has another state
    // when the time ran out.
    SERVICE_STATUS_PROCESS wait_for_state(DWORD state, std::chrono::milliseconds timeout) const;

private:
    UniqueServiceHandle manager_;
    UniqueServiceHandle service_;
};

// The messages (timestamps taken off) that the service writes to its log,
// C:\users\Public\Tolvek\display-helper.log, from the moment this object is made.
class ServiceLog {
public:
    ServiceLog();

    [[nodiscard]] std::vector<std::string> messages() const;

    // Waits until `message` is among the messages `times` times; false when the time ran out.
    [[nodiscard]] bool wait_for(std::string_view message, std::chrono::milliseconds timeout,
                                std::size_t times = 1) const;

    [[nodiscard]] std::size_t count(std::string_view message) const;

private:
    std::uintmax_t start_offset_ = 0;
};

// One client of the helper's pipe, opened for overlapped I/O so that every read has a time
// limit.
class PipeClient {
public:
    // Opens the pipe at once; the Win32 error of CreateFileW (ERROR_PIPE_BUSY, ...) if it
    // fails.
    static std::variant<PipeClient, DWORD> try_open();

    // Opens the pipe, waiting for it to exist or for a free instance until the time runs
    // out; nothing then.
    static std::optional<PipeClient> open(std::chrono::milliseconds timeout);

    [[nodiscard]] bool write(std::string_view bytes);

    // The next line the server writes, without its line feed; nothing when the connection
    // ended or the time ran out.
    [[nodiscard]] std::optional<std::string> read_line(std::chrono::milliseconds timeout);

    // Writes `line` and a line feed and reads the reply line.
    [[nodiscard]] std::optional<std::string>
    request(std::string_view line, std::chrono::milliseconds timeout = std::chrono::seconds{20});

    // Whether the server ends the connection within the time (a read fails).
    [[nodiscard]] bool ended_by_server(std::chrono::milliseconds timeout);

    void close() { pipe_.reset(); }

private:
    explicit PipeClient(UniqueHandle pipe);

    // Bytes of one read; nothing when the connection ended or the time ran out.
    std::optional<std::string> read_some(std::chrono::milliseconds timeout, bool& timed_out);

    UniqueHandle pipe_;
    UniqueHandle event_;
    std::string pending_;
};

} // namespace tolvek::testing
