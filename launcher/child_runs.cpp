#include "child_runs.h"

#include <string.h>

#include "../platform/winapi.h"
#include "launcher_app.h"

// An unquoted path with a space lets Windows try each prefix as a program:
// "C:\Program Files\...\Chipburn.exe" first runs C:\Program.exe if someone
// planted one, and a package folder with a space splits the image path in
// two. Such paths are quoted; all others stay exactly as they were.
static const char* QuoteFor(const char* pszDirectory)
{
    return strpbrk(pszDirectory, " \t") != NULL ? "\"" : "";
}

// A command line that does not fit its buffer is not run at all: a cut one
// would start the wrong program or flash the wrong file.
void RunSetup()
{
    char szCommandLine[COMMAND_LINE_SIZE];
    const char* q = QuoteFor(g_szLauncherDir);
    if (SUCCEEDED(StringCchPrintfA(szCommandLine, sizeof(szCommandLine),
                                   "%s%s\\Setup.exe%s -s", q, g_szLauncherDir,
                                   q)))
        RunAndWait(szCommandLine);
}

void RunFlasher()
{
    char szCommandLine[COMMAND_LINE_SIZE];
    const char* qProgram = QuoteFor(g_szSuiteLocation);
    const char* qImage = QuoteFor(g_szLauncherDir);
    if (SUCCEEDED(StringCchPrintfA(szCommandLine, sizeof(szCommandLine),
                                   "%s%s\\Chipburn.exe%s %s%s\\BIOS.rom%s",
                                   qProgram, g_szSuiteLocation, qProgram,
                                   qImage, g_szLauncherDir, qImage)))
        RunAndWait(szCommandLine);
}

void RunAndWait(char* pszCommandLine)
{
    STARTUPINFOA startupInfo;
    PROCESS_INFORMATION processInfo;
    memset(&startupInfo, 0, sizeof(startupInfo));
    startupInfo.cb = sizeof(startupInfo);
    memset(&processInfo, 0, sizeof(processInfo));

    if (!CreateProcessA(NULL, pszCommandLine, NULL, NULL, FALSE,
                        CREATE_NO_WINDOW, NULL, NULL, &startupInfo,
                        &processInfo))
        return;

    WaitForSingleObject(processInfo.hProcess, INFINITE);
    CloseHandle(processInfo.hProcess);
    CloseHandle(processInfo.hThread);
}
