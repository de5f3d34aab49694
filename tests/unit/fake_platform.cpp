#include "fake_platform.h"

#include <string.h>

#include <algorithm>

FakeWorld g_world;
static const HKEY kKey = (HKEY)(uintptr_t)0x4242;
static const HANDLE kProcess = (HANDLE)(uintptr_t)0x10, kThread = (HANDLE)(uintptr_t)0x20;

static void Log(const std::string& line) { g_world.log.push_back(line); }

// Logs the call, checks the size the launcher gave, poisons all of it, then
// copies text as Windows does: at most cch - 1 characters and a terminator.
static DWORD Answer(const std::string& line, const std::string& text, char* psz, DWORD cch,
                    DWORD cchExpected)
{
    Log(line);
    EXPECT_EQ(cch, cchExpected) << line;
    memset(psz, 0xbd, cch);
    snprintf(psz, cch, "%s", text.c_str());
    return std::min<DWORD>(text.size(), cch - 1);
}

HWND FindWindowA(LPCSTR pszClass, LPCSTR pszTitle)
{
    Log(std::string("find ") + (pszClass ? "with a class " : "") + pszTitle);
    return std::count(g_world.windows.begin(), g_world.windows.end(), pszTitle) ? (HWND)1 : NULL;
}

int MessageBoxA(HWND hOwner, LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    Log(std::string("box ") + (hOwner ? "owned " : "") + pszText + " | " + pszCaption + " | " +
        std::to_string(uType));
    return 1;  // IDOK
}

void OutputDebugStringA(LPCSTR pszText) { Log(std::string("debug ") + pszText); }
BOOL IsDBCSLeadByte(BYTE ch) { return g_world.codePage950 && ch >= 0x81 && ch <= 0xFE; }
UINT GetWindowsDirectoryA(LPSTR psz, UINT cch) { return Answer("windir", g_world.windowsDir, psz, cch, 256); }

// A path cut short answers the buffer's size, as on Windows Vista and later.
DWORD GetModuleFileNameA(HINSTANCE hModule, LPSTR psz, DWORD cch)
{
    DWORD cchCopied = Answer(hModule ? "module of another" : "module", g_world.module, psz, cch, 260);
    return cchCopied < g_world.module.size() ? cch : cchCopied;
}

DWORD GetPrivateProfileStringA(LPCSTR pszSection, LPCSTR pszKey, LPCSTR pszDefault, LPSTR psz,
                               DWORD cch, LPCSTR pszFile)
{
    bool bFound = strcmp(pszFile, "C:\\Pkg\\VORNUpdate.ini") == 0 &&
                  strcmp(pszSection, "VORNUpdate") == 0 && strcmp(pszKey, "Version") == 0;
    return Answer(std::string("ini ") + pszFile, bFound ? g_world.version : pszDefault, psz, cch, 255);
}

LSTATUS RegOpenKeyExA(HKEY hParent, LPCSTR pszPath, DWORD dwOptions, REGSAM sam, PHKEY phKey)
{
    EXPECT_TRUE(hParent == HKEY_LOCAL_MACHINE && dwOptions == 0);
    Log(std::string("open ") + pszPath + (sam == KEY_ALL_ACCESS ? " KEY_ALL_ACCESS" : " other access"));
    *phKey = kKey;
    return g_world.key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR pszName, LPDWORD pReserved, LPDWORD, LPBYTE pData,
                         LPDWORD pcb)
{
    EXPECT_TRUE(hKey == kKey && !pReserved && *pcb == 256 && strcmp(pszName, "Location") == 0) << *pcb;
    memset(pData, 0xbd, *pcb);
    const std::string& bytes = g_world.location;
    if (bytes.empty() || bytes.size() > *pcb)
        return bytes.empty() ? ERROR_FILE_NOT_FOUND : ERROR_MORE_DATA;
    memcpy(pData, bytes.data(), *pcb = (DWORD)bytes.size());
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR pszName, LPDWORD pcch, LPDWORD, LPSTR,
                      LPDWORD, PFILETIME)
{
    EXPECT_TRUE(hKey == kKey && dwIndex == 0 && *pcch == 256) << *pcch;
    memset(pszName, 0xbd, *pcch);
    if (g_world.enumStatus == ERROR_SUCCESS)
        *pcch = (DWORD)snprintf(pszName, *pcch, "%s", g_world.subkey.c_str());
    return g_world.enumStatus;
}

LSTATUS RegCloseKey(HKEY hKey)
{
    Log(hKey == kKey ? "close key" : "close another key");
    return ERROR_SUCCESS;
}

BOOL CreateProcessA(LPCSTR pszApp, LPSTR pszCommandLine, LPSECURITY_ATTRIBUTES pProcessSec,
                    LPSECURITY_ATTRIBUTES pThreadSec, BOOL bInherit, DWORD dwFlags, LPVOID pEnv,
                    LPCSTR pszDir, LPSTARTUPINFOA pStartup, LPPROCESS_INFORMATION pProcess)
{
    static const char kZeros[sizeof(STARTUPINFOA)] = {};
    EXPECT_TRUE(!pszApp && !pProcessSec && !pThreadSec && !bInherit && !pEnv && !pszDir &&
                dwFlags == CREATE_NO_WINDOW) << dwFlags;
    EXPECT_TRUE(pStartup->cb == sizeof(STARTUPINFOA) &&
                memcmp((char*)pStartup + sizeof(DWORD), kZeros, sizeof(STARTUPINFOA) - sizeof(DWORD)) == 0);
    Log(std::string("run ") + pszCommandLine);
    if (!g_world.setupStarts && strstr(pszCommandLine, "Setup.exe") != NULL)
        return FALSE;
    *pProcess = {kProcess, kThread, 1, 1};
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD dwMilliseconds)
{
    EXPECT_EQ(dwMilliseconds, INFINITE);
    Log(h == kProcess ? "wait" : "wait on another handle");
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE h)
{
    Log(h == kProcess ? "close process" : h == kThread ? "close thread" : "close another handle");
    return TRUE;
}
