#pragma once

// vcam_test_host (test_host_win.cpp) in a process of its own: a camera host, of this test's
// bitness or of the other one, that finds the registered camera through the video input
// device category and streams it, with its main thread in the apartment the test names.

#include <windows.h>

#include "producer_process_win.h"
#include "tolvek/child_process_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <vector>

namespace tolvek::vcam::testing {

// How long a test waits for a host to settle: beyond the host's own 20 s to stream.
inline constexpr std::chrono::seconds kHostSettleLimit{30};
// How long a host may take to end once told to quit; it ends within milliseconds, and well
// before its own limit of a minute, so a host that outlives this did not see the quit.
inline constexpr std::chrono::seconds kHostEndLimit{30};

struct HostOutcome {
    DWORD exit_code = 999; // 0: the host streamed what it was asked for, and nothing else
    std::string report;    // its line of what it saw, or why there is none
};

class HostProcess {
public:
    // How the host runs the camera: in a Filter Graph Manager, or in filters connected pin to
    // pin without one (test_host_win.cpp tells why that matters under Wine).
    enum class Connection { graph, pins };

    // Starts `program` with its main thread in an apartment of `apartment`, to wait for
    // `pictures` whole producer pictures (0: any samples).
    HostProcess(const std::wstring& program, ApartmentKind apartment, Connection connection,
                std::uint32_t pictures)
    {
        const std::wstring settled_name = unique_event_name(L"HostSettled");
        const std::wstring quit_name = unique_event_name(L"HostQuit");
        settled_.reset(CreateEventW(nullptr, TRUE, FALSE, settled_name.c_str()));
        quit_.reset(CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str()));
        const std::vector<std::u16string> arguments{
            apartment == ApartmentKind::multithreaded ? u"mta" : u"sta",
            connection == Connection::graph ? u"graph" : u"pins",
            std::u16string(as_utf16(std::to_wstring(pictures))),
            std::u16string(as_utf16(settled_name)), std::u16string(as_utf16(quit_name))};
        run_ = std::async(std::launch::async, [program = std::u16string(as_utf16(program)),
                                               arguments, settled = settled_.get()] {
            Result<ChildProcessOutput> output = run_child_process(program, arguments);
            SetEvent(settled); // a host that ended waits for nothing
            return output;
        });
    }
    ~HostProcess()
    {
        if (run_.valid()) {
            SetEvent(quit_.get()); // the future's end waits for the host, which now ends
        }
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // True once the host streams what it was asked for, or has given up or ended.
    [[nodiscard]] bool wait_until_settled() const
    {
        const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(kHostSettleLimit);
        return WaitForSingleObject(settled_.get(), static_cast<DWORD>(limit.count())) ==
               WAIT_OBJECT_0;
    }

    // Tells the host to stop and waits for its outcome.
    [[nodiscard]] HostOutcome finish()
    {
        SetEvent(quit_.get());
        if (run_.wait_for(kHostEndLimit) != std::future_status::ready) {
            return {999, "the host did not end once told to quit"};
        }
        const Result<ChildProcessOutput> output = run_.get();
        if (!output) {
            return {999, "the host did not start: " + output.error().text};
        }
        std::string report = output.value().standard_output;
        while (!report.empty() && (report.back() == '\n' || report.back() == '\r')) {
            report.pop_back();
        }
        return {output.value().exit_code, report + output.value().standard_error};
    }

private:
    UniqueHandle settled_;
    UniqueHandle quit_;
    std::future<Result<ChildProcessOutput>> run_; // last: its end waits for the host
};

} // namespace tolvek::vcam::testing
