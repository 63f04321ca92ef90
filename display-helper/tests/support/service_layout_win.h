#pragma once

// A fixture for tests that run the helper against the real service manager: an application
// folder with a blank in its name to place copies of the built programs in, a ProgramData
// and a fake pnputil of the test's own, and the helper's service removed before and after.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/setup_test_support_win.h"
#include "tolvek/owners_win.h"

namespace tolvek::testing {

class ServiceLayoutTest : public ::testing::Test {
protected:
    ServiceLayoutTest();
    void SetUp() override;
    void TearDown() override;

    // The application folder, "<temp>\Tolvek App".
    [[nodiscard]] const std::filesystem::path& app() const { return app_; }
    // Copies the built helper to `relative` under the application folder.
    std::filesystem::path place_helper(const std::filesystem::path& relative) const;
    // Creates <folder>\driver\TolvekIdd.inf.
    std::filesystem::path place_driver_package(const std::filesystem::path& folder) const;
    // Copies the test service (doubles/test_service) to `relative`, told by its configuration
    // to signal this test's events; `mode` is "stoppable" or "stubborn".
    void place_test_service(const std::filesystem::path& relative, const std::string& mode);

    void change_display_name_and_start_type(const wchar_t* display_name, DWORD start_type) const;
    // Starts the helper's service and waits up to 30 seconds until the test service reports
    // that it runs.
    void start_service_and_wait_until_running() const;
    // Whether the test service received a stop request within `timeout`.
    [[nodiscard]] bool stop_requested_within(std::chrono::milliseconds timeout) const;
    // Ends a stubborn test service.
    void let_service_quit() const;
    // The arguments the test service was started with.
    [[nodiscard]] std::vector<std::string> service_arguments() const;

    [[nodiscard]] std::vector<std::string> log() const
    {
        return log_messages(program_data_.path());
    }
    [[nodiscard]] static std::string narrow(const std::filesystem::path& path);

    FakePnputil pnputil;

private:
    ScopedTempDir root_;
    ScopedTempDir program_data_;
    ScopedEnvironmentVariable program_data_variable_;
    std::filesystem::path app_;
    std::filesystem::path service_folder_;
    std::wstring event_prefix_;
    UniqueHandle running_;
    UniqueHandle stop_;
    UniqueHandle quit_;
};

} // namespace tolvek::testing
