#include "launcher_app.h"

#include <string.h>

#include "child_runs.h"
#include "suite_check.h"

char g_szLauncherDir[TEXT_BUFFER_SIZE];
char g_szSuiteLocation[TEXT_BUFFER_SIZE];
char g_szPackageVersion[TEXT_BUFFER_SIZE];

// GetModuleFileNameA's buffer: the classic Windows path limit.
#define MODULE_PATH_SIZE 260

static const char kWarningCaption[] = "Warming";
static const char kManifestMissingText[] = "Can't find VORNUpdate.ini file";

// Shows the warning for an open tool of the maker and answers TRUE when the
// window titled pszTitle exists.
static BOOL IsToolOpen(LPCSTR pszTitle, LPCSTR pszWarning)
{
    if (FindWindowA(NULL, pszTitle) == NULL)
        return FALSE;
    MessageBoxA(NULL, pszWarning, kWarningCaption, MB_OK);
    return TRUE;
}

static void ShowManifestMissing()
{
    MessageBoxA(NULL, kManifestMissingText, "Error Message", MB_OK);
}

// Index of the rightmost backslash of pszPath that is a character of its own,
// or -1. A forward scan is needed: in a double-byte code page the trail byte
// of a character may be 0x5C (in code page 950, U+529F is A5 5C), and only
// the lead byte before it tells the two apart.
static int FindLastPathSeparator(const char* pszPath)
{
    int iLast = -1;
    for (int i = 0; pszPath[i] != '\0'; ++i) {
        if (IsDBCSLeadByte((BYTE)pszPath[i]) && pszPath[i + 1] != '\0')
            ++i;
        else if (pszPath[i] == '\\')
            iLast = i;
    }
    return iLast;
}

BOOL GetLauncherDirectory()
{
    char szModule[MODULE_PATH_SIZE];
    g_szLauncherDir[0] = '\0';

    DWORD cch = GetModuleFileNameA(NULL, szModule, MODULE_PATH_SIZE);
    // A full buffer means the platform cut the path short (and on older
    // Windows left it without a terminator).
    if (cch == 0 || cch >= MODULE_PATH_SIZE)
        return FALSE;

    int iSeparator = FindLastPathSeparator(szModule);
    if (iSeparator >= 0)
        szModule[iSeparator] = '\0';

    if (strlen(szModule) >= sizeof(g_szLauncherDir))
        return FALSE;
    memcpy(g_szLauncherDir, szModule, strlen(szModule) + 1);
    return TRUE;
}

// The suite's default install folder, on the drive that holds Windows.
static void SetDefaultSuiteLocation()
{
    char szWindowsDir[TEXT_BUFFER_SIZE];
    char chDrive = 'C';

    UINT cch = GetWindowsDirectoryA(szWindowsDir, sizeof(szWindowsDir));
    if (cch != 0 && cch < sizeof(szWindowsDir))
        chDrive = szWindowsDir[0];
    // 33 characters: always fits.
    (void)StringCchPrintfA(g_szSuiteLocation, sizeof(g_szSuiteLocation),
                           "%c:\\Program Files\\Vorn\\VornUpdate", chDrive);
}

// Reads the packaged version from the manifest beside the launcher; FALSE
// when the manifest cannot be reached or yields no version.
static BOOL ReadPackageVersion()
{
    char szManifest[TEXT_BUFFER_SIZE];
    if (!SUCCEEDED(StringCchPrintfA(szManifest, sizeof(szManifest),
                                    "%s\\VORNUpdate.ini", g_szLauncherDir)))
        return FALSE;

    return GetPrivateProfileStringA("VORNUpdate", "Version", "",
                                    g_szPackageVersion,
                                    PACKAGE_VERSION_READ_SIZE, szManifest) != 0;
}

BOOL CLauncherApp::InitInstance()
{
    if (IsToolOpen("VORN Update",
                   "Please terminate the VORNUpdate tool and try again."))
        return FALSE;
    if (IsToolOpen("VORN GloRim",
                   "Please terminate the Glorim tool and try again."))
        return FALSE;

    // A launcher that cannot name its own folder cannot reach its manifest
    // either; both end with the same message.
    if (!GetLauncherDirectory()) {
        ShowManifestMissing();
        return FALSE;
    }
    SetDefaultSuiteLocation();
    if (!ReadPackageVersion()) {
        ShowManifestMissing();
        return FALSE;
    }

    if (IsSetupRequired(g_szPackageVersion)) {
        RunSetup();
        // Only for its effect: the installer has just registered where it
        // put the suite, and the flash must run from there.
        IsSetupRequired(g_szPackageVersion);
    }
    RunFlasher();
    return FALSE;
}
