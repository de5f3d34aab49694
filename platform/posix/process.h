// Child processes and the calling thread's last error on the hosted layer:
// the pieces behind CreateProcessA that tests reach directly.
#ifndef ROMGATE_POSIX_PROCESS_H
#define ROMGATE_POSIX_PROCESS_H

#include <stddef.h>

#include "platform/winapi.h"

// The longest command line Windows accepts, without the terminator.
#define COMMAND_LINE_MAX 32767
// The most arguments such a line can split into (one byte and a blank each).
#define ARGUMENT_MAX (COMMAND_LINE_MAX / 2 + 1)
// WaitForSingleObject's answer when the time ran out first.
#define WAIT_TIMEOUT 258u

// Sets what GetLastError answers next on this thread.
void SetLastErrorCode(DWORD dwError);

// Splits a command line into argv as the Microsoft C runtime does: the
// program name up to the first blank outside quotes, quotes dropped and
// backslashes kept; then arguments where 2n backslashes and a quote give n
// backslashes and toggle quoting, 2n+1 backslashes and a quote give n and a
// literal quote, and "" inside quotes is a literal quote. The arguments are
// stored one after another, terminated, in pszStorage (strlen + 1 bytes is
// always enough); argv gets *pcArgs pointers and a NULL. False when storage
// or cArgvMax pointers (the NULL included) do not suffice.
bool SplitCommandLine(const char* pszCommandLine, char* pszStorage,
                      size_t cbStorage, char** argv, size_t cArgvMax,
                      size_t* pcArgs);

// Finds the program a command line names, as Windows does without an
// application name: a quoted first token is the program; otherwise the text
// up to each blank in turn, then the whole line. ".exe" is added where the
// last component has no extension. Gives the host path of the first that is
// a regular file; false when none is or the path does not fit.
bool FindProgramInCommandLine(const char* pszCommandLine, char* pszHostPath,
                              size_t cbHostPath);

#endif  // ROMGATE_POSIX_PROCESS_H
