// The running program, the machine and the last error.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform/posix/last_error.h"
#include "platform/posix/path_text.h"
#include "platform/posix/paths.h"
#include "platform/winapi.h"

static thread_local DWORD t_dwLastError = ERROR_SUCCESS;

DWORD GetLastError(void)
{
    return t_dwLastError;
}

void SetLastErrorCode(DWORD dwError)
{
    t_dwLastError = dwError;
}

DWORD GetModuleFileNameA(HINSTANCE hModule, LPSTR lpFilename, DWORD nSize)
{
    char szHostPath[PATH_MAX];
    char szPath[PATH_MAX];
    if (hModule != NULL)
        return Fail(ERROR_INVALID_HANDLE);
    if (realpath("/proc/self/exe", szHostPath) == NULL ||
        !HostPathToWindows(szHostPath, szPath, sizeof(szPath)))
        return Fail(ERROR_FILE_NOT_FOUND);
    if (JoinText(lpFilename, nSize, szPath, ""))
        return (DWORD)strlen(szPath);
    // Too small: as Windows does since Vista, a cut path that is still terminated, the buffer's
    // size as the answer, and the reason.
    SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    if (nSize == 0)
        return 0;
    memcpy(lpFilename, szPath, nSize - 1);
    lpFilename[nSize - 1] = '\0';
    return nSize;
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    static const char kWindowsDirectory[] = "C:\\windows";
    // Too small: nothing is written and the size needed, with the terminator, is the answer.
    if (lpBuffer == NULL || uSize < sizeof(kWindowsDirectory))
        return sizeof(kWindowsDirectory);
    memcpy(lpBuffer, kWindowsDirectory, sizeof(kWindowsDirectory));
    return sizeof(kWindowsDirectory) - 1;
}

// Text here is UTF-8, which has no double-byte lead bytes: a 0x5C byte is always a backslash.
BOOL IsDBCSLeadByte(BYTE)
{
    return FALSE;
}
