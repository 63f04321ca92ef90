// The platform-free part of the C interface: status texts, the status of each display client
// failure, each thread's last error text, and the boundary that every entry point runs in.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "all_statuses.h"
#include "c_boundary.h"
#include "last_error_text.h"
#include "status_codes.h"
#include "tolvek_sdk.h"

namespace tolvek::sdk {
namespace {

constexpr tolvek_status kAllStatuses[] = TOLVEK_ALL_STATUSES;

TEST(SdkStatus, every_status_has_a_text_of_its_own_and_other_numbers_are_unknown)
{
    std::set<std::string> texts;
    for (const tolvek_status status : kAllStatuses) {
        const std::string text = tolvek_status_text(status);
        EXPECT_FALSE(text.empty()) << status;
        EXPECT_NE(text, "unknown status") << status;
        EXPECT_TRUE(texts.insert(text).second) << status << " shares its text: " << text;
    }
    for (const tolvek_status other : {-1, 6, 99, 114, 199, 201, INT32_MAX, INT32_MIN}) {
        EXPECT_STREQ(tolvek_status_text(other), "unknown status") << other;
    }
}

// A kind added to the client without a status of its own would be reported as internal.
TEST(SdkStatus, each_client_failure_kind_has_a_status_of_its_own_with_the_clients_text)
{
    std::set<tolvek_status> statuses;
    // ErrorKind::system is the last kind.
    for (int value = 0; value <= static_cast<int>(display::ErrorKind::system); ++value) {
        const auto kind = static_cast<display::ErrorKind>(value);
        const tolvek_status status = status_of(kind);
        EXPECT_NE(status, TOLVEK_ERROR_INTERNAL) << value;
        EXPECT_NE(status, TOLVEK_OK) << value;
        EXPECT_TRUE(statuses.insert(status).second) << value;
        EXPECT_EQ(std::string{status_text(status)}, display::error_kind_text(kind)) << value;
    }
}

TEST(SdkLastErrorText, a_long_text_is_cut_whole_characters_first)
{
    constexpr std::size_t kRoom = kLastErrorTextCapacity - 1;
    const std::string e_acute = "\xC3\xA9";       // 2 bytes
    const std::string euro = "\xE2\x82\xAC";      // 3 bytes
    const std::string smile = "\xF0\x9F\x98\x80"; // 4 bytes
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"the display helper is not installed", "the display helper is not installed"},
        {std::string(kRoom, 'a'), std::string(kRoom, 'a')},
        {std::string(kRoom + 1, 'a'), std::string(kRoom, 'a')},
        {std::string(kRoom - 1, 'a') + e_acute, std::string(kRoom - 1, 'a')},
        {std::string(kRoom - 2, 'a') + e_acute, std::string(kRoom - 2, 'a') + e_acute},
        {std::string(kRoom - 1, 'a') + euro, std::string(kRoom - 1, 'a')},
        {std::string(kRoom - 2, 'a') + euro + "b", std::string(kRoom - 2, 'a')},
        {std::string(kRoom - 3, 'a') + smile, std::string(kRoom - 3, 'a')},
        {std::string(kRoom - 4, 'a') + smile + "b", std::string(kRoom - 4, 'a') + smile},
    };
    for (const Case& c : cases) {
        set_last_error_text(c.text);
        EXPECT_EQ(std::string{last_error_text()}, c.expected) << c.text.size();
    }
}

TEST(SdkLastErrorText, each_thread_has_its_own)
{
    set_last_error_text("main");
    std::string seen_by_other;
    std::thread other{[&] {
        seen_by_other = last_error_text();
        set_last_error_text("other");
    }};
    other.join();
    EXPECT_EQ(seen_by_other, "");
    EXPECT_STREQ(last_error_text(), "main");
    EXPECT_EQ(last_error_text(), tolvek_last_error_text());
}

TEST(SdkBoundary, a_call_ends_in_its_status_with_its_text_and_nothing_escapes)
{
    struct Case {
        const char* what;
        std::function<Outcome(const EntryPoint&)> work;
        tolvek_status status;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"success", [](const EntryPoint&) -> Outcome { return {}; }, TOLVEK_OK, ""},
        {"failure",
         [](const EntryPoint&) -> Outcome {
             return Failure{TOLVEK_ERROR_REFUSED, "the helper refused a monitor"};
         },
         TOLVEK_ERROR_REFUSED, "the helper refused a monitor"},
        {"null argument",
         [](const EntryPoint& entry) -> Outcome {
             TOLVEK_TRY(entry.require(nullptr, "pixels"));
             return {};
         },
         TOLVEK_ERROR_INVALID_ARGUMENT, "tolvek_entry: pixels is null"},
        {"present argument",
         [](const EntryPoint& entry) -> Outcome {
             const int present = 0;
             return entry.require(&present, "pixels");
         },
         TOLVEK_OK, ""},
        {"client failure",
         [](const EntryPoint&) -> Outcome {
             return client_failure({display::ErrorKind::not_installed, "not installed: why"});
         },
         TOLVEK_ERROR_NOT_INSTALLED, "not installed: why"},
        {"out of memory", [](const EntryPoint&) -> Outcome { throw std::bad_alloc{}; },
         TOLVEK_ERROR_OUT_OF_MEMORY, "tolvek_entry: out of memory"},
        {"exception", [](const EntryPoint&) -> Outcome { throw std::runtime_error{"boom"}; },
         TOLVEK_ERROR_INTERNAL, "tolvek_entry: an unexpected failure inside the SDK"},
        {"anything thrown", [](const EntryPoint&) -> Outcome { throw 42; }, TOLVEK_ERROR_INTERNAL,
         "tolvek_entry: an unexpected failure inside the SDK"},
    };
    for (const Case& c : cases) {
        set_last_error_text("left by an earlier call");
        EXPECT_EQ(run_at_boundary("tolvek_entry", c.work), c.status) << c.what;
        EXPECT_EQ(std::string{last_error_text()}, c.text) << c.what;
    }
}

TEST(SdkVersion, the_dll_reports_the_version_of_its_header)
{
    EXPECT_EQ(tolvek_version(), static_cast<std::uint32_t>(TOLVEK_SDK_VERSION));
    const std::string text = std::to_string(TOLVEK_SDK_VERSION_MAJOR) + "." +
                             std::to_string(TOLVEK_SDK_VERSION_MINOR) + "." +
                             std::to_string(TOLVEK_SDK_VERSION_PATCH);
    EXPECT_EQ(text, TOLVEK_SDK_VERSION_TEXT);
    EXPECT_EQ(TOLVEK_SDK_VERSION >> 16, TOLVEK_SDK_VERSION_MAJOR);
}

} // namespace
} // namespace tolvek::sdk
