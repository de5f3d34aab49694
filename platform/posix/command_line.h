// The grammar of a Windows command line: the argv the Microsoft C runtime splits it into, and the
// names Windows tries for its program.
#ifndef ROMGATE_POSIX_COMMAND_LINE_H
#define ROMGATE_POSIX_COMMAND_LINE_H

#include <stddef.h>

// The longest command line Windows accepts, without the terminator.
#define COMMAND_LINE_MAX 32767
// The most arguments such a line can split into (one byte and a blank each).
#define ARGUMENT_MAX (COMMAND_LINE_MAX / 2 + 1)

// Splits a command line into argv as the Microsoft C runtime does: the program name up to the first
// blank outside quotes, quotes dropped and backslashes kept; then arguments where 2n backslashes
// and a quote give n backslashes and toggle quoting, 2n+1 backslashes and a quote give n and a
// literal quote, and "" inside quotes is a literal quote. The arguments are stored one after
// another, terminated, in pszStorage (strlen + 1 bytes is always enough); argv gets *pcArgs
// pointers and a NULL. False when storage or cArgvMax pointers (the NULL included) do not suffice.
bool SplitCommandLine(const char* pszCommandLine, char* pszStorage, size_t cbStorage, char** argv,
                      size_t cArgvMax, size_t* pcArgs);

// The next name, in the order Windows tries them, that a command line given without an application
// name may call its program: a quoted first token; otherwise the text up to each blank in turn,
// then the whole line. ".exe" is added where the last component has no extension. *piNext starts at
// 0 and moves on with each name; a name that is empty or does not fit cbName with its terminator is
// passed over. False when no name is left.
bool NextProgramName(const char* pszCommandLine, size_t* piNext, char* pszName, size_t cbName);

#endif  // ROMGATE_POSIX_COMMAND_LINE_H
