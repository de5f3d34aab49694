// The operating-system operations the launcher may call.
//
// On Windows this is <windows.h> itself. Elsewhere it declares the few types,
// constants (with their real Windows values) and ANSI functions the launcher
// uses; the hosted layer (platform/posix) or the test fake defines them.
// The build chooses the definitions; the launcher never tests the platform.
#ifndef ROMGATE_PLATFORM_WINAPI_H
#define ROMGATE_PLATFORM_WINAPI_H

#ifdef _WIN32
// The Windows build defines _SHELL32_, so that <shellapi.h> declares
// ShellExecuteExA as a function of ours, not as an import: the Windows layer
// (platform/win32/shell_execute.cpp) loads the shell from the system
// directory only when a child needs administrator rights, and a normal run
// neither imports nor loads it.
#include <windows.h>
// Bounded formatting over the system C runtime's own, always terminated.
#include <strsafe.h>
// Older SDK headers (mingw-w64's among them) lack it.
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif
#else

#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef void* HANDLE;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef LONG HRESULT;
typedef uint32_t ULONG;

// Each handle its own pointer type, as with Windows' STRICT; not under
// Windows' tag names (HWND__, _FILETIME, ...), which C++ reserves to the
// compiler and its library.
typedef struct HWND_tag* HWND;
typedef struct HINSTANCE_tag* HINSTANCE;
typedef struct HKEY_tag* HKEY;
typedef HKEY* PHKEY;
typedef struct FILETIME* PFILETIME;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define WINAPI
#define TRUE 1
#define FALSE 0

#define MB_OK 0x00000000u
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu
#define CREATE_NO_WINDOW 0x08000000u
#define KEY_ALL_ACCESS 0xF003Fu
#define KEY_READ 0x20019u
#define SW_SHOWNORMAL 1
#define SEE_MASK_NOCLOSEPROCESS 0x00000040u
#define SEE_MASK_NOASYNC 0x00000100u

#define S_OK ((HRESULT)0)
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)
#define STRSAFE_MAX_CCH 2147483647u
#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)

// Of type LONG, as Windows' 2L is where long has 32 bits; 2L here would be a
// 64-bit long, narrowed wherever a status is kept.
#define ERROR_SUCCESS ((LONG)0)
#define ERROR_FILE_NOT_FOUND ((LONG)2)
#define ERROR_ACCESS_DENIED ((LONG)5)
#define ERROR_INVALID_HANDLE ((LONG)6)
#define ERROR_NOT_ENOUGH_MEMORY ((LONG)8)
#define ERROR_INVALID_PARAMETER ((LONG)87)
#define ERROR_INSUFFICIENT_BUFFER ((LONG)122)
#define ERROR_BAD_EXE_FORMAT ((LONG)193)
#define ERROR_MORE_DATA ((LONG)234)
#define ERROR_NO_MORE_ITEMS ((LONG)259)
#define ERROR_ELEVATION_REQUIRED ((LONG)740)
#define ERROR_BADDB ((LONG)1009)
#define ERROR_CANCELLED ((LONG)1223)

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)
#define HKEY_CURRENT_CONFIG ((HKEY)(uintptr_t)0x80000005u)
#define HKEY_DYN_DATA ((HKEY)(uintptr_t)0x80000006u)

#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

typedef struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef struct SHELLEXECUTEINFOA {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpFile;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    union {
        HANDLE hIcon;
        HANDLE hMonitor;
    };
    HANDLE hProcess;
} SHELLEXECUTEINFOA, *LPSHELLEXECUTEINFOA;

// Windows and messages
HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
void OutputDebugStringA(LPCSTR lpOutputString);

// The running program and the machine
DWORD GetModuleFileNameA(HINSTANCE hModule, LPSTR lpFilename, DWORD nSize);
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
BOOL IsDBCSLeadByte(BYTE TestChar);
DWORD GetLastError(void);

// Profile (INI) files
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName,
                               LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName);

// Registry
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                      REGSAM samDesired, PHKEY phkResult);
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime);
LSTATUS RegCloseKey(HKEY hKey);

// Text
HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...)
    __attribute__((format(printf, 3, 4)));

// Processes
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes,
                    BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE hObject);
// The shell's start, the one that can show the elevation prompt.
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo);

#endif  // _WIN32

#endif  // ROMGATE_PLATFORM_WINAPI_H
