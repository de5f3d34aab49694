// Starting, waiting for and releasing child processes.
#include "process.h"

#include <errno.h>
#include <limits.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "paths.h"

extern char** environ;

// A bounded writer over the caller's argument storage.
struct ArgumentWriter {
    char* pBuffer;
    size_t cbBuffer;
    size_t cbUsed;
    bool bOverflow;
};

static void Put(ArgumentWriter* pWriter, char ch)
{
    if (pWriter->cbUsed < pWriter->cbBuffer)
        pWriter->pBuffer[pWriter->cbUsed++] = ch;
    else
        pWriter->bOverflow = true;
}

static bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

// Copies the program name, the first token: quotes only group, backslashes
// are plain characters (a path such as C:\dir\ must survive). Gives back
// where the rest of the line starts.
static const char* ParseProgramName(const char* p, ArgumentWriter* pWriter)
{
    bool bInQuotes = false;
    for (; *p != '\0' && (bInQuotes || !IsBlank(*p)); p++) {
        if (*p == '"')
            bInQuotes = !bInQuotes;
        else
            Put(pWriter, *p);
    }
    Put(pWriter, '\0');
    return p;
}

// Copies one argument by the runtime's backslash and quote rules and gives
// back where it ended.
static const char* ParseArgument(const char* p, ArgumentWriter* pWriter)
{
    bool bInQuotes = false;
    for (;;) {
        size_t cSlashes = 0;
        bool bCopy = true;
        while (*p == '\\') {
            p++;
            cSlashes++;
        }
        if (*p == '"') {
            if (cSlashes % 2 == 0) {
                if (bInQuotes && p[1] == '"')
                    p++;
                else {
                    bCopy = false;
                    bInQuotes = !bInQuotes;
                }
            }
            cSlashes /= 2;
        }
        for (; cSlashes > 0; cSlashes--)
            Put(pWriter, '\\');
        if (*p == '\0' || (!bInQuotes && IsBlank(*p)))
            break;
        if (bCopy)
            Put(pWriter, *p);
        p++;
    }
    Put(pWriter, '\0');
    return p;
}

bool SplitCommandLine(const char* pszCommandLine, char* pszStorage,
                      size_t cbStorage, char** argv, size_t cArgvMax,
                      size_t* pcArgs)
{
    ArgumentWriter writer = {pszStorage, cbStorage, 0, false};
    size_t cArgs = 0;
    if (cArgvMax < 2)
        return false;
    argv[cArgs++] = pszStorage;
    const char* p = ParseProgramName(pszCommandLine, &writer);
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (*p == '\0')
            break;
        if (cArgs + 1 >= cArgvMax)
            return false;
        argv[cArgs++] = pszStorage + writer.cbUsed;
        p = ParseArgument(p, &writer);
    }
    argv[cArgs] = NULL;
    *pcArgs = cArgs;
    return !writer.bOverflow;
}

// True when the Windows path names a regular file; its host path is then
// in pszHostPath.
static bool IsRegularFile(const char* pszWindowsPath, char* pszHostPath,
                          size_t cbHostPath)
{
    struct stat st;
    return WindowsPathToHost(pszWindowsPath, pszHostPath, cbHostPath) &&
           stat(pszHostPath, &st) == 0 && S_ISREG(st.st_mode);
}

// True when the first cch bytes of pchName, with ".exe" added where its
// last component has no extension, name a regular file; its host path is
// then in pszHostPath.
static bool NamesProgram(const char* pchName, size_t cch, char* pszHostPath,
                         size_t cbHostPath)
{
    char szName[PATH_MAX];
    if (cch == 0 || cch + sizeof(".exe") > sizeof(szName))
        return false;
    memcpy(szName, pchName, cch);
    szName[cch] = '\0';
    size_t cchDirectory = cch;
    while (cchDirectory > 0 && szName[cchDirectory - 1] != '\\' &&
           szName[cchDirectory - 1] != '/')
        cchDirectory--;
    if (strchr(szName + cchDirectory, '.') == NULL)
        memcpy(szName + cch, ".exe", sizeof(".exe"));
    return IsRegularFile(szName, pszHostPath, cbHostPath);
}

bool FindProgramInCommandLine(const char* pszCommandLine, char* pszHostPath,
                              size_t cbHostPath)
{
    const char* p = pszCommandLine;
    if (p[0] == '"') {
        const char* pEnd = strchr(p + 1, '"');
        size_t cch = pEnd != NULL ? (size_t)(pEnd - p - 1) : strlen(p + 1);
        return NamesProgram(p + 1, cch, pszHostPath, cbHostPath);
    }
    // Each blank might end the program's name: "C:\Program Files\x.exe"
    // is tried as "C:\Program" first, which is why callers quote.
    for (size_t cch = 0;; cch++) {
        if ((p[cch] == '\0' || IsBlank(p[cch])) &&
            NamesProgram(p, cch, pszHostPath, cbHostPath))
            return true;
        if (p[cch] == '\0')
            return false;
    }
}

// The processes started and not yet released, each with a process and a
// thread handle (index 0 and 1 of bOpen). A handle encodes its slot, so a
// stale or foreign one is recognised, never dereferenced.
struct ChildSlot {
    pid_t pid;
    bool bOpen[2];
    bool bEnded;
};

static const uintptr_t HANDLE_BASE = 0x5000;
static const size_t CHILD_SLOTS = 64;
static ChildSlot g_children[CHILD_SLOTS];

// The slot an open handle stands for, or NULL; *piKind is 0 for the
// process handle, 1 for the thread handle.
static ChildSlot* FindSlot(HANDLE hObject, int* piKind)
{
    uintptr_t offset = (uintptr_t)hObject - HANDLE_BASE;
    size_t iSlot = offset / 8;
    *piKind = (int)(offset % 8 / 4);
    if (offset % 4 != 0 || iSlot >= CHILD_SLOTS ||
        !g_children[iSlot].bOpen[*piKind])
        return NULL;
    return &g_children[iSlot];
}

static DWORD ErrorFromErrno(int error)
{
    if (error == ENOEXEC)
        return ERROR_BAD_EXE_FORMAT;
    if (error == ENOENT || error == ENOTDIR)
        return ERROR_FILE_NOT_FOUND;
    return error == ENOMEM || error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY
                                              : ERROR_ACCESS_DENIED;
}

// Starts the program at pszHostPath with argv, the launcher's environment
// and current directory, and only descriptors 0, 1 and 2: anything else the
// launcher holds (an X connection, a file being read) is not the child's.
// Gives 0 or an errno value.
static int SpawnProgram(const char* pszHostPath, char** argv, pid_t* pPid)
{
    posix_spawn_file_actions_t actions;
    int error = posix_spawn_file_actions_init(&actions);
    if (error != 0)
        return error;
    error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (error == 0)
        error = posix_spawn(pPid, pszHostPath, &actions, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

static BOOL Fail(DWORD dwError)
{
    SetLastErrorCode(dwError);
    return FALSE;
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA, LPPROCESS_INFORMATION lpProcessInformation)
{
    char szHostPath[PATH_MAX];
    // Sized for the longest command line, 160 KiB together: on the stack
    // they would put every call below (the program search, its paths) on
    // fresh stack pages, each a page fault, though a launcher's line uses a
    // few hundred bytes of them. Like the child table, they serve one
    // CreateProcessA at a time.
    static char szStorage[COMMAND_LINE_MAX + 1];
    static char* argv[ARGUMENT_MAX + 1];
    size_t cArgs = 0;
    size_t iSlot = 0;
    pid_t pid = 0;
    const char* pszLine = lpCommandLine != NULL ? lpCommandLine
                                                : lpApplicationName;
    // Another environment or directory for the child is not offered here.
    if (pszLine == NULL || lpProcessInformation == NULL ||
        lpEnvironment != NULL || lpCurrentDirectory != NULL ||
        !SplitCommandLine(pszLine, szStorage, sizeof(szStorage), argv,
                          sizeof(argv) / sizeof(argv[0]), &cArgs))
        return Fail(ERROR_INVALID_PARAMETER);
    if (lpApplicationName != NULL
            ? !IsRegularFile(lpApplicationName, szHostPath, sizeof(szHostPath))
            : !FindProgramInCommandLine(pszLine, szHostPath,
                                        sizeof(szHostPath)))
        return Fail(ERROR_FILE_NOT_FOUND);
    while (iSlot < CHILD_SLOTS &&
           (g_children[iSlot].bOpen[0] || g_children[iSlot].bOpen[1]))
        iSlot++;
    if (iSlot == CHILD_SLOTS)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    int error = SpawnProgram(szHostPath, argv, &pid);
    if (error != 0)
        return Fail(ErrorFromErrno(error));
    g_children[iSlot] = ChildSlot{pid, {true, true}, false};
    lpProcessInformation->hProcess = (HANDLE)(HANDLE_BASE + iSlot * 8);
    lpProcessInformation->hThread = (HANDLE)(HANDLE_BASE + iSlot * 8 + 4);
    lpProcessInformation->dwProcessId = (DWORD)pid;
    lpProcessInformation->dwThreadId = (DWORD)pid;
    return TRUE;
}

// Reaps the child if it has ended (or, with bBlock, once it ends). Waits
// for that pid alone: grandchildren it left running do not count. False
// only when waiting itself failed.
static bool ReapChild(ChildSlot* pSlot, bool bBlock)
{
    while (!pSlot->bEnded) {
        int status;
        pid_t result = waitpid(pSlot->pid, &status, bBlock ? 0 : WNOHANG);
        // ECHILD: someone else reaped it (SIGCHLD ignored); it has ended.
        if (result == pSlot->pid || (result < 0 && errno == ECHILD))
            pSlot->bEnded = true;
        else if (result == 0)
            return true;
        else if (errno != EINTR)
            return false;
    }
    return true;
}

// INFINITE blocks in waitpid. A finite time is polled every 10 ms: the
// launcher itself only ever waits without limit.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    const DWORD POLL_MILLISECONDS = 10;
    const struct timespec pollInterval = {0, POLL_MILLISECONDS * 1000000L};
    int kind;
    ChildSlot* pSlot = FindSlot(hHandle, &kind);
    for (DWORD waited = 0; pSlot != NULL; waited += POLL_MILLISECONDS) {
        if (!ReapChild(pSlot, dwMilliseconds == INFINITE))
            break;
        if (pSlot->bEnded)
            return WAIT_OBJECT_0;
        if (waited >= dwMilliseconds)
            return WAIT_TIMEOUT;
        nanosleep(&pollInterval, NULL);
    }
    SetLastErrorCode(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

BOOL CloseHandle(HANDLE hObject)
{
    int kind;
    ChildSlot* pSlot = FindSlot(hObject, &kind);
    if (pSlot == NULL)
        return Fail(ERROR_INVALID_HANDLE);
    pSlot->bOpen[kind] = false;
    // A child released while running is left to end on its own; reap it
    // now if it already has, so it does not linger as a zombie.
    if (!pSlot->bOpen[0] && !pSlot->bOpen[1])
        ReapChild(pSlot, false);
    return TRUE;
}

// Linux has no elevation: the shell's start is an ordinary one, of lpFile
// with lpParameters as the rest of its command line.
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo)
{
    static char szLine[COMMAND_LINE_MAX + 1];
    PROCESS_INFORMATION processInfo;
    if (pExecInfo == NULL || pExecInfo->cbSize != sizeof(*pExecInfo) ||
        pExecInfo->lpFile == NULL || pExecInfo->lpDirectory != NULL)
        return Fail(ERROR_INVALID_PARAMETER);
    const char* pszParameters =
        pExecInfo->lpParameters != NULL ? pExecInfo->lpParameters : "";
    if (!SUCCEEDED(StringCchPrintfA(szLine, sizeof(szLine), "\"%s\" %s",
                                    pExecInfo->lpFile, pszParameters)))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!CreateProcessA(pExecInfo->lpFile, szLine, NULL, NULL, FALSE, 0, NULL,
                        NULL, NULL, &processInfo))
        return FALSE;
    CloseHandle(processInfo.hThread);
    pExecInfo->hProcess = processInfo.hProcess;
    if ((pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS) == 0) {
        CloseHandle(processInfo.hProcess);
        pExecInfo->hProcess = NULL;
    }
    return TRUE;
}
