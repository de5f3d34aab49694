// Stands in for the suite's installer and flashing program, and for programs
// planted where unquoted paths lead. Each run appends a line to the file
// ROMGATE_TEST_LOG: its path, command line and arguments, tab-separated.
// Setup.exe then does what ROMGATE_TEST_SETUP says, "<exit code> <seconds>
// [<version> <folder>]": registers that version in that folder as the
// installer does, and leaves a copy running that sleeps that many seconds
// before it logs its own line. As "recorder /window <title> <file>" it
// stands in for a guarded tool instead: it opens a window of that title,
// creates the file once the window exists and serves the window until it is
// killed.
#include <windows.h>

#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char kSuiteKey[] = "Software\\Vorn\\VornUpdate";

// The installer keeps the installed version as the only subkey, so the
// launcher's first subkey is the version just installed.
static void Register(const char* pszVersion, const char* pszFolder)
{
    char szVersionKey[MAX_PATH];
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSuiteKey);
    snprintf(szVersionKey, sizeof(szVersionKey), "%s\\%s", kSuiteKey,
             pszVersion);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, szVersionKey, NULL, REG_SZ, "", 1);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSuiteKey, "Location", REG_SZ,
                    pszFolder, (DWORD)strlen(pszFolder) + 1);
}

static int HoldWindow(const char* pszTitle, const char* pszReady)
{
    HWND hWnd = CreateWindowExA(0, "STATIC", pszTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                200, 100, NULL, NULL, NULL, NULL);
    FILE* f = hWnd != NULL ? fopen(pszReady, "wb") : NULL;
    if (f == NULL)
        return 1;
    fclose(f);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "/window") == 0)
        return HoldWindow(argv[2], argv[3]);
    char szSelf[MAX_PATH];
    DWORD cchSelf = GetModuleFileNameA(NULL, szSelf, sizeof(szSelf));
    const char* pszName = strrchr(szSelf, '\\');
    const char* pszLog = getenv("ROMGATE_TEST_LOG");
    if (cchSelf == 0 || cchSelf >= sizeof(szSelf) || pszName++ == NULL ||
        pszLog == NULL)
        return 100;
    bool bSleeper = argc == 3 && strcmp(argv[1], "/sleep") == 0;
    if (bSleeper)
        Sleep(atoi(argv[2]) * 1000);
    FILE* f = fopen(pszLog, "ab");
    if (f == NULL)
        return 101;
    fprintf(f, "%s\t%s", szSelf, GetCommandLineA());
    for (int i = 1; i < argc; ++i)
        fprintf(f, "\t%s", argv[i]);
    fprintf(f, "\n");
    fclose(f);

    const char* pszSetup = getenv("ROMGATE_TEST_SETUP");
    int nExit = 0;
    char szSeconds[16] = "0", szVersion[32], szFolder[MAX_PATH];
    if (bSleeper || pszSetup == NULL || lstrcmpiA(pszName, "Setup.exe") != 0)
        return 0;
    if (sscanf(pszSetup, "%d %15s %31s %259[^\n]", &nExit, szSeconds,
               szVersion, szFolder) == 4)
        Register(szVersion, szFolder);
    if (atoi(szSeconds) > 0)
        _spawnl(_P_NOWAIT, szSelf, pszName, "/sleep", szSeconds, NULL);
    return nExit;
}
