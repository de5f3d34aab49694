// The text of paths, Windows' and the host's, with no file system call: paths.cpp looks them up.
#ifndef ROMGATE_POSIX_PATH_TEXT_H
#define ROMGATE_POSIX_PATH_TEXT_H

#include <stddef.h>

// Puts pszFirst then pszSecond into pszOut; false when they do not fit with the terminator. Paths
// are joined, not formatted: printf is more code to load than all of the path code.
bool JoinText(char* pszOut, size_t cbOut, const char* pszFirst, const char* pszSecond);

// Where a Windows path starts: "X:" on drive X, a separator at the root of the current directory's
// drive, anything else in the current directory.
enum PathStart { kStartOnDrive, kStartOnCurrentDrive, kStartRelative };

// How pszPath starts: *pchDrive its drive letter (kStartOnDrive), *ppszRest what follows it.
PathStart ReadPathStart(const char* pszPath, char* pchDrive, const char** ppszRest);

// The next component of the Windows path at *pp, the separators ('\' or '/') before it skipped: its
// start in *ppch and its length, 0 at the end. *pp moves past it.
size_t NextPathComponent(const char** pp, const char** ppch);

// Removes the trailing slashes of a host path, keeping "/" itself; gives its length.
size_t TrimTrailingSlashes(char* pszPath);

// Drops the last component of the host path of *pcch bytes, never shortening it below cchRoot
// bytes: ".." at a drive's root stays at the root.
void RemoveLastComponent(char* pszPath, size_t* pcch, size_t cchRoot);

// True when the host path lies at or under the directory pszRoot (no trailing slash unless it is
// "/"); *pcchRoot is the length to skip.
bool IsPathUnder(const char* pszPath, const char* pszRoot, size_t* pcchRoot);

// Turns the host path's '/' into Windows' '\'.
void UseBackslashes(char* pszPath);

#endif  // ROMGATE_POSIX_PATH_TEXT_H
