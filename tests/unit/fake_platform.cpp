#include "fake_platform.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "launcher/launcher_app.h"

FakeWorld g_world;
static HKEY const kSuiteKey = (HKEY)(uintptr_t)0x4242;

static void Log(const char* pszFormat, ...)
{
    char szLine[2048];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    g_world.log.push_back(szLine);
}

static void Fault(bool bBad, const std::string& what)
{
    if (bBad)
        g_world.faults.push_back(what);
}

// Garbage in what the caller handed over, and not a byte more, so that a
// launcher reading what the platform did not fill is caught.
static void Poison(void* pBuffer, size_t cb)
{
    if (pBuffer != NULL)
        memset(pBuffer, 0xbd, cb);
}

// At most cch - 1 characters and a terminator, like Windows; gives the count.
static size_t CopyText(const std::string& text, char* pszBuffer, size_t cch)
{
    if (cch == 0)
        return 0;
    Poison(pszBuffer, cch);
    size_t cchCopied = std::min(text.size(), cch - 1);
    memcpy(pszBuffer, text.data(), cchCopied);
    pszBuffer[cchCopied] = '\0';
    return cchCopied;
}

void ResetWorld()
{
    g_world = FakeWorld();
    SetManifestVersion("C:\\Pkg", "2.1.0");
    for (char* pszShared : {g_szLauncherDir, g_szSuiteLocation, g_szPackageVersion})
        CopyText(std::string(TEXT_BUFFER_SIZE, '\xbd'), pszShared, TEXT_BUFFER_SIZE);
}

void CheckWorld()
{
    EXPECT_EQ(g_world.faults, Lines());
    EXPECT_EQ(g_world.openKeys, 0) << "registry key left open";
    EXPECT_EQ(g_world.liveHandles.size(), 0u) << "process handle left open";
    g_world.faults.clear();
    g_world.openKeys = 0;
    g_world.liveHandles.clear();
}

void RegisterSuite(const std::string& location, const Lines& subkeys)
{
    g_world.openStatus = ERROR_SUCCESS;
    g_world.hasLocation = true;
    g_world.locationBytes = location + '\0';
    g_world.subkeys = subkeys;
}

void SetManifestVersion(const std::string& dir, const std::string& version)
{
    g_world.profile.push_back({dir + "\\VORNUpdate.ini", "VORNUpdate", "Version", version});
}

Lines Calls(const Lines& prefixes)
{
    Lines calls;
    for (const std::string& line : g_world.log)
        for (const std::string& prefix : prefixes)
            if (line.compare(0, prefix.size(), prefix) == 0)
                calls.push_back(line);
    return calls;
}

BOOL RunLauncher()
{
    CLauncherApp app;
    return app.InitInstance();
}

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName)
{
    Log("FindWindowA(%s, %s)", lpClassName ? lpClassName : "NULL", lpWindowName);
    const Lines& open = g_world.windows;
    auto it = std::find(open.begin(), open.end(), lpWindowName);
    return it == open.end() ? NULL : (HWND)(uintptr_t)(it - open.begin() + 1);
}

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    Log("MessageBoxA(%s, %s, %s, 0x%x)", hWnd ? "owner" : "NULL", lpText, lpCaption, uType);
    return 1;  // IDOK
}

void OutputDebugStringA(LPCSTR lpOutputString)
{
    Log("OutputDebugStringA(%s)", lpOutputString);
    g_world.traces.push_back(lpOutputString);
}

// Truncates like Windows Vista and later: a full buffer, terminated, and
// the buffer's size as the answer.
DWORD GetModuleFileNameA(HINSTANCE hModule, LPSTR lpFilename, DWORD nSize)
{
    Log("GetModuleFileNameA");
    Fault(hModule != NULL, "GetModuleFileNameA: not the running module");
    Fault(nSize != 260, "GetModuleFileNameA: buffer size");
    size_t cch = CopyText(g_world.modulePath, lpFilename, nSize);
    if (g_world.moduleResult >= 0)
        return (DWORD)g_world.moduleResult;
    return cch < g_world.modulePath.size() ? nSize : (DWORD)cch;
}

// A directory that does not fit is not copied; the answer is the size needed.
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    Log("GetWindowsDirectoryA");
    Fault(uSize != 256, "GetWindowsDirectoryA: buffer size");
    UINT cch = (UINT)g_world.windowsDir.size();
    if (cch < uSize)
        CopyText(g_world.windowsDir, lpBuffer, uSize);
    if (g_world.windowsDirResult >= 0)
        return (UINT)g_world.windowsDirResult;
    return cch < uSize ? cch : cch + 1;
}

BOOL IsDBCSLeadByte(BYTE TestChar)
{
    return g_world.leadBytes[TestChar];
}

DWORD GetLastError(void)
{
    return ERROR_FILE_NOT_FOUND;  // the one failure the fake reports
}

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    Log("GetPrivateProfileStringA(%s, %s, %s)", lpAppName, lpKeyName, lpFileName);
    Fault(nSize != 255, "GetPrivateProfileStringA: buffer size");
    std::string value = lpDefault;
    for (const ProfileEntry& e : g_world.profile)
        if (e.file == lpFileName && e.section == lpAppName && e.key == lpKeyName) {
            value = e.value;
            break;
        }
    return (DWORD)CopyText(value, lpReturnedString, nSize);
}

static bool IsSuiteKey(HKEY hKey)
{
    Fault(hKey != kSuiteKey || g_world.openKeys == 0, "registry: key not open");
    return hKey == kSuiteKey && g_world.openKeys > 0;
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult)
{
    Log("RegOpenKeyExA(%s, %s, %u, 0x%x)", hKey == HKEY_LOCAL_MACHINE ? "HKLM" : "other",
        lpSubKey, (unsigned)ulOptions, (unsigned)samDesired);
    if (g_world.openStatus != ERROR_SUCCESS)
        return g_world.openStatus;
    *phkResult = kSuiteKey;
    ++g_world.openKeys;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData)
{
    Log("RegQueryValueExA(%s)", lpValueName);
    Fault(lpReserved != NULL, "RegQueryValueExA: reserved");
    Fault(*lpcbData != 256, "RegQueryValueExA: buffer size");
    const std::string& bytes = g_world.locationBytes;
    Poison(lpData, *lpcbData);
    if (!IsSuiteKey(hKey) || !g_world.hasLocation || strcmp(lpValueName, "Location") != 0)
        return ERROR_FILE_NOT_FOUND;
    if (lpType != NULL)
        *lpType = REG_SZ;
    bool bFits = bytes.size() <= *lpcbData;
    if (bFits && lpData != NULL)
        memcpy(lpData, bytes.data(), bytes.size());
    *lpcbData = (DWORD)bytes.size();
    return bFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                      LPSTR, LPDWORD, PFILETIME)
{
    Log("RegEnumKeyExA(%u)", (unsigned)dwIndex);
    Fault(*lpcchName != 256, "RegEnumKeyExA: buffer size");
    Poison(lpName, *lpcchName);
    if (!IsSuiteKey(hKey))
        return ERROR_INVALID_HANDLE;
    if (dwIndex >= g_world.subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& name = g_world.subkeys[dwIndex];
    if (g_world.enumStatus != ERROR_SUCCESS)
        return g_world.enumStatus;
    if (name.size() >= *lpcchName)
        return ERROR_MORE_DATA;
    *lpcchName = (DWORD)CopyText(name, lpName, *lpcchName);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey)
{
    Log("RegCloseKey");
    if (!IsSuiteKey(hKey))
        return ERROR_INVALID_HANDLE;
    --g_world.openKeys;
    return ERROR_SUCCESS;
}

// The n-th started child's process handle is 2n, "P<n>"; its thread 2n + 1.
static std::string HandleName(HANDLE h)
{
    uintptr_t v = (uintptr_t)h;
    return (v % 2 ? "T" : "P") + std::to_string(v / 2);
}

static void ExpectLive(HANDLE h, const char* pszCall)
{
    const std::vector<HANDLE>& live = g_world.liveHandles;
    Fault(std::find(live.begin(), live.end(), h) == live.end(),
          std::string(pszCall) + ": not an open handle");
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    Log("CreateProcessA(%s)", lpCommandLine);
    g_world.commandLines.push_back(lpCommandLine);
    STARTUPINFOA plain;
    memset(&plain, 0, sizeof(plain));
    plain.cb = sizeof(plain);
    Fault(lpApplicationName || lpProcessAttributes || lpThreadAttributes || bInheritHandles ||
              lpEnvironment || lpCurrentDirectory,
          "CreateProcessA: an argument other than the command line is set");
    Fault(dwCreationFlags != CREATE_NO_WINDOW, "CreateProcessA: flags");
    Fault(memcmp(lpStartupInfo, &plain, sizeof(plain)) != 0, "CreateProcessA: STARTUPINFOA");

    const std::string& fail = g_world.failProgram;
    if (!fail.empty() && strstr(lpCommandLine, fail.c_str()) != NULL)
        return FALSE;
    uintptr_t n = ++g_world.processes;
    lpProcessInformation->hProcess = (HANDLE)(2 * n);
    lpProcessInformation->hThread = (HANDLE)(2 * n + 1);
    g_world.liveHandles.push_back(lpProcessInformation->hProcess);
    g_world.liveHandles.push_back(lpProcessInformation->hThread);
    if (g_world.onRun)
        g_world.onRun(lpCommandLine);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    Log("WaitForSingleObject(%s)", HandleName(hHandle).c_str());
    Fault(dwMilliseconds != INFINITE, "WaitForSingleObject: time limit");
    ExpectLive(hHandle, "WaitForSingleObject");
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE hObject)
{
    Log("CloseHandle(%s)", HandleName(hObject).c_str());
    ExpectLive(hObject, "CloseHandle");
    std::vector<HANDLE>& live = g_world.liveHandles;
    live.erase(std::remove(live.begin(), live.end(), hObject), live.end());
    return TRUE;
}
