// Starting, waiting for and releasing child processes.
#include "platform/posix/process.h"

#include <errno.h>
#include <limits.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/command_line.h"
#include "platform/posix/last_error.h"
#include "platform/posix/paths.h"

extern char** environ;

// True when the Windows path names a regular file; its host path is then in pszHostPath.
static bool IsRegularFile(const char* pszWindowsPath, char* pszHostPath, size_t cbHostPath)
{
    struct stat st;
    return WindowsPathToHost(pszWindowsPath, pszHostPath, cbHostPath) &&
           stat(pszHostPath, &st) == 0 && S_ISREG(st.st_mode);
}

bool FindProgramInCommandLine(const char* pszCommandLine, char* pszHostPath, size_t cbHostPath)
{
    char szName[PATH_MAX];
    for (size_t iNext = 0; NextProgramName(pszCommandLine, &iNext, szName, sizeof(szName));)
        if (IsRegularFile(szName, pszHostPath, cbHostPath))
            return true;
    return false;
}

// The processes started and not yet released, each with a process and a thread handle (bOpen[0],
// bOpen[1]). A handle encodes its slot: a stale or foreign one is recognised, never dereferenced.
struct ChildSlot {
    pid_t pid;
    bool bOpen[2];
    bool bEnded;
};

static const uintptr_t kHandleBase = 0x5000;
static const size_t kChildSlots = 64;
static ChildSlot g_children[kChildSlots];

// The slot an open handle stands for, or NULL; *piKind is 0 for its process, 1 for its thread.
static ChildSlot* FindSlot(HANDLE hObject, int* piKind)
{
    uintptr_t offset = (uintptr_t)hObject - kHandleBase;
    size_t iSlot = offset / 8;
    *piKind = (int)(offset % 8 / 4);
    if (offset % 4 != 0 || iSlot >= kChildSlots || !g_children[iSlot].bOpen[*piKind])
        return NULL;
    return &g_children[iSlot];
}

static DWORD ErrorFromErrno(int error)
{
    if (error == ENOEXEC)
        return ERROR_BAD_EXE_FORMAT;
    if (error == ENOENT || error == ENOTDIR)
        return ERROR_FILE_NOT_FOUND;
    return error == ENOMEM || error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_ACCESS_DENIED;
}

// Starts the program at pszHostPath with argv, the launcher's environment and current directory,
// and only descriptors 0, 1 and 2: anything else the launcher holds (an X connection, a file being
// read) is not the child's. Gives 0 or an errno value.
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

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID lpEnvironment,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                    LPPROCESS_INFORMATION lpProcessInformation)
{
    char szHostPath[PATH_MAX];
    // 160 KiB, off the stack so that the calls below do not fault in fresh stack pages for the few
    // hundred bytes a launcher's line uses. Like the child table, they serve one call at a time.
    static char szStorage[COMMAND_LINE_MAX + 1];
    static char* argv[ARGUMENT_MAX + 1];
    size_t cArgs = 0, iSlot = 0;
    pid_t pid = 0;
    const char* pszLine = lpCommandLine != NULL ? lpCommandLine : lpApplicationName;
    // Another environment or directory for the child is not offered here.
    if (pszLine == NULL || lpProcessInformation == NULL || lpEnvironment != NULL ||
        lpCurrentDirectory != NULL ||
        !SplitCommandLine(pszLine, szStorage, sizeof(szStorage), argv,
                          sizeof(argv) / sizeof(argv[0]), &cArgs))
        return Fail(ERROR_INVALID_PARAMETER);
    if (lpApplicationName != NULL
            ? !IsRegularFile(lpApplicationName, szHostPath, sizeof(szHostPath))
            : !FindProgramInCommandLine(pszLine, szHostPath, sizeof(szHostPath)))
        return Fail(ERROR_FILE_NOT_FOUND);
    while (iSlot < kChildSlots && (g_children[iSlot].bOpen[0] || g_children[iSlot].bOpen[1]))
        iSlot++;
    if (iSlot == kChildSlots)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    int error = SpawnProgram(szHostPath, argv, &pid);
    if (error != 0)
        return Fail(ErrorFromErrno(error));
    g_children[iSlot] = ChildSlot{pid, {true, true}, false};
    lpProcessInformation->hProcess = (HANDLE)(kHandleBase + iSlot * 8);
    lpProcessInformation->hThread = (HANDLE)(kHandleBase + iSlot * 8 + 4);
    lpProcessInformation->dwProcessId = (DWORD)pid;
    lpProcessInformation->dwThreadId = (DWORD)pid;
    return TRUE;
}

// Reaps the child if it has ended (or, with bBlock, once it ends). Waits for that pid alone:
// grandchildren it left running do not count. False only when waiting itself failed.
static bool ReapChild(ChildSlot* pSlot, bool bBlock)
{
    while (!pSlot->bEnded) {
        pid_t result = waitpid(pSlot->pid, NULL, bBlock ? 0 : WNOHANG);
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

// Only a wait without limit is offered, the launcher's own: it waits for each child to end.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    int kind;
    ChildSlot* pSlot = FindSlot(hHandle, &kind);
    if (pSlot != NULL && dwMilliseconds == INFINITE && ReapChild(pSlot, true))
        return WAIT_OBJECT_0;
    SetLastErrorCode(pSlot == NULL ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
}

BOOL CloseHandle(HANDLE hObject)
{
    int kind;
    ChildSlot* pSlot = FindSlot(hObject, &kind);
    if (pSlot == NULL)
        return Fail(ERROR_INVALID_HANDLE);
    pSlot->bOpen[kind] = false;
    // A child released while running is left to end on its own; reap it now if it already has, so
    // it does not linger as a zombie.
    if (!pSlot->bOpen[0] && !pSlot->bOpen[1])
        ReapChild(pSlot, false);
    return TRUE;
}

// Linux has no elevation: the shell's start is an ordinary one, of lpFile with lpParameters as the
// rest of its command line.
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo)
{
    static char szLine[COMMAND_LINE_MAX + 1];
    PROCESS_INFORMATION processInfo;
    if (pExecInfo == NULL || pExecInfo->cbSize != sizeof(*pExecInfo) || pExecInfo->lpFile == NULL ||
        pExecInfo->lpDirectory != NULL)
        return Fail(ERROR_INVALID_PARAMETER);
    const char* pszParameters = pExecInfo->lpParameters != NULL ? pExecInfo->lpParameters : "";
    if (!SUCCEEDED(StringCchPrintfA(szLine, sizeof(szLine), "\"%s\" %s", pExecInfo->lpFile,
                                    pszParameters)))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!CreateProcessA(pExecInfo->lpFile, szLine, NULL, NULL, FALSE, 0, NULL, NULL, NULL,
                        &processInfo))
        return FALSE;
    CloseHandle(processInfo.hThread);
    pExecInfo->hProcess = processInfo.hProcess;
    if ((pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS) == 0) {
        CloseHandle(processInfo.hProcess);
        pExecInfo->hProcess = NULL;
    }
    return TRUE;
}
