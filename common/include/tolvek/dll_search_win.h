#pragma once

// Where a program of the project loads DLLs from.

#include <windows.h>

namespace tolvek {

// Makes the system folder the only place from which this process loads a DLL by name, so
// that a DLL planted beside the program or in the current folder is never run. Every program
// the project ships calls this first thing in its entry, before anything loads a DLL. It
// fails only for flags the system does not know, so its result is not looked at.
inline void restrict_dll_search_to_system_folder() noexcept
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace tolvek
