// The calling thread's last error, which GetLastError answers.
#ifndef ROMGATE_POSIX_LAST_ERROR_H
#define ROMGATE_POSIX_LAST_ERROR_H

#include "platform/winapi.h"

// Sets what GetLastError answers next on this thread.
void SetLastErrorCode(DWORD dwError);

// Sets the last error and gives FALSE, or 0: a failed call's answer.
inline BOOL Fail(DWORD dwError)
{
    SetLastErrorCode(dwError);
    return FALSE;
}

#endif  // ROMGATE_POSIX_LAST_ERROR_H
