// Starts FILE with PARAMETERS through Romgate.exe's own ShellExecuteExA, as
// the launcher does after a start refused for want of administrator rights,
// then waits for it and closes it; exits 0 when it did all three. Wine never
// refuses such a start, so the launcher never gets there under Wine.
#include <string.h>

#include "platform/winapi.h"

int main(int argc, char** argv)
{
    SHELLEXECUTEINFOA execInfo;
    memset(&execInfo, 0, sizeof(execInfo));
    execInfo.cbSize = sizeof(execInfo);
    execInfo.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    execInfo.lpVerb = "runas";
    execInfo.nShow = SW_SHOWNORMAL;
    if (argc != 3)
        return 2;
    execInfo.lpFile = argv[1];
    execInfo.lpParameters = argv[2];
    return ShellExecuteExA(&execInfo) && execInfo.hProcess != NULL &&
                   WaitForSingleObject(execInfo.hProcess, INFINITE) ==
                       WAIT_OBJECT_0 &&
                   CloseHandle(execInfo.hProcess)
               ? 0
               : 1;
}
