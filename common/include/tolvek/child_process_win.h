#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "tolvek/result.h"

namespace tolvek {

struct ChildProcessOutput {
    DWORD exit_code = 0;
    std::string standard_output;
    std::string standard_error;
};

// Runs the program at `program` (a full path; nothing is searched) with `arguments`, each
// quoted on its command line so that the child reads exactly these arguments back. The
// child's standard input is empty; its standard output and standard error are captured
// while it runs, both at once, so that a child filling either stream never stalls. Returns
// once the child has exited and both streams have ended. The error, when the child could not
// be started, is the system's message and the code in the form "... (os error 2)". Several
// threads may run children at once; each run ends with its own child.
[[nodiscard]] Result<ChildProcessOutput>
run_child_process(std::u16string_view program, const std::vector<std::u16string>& arguments);

} // namespace tolvek
