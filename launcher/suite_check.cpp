#include "suite_check.h"

#include <limits.h>
#include <string.h>

#include "launcher_app.h"

static const char kSuiteKey[] = "Software\\Vorn\\VornUpdate";

static bool IsAsciiSpace(char ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

// atoi's reading of a component, but a value beyond the int range stops at
// INT_MAX or INT_MIN instead of wrapping.
static int ConvertComponent(const char* pszToken)
{
    while (IsAsciiSpace(*pszToken))
        ++pszToken;
    bool bNegative = false;
    if (*pszToken == '+' || *pszToken == '-')
        bNegative = (*pszToken++ == '-');

    long long nValue = 0;
    const long long nLimit = bNegative ? -(long long)INT_MIN : INT_MAX;
    for (; *pszToken >= '0' && *pszToken <= '9'; ++pszToken) {
        nValue = nValue * 10 + (*pszToken - '0');
        if (nValue > nLimit)
            nValue = nLimit;
    }
    return (int)(bNegative ? -nValue : nValue);
}

VersionTriple ParseVersionText(char* pszText, bool bTraceComponents)
{
    VersionTriple version = {0, 0, 0};
    int* components[3] = {&version.nMajor, &version.nMinor, &version.nPatch};

    char* pszToken = strtok(pszText, ".");
    for (int i = 0; i < 3 && pszToken != NULL; ++i) {
        *components[i] = ConvertComponent(pszToken);
        if (bTraceComponents)
            OutputDebugStringA(pszToken);
        pszToken = strtok(NULL, ".");
    }
    return version;
}

bool IsNewerVersion(const VersionTriple& a, const VersionTriple& b)
{
    if (a.nMajor != b.nMajor)
        return a.nMajor > b.nMajor;
    if (a.nMinor != b.nMinor)
        return a.nMinor > b.nMinor;
    return a.nPatch > b.nPatch;
}

static void TraceVersion(const char* pszFormat, const VersionTriple& version)
{
    char szLine[TEXT_BUFFER_SIZE];
    // The caller's short label and three ints: always fits.
    (void)StringCchPrintfA(szLine, sizeof(szLine), pszFormat, version.nMajor,
                           version.nMinor, version.nPatch);
    OutputDebugStringA(szLine);
}

// Takes the registered install folder into g_szSuiteLocation. A value that
// does not fit the buffer fails to read and leaves the folder as it was; one
// without a terminator is cut at the end of the buffer.
static void RefreshSuiteLocation(HKEY hKey)
{
    char szLocation[TEXT_BUFFER_SIZE];
    DWORD cbLocation = sizeof(szLocation);
    if (RegQueryValueExA(hKey, "Location", NULL, NULL, (LPBYTE)szLocation,
                         &cbLocation) != ERROR_SUCCESS)
        return;

    size_t cch = 0;
    while (cch < cbLocation && cch < sizeof(g_szSuiteLocation) - 1 &&
           szLocation[cch] != '\0')
        ++cch;
    memcpy(g_szSuiteLocation, szLocation, cch);
    g_szSuiteLocation[cch] = '\0';
}

static VersionTriple ParsePackageVersion(const char* pszPackageVersion)
{
    // The caller's text is parsed again on the second check, so the
    // tokenizer works on a copy.
    char szWork[TEXT_BUFFER_SIZE];
    // Always fits: the packaged version comes from a buffer of this size.
    (void)StringCchPrintfA(szWork, sizeof(szWork), "%s", pszPackageVersion);
    return ParseVersionText(szWork, false);
}

static bool IsSetupRequiredForKey(HKEY hKey, const char* pszPackageVersion)
{
    RefreshSuiteLocation(hKey);

    VersionTriple packaged = ParsePackageVersion(pszPackageVersion);
    TraceVersion("Current Version = %d.%d.%d", packaged);

    // The installed version is the name of the key's first subkey. Any
    // failure to read it, not only "no subkeys", counts as no suite.
    char szSubkey[TEXT_BUFFER_SIZE];
    DWORD cchSubkey = sizeof(szSubkey);
    if (RegEnumKeyExA(hKey, 0, szSubkey, &cchSubkey, NULL, NULL, NULL,
                      NULL) != ERROR_SUCCESS)
        return true;
    szSubkey[sizeof(szSubkey) - 1] = '\0';

    OutputDebugStringA(szSubkey);
    VersionTriple installed = ParseVersionText(szSubkey, true);
    TraceVersion("Installed Version = %d.%d.%d", installed);
    return IsNewerVersion(packaged, installed);
}

bool IsSetupRequired(const char* pszPackageVersion)
{
    HKEY hKey;
    // Full access and no view flag: a 32-bit launcher then sees the 32-bit
    // view the suite's installer wrote. A user refused full access simply
    // gets the installer on every launch.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSuiteKey, 0, KEY_ALL_ACCESS,
                      &hKey) != ERROR_SUCCESS)
        return true;

    bool bRequired = IsSetupRequiredForKey(hKey, pszPackageVersion);
    RegCloseKey(hKey);
    return bRequired;
}
