// A cfgmgr32.dll that someone planted beside a program: it exports nothing of the real one and
// only tells that it was loaded, by creating the file "planted-cfgmgr32-loaded" beside itself
// when a process attaches it. The tests put it beside the installed helper to show that the
// helper never loads it.

#include <windows.h>

#include <string>

#include "tolvek/owners_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    const tolvek::Result<std::u16string> path = tolvek::module_path(module);
    if (!path) {
        return TRUE;
    }
    std::u16string marker = path.value().substr(0, path.value().find_last_of(u'\\') + 1);
    marker += u"planted-cfgmgr32-loaded";
    const tolvek::UniqueHandle file{CreateFileW(tolvek::as_wide(marker.c_str()), GENERIC_WRITE, 0,
                                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr)};
    return TRUE;
}
