#include "fake_platform.h"

#include <gtest/gtest.h>
#include <string.h>

const HANDLE kProcess = (HANDLE)(uintptr_t)0x10, kThread = (HANDLE)(uintptr_t)0x20,
             kKey = (HANDLE)(uintptr_t)0x30, kShellProcess = (HANDLE)(uintptr_t)0x40;

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

// Whether the program a command line starts with is named in g_world.admin.
static bool NeedsAdmin(const char* pszLine)
{
    const char* pszExe = strstr(pszLine, ".exe");
    const std::string program = pszExe ? std::string(pszLine, pszExe + 4) : "";
    return pszExe && !g_world.admin.empty() &&
           g_world.admin.find(program.substr(program.rfind('\\') + 1)) != std::string::npos;
}

// A line naming a folder Gone cannot start; handles are given even then, for
// a caller that would use them.
BOOL CreateProcessA(LPCSTR pszApp, LPSTR pszLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL bInherit, DWORD dwFlags, LPVOID, LPCSTR, LPSTARTUPINFOA pStartup,
                    LPPROCESS_INFORMATION pInfo)
{
    EXPECT_TRUE(!pszApp && !bInherit && dwFlags == CREATE_NO_WINDOW &&
                pStartup->cb == sizeof(STARTUPINFOA) && strnlen(pszLine, 512) < 512);
    Log(std::string("run ") + pszLine);
    *pInfo = {kProcess, kThread, 1, 1};
    g_world.lastError = strstr(pszLine, "Gone\\") ? ERROR_FILE_NOT_FOUND
                        : NeedsAdmin(pszLine)     ? ERROR_ELEVATION_REQUIRED
                                                  : ERROR_SUCCESS;
    return g_world.lastError == ERROR_SUCCESS;
}
DWORD GetLastError() { return g_world.lastError; }

// Logs file and parameters as "shell <file> <parameters>", "shell?" for a
// start other than the elevation prompt's, owned by nothing, shown normally,
// in the current directory, with its process kept for the caller.
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* p)
{
    const bool bPrompt = p->cbSize == sizeof(*p) &&
                         p->fMask == (SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC) && !p->hwnd &&
                         p->lpVerb && !strcmp(p->lpVerb, "runas") && !p->lpDirectory &&
                         p->nShow == SW_SHOWNORMAL && strnlen(p->lpFile, 512) < 512 &&
                         strnlen(p->lpParameters, 512) < 512;
    Log(std::string(bPrompt ? "shell " : "shell? ") + p->lpFile + " <" + p->lpParameters + ">");
    p->hProcess = g_world.shell == 'n' ? NULL : kShellProcess;
    g_world.lastError = g_world.shell == 'c' ? ERROR_CANCELLED : ERROR_SUCCESS;
    return g_world.shell != 'c';
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms)
{
    Log(ms != INFINITE ? "wait ?" : h == kProcess ? "wait" : h == kShellProcess ? "wait shell" : "wait ?");
    return 0;
}
BOOL CloseHandle(HANDLE h)
{
    Log(h == kProcess ? "close process" : h == kThread ? "close thread"
        : h == kShellProcess ? "close shell" : "close ?");
    return 1;
}
