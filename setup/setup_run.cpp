#include "setup_run.h"

#include <algorithm>
#include <string>
#include <vector>

#include "camera_registry_layout.h"
#include "installed_files.h"
#include "setup/install_layout.h"
#include "setup/windows_path.h"
#include "tolvek/text_encoding.h"

namespace tolvek::setup {
namespace {

std::string text_of(std::u16string_view path)
{
    return utf16_to_utf8_lossy(path);
}

// A program's output without the white space at its ends; lines ended by CR LF or LF.
std::string trimmed(std::string_view output)
{
    const auto is_space = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; };
    while (!output.empty() && is_space(output.front())) {
        output.remove_prefix(1);
    }
    while (!output.empty() && is_space(output.back())) {
        output.remove_suffix(1);
    }
    std::string text;
    for (const char c : output) {
        if (c != '\r') {
            text += c;
        }
    }
    return text;
}

// Why a program that ended with a failure failed: what it wrote on standard error, else on
// standard output, else its exit code.
std::string failure_of(const ProgramRun& run)
{
    for (const std::string* stream : {&run.standard_error, &run.standard_output}) {
        if (std::string text = trimmed(*stream); !text.empty()) {
            return text;
        }
    }
    return "it ended with exit code " + std::to_string(run.exit_code);
}

// Steps numbered in the lines that report them, and the line of the first that fails.
class StepReport {
public:
    StepReport(SetupReport& report, std::vector<std::string_view> steps)
        : report_(report), steps_(std::move(steps))
    {
    }

    // Begins the next step; its lines carry its number and name.
    void next() { ++current_; }

    void line(std::string_view text) { report_.line(prefix() + std::string(text)); }
    void detail(std::string_view text)
    {
        if (!text.empty()) {
            std::string_view rest = text;
            while (!rest.empty()) {
                const std::size_t end = rest.find('\n');
                report_.line("    " + std::string(rest.substr(0, end)));
                rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
            }
        }
    }
    void failure(std::string_view why)
    {
        report_.failure(prefix() + "failed: " + std::string(why));
    }

private:
    std::string prefix() const
    {
        return "step " + std::to_string(current_) + " of " + std::to_string(steps_.size()) + ", " +
               std::string(steps_[current_ - 1]) + ": ";
    }

    SetupReport& report_;
    std::vector<std::string_view> steps_;
    std::size_t current_ = 0;
};

// Runs a program and gives its output, or why it failed, its own text first.
Result<std::string> run_to_success(SetupSystem& system, std::u16string_view program,
                                   const std::vector<std::u16string>& arguments)
{
    Result<ProgramRun> run = system.run_program(program, arguments);
    if (!run) {
        return Error{text_of(program) + " would not start: " + run.error().text};
    }
    if (run.value().exit_code != 0) {
        return Error{failure_of(run.value())};
    }
    return trimmed(run.value().standard_output);
}

Status check_rights(SetupSystem& system, SetupReport& report)
{
    Result<bool> administrator = system.is_administrator();
    if (!administrator) {
        report.failure("tolvek-setup could not tell whether it has administrator rights: " +
                       administrator.error().text + "; nothing was changed");
        return Error{};
    }
    if (!administrator.value()) {
        report.failure(kNeedsAdministrator);
        return Error{};
    }
    return success();
}

Result<UserAccount> chosen_account(const AccountChoice& choice, SetupSystem& system)
{
    struct Finder {
        SetupSystem& system;
        Result<FoundAccount> operator()(const UserOfThisPrompt&) const
        {
            return system.account_of_this_process();
        }
        Result<FoundAccount> operator()(const UserNamed& user) const
        {
            return system.account_named(user.name);
        }
        Result<FoundAccount> operator()(const UserWithSid& user) const
        {
            return system.account_with_sid(user.sid);
        }
    };
    Result<FoundAccount> found = std::visit(Finder{system}, choice);
    if (!found) {
        return std::move(found).error();
    }
    const FoundAccount& account = found.value();
    TOLVEK_TRY(check_user_account(account));
    return account.account;
}

// The files of the release folder to copy: every release file, which must all be there, and
// whatever the driver folder holds when the release ships a display driver package.
Result<std::vector<std::u16string>> files_to_copy(SetupSystem& system, std::u16string_view release)
{
    std::vector<std::u16string> files = release_files();
    std::vector<std::string> missing;
    for (const std::u16string& file : files) {
        if (!system.is_file(path_in(release, file))) {
            missing.push_back(text_of(file));
        }
    }
    if (!missing.empty()) {
        std::string list;
        for (const std::string& name : missing) {
            list += (list.empty() ? "" : ", ") + name;
        }
        return Error{text_of(release) + " is not a whole release: it lacks " + list +
                     "; unpack the whole archive and run tolvek-setup from there"};
    }
    for (const FolderEntry& entry : system.entries_in(path_in(release, kDriverFolderName))) {
        if (!entry.is_folder) {
            files.push_back(join_windows_path(kDriverFolderName, entry.name));
        }
    }
    return files;
}

Status make_install_folder(SetupSystem& system, std::u16string_view install,
                           const std::vector<std::u16string>& files)
{
    TOLVEK_TRY(system.prepare_install_folder(install));
    std::vector<std::u16string> folders = installed_folders();
    // Parents before their subfolders: the reverse of the order in which remove goes.
    std::reverse(folders.begin(), folders.end());
    for (const std::u16string& folder : folders) {
        const bool used = std::any_of(files.begin(), files.end(), [&](const std::u16string& file) {
            return !folder.empty() && parent_directory(file) == folder;
        });
        if (used) {
            TOLVEK_TRY(system.create_folder(path_in(install, folder)));
        }
    }
    return success();
}

int run_install(const InstallCommand& command, SetupSystem& system, SetupReport& report)
{
    if (!check_rights(system, report)) {
        return 1;
    }
    StepReport steps(report, {"the account", "the release", "the install folder", "the files",
                              "the display helper's service", "the camera"});

    steps.next();
    Result<UserAccount> account = chosen_account(command.account, system);
    if (!account) {
        steps.failure(account.error().text + "; nothing was changed");
        return 1;
    }
    steps.line("installing for " + account_text(account.value()));

    steps.next();
    Result<std::u16string> release = system.own_folder();
    Result<std::u16string> install = system.install_folder();
    if (!release || !install) {
        steps.failure((release ? install.error() : release.error()).text + "; nothing was changed");
        return 1;
    }
    if (system.same_folder(release.value(), install.value())) {
        steps.failure("this is the installed copy; run tolvek-setup install from the unpacked "
                      "archive; nothing was changed");
        return 1;
    }
    Result<std::vector<std::u16string>> files = files_to_copy(system, release.value());
    if (!files) {
        steps.failure(files.error().text + "; nothing was changed");
        return 1;
    }
    steps.line(std::to_string(files.value().size()) + " files in " + text_of(release.value()));

    const std::string leftover = "; what was done stays, and tolvek-setup remove takes it away";
    steps.next();
    if (Status made = make_install_folder(system, install.value(), files.value()); !made) {
        steps.failure(made.error().text + leftover);
        return 1;
    }
    steps.line(text_of(install.value()) + ", which only administrators may change");

    steps.next();
    for (const std::u16string& file : files.value()) {
        const std::u16string to = path_in(install.value(), file);
        Result<PlacedFile> placed = system.place_file(path_in(release.value(), file), to);
        if (!placed) {
            steps.failure(text_of(file) + " would not copy: " + placed.error().text + leftover);
            return 1;
        }
        if (placed.value().placement == Placement::replaced_while_in_use) {
            steps.line(text_of(file) + " was in use: the new one is in place, the old one, " +
                       text_of(placed.value().set_aside_as) + ", goes at the next restart");
        }
    }
    steps.line("copied " + std::to_string(files.value().size()) + " files into " +
               text_of(install.value()));

    steps.next();
    const std::u16string helper = path_in(install.value(), kHelperFileName);
    Result<std::string> helper_output =
        run_to_success(system, helper, {u"install", utf8_to_utf16(account.value().sid)});
    if (!helper_output) {
        steps.failure(helper_output.error().text + leftover);
        return 1;
    }
    steps.line("tolvek-display-helper install " + account.value().sid);
    steps.detail(helper_output.value());

    steps.next();
    const std::u16string tool = path_in(install.value(), vcam::kRegistrationProgramFileName);
    Result<std::string> registered = run_to_success(system, tool, {u"register"});
    if (!registered) {
        steps.failure(registered.error().text + leftover);
        return 1;
    }
    steps.line("tolvek-vcam-register register");
    steps.detail(registered.value());

    report.line("installed into " + text_of(install.value()));
    return 0;
}

// Whether what is left in an installation's folder is setup's alone: its files that are in
// use, and subfolders that go at the next restart.
bool holds_only_setup_entries(SetupSystem& system, std::u16string_view install,
                              std::u16string_view folder,
                              const std::vector<std::u16string>& folders_at_restart)
{
    for (const FolderEntry& entry : system.entries_in(path_in(install, folder))) {
        const bool setups = entry.is_folder
                                ? std::find(folders_at_restart.begin(), folders_at_restart.end(),
                                            path_in(path_in(install, folder), entry.name)) !=
                                      folders_at_restart.end()
                                : installed_by_setup(folder, entry.name);
        if (!setups) {
            return false;
        }
    }
    return true;
}

// What remove leaves for the system to delete at the next restart.
struct LeftForRestart {
    std::vector<std::u16string> files;   // in use
    std::vector<std::u16string> folders; // holding such files
};

// Deletes setup's files and folders in the install folder; gives what goes at the next
// restart instead.
Result<LeftForRestart> delete_installed_files(SetupSystem& system, std::u16string_view install)
{
    LeftForRestart left;
    std::string kept;
    for (const std::u16string& folder : installed_folders()) {
        const std::u16string folder_path = path_in(install, folder);
        for (const FolderEntry& entry : system.entries_in(folder_path)) {
            if (entry.is_folder || !installed_by_setup(folder, entry.name)) {
                continue;
            }
            const std::u16string file = join_windows_path(folder_path, entry.name);
            Result<FileRemoval> removal = system.remove_file(file);
            if (!removal) {
                return Error{text_of(file) + " would not go: " + removal.error().text};
            }
            if (removal.value() == FileRemoval::at_restart) {
                left.files.push_back(file);
            }
        }
        Result<FolderRemoval> removal = system.remove_folder(folder_path);
        if (!removal) {
            return Error{text_of(folder_path) + " would not go: " + removal.error().text};
        }
        if (removal.value() != FolderRemoval::not_empty) {
            continue;
        }
        if (holds_only_setup_entries(system, install, folder, left.folders)) {
            TOLVEK_TRY(system.remove_folder_at_restart(folder_path));
            left.folders.push_back(folder_path);
        } else {
            kept += (kept.empty() ? "" : ", ") + text_of(folder_path);
        }
    }
    if (!kept.empty()) {
        return Error{"left " + kept + ": it holds files that tolvek-setup did not install"};
    }
    return left;
}

int run_remove(SetupSystem& system, SetupReport& report)
{
    if (!check_rights(system, report)) {
        return 1;
    }
    StepReport steps(report, {"the display helper's service", "the camera", "the installed files"});
    Result<std::u16string> install = system.install_folder();
    const std::string rerun = "; run tolvek-setup remove again once that is mended";

    steps.next();
    if (!install) {
        steps.failure(install.error().text);
        return 1;
    }
    const std::u16string helper = path_in(install.value(), kHelperFileName);
    if (system.is_file(helper)) {
        Result<std::string> output = run_to_success(system, helper, {u"uninstall"});
        if (!output) {
            steps.failure(output.error().text + rerun);
            return 1;
        }
        steps.line("tolvek-display-helper uninstall");
        steps.detail(output.value());
        // The service's process runs the installed helper until it has stopped.
        if (!system.helper_service_gone_within(kServiceRemovalLimit)) {
            steps.line("the service has not gone yet; the system removes it once it stops");
        }
    } else {
        steps.line("no display helper installed");
    }

    steps.next();
    const std::u16string tool = path_in(install.value(), vcam::kRegistrationProgramFileName);
    if (system.is_file(tool)) {
        Result<std::string> output = run_to_success(system, tool, {u"unregister"});
        if (!output) {
            steps.failure(output.error().text + rerun);
            return 1;
        }
        steps.line("tolvek-vcam-register unregister");
        steps.detail(output.value());
    } else {
        steps.line("no registration program installed");
    }

    steps.next();
    Result<LeftForRestart> left = delete_installed_files(system, install.value());
    if (!left) {
        steps.failure(left.error().text + rerun);
        return 1;
    }
    for (const std::u16string& file : left.value().files) {
        steps.line(text_of(file) + " is in use: it goes at the next restart");
    }
    for (const std::u16string& folder : left.value().folders) {
        steps.line(text_of(folder) + " goes at the next restart, after what is in use in it");
    }
    steps.line((left.value().files.empty() ? "deleted " : "deleted the rest of ") +
               text_of(install.value()));
    report.line("removed");
    return 0;
}

} // namespace

int run_setup(const SetupCommand& command, SetupSystem& system, SetupReport& report)
{
    struct Runner {
        SetupSystem& system;
        SetupReport& report;
        int operator()(const InstallCommand& install) const
        {
            return run_install(install, system, report);
        }
        int operator()(const RemoveCommand&) const { return run_remove(system, report); }
        int operator()(const HelpCommand&) const
        {
            report.line(kSetupUsage);
            return 0;
        }
        int operator()(const SetupUsageError& error) const
        {
            report.failure("tolvek-setup: " + error.reason);
            report.failure(kSetupUsage);
            return 1;
        }
    };
    return std::visit(Runner{system, report}, command);
}

} // namespace tolvek::setup
