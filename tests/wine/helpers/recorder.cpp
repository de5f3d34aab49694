// Stands in for the suite's installer and flashing program (and for a program
// planted at C:\Program.exe). Each run appends one line to the file named by
// ROMGATE_TEST_LOG: its own file name, its command line as received, then its
// arguments, separated by tabs. The launcher gives it fixed arguments, so what
// it does besides is read from ROMGATE_TEST_<NAME> (NAME its file name in
// upper case without extension), a list of actions separated by ';':
//   register=<version>@<folder>  record the suite as its installer does:
//                                Location = folder, the version as the only
//                                subkey, in the 32-bit registry view
//   install=<folder>             copy itself there as Chipburn.exe
//   spawn=<seconds>              start a copy of itself that sleeps, then
//                                logs "<name> slept", and do not wait for it
//   exit=<code>                  exit with that code
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char g_szSelf[MAX_PATH];
static const char* g_pszName = "";

// Appends one line to the log; opened and closed each time, so that a
// grandchild's line lands after its parent's.
static void AppendLog(const char* pszLine)
{
    const char* pszLog = getenv("ROMGATE_TEST_LOG");
    FILE* f = pszLog != NULL ? fopen(pszLog, "ab") : NULL;
    if (f == NULL)
        return;
    fputs(pszLine, f);
    fputc('\n', f);
    fclose(f);
}

// Logs this run: name, command line exactly as received, then argv.
static void LogRun(int argc, char** argv)
{
    char szLine[2048];
    int cch = snprintf(szLine, sizeof(szLine), "%s\t%s", g_pszName,
                       GetCommandLineA());
    for (int i = 1; i < argc && cch >= 0 && cch < (int)sizeof(szLine); ++i)
        cch += snprintf(szLine + cch, sizeof(szLine) - cch, "\t%s", argv[i]);
    AppendLog(szLine);
}

// The installer keeps one version subkey: it removes the old ones, so the
// launcher's first subkey is always the version just installed.
static void Register(char* pszArg)
{
    char* pszAt = strchr(pszArg, '@');
    if (pszAt == NULL)
        return;
    *pszAt = '\0';
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vorn\\VornUpdate", 0,
                        NULL, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &hKey,
                        NULL) != ERROR_SUCCESS)
        return;
    char szOld[256];
    DWORD cchOld = sizeof(szOld);
    while (RegEnumKeyExA(hKey, 0, szOld, &cchOld, NULL, NULL, NULL, NULL) ==
               ERROR_SUCCESS &&
           RegDeleteKeyA(hKey, szOld) == ERROR_SUCCESS)
        cchOld = sizeof(szOld);
    RegSetValueExA(hKey, "Location", 0, REG_SZ, (const BYTE*)(pszAt + 1),
                   (DWORD)strlen(pszAt + 1) + 1);
    HKEY hVersion;
    if (RegCreateKeyExA(hKey, pszArg, 0, NULL, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &hVersion,
                        NULL) == ERROR_SUCCESS)
        RegCloseKey(hVersion);
    RegCloseKey(hKey);
}

// Puts a copy of this program in pszFolder as the suite's flashing program.
static void Install(const char* pszFolder)
{
    char szTarget[MAX_PATH];
    snprintf(szTarget, sizeof(szTarget), "%s\\Chipburn.exe", pszFolder);
    CreateDirectoryA(pszFolder, NULL);
    CopyFileA(g_szSelf, szTarget, FALSE);
}

// Starts "<self> /sleep <seconds>" and leaves it running.
static void Spawn(const char* pszSeconds)
{
    char szCommandLine[MAX_PATH + 32];
    snprintf(szCommandLine, sizeof(szCommandLine), "\"%s\" /sleep %d",
             g_szSelf, atoi(pszSeconds));
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    if (CreateProcessA(NULL, szCommandLine, NULL, NULL, FALSE, 0, NULL, NULL,
                       &si, &pi)) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

// Runs the actions in order; gives the exit code.
static int RunActions(char* pszActions)
{
    int nExit = 0;
    for (char* pszAction = strtok(pszActions, ";"); pszAction != NULL;
         pszAction = strtok(NULL, ";")) {
        char* pszArg = strchr(pszAction, '=');
        if (pszArg == NULL)
            continue;
        *pszArg++ = '\0';
        if (strcmp(pszAction, "register") == 0)
            Register(pszArg);
        else if (strcmp(pszAction, "install") == 0)
            Install(pszArg);
        else if (strcmp(pszAction, "spawn") == 0)
            Spawn(pszArg);
        else if (strcmp(pszAction, "exit") == 0)
            nExit = atoi(pszArg);
    }
    return nExit;
}

int main(int argc, char** argv)
{
    DWORD cch = GetModuleFileNameA(NULL, g_szSelf, sizeof(g_szSelf));
    if (cch == 0 || cch >= sizeof(g_szSelf))
        return 100;
    const char* pszSlash = strrchr(g_szSelf, '\\');
    g_pszName = pszSlash != NULL ? pszSlash + 1 : g_szSelf;

    if (argc == 3 && strcmp(argv[1], "/sleep") == 0) {
        Sleep(atoi(argv[2]) * 1000);
        char szLine[MAX_PATH + 16];
        snprintf(szLine, sizeof(szLine), "%s slept", g_pszName);
        AppendLog(szLine);
        return 0;
    }

    LogRun(argc, argv);

    char szVariable[MAX_PATH + 16];
    snprintf(szVariable, sizeof(szVariable), "ROMGATE_TEST_%s", g_pszName);
    char* pszDot = strrchr(szVariable, '.');
    if (pszDot != NULL)
        *pszDot = '\0';
    CharUpperA(szVariable);
    char szActions[1024];
    DWORD cchActions =
        GetEnvironmentVariableA(szVariable, szActions, sizeof(szActions));
    if (cchActions == 0 || cchActions >= sizeof(szActions))
        return 0;
    return RunActions(szActions);
}
