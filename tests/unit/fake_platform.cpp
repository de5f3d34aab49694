#include "fake_platform.h"

#include <gtest/gtest.h>
#include <string.h>

const HANDLE kProcess = (HANDLE)(uintptr_t)0x10, kThread = (HANDLE)(uintptr_t)0x20,
             kKey = (HANDLE)(uintptr_t)0x30;

static void Log(const std::string& line) { g_world.log += (g_world.log.empty() ? "" : "|") + line; }

// Copies at most cch - 1 characters over backslashes and a last terminator (a
// scan past the answer finds separators); a text cut short answers cch.
static DWORD Answer(const std::string& text, char* psz, DWORD cch, DWORD cchExpected)
{
    EXPECT_EQ(cch, cchExpected) << text;
    snprintf(psz, cch, "%s", std::string(cch - 1, '\\').c_str());
    snprintf(psz, cch, "%s", text.c_str());
    return text.size() < cch ? (DWORD)text.size() : cch;
}

// Copies bytes, with cbMore more for a name's terminator, into a buffer of
// *pcb poisoned with backslashes: none for no bytes, or ERROR_MORE_DATA.
static LSTATUS Give(const std::string& bytes, size_t cbMore, void* p, DWORD* pcb, LSTATUS none)
{
    memset(p, '\\', *pcb);
    if (bytes.empty() || bytes.size() + cbMore > *pcb)
        return bytes.empty() ? none : ERROR_MORE_DATA;
    memcpy(p, bytes.c_str(), bytes.size() + cbMore);
    *pcb = (DWORD)bytes.size();
    return ERROR_SUCCESS;
}

HWND FindWindowA(LPCSTR, LPCSTR) { return NULL; }
int MessageBoxA(HWND, LPCSTR, LPCSTR, UINT)
{
    Log("box");
    return 1;
}
void OutputDebugStringA(LPCSTR pszText) { Log(pszText); }
BOOL IsDBCSLeadByte(BYTE ch) { return g_world.codePage950 && ch >= 0x81 && ch <= 0xFE; }
UINT GetWindowsDirectoryA(LPSTR psz, UINT cch) { return Answer(g_world.windowsDir, psz, cch, 256); }
DWORD GetModuleFileNameA(HINSTANCE, LPSTR psz, DWORD cch)
{
    return Answer(g_world.module, psz, cch, 260);
}
DWORD GetPrivateProfileStringA(LPCSTR, LPCSTR, LPCSTR, LPSTR psz, DWORD cch, LPCSTR pszFile)
{
    Log(std::string("ini ") + pszFile);
    return Answer(g_world.version, psz, cch, 255);
}
LSTATUS RegOpenKeyExA(HKEY, LPCSTR, DWORD dwOptions, REGSAM sam, PHKEY phKey)
{
    Log(sam == KEY_ALL_ACCESS && !dwOptions ? "open" : "open?");
    *phKey = (HKEY)kKey;
    return g_world.openStatus;
}
LSTATUS RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE pData, LPDWORD pcb)
{
    return Give(g_world.location, 0, pData, pcb, ERROR_FILE_NOT_FOUND);
}
LSTATUS RegEnumKeyExA(HKEY, DWORD dwIndex, LPSTR pszName, LPDWORD pcch, LPDWORD, LPSTR, LPDWORD,
                      PFILETIME)
{
    return dwIndex == 0 ? Give(g_world.subkey, 1, pszName, pcch, ERROR_NO_MORE_ITEMS)
                        : ERROR_NO_MORE_ITEMS;
}
LSTATUS RegCloseKey(HKEY hKey)
{
    Log(hKey == (HKEY)kKey ? "close key" : "close other");
    return ERROR_SUCCESS;
}

BOOL CreateProcessA(LPCSTR pszApp, LPSTR pszLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL bInherit, DWORD dwFlags, LPVOID, LPCSTR, LPSTARTUPINFOA pStartup,
                    LPPROCESS_INFORMATION pInfo)
{
    EXPECT_TRUE(!pszApp && !bInherit && dwFlags == CREATE_NO_WINDOW &&
                pStartup->cb == sizeof(STARTUPINFOA) && strnlen(pszLine, 512) < 512);
    Log(std::string("run ") + pszLine);
    *pInfo = {kProcess, kThread, 1, 1};
    return strstr(pszLine, "Gone\\") == NULL;
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms)
{
    Log(h == kProcess && ms == INFINITE ? "wait" : "?");
    return 0;
}
BOOL CloseHandle(HANDLE h)
{
    Log(h == kProcess ? "close process" : h == kThread ? "close thread" : "?");
    return 1;
}
