#include "setup_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "installed_files.h"
#include "setup/windows_path.h"
#include "tolvek/text_encoding.h"

namespace tolvek::setup {
namespace {

constexpr std::u16string_view kRelease = u"D:\\tolvek-1.0.0";
constexpr std::u16string_view kInstall = u"C:\\P\\Tolvek";
const std::string kSid = "S-1-5-21-1-2-3-1001";

std::string text(std::u16string_view path)
{
    return utf16_to_utf8_lossy(path);
}

// A machine in memory: files and folders, files held open by a running program, programs
// that answer as scripted. It records every change and every program run, in order.
class ScriptedMachine final : public SetupSystem {
public:
    ScriptedMachine()
    {
        folders.insert(std::u16string(kRelease));
        for (const std::u16string& file : release_files()) {
            add_file(path_in(kRelease, file));
        }
    }

    void add_file(const std::u16string& path)
    {
        files.insert(path);
        for (std::u16string_view folder = parent_directory(path); !folder.empty();
             folder = parent_directory(folder)) {
            folders.insert(std::u16string(folder));
        }
    }

    Result<bool> is_administrator() override { return administrator; }
    Result<FoundAccount> account_of_this_process() override
    {
        return FoundAccount{{kSid, "PC\\anna"}, AccountKind::user};
    }
    Result<FoundAccount> account_named(std::u16string_view name) override
    {
        if (name == u"Administrators") {
            return FoundAccount{{"S-1-5-32-544", "BUILTIN\\Administrators"}, AccountKind::alias};
        }
        return FoundAccount{{"S-1-5-21-1-2-3-1002", "PC\\" + text(name)}, AccountKind::user};
    }
    Result<FoundAccount> account_with_sid(std::u16string_view sid) override
    {
        return FoundAccount{{text(sid), ""}, AccountKind::not_looked_up};
    }

    Result<std::u16string> own_folder() override { return std::u16string(own); }
    Result<std::u16string> install_folder() override { return std::u16string(kInstall); }
    bool same_folder(std::u16string_view first, std::u16string_view second) override
    {
        return first == second;
    }

    bool is_file(std::u16string_view path) override { return files.count(std::u16string(path)); }
    std::vector<FolderEntry> entries_in(std::u16string_view folder) override
    {
        std::vector<FolderEntry> entries;
        for (const auto* set : {&files, &folders}) {
            for (const std::u16string& path : *set) {
                if (parent_directory(path) == folder) {
                    entries.push_back({path.substr(folder.size() + 1), set == &folders});
                }
            }
        }
        return entries;
    }

    Status prepare_install_folder(std::u16string_view folder) override
    {
        changes.push_back("prepare " + text(folder));
        folders.insert(std::u16string(folder));
        return success();
    }
    Status create_folder(std::u16string_view folder) override
    {
        changes.push_back("create " + text(folder));
        folders.insert(std::u16string(folder));
        return success();
    }
    Result<PlacedFile> place_file(std::u16string_view from, std::u16string_view to) override
    {
        changes.push_back("place " + text(to));
        if (changes.back() == failing_copy) {
            return Error{"Disk full."};
        }
        static_cast<void>(from);
        add_file(std::u16string(to));
        if (in_use.count(std::u16string(to))) {
            const std::u16string aside = set_aside_name(to, 1);
            add_file(aside);
            return PlacedFile{Placement::replaced_while_in_use, aside};
        }
        return PlacedFile{};
    }
    Result<FileRemoval> remove_file(std::u16string_view path) override
    {
        changes.push_back("delete " + text(path));
        if (in_use.count(std::u16string(path))) {
            return FileRemoval::at_restart;
        }
        return files.erase(std::u16string(path)) ? FileRemoval::removed : FileRemoval::absent;
    }
    Result<FolderRemoval> remove_folder(std::u16string_view folder) override
    {
        changes.push_back("delete " + text(folder));
        if (!entries_in(folder).empty()) {
            return FolderRemoval::not_empty;
        }
        return folders.erase(std::u16string(folder)) ? FolderRemoval::removed
                                                     : FolderRemoval::absent;
    }
    Status remove_folder_at_restart(std::u16string_view folder) override
    {
        changes.push_back("delete at restart " + text(folder));
        return success();
    }

    Result<ProgramRun> run_program(std::u16string_view program,
                                   const std::vector<std::u16string>& arguments) override
    {
        std::string call = "run ";
        call += text(program);
        for (const std::u16string& argument : arguments) {
            call += ' ';
            call += text(argument);
        }
        changes.push_back(call);
        if (const auto answer = answers.find(call); answer != answers.end()) {
            return answer->second;
        }
        return ProgramRun{0, "done\r\n", ""};
    }
    bool helper_service_gone_within(std::chrono::milliseconds) override { return true; }

    Result<bool> administrator = true;
    std::u16string own{kRelease};
    std::set<std::u16string> files;
    std::set<std::u16string> folders;
    std::set<std::u16string> in_use;
    std::string failing_copy;
    std::map<std::string, ProgramRun> answers;
    std::vector<std::string> changes;
};

struct CollectedReport final : SetupReport {
    void line(std::string_view text) override { lines.emplace_back(text); }
    void failure(std::string_view text) override { failures.emplace_back(text); }
    std::vector<std::string> lines;
    std::vector<std::string> failures;
};

std::vector<std::string> installed_changes()
{
    std::vector<std::string> changes = {"prepare C:\\P\\Tolvek", "create C:\\P\\Tolvek\\x86"};
    for (const std::u16string& file : release_files()) {
        changes.push_back("place " + text(path_in(kInstall, file)));
    }
    changes.push_back("run C:\\P\\Tolvek\\tolvek-display-helper.exe install " + kSid);
    changes.push_back("run C:\\P\\Tolvek\\tolvek-vcam-register.exe register");
    return changes;
}

int run(const std::vector<std::u16string>& arguments, ScriptedMachine& machine,
        CollectedReport& report)
{
    return run_setup(select_setup_command(arguments), machine, report);
}

TEST(SetupRun, InstallCopiesTheReleaseThenSetsUpTheServiceAndTheCamera)
{
    ScriptedMachine machine;
    CollectedReport report;
    EXPECT_EQ(run({u"install"}, machine, report), 0);
    EXPECT_EQ(machine.changes, installed_changes());
    EXPECT_TRUE(report.failures.empty());
    EXPECT_EQ(report.lines.front(),
              "step 1 of 6, the account: installing for PC\\anna (" + kSid + ")");
    EXPECT_NE(std::find(report.lines.begin(), report.lines.end(), "    done"), report.lines.end());
    EXPECT_EQ(report.lines.back(), "installed into C:\\P\\Tolvek");
}

TEST(SetupRun, InstallCopiesTheDriverPackageWhenTheReleaseShipsOne)
{
    ScriptedMachine machine;
    machine.add_file(u"D:\\tolvek-1.0.0\\driver\\TolvekIdd.inf");
    CollectedReport report;
    EXPECT_EQ(run({u"install"}, machine, report), 0);
    EXPECT_NE(
        std::find(machine.changes.begin(), machine.changes.end(), "create C:\\P\\Tolvek\\driver"),
        machine.changes.end());
    EXPECT_TRUE(machine.is_file(u"C:\\P\\Tolvek\\driver\\TolvekIdd.inf"));
}

TEST(SetupRun, InstallOverAnInstallationInUseSetsTheOldFilesAside)
{
    ScriptedMachine machine;
    machine.in_use.insert(u"C:\\P\\Tolvek\\tolvek_vcam.dll");
    CollectedReport report;
    EXPECT_EQ(run({u"install"}, machine, report), 0);
    EXPECT_NE(std::find(report.lines.begin(), report.lines.end(),
                        "step 4 of 6, the files: tolvek_vcam.dll was in use: the new one is in "
                        "place, the old one, C:\\P\\Tolvek\\tolvek_vcam.dll.1.old, goes at the "
                        "next restart"),
              report.lines.end());
}

TEST(SetupRun, InstallSetsTheServiceUpForTheAccountAsked)
{
    struct Case {
        std::vector<std::u16string> arguments;
        std::string sid;
    };
    const Case cases[] = {
        {{u"install", u"--user", u"bo"}, "S-1-5-21-1-2-3-1002"},
        {{u"install", u"--sid", u"S-1-5-21-9-9-9-1003"}, "S-1-5-21-9-9-9-1003"},
    };
    for (const Case& c : cases) {
        ScriptedMachine machine;
        CollectedReport report;
        EXPECT_EQ(run(c.arguments, machine, report), 0);
        EXPECT_NE(std::find(machine.changes.begin(), machine.changes.end(),
                            "run C:\\P\\Tolvek\\tolvek-display-helper.exe install " + c.sid),
                  machine.changes.end())
            << c.sid;
    }
}

struct RefusalCase {
    std::string name;
    std::vector<std::u16string> arguments;
    std::string failure;
};

TEST(SetupRun, ARunThatCannotGoAheadChangesNothing)
{
    const RefusalCase cases[] = {
        {"rights", {u"install"}, std::string(kNeedsAdministrator)},
        {"rights", {u"remove"}, std::string(kNeedsAdministrator)},
        {"group",
         {u"install", u"--user", u"Administrators"},
         "step 1 of 6, the account: failed: BUILTIN\\Administrators (S-1-5-32-544) is a local "
         "group, not a user account: the display helper serves the programs of one user; nothing "
         "was changed"},
        {"incomplete",
         {u"install"},
         "step 2 of 6, the release: failed: D:\\tolvek-1.0.0 is not a whole release: it lacks "
         "README.txt, x86\\tolvek_vcam.dll; unpack the whole archive and run tolvek-setup from "
         "there; nothing was changed"},
        {"installed copy",
         {u"install"},
         "step 2 of 6, the release: failed: this is the installed copy; run tolvek-setup "
         "install from the unpacked archive; nothing was changed"},
        {"usage", {u"install", u"--user"}, "tolvek-setup: --user needs a value"},
    };
    for (const RefusalCase& c : cases) {
        ScriptedMachine machine;
        machine.administrator = c.name != "rights";
        if (c.name == "incomplete") {
            machine.files.erase(u"D:\\tolvek-1.0.0\\x86\\tolvek_vcam.dll");
            machine.files.erase(u"D:\\tolvek-1.0.0\\README.txt");
        }
        if (c.name == "installed copy") {
            machine.own = kInstall;
        }
        CollectedReport report;
        EXPECT_EQ(run(c.arguments, machine, report), 1) << c.name;
        EXPECT_TRUE(machine.changes.empty()) << c.name;
        ASSERT_FALSE(report.failures.empty()) << c.name;
        EXPECT_EQ(report.failures.front(), c.failure);
    }
}

struct FailedStepCase {
    std::string failing_change;
    ProgramRun answer;
    std::string failure;
};

TEST(SetupRun, AFailedInstallStepIsNamedAndEndsTheRun)
{
    const std::string leftover = "; what was done stays, and tolvek-setup remove takes it away";
    const FailedStepCase cases[] = {
        {"place C:\\P\\Tolvek\\x86\\tolvek_vcam.dll",
         {},
         "step 4 of 6, the files: failed: x86\\tolvek_vcam.dll would not copy: Disk full." +
             leftover},
        {"run C:\\P\\Tolvek\\tolvek-display-helper.exe install " + kSid,
         {1, "", "the driver package was refused: exit 1\r\n"},
         "step 5 of 6, the display helper's service: failed: the driver package was refused: "
         "exit 1" +
             leftover},
        {"run C:\\P\\Tolvek\\tolvek-vcam-register.exe register",
         {3, "", ""},
         "step 6 of 6, the camera: failed: it ended with exit code 3" + leftover},
    };
    for (const FailedStepCase& c : cases) {
        ScriptedMachine machine;
        machine.failing_copy = c.failing_change;
        machine.answers[c.failing_change] = c.answer;
        CollectedReport report;
        EXPECT_EQ(run({u"install"}, machine, report), 1) << c.failing_change;
        EXPECT_EQ(report.failures, std::vector<std::string>{c.failure});
        EXPECT_EQ(machine.changes.back(), c.failing_change);
    }
}

std::vector<std::string> removed_changes()
{
    return {
        "run C:\\P\\Tolvek\\tolvek-display-helper.exe uninstall",
        "run C:\\P\\Tolvek\\tolvek-vcam-register.exe unregister",
    };
}

TEST(SetupRun, RemoveUndoesTheServiceAndTheCameraThenDeletesEveryFile)
{
    ScriptedMachine machine;
    CollectedReport report;
    ASSERT_EQ(run({u"install"}, machine, report), 0);
    machine.add_file(u"C:\\P\\Tolvek\\tolvek_vcam.dll.2.old"); // from an earlier update
    machine.changes.clear();
    EXPECT_EQ(run({u"remove"}, machine, report), 0);
    ASSERT_GE(machine.changes.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(machine.changes.begin(), machine.changes.begin() + 2),
              removed_changes());
    const std::u16string install(kInstall);
    EXPECT_TRUE(std::none_of(machine.files.begin(), machine.files.end(),
                             [&](const std::u16string& f) { return f.starts_with(install); }));
    EXPECT_EQ(machine.folders.count(install), 0u);
    EXPECT_EQ(report.lines.back(), "removed");
}

TEST(SetupRun, RemoveLeavesAFileInUseForTheNextRestartAndSucceeds)
{
    ScriptedMachine machine;
    CollectedReport report;
    ASSERT_EQ(run({u"install"}, machine, report), 0);
    machine.in_use.insert(u"C:\\P\\Tolvek\\tolvek_vcam.dll");
    EXPECT_EQ(run({u"remove"}, machine, report), 0);
    EXPECT_TRUE(report.failures.empty());
    for (const char* expected :
         {"step 3 of 3, the installed files: C:\\P\\Tolvek\\tolvek_vcam.dll is in use: it goes "
          "at the next restart",
          "step 3 of 3, the installed files: C:\\P\\Tolvek goes at the next restart, after "
          "what is in use in it",
          "step 3 of 3, the installed files: deleted the rest of C:\\P\\Tolvek"}) {
        EXPECT_NE(std::find(report.lines.begin(), report.lines.end(), expected), report.lines.end())
            << expected;
    }
    EXPECT_EQ(machine.changes.back(), "delete at restart C:\\P\\Tolvek");
}

TEST(SetupRun, RemoveKeepsFilesThatAreNotSetupsAndSaysSo)
{
    ScriptedMachine machine;
    CollectedReport report;
    ASSERT_EQ(run({u"install"}, machine, report), 0);
    machine.add_file(u"C:\\P\\Tolvek\\x86\\notes.txt");
    EXPECT_EQ(run({u"remove"}, machine, report), 1);
    EXPECT_EQ(report.failures,
              std::vector<std::string>{"step 3 of 3, the installed files: failed: left "
                                       "C:\\P\\Tolvek\\x86, C:\\P\\Tolvek: it holds files that "
                                       "tolvek-setup did not install; run tolvek-setup remove "
                                       "again once that is mended"});
    EXPECT_TRUE(machine.is_file(u"C:\\P\\Tolvek\\x86\\notes.txt"));
    EXPECT_FALSE(machine.is_file(u"C:\\P\\Tolvek\\x86\\tolvek_vcam.dll"));
}

TEST(SetupRun, RemoveStopsBeforeTheFilesWhenTheServiceOrTheCameraWouldNotGo)
{
    for (const std::string& failing : removed_changes()) {
        ScriptedMachine machine;
        CollectedReport report;
        ASSERT_EQ(run({u"install"}, machine, report), 0);
        machine.answers[failing] = {1, "", "the service would not be deleted: Access denied."};
        machine.changes.clear();
        EXPECT_EQ(run({u"remove"}, machine, report), 1);
        EXPECT_EQ(machine.changes.back(), failing);
        EXPECT_TRUE(machine.is_file(u"C:\\P\\Tolvek\\tolvek-display-helper.exe"));
        ASSERT_EQ(report.failures.size(), 1u);
        EXPECT_NE(report.failures[0].find("failed: the service would not be deleted: Access "
                                          "denied.; run tolvek-setup remove again"),
                  std::string::npos);
    }
}

TEST(SetupRun, RemoveOfNothingFindsNothingAndSucceeds)
{
    ScriptedMachine machine;
    CollectedReport report;
    EXPECT_EQ(run({u"remove"}, machine, report), 0);
    EXPECT_EQ(machine.changes,
              (std::vector<std::string>{"delete C:\\P\\Tolvek\\driver", "delete C:\\P\\Tolvek\\x86",
                                        "delete C:\\P\\Tolvek"}));
    EXPECT_EQ(report.lines.back(), "removed");
}

} // namespace
} // namespace tolvek::setup
