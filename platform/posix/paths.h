// Windows paths on a Linux machine, in the manner of a Wine prefix: $ROMGATE_PREFIX, or
// $HOME/.romgate when that is unset or empty. Drive X: is <prefix>/dosdevices/x: when that exists,
// else c: is <prefix>/drive_c and z: is /; other letters name nothing.
#ifndef ROMGATE_POSIX_PATHS_H
#define ROMGATE_POSIX_PATHS_H

#include <stddef.h>

// The prefix directory, without a trailing slash. False if it does not fit.
bool GetPrefixDirectory(char* pszOut, size_t cbOut);

// The host path that a Windows path names. "X:\a\b" is under the root of X:, "\a\b" under the drive
// of the current directory, a relative path is relative to the current directory. A component that
// does not exist with its exact case is matched case-insensitively. False when the drive names
// nothing or the result does not fit.
bool WindowsPathToHost(const char* pszWindowsPath, char* pszOut, size_t cbOut);

// The Windows path of an absolute host path: under the root of a drive other than Z:, that drive;
// otherwise Z: and the path with '/' turned into '\'. False if the result does not fit.
bool HostPathToWindows(const char* pszHostPath, char* pszOut, size_t cbOut);

#endif  // ROMGATE_POSIX_PATHS_H
