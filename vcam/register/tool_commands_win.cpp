#include "tool_commands_win.h"

#include "camera_registration_win.h"
#include "camera_registry_layout.h"
#include "tolvek/child_process_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/text_encoding.h"

#include <string>
#include <vector>

namespace tolvek::vcam {

namespace {

using State = BitnessOutcome::State;

BitnessOutcome outcome_of(HostBitness bitness, const Status& status)
{
    return status ? BitnessOutcome{bitness, State::done, {}}
                  : BitnessOutcome{bitness, State::failed, status.error().text};
}

BitnessOutcome register_for_own_bitness(std::u16string_view module)
{
    const Result<std::u16string> registered = register_camera(module);
    return registered ? BitnessOutcome{kThisProgramBitness, State::done,
                                       utf16_to_utf8_lossy(registered.value())}
                      : BitnessOutcome{kThisProgramBitness, State::failed, registered.error().text};
}

// Its first line, without the line end.
std::string first_line(const std::string& text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}

// Runs the 32-bit registration program with `command` and tells what it did for 32-bit
// hosts: `done_detail` when it succeeded, else the line it wrote on standard error.
BitnessOutcome run_x86_program(const std::u16string& program, std::u16string_view command,
                               std::string done_detail)
{
    const Result<ChildProcessOutput> run = run_child_process(program, {std::u16string(command)});
    if (!run) {
        return {HostBitness::bits32, State::failed,
                "the 32-bit registration program did not run: " + run.error().text};
    }
    if (run.value().exit_code == 0) {
        return {HostBitness::bits32, State::done, std::move(done_detail)};
    }
    std::string why = first_line(run.value().standard_error);
    if (why.empty()) {
        why = "the 32-bit registration program ended with exit code " +
              std::to_string(run.value().exit_code);
    }
    return {HostBitness::bits32, State::failed, why};
}

BitnessOutcome register_x86_beside(const std::u16string& program)
{
    const std::u16string module = x86_module_beside_program(program);
    if (!is_file(module)) {
        return {HostBitness::bits32, State::module_missing, utf16_to_utf8_lossy(module)};
    }
    const std::u16string x86_program = x86_registration_program_beside(program);
    if (!is_file(x86_program)) {
        return {HostBitness::bits32, State::failed,
                "the 32-bit registration program is missing: " + utf16_to_utf8_lossy(x86_program)};
    }
    // It registers the module beside itself: this very one.
    return run_x86_program(x86_program, u"register", utf16_to_utf8_lossy(module));
}

} // namespace

RunReport register_beside_tool()
{
    const Result<std::u16string> program = module_path();
    if (!program) {
        return {false, "the program's own path is unknown: " + program.error().text};
    }
    const std::u16string module = module_beside_program(program.value());
    std::vector<BitnessOutcome> outcomes{
        is_file(module) ? register_for_own_bitness(module)
                        : BitnessOutcome{kThisProgramBitness, State::module_missing,
                                         utf16_to_utf8_lossy(module)}};
    if (kThisProgramBitness == HostBitness::bits64) {
        outcomes.push_back(register_x86_beside(program.value()));
    }
    return registration_report(outcomes);
}

RunReport register_module(std::u16string_view path)
{
    return registration_report({register_for_own_bitness(path)});
}

RunReport unregister_everywhere()
{
    std::vector<BitnessOutcome> outcomes{outcome_of(kThisProgramBitness, unregister_camera())};
    if (kThisProgramBitness == HostBitness::bits64) {
        const Result<std::u16string> program = module_path();
        const std::u16string x86_program =
            program ? x86_registration_program_beside(program.value()) : std::u16string{};
        outcomes.push_back(
            is_file(x86_program)
                ? run_x86_program(x86_program, u"unregister", {})
                : outcome_of(HostBitness::bits32, remove_camera_keys(HostBitness::bits32)));
    }
    return unregistration_report(outcomes);
}

} // namespace tolvek::vcam
