// Without the stand-in, Wine's own cfgmgr32 lacks SwDeviceCreate, as older systems do: the
// helper must still run, and each create fail cleanly with the reason.

#include "monitor_device_win.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/test_environment_win.h"

namespace tolvek {
namespace {

TEST(MissingDeviceInterface, a_create_fails_as_refused_with_the_missing_procedure_error)
{
    const testing::ScopedTempDir program_data;
    const testing::ScopedEnvironmentVariable variable{L"ProgramData",
                                                      program_data.path().wstring()};
    EXPECT_EQ(software_device_api().missing, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_FALSE(create_monitor_device(1920, 1080, 60, MonitorIdentity{0x546F, 0x4C56, 1}));
    EXPECT_FALSE(create_monitor_device(1920, 1080, 60, MonitorIdentity{0x546F, 0x4C56, 2}))
        << "and again: the helper keeps serving";

    const std::string log =
        testing::read_file(program_data.path() / "Tolvek" / "display-helper.log").value_or("");
    EXPECT_TRUE(
        std::regex_search(log, std::regex{R"(SwDeviceCreate refused: \S.* \(0x8007007F\)\n)"}))
        << log;
}

} // namespace
} // namespace tolvek
