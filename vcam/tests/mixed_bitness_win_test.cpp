// Producers, cameras and registration across bitnesses, from the 32-bit build: a 64-bit
// producer feeds a 32-bit camera and a 32-bit producer a 64-bit camera through the one
// section contract; the 64-bit tool registers the camera for hosts of both bitnesses from
// the layout a setup installs (the 64-bit tool and module, the 32-bit ones in x86 beside
// them); and a 32-bit and a 64-bit host stream from one producer at the same time.
//
// The 64-bit programs come from the 64-bit build's folder, which the environment variable
// TOLVEK_X64_BIN names (CMake sets it; tools/test.sh builds the windows preset first).
// Without them the tests fail, saying so.

#include "camera_registry_layout.h"
#include "host_process_win.h"
#include "producer_process_win.h"
#include "registry_values_win.h"
#include "support/test_environment_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace tolvek::vcam {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Connection = testing::HostProcess::Connection;

constexpr std::uint32_t kWholePictures = 10;

// The 64-bit build's folder, from TOLVEK_X64_BIN; empty when it is not set.
fs::path x64_folder()
{
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"TOLVEK_X64_BIN", folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? fs::path(folder) : fs::path();
}

// What hosts of `bitness` find registered: the module COM loads, and whether the category
// entry carries its FilterData.
struct Registered {
    std::wstring module;
    bool filter_data;

    friend bool operator==(const Registered&, const Registered&) = default;
};

Registered registered_for(HostBitness bitness)
{
    return {testing::string_value(bitness, camera_class_key() + u"\\InprocServer32", nullptr),
            testing::binary_value_size(bitness, camera_category_entry_key(), L"FilterData") > 0};
}

const Registered kNothingRegistered{L"(absent)", false};

std::string line_of(const tolvek::testing::ProcessOutcome& outcome)
{
    const std::string& text =
        outcome.exit_code == 0 ? outcome.standard_output : outcome.standard_error;
    return text.substr(0, text.find('\n'));
}

class MixedBitness : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(x64_.empty()) << "TOLVEK_X64_BIN names no folder";
        for (const wchar_t* program : {L"tolvek-vcam-register.exe", L"tolvek_vcam.dll",
                                       L"vcam_test_host.exe", L"vcam_test_producer.exe"}) {
            ASSERT_TRUE(fs::is_regular_file(x64_ / program))
                << "missing " << (x64_ / program).string()
                << ": build the windows preset first (tools/test.sh does)";
        }
        install_layout();
    }

    void TearDown() override
    {
        const tolvek::testing::ProcessOutcome removed = run_tool(L"unregister");
        EXPECT_EQ(removed.exit_code, 0u) << line_of(removed);
    }

    // The layout a setup installs: the 64-bit tool and module, and the 32-bit ones of this
    // build in the x86 folder beside them.
    void install_layout()
    {
        fs::create_directories(folder_.path() / "x86");
        for (const wchar_t* file : {L"tolvek-vcam-register.exe", L"tolvek_vcam.dll"}) {
            fs::copy_file(x64_ / file, folder_.path() / file);
            fs::copy_file(tolvek::testing::executable_folder() / file,
                          folder_.path() / "x86" / file);
        }
    }

    [[nodiscard]] tolvek::testing::ProcessOutcome run_tool(const std::wstring& command) const
    {
        const std::wstring command_line =
            L"\"" + (folder_.path() / L"tolvek-vcam-register.exe").wstring() + L"\" " + command;
        return tolvek::testing::run_process(command_line, 30s)
            .value_or(
                tolvek::testing::ProcessOutcome{999, {}, "the tool did not start or did not end"});
    }

    [[nodiscard]] std::wstring module64() const
    {
        return (folder_.path() / L"tolvek_vcam.dll").wstring();
    }
    [[nodiscard]] std::wstring module32() const
    {
        return (folder_.path() / L"x86" / L"tolvek_vcam.dll").wstring();
    }
    [[nodiscard]] static std::string utf8(const std::wstring& text)
    {
        return utf16_to_utf8_lossy(as_utf16(text));
    }

    void register_both()
    {
        const tolvek::testing::ProcessOutcome registered = run_tool(L"register");
        ASSERT_EQ(registered.exit_code, 0u) << line_of(registered);
    }

    const fs::path x64_ = x64_folder();
    tolvek::testing::ScopedTempDir folder_;
};

TEST_F(MixedBitness, the_64_bit_tool_registers_the_camera_for_hosts_of_both_bitnesses)
{
    const tolvek::testing::ProcessOutcome registered = run_tool(L"register");
    EXPECT_EQ(registered.exit_code, 0u);
    EXPECT_EQ(line_of(registered),
              "registered Tolvek Camera for 64-bit hosts: " + utf8(module64()) +
                  "; for 32-bit hosts: " + utf8(module32()));
    EXPECT_EQ(registered_for(HostBitness::bits64), (Registered{module64(), true}));
    EXPECT_EQ(registered_for(HostBitness::bits32), (Registered{module32(), true}));

    const tolvek::testing::ProcessOutcome unregistered = run_tool(L"unregister");
    EXPECT_EQ(unregistered.exit_code, 0u);
    EXPECT_EQ(line_of(unregistered), "unregistered Tolvek Camera");
    EXPECT_EQ(registered_for(HostBitness::bits64), kNothingRegistered);
    EXPECT_EQ(registered_for(HostBitness::bits32), kNothingRegistered);
}

TEST_F(MixedBitness, with_one_module_absent_the_other_is_registered_alone_and_the_line_says_so)
{
    struct Case {
        const char* name;
        fs::path absent;
        std::string line;
        bool registered64;
        bool registered32;
    };
    const std::vector<Case> cases{
        {"no 32-bit module", module32(),
         "registered Tolvek Camera for 64-bit hosts: " + utf8(module64()) +
             "; not for 32-bit hosts: the camera module is missing: " + utf8(module32()),
         true, false},
        {"no 64-bit module", module64(),
         "registered Tolvek Camera for 32-bit hosts: " + utf8(module32()) +
             "; not for 64-bit hosts: the camera module is missing: " + utf8(module64()),
         false, true},
    };
    for (const Case& layout : cases) {
        SCOPED_TRACE(layout.name);
        fs::remove(layout.absent);
        const tolvek::testing::ProcessOutcome registered = run_tool(L"register");
        EXPECT_EQ(registered.exit_code, 0u);
        EXPECT_EQ(line_of(registered), layout.line);
        EXPECT_EQ(registered_for(HostBitness::bits64),
                  (layout.registered64 ? Registered{module64(), true} : kNothingRegistered));
        EXPECT_EQ(registered_for(HostBitness::bits32),
                  (layout.registered32 ? Registered{module32(), true} : kNothingRegistered));
        ASSERT_EQ(run_tool(L"unregister").exit_code, 0u);
        fs::remove_all(folder_.path());
        install_layout();
    }
}

// A setup that lost the x86 folder must not leave 32-bit hosts a camera they cannot load.
TEST_F(MixedBitness, unregistering_without_the_32_bit_program_still_clears_the_32_bit_view)
{
    register_both();
    fs::remove(folder_.path() / "x86" / "tolvek-vcam-register.exe");

    const tolvek::testing::ProcessOutcome unregistered = run_tool(L"unregister");
    EXPECT_EQ(unregistered.exit_code, 0u) << line_of(unregistered);
    EXPECT_EQ(registered_for(HostBitness::bits32), kNothingRegistered);
    EXPECT_EQ(registered_for(HostBitness::bits64), kNothingRegistered);
}

// The contract of the two sections holds across bitnesses: the camera shows the other
// side's pictures whole, and the producer counts the camera's viewer slot.
TEST_F(MixedBitness, a_producer_of_either_bitness_feeds_a_camera_of_the_other)
{
    register_both();
    struct Case {
        const char* name;
        std::wstring producer;
        std::wstring host;
    };
    for (const Case& pair : {
             Case{"64-bit producer, 32-bit camera", (x64_ / L"vcam_test_producer.exe").wstring(),
                  testing::beside_this_program(L"vcam_test_host.exe")},
             Case{"32-bit producer, 64-bit camera",
                  testing::beside_this_program(L"vcam_test_producer.exe"),
                  (x64_ / L"vcam_test_host.exe").wstring()},
         }) {
        SCOPED_TRACE(pair.name);
        const testing::ProducerProcess producer(L"paced", 1, pair.producer);
        ASSERT_TRUE(producer.wait_until_ready());
        testing::HostProcess host(pair.host, ApartmentKind::multithreaded, Connection::graph,
                                  kWholePictures);
        EXPECT_TRUE(host.wait_until_settled());
        EXPECT_EQ(producer.quit_and_count_viewers(), 1u) << "the camera's viewer slot";
        const testing::HostOutcome outcome = host.finish();
        EXPECT_EQ(outcome.exit_code, 0u) << outcome.report;
    }
}

TEST_F(MixedBitness, hosts_of_both_bitnesses_stream_one_producer_at_the_same_time)
{
    register_both();
    const testing::ProducerProcess producer(L"paced", 1);
    ASSERT_TRUE(producer.wait_until_ready());
    testing::HostProcess host32(testing::beside_this_program(L"vcam_test_host.exe"),
                                ApartmentKind::multithreaded, Connection::graph, kWholePictures);
    testing::HostProcess host64((x64_ / L"vcam_test_host.exe").wstring(),
                                ApartmentKind::multithreaded, Connection::graph, kWholePictures);
    EXPECT_TRUE(host32.wait_until_settled());
    EXPECT_TRUE(host64.wait_until_settled());

    EXPECT_EQ(producer.quit_and_count_viewers(), 2u) << "two viewer slots in use at once";
    const testing::HostOutcome outcome32 = host32.finish();
    const testing::HostOutcome outcome64 = host64.finish();
    EXPECT_EQ(outcome32.exit_code, 0u) << "32-bit host: " << outcome32.report;
    EXPECT_EQ(outcome64.exit_code, 0u) << "64-bit host: " << outcome64.report;
}

} // namespace
} // namespace tolvek::vcam
