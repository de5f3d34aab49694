// The calling thread's last error, which GetLastError answers.
#ifndef ROMGATE_POSIX_LAST_ERROR_H
#define ROMGATE_POSIX_LAST_ERROR_H

#include "platform/winapi.h"

// Sets what GetLastError answers next on this thread.
void SetLastErrorCode(DWORD dwError);

#endif  // ROMGATE_POSIX_LAST_ERROR_H
