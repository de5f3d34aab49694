// The registry calls over <prefix>/registry.reg: reading the file, the open keys and what they see.
//
// The file is read again at every open from a root key, so that a change made by an installer is
// seen by the next check; a key opened from an open key sees the registry as it was read then. A
// missing file is an empty registry; one that cannot be read, is over 64 MiB, has no header or
// holds a NUL byte is an unreadable one: every open answers ERROR_BADDB. Lines the reader skips are
// named in the debugger output. At most 64 keys are open at once; another open answers
// ERROR_NOT_ENOUGH_MEMORY, as does a failed allocation.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/path_text.h"
#include "platform/posix/paths.h"
#include "platform/posix/registry_text.h"
#include "platform/posix/text.h"
#include "platform/winapi.h"

namespace {

const size_t kMaxOpenKeys = 64;
const size_t kMaxFileSize = 64u << 20;
const uintptr_t kFirstHandle = 0x52470000u;  // clear of NULL and the roots

// A key as the calls see it: the reading of the file it was opened in, its root, and its path,
// spelled as in that text ("" for the root itself).
struct KeyView {
    RegistryText* pText;  // NULL: a free handle slot
    HKEY hRoot;
    const char* pchPath;
    size_t cchPath;
};

KeyView g_openKeys[kMaxOpenKeys];

// Reads the whole file at fd into a new block. Its size when opened is only a first guess, as an
// installer may be writing it: reading goes on until it ends, or passes the size limit. NULL with
// the reason when it cannot be read whole.
char* ReadWholeFile(int fd, off_t cbGuess, size_t* pcb, LSTATUS* pStatus)
{
    size_t cbRoom = 0;
    char* pBytes = NULL;
    *pStatus = ERROR_BADDB;
    for (*pcb = 0; cbGuess <= (off_t)kMaxFileSize && *pcb <= kMaxFileSize;) {
        if (*pcb == cbRoom) {
            cbRoom = cbRoom > 0 ? 2 * cbRoom : (size_t)cbGuess + 1;
            char* pBigger = (char*)realloc(pBytes, cbRoom);
            if (pBigger == NULL) {
                *pStatus = ERROR_NOT_ENOUGH_MEMORY;
                break;
            }
            pBytes = pBigger;
        }
        ssize_t cb = read(fd, pBytes + *pcb, cbRoom - *pcb);
        if (cb == 0) {
            *pStatus = ERROR_SUCCESS;
            return pBytes;
        }
        if (cb < 0 && errno != EINTR)
            break;
        *pcb += cb > 0 ? (size_t)cb : 0;
    }
    free(pBytes);
    return NULL;
}

// Names a line the reader skipped in the debugger output: no line is lost without a word.
void TraceSkippedLine(void*, size_t nLine, const char* pchLine, size_t cchLine)
{
    char szTrace[160];
    int cchShown = cchLine < 100 ? (int)cchLine : 100;
    (void)StringCchPrintfA(szTrace, sizeof(szTrace), "registry.reg line %lu skipped: %.*s%s",
                           (unsigned long)nLine, cchShown, pchLine, cchLine > 100 ? "..." : "");
    OutputDebugStringA(szTrace);
}

// True when st is the file the last reading named its skipped lines of, as it was then: the file is
// read again at every open, but says each of its faults once.
bool WasTraced(const struct stat& st)
{
    static struct stat s_traced;
    bool bSame = st.st_dev == s_traced.st_dev && st.st_ino == s_traced.st_ino &&
                 st.st_size == s_traced.st_size && st.st_mtim.tv_sec == s_traced.st_mtim.tv_sec &&
                 st.st_mtim.tv_nsec == s_traced.st_mtim.tv_nsec;
    s_traced = st;
    return bSame;
}

// Reads <prefix>/registry.reg afresh. A missing file is an empty registry.
RegistryText* LoadRegistryFile(LSTATUS* pStatus)
{
    char szPrefix[PATH_MAX], szPath[PATH_MAX];
    struct stat st;
    *pStatus = ERROR_BADDB;
    if (!GetPrefixDirectory(szPrefix, sizeof(szPrefix)) ||
        !JoinText(szPath, sizeof(szPath), szPrefix, "/registry.reg"))
        return NULL;
    int fd = open(szPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadRegistryText(NULL, 0, NULL, NULL, pStatus)
                                                   : NULL;
    size_t cb = 0;
    char* pBytes = fstat(fd, &st) == 0 ? ReadWholeFile(fd, st.st_size, &cb, pStatus) : NULL;
    close(fd);
    if (pBytes == NULL)
        return NULL;
    bool bTrace = !WasTraced(st);
    RegistryText* pText =
        ReadRegistryText(pBytes, cb, bTrace ? TraceSkippedLine : NULL, NULL, pStatus);
    free(pBytes);
    if (bTrace && *pStatus == ERROR_BADDB)
        OutputDebugStringA(
            "registry.reg has no regedit header or holds a NUL byte: "
            "no key is readable");
    return pText;
}

// The open key a handle names, or NULL for anything else.
KeyView* FindOpenKey(HKEY hKey)
{
    uintptr_t nOffset = (uintptr_t)hKey - kFirstHandle;
    // Below the first handle, the offset wraps round past the table.
    if (nOffset % 4 != 0 || nOffset / 4 >= kMaxOpenKeys || g_openKeys[nOffset / 4].pText == NULL)
        return NULL;
    return &g_openKeys[nOffset / 4];
}

// A root reads the file afresh; a handle gives the view it was opened with.
LSTATUS ResolveKey(HKEY hKey, KeyView* pView)
{
    LSTATUS status = ERROR_SUCCESS;
    const KeyView* pOpen = FindOpenKey(hKey);
    if (IsRegistryRoot(hKey))
        *pView = KeyView{LoadRegistryFile(&status), hKey, "", 0};
    else if (pOpen != NULL)
        *pView = *pOpen;
    else
        status = ERROR_INVALID_HANDLE;
    return status;
}

// Ends a call's view: a reading that no open key holds goes. The open keys count its holders.
void ReleaseView(const KeyView& view)
{
    for (const KeyView& open : g_openKeys)
        if (open.pText == view.pText)
            return;
    FreeRegistryText(view.pText);
}

// True for a key line of the view's root whose path is the view's, with pszSub below it unless
// empty, or lies below that path; *pcchPath is the path's length.
bool IsKeyAtOrBelow(const RegistryLine& line, const KeyView& view, const char* pszSub,
                    size_t* pcchPath)
{
    size_t cchBase = view.cchPath, cchSub = strlen(pszSub);
    bool bJoined = cchBase > 0 && cchSub > 0;
    size_t cch = *pcchPath = cchBase + bJoined + cchSub;
    const char* p = line.pchPath;
    return line.bKey && line.hRoot == view.hRoot && line.cchPath >= cch &&
           (cch == 0 || line.cchPath == cch || p[cch] == '\\') &&
           IsSameIgnoringCase(p, cchBase, view.pchPath, cchBase) &&
           (!bJoined || p[cchBase] == '\\') &&
           IsSameIgnoringCase(p + cch - cchSub, cchSub, pszSub, cchSub);
}

// The subkey at the place where a sorted listing would show it: subkeys come in the registry's own
// order, by upper-cased name, each once in its first spelling. Each place is found by a pass for
// the least name after the previous place's, so no list is built.
bool FindSubkey(const KeyView& view, DWORD dwIndex, const char** ppchName, size_t* pcchName)
{
    size_t iName = view.cchPath == 0 ? 0 : view.cchPath + 1;
    *ppchName = NULL;
    *pcchName = 0;
    for (DWORD n = 0; n <= dwIndex; ++n) {
        const char* pchBest = NULL;
        size_t cchBest = 0;
        RegistryLine line;
        for (size_t iNext = 0, cchView; NextRegistryLine(view.pText, &iNext, &line);) {
            if (!IsKeyAtOrBelow(line, view, "", &cchView) || line.cchPath <= iName)
                continue;
            const char* pch = line.pchPath + iName;
            const char* pEnd = (const char*)memchr(pch, '\\', line.cchPath - iName);
            size_t cch = pEnd != NULL ? (size_t)(pEnd - pch) : line.cchPath - iName;
            if ((*ppchName == NULL || CompareIgnoringCase(*ppchName, *pcchName, pch, cch) < 0) &&
                (pchBest == NULL || CompareIgnoringCase(pch, cch, pchBest, cchBest) < 0)) {
                pchBest = pch;
                cchBest = cch;
            }
        }
        if (pchBest == NULL)
            return false;
        *ppchName = pchBest;
        *pcchName = cchBest;
    }
    return true;
}

}  // namespace

// Any access asked for is granted: the file has no security to check.
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    if (phkResult == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    KeyView view;
    LSTATUS status = ResolveKey(hKey, &view);
    if (status != ERROR_SUCCESS)
        return status;
    const char* pszSub = lpSubKey != NULL ? lpSubKey : "";
    // The key exists when some key line is at or below it (a root always does); its path is then
    // spelled as that line spells it.
    bool bExists = view.cchPath == 0 && pszSub[0] == '\0';
    RegistryLine line;
    for (size_t iNext = 0, cchPath; !bExists && NextRegistryLine(view.pText, &iNext, &line);) {
        bExists = IsKeyAtOrBelow(line, view, pszSub, &cchPath);
        if (bExists)
            view = KeyView{view.pText, view.hRoot, line.pchPath, cchPath};
    }
    size_t iSlot = 0;
    while (iSlot < kMaxOpenKeys && g_openKeys[iSlot].pText != NULL)
        ++iSlot;
    if (!bExists) {
        status = ERROR_FILE_NOT_FOUND;
    } else if (iSlot == kMaxOpenKeys) {
        status = ERROR_NOT_ENOUGH_MEMORY;
    } else {
        g_openKeys[iSlot] = view;
        *phkResult = (HKEY)(kFirstHandle + 4 * iSlot);
    }
    ReleaseView(view);
    return status;
}

// A NULL or empty name is the default value (@); a value written twice answers its last data. On
// ERROR_MORE_DATA nothing is copied and *lpcbData gives the size needed.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData)
{
    if (lpData != NULL && lpcbData == NULL)
        return ERROR_INVALID_PARAMETER;
    KeyView view;
    LSTATUS status = ResolveKey(hKey, &view);
    if (status != ERROR_SUCCESS)
        return status;
    const char* pszName = lpValueName != NULL ? lpValueName : "";
    RegistryLine line, found = {};
    bool bInKey = false;
    for (size_t iNext = 0; NextRegistryLine(view.pText, &iNext, &line);) {
        if (line.bKey)
            bInKey = line.hRoot == view.hRoot &&
                     IsSameIgnoringCase(line.pchPath, line.cchPath, view.pchPath, view.cchPath);
        else if (bInKey && IsRegistryValueNamed(line, pszName))
            found = line;
    }
    status = found.pchName != NULL ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    if (status == ERROR_SUCCESS) {
        DWORD dwType;
        DWORD cbNeeded = (DWORD)DecodeRegistryData(view.pText, found, &dwType, NULL, 0);
        bool bFits = lpData == NULL || *lpcbData >= cbNeeded;
        if (lpType != NULL)
            *lpType = dwType;
        if (lpData != NULL && bFits)
            DecodeRegistryData(view.pText, found, &dwType, lpData, cbNeeded);
        if (lpcbData != NULL)
            *lpcbData = cbNeeded;
        status = bFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    ReleaseView(view);
    return status;
}

// A name that does not fit writes nothing and leaves *lpcchName as it was. Keys have no class here:
// a class asked for is "". No time is written.
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                      LPSTR lpClass, LPDWORD lpcchClass, PFILETIME)
{
    if (lpName == NULL || lpcchName == NULL)
        return ERROR_INVALID_PARAMETER;
    KeyView view;
    LSTATUS status = ResolveKey(hKey, &view);
    if (status != ERROR_SUCCESS)
        return status;
    const char* pchName;
    size_t cchName;
    if (!FindSubkey(view, dwIndex, &pchName, &cchName)) {
        status = ERROR_NO_MORE_ITEMS;
    } else if (cchName >= *lpcchName) {
        status = ERROR_MORE_DATA;
    } else {
        memcpy(lpName, pchName, cchName);
        lpName[cchName] = '\0';
        *lpcchName = (DWORD)cchName;
        if (lpClass != NULL && lpcchClass != NULL && *lpcchClass > 0)
            lpClass[0] = '\0';
        if (lpcchClass != NULL)
            *lpcchClass = 0;
    }
    ReleaseView(view);
    return status;
}

// Closing a root is allowed and does nothing, as on Windows.
LSTATUS RegCloseKey(HKEY hKey)
{
    if (IsRegistryRoot(hKey))
        return ERROR_SUCCESS;
    KeyView* pOpen = FindOpenKey(hKey);
    if (pOpen == NULL)
        return ERROR_INVALID_HANDLE;
    KeyView closed = *pOpen;
    *pOpen = KeyView{NULL, NULL, NULL, 0};
    ReleaseView(closed);
    return ERROR_SUCCESS;
}
