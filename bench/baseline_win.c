/* The least a launcher can do on Windows: run each command line given as an
 * argument, in order, with CreateProcessA as Romgate.exe calls it, and wait
 * for it. Romgate.exe's benchmark holds it up against this under Wine:
 *   baseline_win.exe "C:\Package\Setup.exe -s" "\"C:\...\Chipburn.exe\" C:\Package\BIOS.rom"
 * The arguments come from the C runtime's own split of the command line.
 *
 * Built with -DSAME_IMPORTS it also imports what Romgate.exe imports besides
 * KERNEL32 and msvcrt, USER32 and ADVAPI32, without calling them: the time it
 * adds is what loading those DLLs costs, before the launcher does anything. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#ifdef SAME_IMPORTS
void* volatile g_apfnImported[] = {(void*)FindWindowA, (void*)RegCloseKey};
#endif

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                   LPSTR lpCmdLine, int nCmdShow)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;
    for (int i = 1; i < __argc; i++) {
        char szCommandLine[512];
        STARTUPINFOA startupInfo;
        PROCESS_INFORMATION processInfo;
        if (strlen(__argv[i]) >= sizeof(szCommandLine))
            continue;
        memcpy(szCommandLine, __argv[i], strlen(__argv[i]) + 1);
        memset(&startupInfo, 0, sizeof(startupInfo));
        startupInfo.cb = sizeof(startupInfo);
        if (!CreateProcessA(NULL, szCommandLine, NULL, NULL, FALSE,
                            CREATE_NO_WINDOW, NULL, NULL, &startupInfo,
                            &processInfo))
            continue;
        WaitForSingleObject(processInfo.hProcess, INFINITE);
        CloseHandle(processInfo.hProcess);
        CloseHandle(processInfo.hThread);
    }
    return 0;
}
