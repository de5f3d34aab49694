// Child processes on the hosted layer: the program search behind CreateProcessA, for the tests.
#ifndef ROMGATE_POSIX_PROCESS_H
#define ROMGATE_POSIX_PROCESS_H

#include <stddef.h>

// Finds the program a command line names, as Windows does without an application name: the first
// name of NextProgramName (command_line.h) that is a regular file. Gives its host path; false when
// none is or the path does not fit.
bool FindProgramInCommandLine(const char* pszCommandLine, char* pszHostPath, size_t cbHostPath);

#endif  // ROMGATE_POSIX_PROCESS_H
