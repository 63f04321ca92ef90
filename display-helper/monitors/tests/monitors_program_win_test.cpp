// tolvek-monitors as a user runs it, against the helper installed as a service of the test
// prefix with the stand-in cfgmgr32.dll: ping, hold until standard input closes, hold with
// --restore across the service's process being ended, a mode the helper refuses, and no
// service at all.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/helper_service_win.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"
#include "tolvek/owners_win.h"

namespace tolvek::monitors {
namespace {

using namespace std::chrono_literals;

// The program running with pipes on its three standard handles: its output read as it comes,
// its input closed when the test says so.
class RunningProgram {
public:
    explicit RunningProgram(const std::wstring& arguments)
    {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        UniqueHandle in_read, out_write, err_write;
        if (!CreatePipe(in_read.put(), in_write_.put(), &inheritable, 0) ||
            !CreatePipe(out_read_.put(), out_write.put(), &inheritable, 0) ||
            !CreatePipe(err_read_.put(), err_write.put(), &inheritable, 0)) {
            return;
        }
        for (HANDLE ours : {in_write_.get(), out_read_.get(), err_read_.get()}) {
            SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in_read.get();
        startup.hStdOutput = out_write.get();
        startup.hStdError = err_write.get();
        std::wstring line = L"\"" +
                            (testing::executable_folder() / "tolvek-monitors.exe").wstring() +
                            L"\" " + arguments;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &info)) {
            return;
        }
        process_.reset(info.hProcess);
        CloseHandle(info.hThread);
        readers_.emplace_back([this] { drain(out_read_.get(), output_, output_ended_); });
        readers_.emplace_back([this] { drain(err_read_.get(), errors_, errors_ended_); });
    }

    ~RunningProgram()
    {
        close_input();
        if (process_ && WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 1);
        }
        for (std::thread& reader : readers_) {
            reader.join();
        }
    }

    [[nodiscard]] bool started() const { return process_.valid(); }

    // Whether standard output holds `count` whole lines within the time.
    [[nodiscard]] bool has_output_lines(std::size_t count, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock{lock_};
        return arrived_.wait_for(lock, timeout, [&] {
            return static_cast<std::size_t>(std::count(output_.begin(), output_.end(), '\n')) >=
                   count;
        });
    }

    void close_input() { in_write_.reset(); }

    // The exit code once the program has ended, within the time.
    [[nodiscard]] std::optional<DWORD> exit_code(std::chrono::milliseconds timeout) const
    {
        DWORD code = 0;
        if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) !=
                WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process_.get(), &code)) {
            return std::nullopt;
        }
        return code;
    }

    // Standard output's lines once the program has closed it: the exit of the process can be
    // seen before the reader has taken the last bytes out of the pipe.
    [[nodiscard]] std::vector<std::string> output_lines()
    {
        std::unique_lock lock{lock_};
        if (!arrived_.wait_for(lock, 10s, [&] { return output_ended_; })) {
            return {"(standard output still open)"};
        }
        return testing::lines_of(output_);
    }

private:
    void drain(HANDLE pipe, std::string& into, bool& ended)
    {
        char buffer[512];
        DWORD count = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            const std::lock_guard lock{lock_};
            into.append(buffer, count);
            arrived_.notify_all();
        }
        const std::lock_guard lock{lock_};
        ended = true;
        arrived_.notify_all();
    }

    UniqueHandle in_write_, out_read_, err_read_, process_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::string output_, errors_;
    bool output_ended_ = false;
    bool errors_ended_ = false;
    std::vector<std::thread> readers_;
};

std::optional<testing::ProcessOutcome> run_monitors(const std::wstring& arguments)
{
    return testing::run_process(
        L"\"" + (testing::executable_folder() / "tolvek-monitors.exe").wstring() + L"\" " +
            arguments,
        30s);
}

class MonitorsProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::reset_software_device_standin();
        ASSERT_TRUE(testing::remove_helper_service());
        service.emplace(testing::kWineUserSid);
        ASSERT_TRUE(service->registered());
    }

    std::optional<testing::HelperService> service;
};

TEST_F(MonitorsProgramTest, ping_prints_the_helpers_version)
{
    const auto outcome = run_monitors(L"ping");
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->exit_code, 0u) << outcome->standard_error;
    EXPECT_EQ(outcome->standard_output, "0.0.0\n");
    EXPECT_EQ(outcome->standard_error, "");
}

TEST_F(MonitorsProgramTest, hold_keeps_the_monitors_until_standard_input_closes)
{
    RunningProgram program{L"hold 1920x1080 2560x1440"};
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.has_output_lines(2, 20s));
    EXPECT_EQ(testing::read_software_device_ledger().creates().size(), 2u);
    EXPECT_TRUE(testing::read_software_device_ledger().closes().empty()) << "held meanwhile";

    program.close_input();
    EXPECT_EQ(program.exit_code(10s), 0u);
    EXPECT_EQ(program.output_lines(), (std::vector<std::string>{"holding 1920x1080 as serial 1",
                                                                "holding 2560x1440 as serial 2",
                                                                "let go of 2 monitor(s)"}));
    ASSERT_EQ(service->wait_for_state(SERVICE_STOPPED, 20s).dwCurrentState,
              static_cast<DWORD>(SERVICE_STOPPED));
    const testing::SoftwareDeviceLedger ledger = testing::read_software_device_ledger();
    EXPECT_EQ(ledger.creates().size(), 2u);
    EXPECT_EQ(ledger.closes().size(), 2u);
    EXPECT_TRUE(ledger.imbalances().empty());
}

TEST_F(MonitorsProgramTest, hold_with_restore_brings_the_monitors_back_and_says_so)
{
    RunningProgram program{L"hold --restore 1280x720 --serial 5"};
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.has_output_lines(1, 20s));
    const DWORD first = service->status().dwProcessId;
    const UniqueHandle process{OpenProcess(PROCESS_TERMINATE, FALSE, first)};
    ASSERT_TRUE(TerminateProcess(process.get(), 1));

    ASSERT_TRUE(program.has_output_lines(3, 20s));
    program.close_input();
    EXPECT_EQ(program.exit_code(10s), 0u);
    EXPECT_EQ(program.output_lines(),
              (std::vector<std::string>{"holding 1280x720 as serial 5",
                                        "the connection to the display helper was lost; restoring",
                                        "restored 1 monitor(s)", "let go of 1 monitor(s)"}));
    EXPECT_EQ(testing::read_software_device_ledger().creates().size(), 2u) << "made again once";
}

TEST_F(MonitorsProgramTest, failures_are_one_line_with_exit_code_1_and_nothing_held)
{
    struct Case {
        std::wstring arguments;
        bool installed;
        std::string error_start;
    };
    const std::vector<Case> cases = {
        {L"hold 1920x1080 1921x1080", true, "the helper does not make 1921x1080 monitors"},
        {L"hold", true, "hold needs at least one mode"},
        {L"ping", false, "the display helper is not installed"},
        {L"hold 1920x1080", false, "the display helper is not installed"},
    };
    for (const Case& c : cases) {
        if (!c.installed) {
            service.reset();
            ASSERT_TRUE(testing::remove_helper_service());
        }
        const auto outcome = run_monitors(c.arguments);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->exit_code, 1u);
        EXPECT_TRUE(outcome->standard_error.starts_with(c.error_start)) << outcome->standard_error;
        EXPECT_EQ(std::count(outcome->standard_error.begin(), outcome->standard_error.end(), '\n'),
                  1)
            << outcome->standard_error;
        EXPECT_EQ(outcome->standard_output, "");
    }
    EXPECT_TRUE(testing::read_software_device_ledger().creates().empty())
        << "a refused mode is reported before anything is made";
}

} // namespace
} // namespace tolvek::monitors
