// ShellExecuteExA for Romgate.exe: the shell's own, from shell32.dll in the
// system directory, loaded the first time a child needs administrator
// rights. Imported, the shell would load with every run.
#include <string.h>

#include "platform/winapi.h"

typedef BOOL(WINAPI* ShellExecuteExProc)(SHELLEXECUTEINFOA*);

// shell32.dll by its full path in the system directory, never by name: the
// launcher typically runs from a download folder, and a DLL planted there
// must never be the one that asks for administrator rights. The altered
// search path takes the DLLs that shell32 imports from its own folder
// too, also on Windows without SetDefaultDllDirectories.
static ShellExecuteExProc LoadShellExecuteEx()
{
    static const char kFileName[] = "\\shell32.dll";
    char szPath[MAX_PATH];
    UINT cch = GetSystemDirectoryA(szPath, MAX_PATH);
    if (cch == 0 || cch + sizeof(kFileName) > MAX_PATH)
        return NULL;
    memcpy(szPath + cch, kFileName, sizeof(kFileName));
    HMODULE hShell32 =
        LoadLibraryExA(szPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    FARPROC pfn = hShell32 != NULL
                      ? GetProcAddress(hShell32, "ShellExecuteExA")
                      : NULL;
    // Via void (*)(void), which tells GCC the cast from FARPROC is meant.
    return reinterpret_cast<ShellExecuteExProc>(
        reinterpret_cast<void (*)(void)>(pfn));
}

// Loaded once and kept: both children may need it, and the shell may still
// hold threads of its own after a start.
BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo)
{
    static ShellExecuteExProc s_pfnShellExecuteEx = NULL;
    if (s_pfnShellExecuteEx == NULL)
        s_pfnShellExecuteEx = LoadShellExecuteEx();
    return s_pfnShellExecuteEx != NULL && s_pfnShellExecuteEx(pExecInfo);
}
