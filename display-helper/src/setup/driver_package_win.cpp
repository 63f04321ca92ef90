#include "setup/driver_package_win.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "setup/pnputil_invocation.h"
#include "setup/published_name.h"
#include "tolvek/child_process_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/text_encoding.h"

namespace tolvek {
namespace {

Result<ChildProcessOutput> run_pnputil(std::vector<std::u16string> arguments)
{
    Result<ChildProcessOutput> run = run_child_process(pnputil_path(), arguments);
    if (!run) {
        return Error{"pnputil would not run: " + run.error().text};
    }
    return run;
}

// Runs pnputil with `arguments` and judges it by its exit code alone; a non-zero code is
// reported as `refusal` followed by the utility's own words.
Status run_pnputil_expecting_success(std::vector<std::u16string> arguments,
                                     std::string_view refusal)
{
    Result<ChildProcessOutput> run = run_pnputil(std::move(arguments));
    if (!run) {
        return std::move(run).error();
    }
    if (run.value().exit_code != 0) {
        std::string text{refusal};
        text += utility_output_text(run.value().standard_output);
        return Error{std::move(text)};
    }
    return success();
}

} // namespace

std::u16string pnputil_path()
{
    const Result<std::u16string> folder = system_folder();
    return pnputil_path_in(folder ? std::optional<std::u16string_view>{folder.value()}
                                  : std::nullopt);
}

Status add_driver_package(std::u16string_view inf_path)
{
    return run_pnputil_expecting_success({u"/add-driver", std::u16string{inf_path}, u"/install"},
                                         "the driver package was refused: ");
}

Status remove_driver_package()
{
    // The listing counts once the utility has run, whatever its exit code says.
    Result<ChildProcessOutput> listing = run_pnputil({u"/enum-drivers"});
    if (!listing) {
        return std::move(listing).error();
    }
    const std::optional<std::string> published_name =
        find_published_name(decode_utf8_lossy(listing.value().standard_output));
    if (!published_name) {
        return success();
    }
    return run_pnputil_expecting_success(
        {u"/delete-driver", utf8_to_utf16(*published_name), u"/uninstall", u"/force"},
        "the driver package would not go: ");
}

} // namespace tolvek
