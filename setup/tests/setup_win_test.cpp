// tolvek-setup under Wine, as a person runs it from an unpacked release: install and remove
// against the real service manager, registry (both views), filter mapper and files, with the
// fake pnputil in the prefix's system folder. The release is the one tools/stage-release.sh
// lays out from the two builds, copied afresh for each test.

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "camera_registry_layout.h"
#include "host_process_win.h"
#include "installed_files.h"
#include "registry_values_win.h"
#include "setup_run.h"
#include "support/setup_test_support_win.h"
#include "tolvek/child_process_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::setup {
namespace {

namespace fs = std::filesystem;
using vcam::HostBitness;
using vcam::testing::string_value;

constexpr std::chrono::seconds kServiceGoneLimit{20};

fs::path install_folder()
{
    UniqueTaskMemory<wchar_t> program_files;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, program_files.put()))) {
        return {};
    }
    return fs::path(program_files.get()) / as_wide(kInstallFolderName.data());
}

fs::path in_folder(const fs::path& folder, const std::u16string& relative)
{
    return folder / std::wstring(as_wide(relative.c_str()));
}

// The path the camera's class names for COM in hosts of that bitness, or "(absent)"; and
// whether the video input device category lists it.
std::wstring registered_module(HostBitness bitness)
{
    return string_value(bitness, vcam::camera_class_key() + u"\\InprocServer32", nullptr);
}
bool listed(HostBitness bitness)
{
    return string_value(bitness, vcam::camera_category_entry_key(), L"FriendlyName") != L"(absent)";
}

// The files of the system's pending renames ("at the next restart") below `folder`.
std::vector<std::wstring> pending_removals_in(const fs::path& folder)
{
    constexpr wchar_t kKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
    std::vector<wchar_t> data(65536);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    std::vector<std::wstring> paths;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                     nullptr, data.data(), &size) != ERROR_SUCCESS) {
        return paths;
    }
    const std::wstring prefix = L"\\??\\" + folder.wstring();
    // Pairs of a source and a destination, which is empty for a deletion.
    const wchar_t* const end = data.data() + size / sizeof(wchar_t);
    for (const wchar_t* source = data.data(); source < end && *source != L'\0';) {
        const wchar_t* const destination = source + wcslen(source) + 1;
        if (std::wstring_view(source).starts_with(prefix)) {
            paths.emplace_back(source);
        }
        source = destination + wcslen(destination) + 1;
    }
    return paths;
}

// Takes this test's pending renames out of the prefix again, so that nothing of the
// installation's name goes when the prefix next starts.
void forget_pending_removals()
{
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
        RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
    }
}

struct SetupRun {
    DWORD exit_code = 0;
    std::string output;
    std::string errors;
};

// Runs `command_line` as this process's user with the Administrators group held for denial
// only, as in a prompt that was not elevated, its output and errors into `log`; nothing when
// it did not start or end within a minute.
std::optional<SetupRun> run_without_administrator(std::wstring command_line, const fs::path& log)
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY,
                          token.put())) {
        return std::nullopt;
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
        return std::nullopt;
    }
    SID_AND_ATTRIBUTES deny_only{administrators, 0};
    UniqueHandle restricted;
    if (!CreateRestrictedToken(token.get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr,
                               restricted.put())) {
        return std::nullopt;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandle output(CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                    CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process{};
    if (!output || !CreateProcessAsUserW(restricted.get(), nullptr, command_line.data(), nullptr,
                                         nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return std::nullopt;
    }
    const UniqueHandle process_handle(process.hProcess);
    const UniqueHandle thread_handle(process.hThread);
    DWORD exit_code = 0;
    if (WaitForSingleObject(process_handle.get(), 60'000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_handle.get(), &exit_code)) {
        TerminateProcess(process_handle.get(), 1);
        return std::nullopt;
    }
    output = {};
    return SetupRun{exit_code, testing::read_file(log).value_or(""), {}};
}

class SetupWin : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Wine has no pnputil.exe; the fake one answers from the folder FakePnputil names.
        const Result<std::u16string> system = system_folder();
        ASSERT_TRUE(system.ok());
        ASSERT_TRUE(CopyFileW((testing::executable_folder() / L"fake_pnputil.exe").c_str(),
                              (fs::path(as_wide(system.value().c_str())) / L"pnputil.exe").c_str(),
                              FALSE));
    }

    void SetUp() override
    {
        const std::optional<std::u16string> variable =
            environment_variable(L"TOLVEK_SETUP_RELEASE");
        ASSERT_TRUE(variable.has_value()) << "TOLVEK_SETUP_RELEASE names no staged release";
        const fs::path staged(std::wstring(as_wide(variable->c_str())));
        ASSERT_TRUE(fs::exists(staged)) << "no staged release: tools/stage-release.sh makes it";
        std::error_code error;
        fs::copy(staged, release_.path(), fs::copy_options::recursive, error);
        ASSERT_FALSE(error) << error.message();
        ASSERT_FALSE(fs::exists(install_)) << "an installation is left from before";
    }

    void TearDown() override
    {
        // Whatever a failed test left: remove takes it all.
        if (fs::exists(install_) || testing::query_helper_service()) {
            static_cast<void>(setup({u"remove"}));
        }
        forget_pending_removals();
    }

    SetupRun setup(const std::vector<std::u16string>& arguments) const
    {
        const std::u16string program = (release_.path() / L"tolvek-setup.exe").u16string();
        Result<ChildProcessOutput> run = run_child_process(program, arguments);
        if (!run) {
            ADD_FAILURE() << run.error().text;
            return {~0u, {}, {}};
        }
        return {run.value().exit_code, run.value().standard_output, run.value().standard_error};
    }

    void expect_installed() const
    {
        const std::optional<testing::HelperServiceConfiguration> service =
            testing::query_helper_service();
        ASSERT_TRUE(service.has_value());
        EXPECT_EQ(service->binary_path, L"\"" +
                                            (install_ / L"tolvek-display-helper.exe").wstring() +
                                            L"\" service S-1-5-21-0-0-0-1000");
        EXPECT_EQ(registered_module(HostBitness::bits64),
                  (install_ / L"tolvek_vcam.dll").wstring());
        EXPECT_EQ(registered_module(HostBitness::bits32),
                  (install_ / L"x86" / L"tolvek_vcam.dll").wstring());
        EXPECT_TRUE(listed(HostBitness::bits64));
        EXPECT_TRUE(listed(HostBitness::bits32));
        for (const std::u16string& file : release_files()) {
            EXPECT_TRUE(fs::is_regular_file(in_folder(install_, file)))
                << fs::path(in_folder(install_, file)).string();
        }
    }

    void expect_removed() const
    {
        EXPECT_TRUE(testing::helper_service_gone_within(kServiceGoneLimit));
        for (const HostBitness bitness : {HostBitness::bits64, HostBitness::bits32}) {
            EXPECT_EQ(registered_module(bitness), L"(absent)");
            EXPECT_FALSE(listed(bitness));
        }
        EXPECT_FALSE(fs::exists(install_));
    }

    testing::ScopedTempDir release_;
    testing::FakePnputil pnputil_;
    const fs::path install_ = install_folder();
};

TEST_F(SetupWin, WithoutAdministratorRightsItSaysSoAndChangesNothing)
{
    const std::wstring program = (release_.path() / L"tolvek-setup.exe").wstring();
    const bool service_before = testing::query_helper_service().has_value();
    for (const wchar_t* command : {L"install", L"remove"}) {
        const std::optional<SetupRun> run = run_without_administrator(
            L"\"" + program + L"\" " + command, release_.path() / L"output.txt");
        ASSERT_TRUE(run.has_value());
        EXPECT_EQ(run->exit_code, 1u) << run->output;
        EXPECT_EQ(run->output, std::string(kNeedsAdministrator) + "\n");
    }
    EXPECT_FALSE(fs::exists(install_));
    EXPECT_EQ(testing::query_helper_service().has_value(), service_before);
}

// The name of the account this process runs as, as LookupAccountNameW takes it.
std::u16string own_account_name()
{
    wchar_t name[256 + 1] = {};
    DWORD size = static_cast<DWORD>(std::size(name));
    return GetUserNameW(name, &size) ? std::u16string(as_utf16(name)) : std::u16string();
}

TEST_F(SetupWin, InstallSetsUpTheServiceTheCameraAndTheFilesAndRemoveTakesThemAway)
{
    // The account by name: the service is set up for its SID, the Wine user's.
    const SetupRun installed = setup({u"install", u"--user", own_account_name()});
    ASSERT_EQ(installed.exit_code, 0u) << installed.output << installed.errors;
    EXPECT_EQ(installed.errors, "");
    EXPECT_NE(installed.output.find("installed into " + install_.string() + "\n"),
              std::string::npos)
        << installed.output;
    expect_installed();

    const SetupRun removed = setup({u"remove"});
    ASSERT_EQ(removed.exit_code, 0u) << removed.output << removed.errors;
    EXPECT_NE(removed.output.find("removed\n"), std::string::npos) << removed.output;
    expect_removed();
}

// A host that has found the camera and streams it, holding tolvek_vcam.dll loaded.
class HostHoldingTheCamera {
public:
    HostHoldingTheCamera()
        : host_(vcam::testing::beside_this_program(L"vcam_test_host.exe"),
                ApartmentKind::multithreaded, vcam::testing::HostProcess::Connection::graph, 0)
    {
    }
    [[nodiscard]] bool streaming() const { return host_.wait_until_settled(); }
    // Lets the host go and waits until it has ended.
    void end()
    {
        const vcam::testing::HostOutcome outcome = host_.finish();
        EXPECT_EQ(outcome.exit_code, 0u) << outcome.report;
    }

private:
    vcam::testing::HostProcess host_;
};

TEST_F(SetupWin, AnAccountThatIsNoUserIsRefusedBeforeAnythingChanges)
{
    const SetupRun refused = setup({u"install", u"--user", u"Administrators"});
    EXPECT_EQ(refused.exit_code, 1u);
    EXPECT_NE(refused.errors.find("step 1 of 6, the account: failed: "), std::string::npos)
        << refused.errors;
    EXPECT_NE(refused.errors.find("Administrators (S-1-5-32-544) is a local group, not a user "
                                  "account"),
              std::string::npos)
        << refused.errors;
    EXPECT_FALSE(fs::exists(install_));
}

TEST_F(SetupWin, InstallAgainWhileAHostHoldsTheCameraPutsTheNewOneInPlace)
{
    ASSERT_EQ(setup({u"install"}).exit_code, 0u);
    HostHoldingTheCamera host;
    ASSERT_TRUE(host.streaming());

    const SetupRun again = setup({u"install"});
    EXPECT_EQ(again.exit_code, 0u) << again.output << again.errors;
    const std::string set_aside = (install_ / L"tolvek_vcam.dll.1.old").string();
    EXPECT_NE(again.output.find("tolvek_vcam.dll was in use: the new one is in place, the old "
                                "one, " +
                                set_aside + ", goes at the next restart"),
              std::string::npos)
        << again.output;
    expect_installed();
    EXPECT_EQ(pending_removals_in(install_),
              std::vector<std::wstring>{L"\\??\\" + fs::path(set_aside).wstring()});
    host.end();
}

TEST_F(SetupWin, RemoveWhileAHostHoldsTheCameraLeavesItForTheRestartAndSucceeds)
{
    ASSERT_EQ(setup({u"install"}).exit_code, 0u);
    HostHoldingTheCamera host;
    ASSERT_TRUE(host.streaming());

    const SetupRun removed = setup({u"remove"});
    EXPECT_EQ(removed.exit_code, 0u) << removed.output << removed.errors;
    // The system refuses to delete a DLL a process has loaded, as Windows does; remove sets
    // it aside under a name of its own, so that an installation before the restart stays.
    EXPECT_NE(removed.output.find((install_ / L"tolvek_vcam.dll").string() +
                                  " is in use: it goes at the next restart\n"),
              std::string::npos)
        << removed.output;
    EXPECT_FALSE(fs::exists(install_ / L"tolvek_vcam.dll"));
    EXPECT_TRUE(fs::exists(install_ / L"tolvek_vcam.dll.1.old"));
    EXPECT_EQ(pending_removals_in(install_).size(), 2u); // the DLL and then the folder
    EXPECT_TRUE(testing::helper_service_gone_within(kServiceGoneLimit));
    EXPECT_EQ(registered_module(HostBitness::bits64), L"(absent)");

    host.end();
    const SetupRun again = setup({u"remove"});
    EXPECT_EQ(again.exit_code, 0u) << again.output << again.errors;
    expect_removed();
}

TEST_F(SetupWin, AFailedStepIsNamedAndRemoveCleansUpAfterIt)
{
    fs::create_directory(release_.path() / L"driver");
    ASSERT_TRUE(CopyFileW((release_.path() / L"README.txt").c_str(),
                          (release_.path() / L"driver" / L"TolvekIdd.inf").c_str(), FALSE));
    pnputil_.put_file("refusal.txt", "The third-party INF does not contain digital signature "
                                     "information.\r\n");
    pnputil_.reply("add-driver", "exit 5\nstdout-file refusal.txt\n");

    const SetupRun installed = setup({u"install"});
    EXPECT_EQ(installed.exit_code, 1u);
    EXPECT_EQ(installed.errors,
              "step 5 of 6, the display helper's service: failed: the driver package was refused: "
              "The third-party INF does not contain digital signature information.; what was "
              "done stays, and tolvek-setup remove takes it away\n");
    EXPECT_TRUE(fs::is_regular_file(install_ / L"driver" / L"TolvekIdd.inf"));

    const SetupRun removed = setup({u"remove"});
    EXPECT_EQ(removed.exit_code, 0u) << removed.output << removed.errors;
    expect_removed();
}

} // namespace
} // namespace tolvek::setup
