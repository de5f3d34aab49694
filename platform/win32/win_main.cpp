// The Windows entry point: hardens the DLL search path, then hands over to
// the framework, which runs the launcher's start-up hook.
#include "platform/framework.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

// Keeps every DLL loaded from now on out of the launcher's own folder and the
// current directory. The launcher is typically run from a download folder,
// where a planted DLL named like one that Windows loads on demand (for the
// message boxes, say) would otherwise be picked up before the system's copy.
// SetDefaultDllDirectories exists from Windows 8 (earlier with update
// KB2533623), so it is looked up rather than imported: without it the
// launcher still starts, with only SetDllDirectoryA("") taking the current
// directory out of the search.
static void RestrictDllSearchPath()
{
    HMODULE hKernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC pfn = hKernel32 != NULL
                      ? GetProcAddress(hKernel32, "SetDefaultDllDirectories")
                      : NULL;
    if (pfn != NULL) {
        // Via void (*)(void), which tells GCC the cast from FARPROC is meant.
        SetDefaultDllDirectoriesProc pfnSetDefaultDllDirectories =
            reinterpret_cast<SetDefaultDllDirectoriesProc>(
                reinterpret_cast<void (*)(void)>(pfn));
        pfnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryA("");
}

// Runs the launcher once the search path is safe; gives the framework's exit
// status. The arguments reach the framework, which ignores them.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                   LPSTR lpCmdLine, int nCmdShow)
{
    RestrictDllSearchPath();
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
