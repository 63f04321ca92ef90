#pragma once

// Shared by the install, uninstall and driver package tests: the fake pnputil's folder, the
// helper's service as the real service manager holds it, and runs of the helper program.

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_environment_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/service_status_win.h"

namespace tolvek::testing {

struct StoredPackage {
    std::string published;
    std::string original;
    bool operator==(const StoredPackage&) const = default;
};

// A folder of its own for the fake pnputil (see doubles/fake_pnputil), named to it and to
// every child through TOLVEK_FAKE_PNPUTIL_DIR for as long as the object lives.
class FakePnputil {
public:
    FakePnputil();

    void set_store(const std::vector<StoredPackage>& packages) const;
    [[nodiscard]] std::vector<StoredPackage> store() const;
    // Replaces the simulated behaviour for one operation ("add-driver", "enum-drivers",
    // "delete-driver") with the lines of `script`.
    void reply(std::string_view operation, std::string_view script) const;
    void put_file(std::string_view name, std::string_view bytes) const;
    // Every argument list the fake was started with, in order.
    [[nodiscard]] std::vector<std::vector<std::string>> calls() const;

private:
    ScopedTempDir folder_;
    ScopedEnvironmentVariable variable_;
};

// The helper's service as QueryServiceConfigW reports it.
using HelperServiceConfiguration = ServiceConfiguration;

// Nothing when the service is not installed.
[[nodiscard]] std::optional<HelperServiceConfiguration> query_helper_service();

// Stops the helper's service (ending its process if it does not stop within 20 seconds),
// deletes it, and waits up to 10 seconds for the service manager to drop it. Returns whether
// it is gone.
bool remove_helper_service();

// Whether the service manager holds no service of the helper's name, checked until
// `timeout` has passed. (The manager signals nothing when it drops a deleted service.)
[[nodiscard]] bool helper_service_gone_within(std::chrono::milliseconds timeout);

// Runs the program with the given arguments (each quoted as the helper quotes them) and
// waits up to a minute.
[[nodiscard]] std::optional<ProcessOutcome> run_program(const std::filesystem::path& program,
                                                        const std::vector<std::wstring>& arguments);

// The line feed ended lines of a text.
[[nodiscard]] std::vector<std::string> lines_of(const std::string& text);

// The messages in the log, timestamps taken off; empty when there is no log.
[[nodiscard]] std::vector<std::string> log_messages(const std::filesystem::path& program_data);

// A reader of the log that takes the writers' lock and keeps it for as long as it lives, as any
// user who may read the log can. Creates the log when it is missing.
class LogLockHolder {
public:
    explicit LogLockHolder(const std::filesystem::path& log);

    // Whether it got the lock.
    [[nodiscard]] bool holds() const { return holds_; }

private:
    UniqueHandle reader_;
    bool holds_ = false;
};

// The SID of every process under Wine, which admission compares against.
inline constexpr std::string_view kWineUserSid = "S-1-5-21-0-0-0-1000";

} // namespace tolvek::testing
