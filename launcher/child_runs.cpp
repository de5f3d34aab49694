#include "child_runs.h"

#include <string.h>

#include "../platform/winapi.h"
#include "launcher_app.h"

// An unquoted path with a space lets Windows try each prefix as a program:
// "C:\Program Files\...\Chipburn.exe" first runs C:\Program.exe if someone
// planted one, and a package folder with a space splits the image path in
// two. Such paths are quoted; all others stay exactly as they were.
static const char* QuoteFor(const char* pszPath)
{
    return strpbrk(pszPath, " \t") != NULL ? "\"" : "";
}

// A command line that does not fit its buffer is not run at all: a cut one
// would start the wrong program or flash the wrong file.
void RunSetup()
{
    char szProgram[COMMAND_LINE_SIZE];
    if (SUCCEEDED(StringCchPrintfA(szProgram, sizeof(szProgram),
                                   "%s\\Setup.exe", g_szLauncherDir)))
        RunAndWait(szProgram, "-s");
}

void RunFlasher()
{
    char szProgram[COMMAND_LINE_SIZE];
    char szImage[COMMAND_LINE_SIZE];
    const char* q = QuoteFor(g_szLauncherDir);
    if (SUCCEEDED(StringCchPrintfA(szProgram, sizeof(szProgram),
                                   "%s\\Chipburn.exe", g_szSuiteLocation)) &&
        SUCCEEDED(StringCchPrintfA(szImage, sizeof(szImage),
                                   "%s%s\\BIOS.rom%s", q, g_szLauncherDir, q)))
        RunAndWait(szProgram, szImage);
}

// Windows refuses CreateProcessA a program that needs administrator rights
// when the launcher runs without them, as it does on a double-click: always
// Setup.exe (an installer by its name), and the flashing program when its
// manifest asks. The shell starts it after the elevation prompt instead, as
// Windows' own compatibility fix for old programs does. The file and
// parameters are the two parts of the refused command line, so the same
// program gets the same arguments; with no directory, it starts in the
// launcher's current directory, as a child of CreateProcessA does.
void RunElevatedAndWait(const char* pszProgram, const char* pszParameters)
{
    SHELLEXECUTEINFOA execInfo;
    memset(&execInfo, 0, sizeof(execInfo));
    execInfo.cbSize = sizeof(execInfo);
    execInfo.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    execInfo.lpVerb = "runas";
    execInfo.lpFile = pszProgram;
    execInfo.lpParameters = pszParameters;
    execInfo.nShow = SW_SHOWNORMAL;

    // Declined at the prompt, or not started: skipped like any child that
    // cannot be started. A start the shell handed to a running program
    // gives no process to wait for.
    if (!ShellExecuteExA(&execInfo) || execInfo.hProcess == NULL)
        return;

    WaitForSingleObject(execInfo.hProcess, INFINITE);
    CloseHandle(execInfo.hProcess);
}

void RunAndWait(const char* pszProgram, const char* pszParameters)
{
    char szCommandLine[COMMAND_LINE_SIZE];
    const char* q = QuoteFor(pszProgram);
    if (!SUCCEEDED(StringCchPrintfA(szCommandLine, sizeof(szCommandLine),
                                    "%s%s%s %s", q, pszProgram, q,
                                    pszParameters)))
        return;

    STARTUPINFOA startupInfo;
    PROCESS_INFORMATION processInfo;
    memset(&startupInfo, 0, sizeof(startupInfo));
    startupInfo.cb = sizeof(startupInfo);
    memset(&processInfo, 0, sizeof(processInfo));

    if (!CreateProcessA(NULL, szCommandLine, NULL, NULL, FALSE,
                        CREATE_NO_WINDOW, NULL, NULL, &startupInfo,
                        &processInfo)) {
        if (GetLastError() == ERROR_ELEVATION_REQUIRED)
            RunElevatedAndWait(pszProgram, pszParameters);
        return;
    }

    WaitForSingleObject(processInfo.hProcess, INFINITE);
    CloseHandle(processInfo.hProcess);
    CloseHandle(processInfo.hThread);
}
