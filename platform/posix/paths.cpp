// Windows paths looked up on a Linux machine: drives as directories of the prefix, and file names
// matched without regard to case where the exact case is missing. path_text reads their text.
#include "platform/posix/paths.h"

#include <ctype.h>
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/path_text.h"

bool GetPrefixDirectory(char* pszOut, size_t cbOut)
{
    const char* pszPrefix = getenv("ROMGATE_PREFIX");
    const char* pszHome = getenv("HOME");
    bool bFits = (pszPrefix != NULL && pszPrefix[0] != '\0')
                     ? JoinText(pszOut, cbOut, pszPrefix, "")
                     : JoinText(pszOut, cbOut, pszHome != NULL ? pszHome : "", "/.romgate");
    if (bFits)
        TrimTrailingSlashes(pszOut);
    return bFits;
}

// The host directory that stands for drive letter chDrive (either case): its dosdevices entry in
// the prefix when there is one, else the built-in default. False when the letter names nothing or
// the path does not fit.
static bool GetDriveRoot(char chDrive, char* pszOut, size_t cbOut)
{
    char szPrefix[PATH_MAX];
    char chLetter = (char)tolower((unsigned char)chDrive);
    struct stat st;
    if (!GetPrefixDirectory(szPrefix, sizeof(szPrefix)))
        return false;
    // lstat: a dosdevices entry that is a dangling link still claims the letter, as in a Wine
    // prefix; it simply names no files.
    char szEntry[] = "/dosdevices/?:";
    szEntry[sizeof(szEntry) - 3] = chLetter;
    if (JoinText(pszOut, cbOut, szPrefix, szEntry) && lstat(pszOut, &st) == 0)
        return true;
    if (chLetter == 'c')
        return JoinText(pszOut, cbOut, szPrefix, "/drive_c");
    if (chLetter == 'z')
        return JoinText(pszOut, cbOut, "/", "");
    return false;
}

// Replaces the component just appended at pszOut + cchBase (cch bytes) by the directory entry that
// matches it case-insensitively, if there is one.
static void MatchCaseInsensitively(char* pszOut, size_t cchBase, size_t cch)
{
    char chSaved = pszOut[cchBase];
    pszOut[cchBase] = '\0';
    DIR* pDir = opendir(pszOut);
    pszOut[cchBase] = chSaved;
    if (pDir == NULL)
        return;
    for (struct dirent* pEntry = readdir(pDir); pEntry != NULL; pEntry = readdir(pDir)) {
        if (strlen(pEntry->d_name) == cch &&
            strncasecmp(pEntry->d_name, pszOut + cchBase, cch) == 0) {
            memcpy(pszOut + cchBase, pEntry->d_name, cch);
            break;
        }
    }
    closedir(pDir);
}

// Appends "/<component>" to the host path of *pcchOut bytes in pszOut, choosing the entry's real
// case when the exact case does not exist.
static bool AppendComponent(char* pszOut, size_t cbOut, size_t* pcchOut, const char* pchComponent,
                            size_t cch)
{
    size_t cchBase = *pcchOut;
    bool bSlash = pszOut[cchBase - 1] != '/';
    if (cchBase + bSlash + cch >= cbOut)
        return false;
    if (bSlash)
        pszOut[cchBase++] = '/';
    memcpy(pszOut + cchBase, pchComponent, cch);
    pszOut[cchBase + cch] = '\0';
    *pcchOut = cchBase + cch;
    struct stat st;
    if (lstat(pszOut, &st) != 0)
        MatchCaseInsensitively(pszOut, cchBase, cch);
    return true;
}

// Puts into pszOut the host directory that a Windows path starts from and gives back the rest of
// the path. *pcchRoot is how far ".." may climb back.
static const char* GetStartDirectory(const char* pszPath, char* pszOut, size_t cbOut,
                                     size_t* pcchRoot)
{
    char szCwd[PATH_MAX], szWindowsCwd[PATH_MAX];
    const char* pszRest = NULL;
    char chDrive = 0;
    PathStart start = ReadPathStart(pszPath, &chDrive, &pszRest);
    bool bFound;
    if (start == kStartOnDrive)
        bFound = GetDriveRoot(chDrive, pszOut, cbOut);
    else if (start == kStartOnCurrentDrive)
        bFound = getcwd(szCwd, sizeof(szCwd)) != NULL &&
                 HostPathToWindows(szCwd, szWindowsCwd, sizeof(szWindowsCwd)) &&
                 GetDriveRoot(szWindowsCwd[0], pszOut, cbOut);
    else
        bFound = getcwd(pszOut, cbOut) != NULL;
    if (!bFound)
        return NULL;
    size_t cch = TrimTrailingSlashes(pszOut);
    // A relative path may climb out of the current directory, up to "/".
    *pcchRoot = start == kStartRelative ? 1 : cch;
    return pszRest;
}

bool WindowsPathToHost(const char* pszWindowsPath, char* pszOut, size_t cbOut)
{
    size_t cchRoot = 0;
    if (pszWindowsPath == NULL || pszOut == NULL || cbOut == 0)
        return false;
    const char* p = GetStartDirectory(pszWindowsPath, pszOut, cbOut, &cchRoot);
    if (p == NULL)
        return false;
    size_t cchOut = strlen(pszOut), cch;
    for (const char* pch; (cch = NextPathComponent(&p, &pch)) > 0;) {
        if (cch == 2 && pch[0] == '.' && pch[1] == '.')
            RemoveLastComponent(pszOut, &cchOut, cchRoot);
        else if (!(cch == 1 && pch[0] == '.') && !AppendComponent(pszOut, cbOut, &cchOut, pch, cch))
            return false;
    }
    return true;
}

bool HostPathToWindows(const char* pszHostPath, char* pszOut, size_t cbOut)
{
    char szReal[PATH_MAX], szPrefix[PATH_MAX], szRoot[PATH_MAX], szRealRoot[PATH_MAX];
    char chDrive = 'z';
    size_t cchBest = 0;
    struct stat st;
    if (pszHostPath == NULL || pszHostPath[0] != '/' || pszOut == NULL)
        return false;
    // A path that does not exist yet keeps its spelling.
    const char* pszPath = realpath(pszHostPath, szReal) ? szReal : pszHostPath;
    bool bPrefix = GetPrefixDirectory(szPrefix, sizeof(szPrefix));
    // Without a dosdevices folder only the built-in C: can hold the path (Z: is the fallback), so
    // the other letters are not looked up one by one.
    bool bDosDevices = bPrefix && JoinText(szRoot, sizeof(szRoot), szPrefix, "/dosdevices") &&
                       lstat(szRoot, &st) == 0;
    // The deepest root wins, so a drive inside another drive is preferred.
    for (char ch = 'a'; bPrefix && ch < 'z'; ch++) {
        size_t cch;
        if ((bDosDevices || ch == 'c') && GetDriveRoot(ch, szRoot, sizeof(szRoot)) &&
            realpath(szRoot, szRealRoot) != NULL && IsPathUnder(pszPath, szRealRoot, &cch) &&
            (chDrive == 'z' || cch > cchBest)) {
            chDrive = ch;
            cchBest = cch;
        }
    }
    const char* pszRest = pszPath + cchBest;
    char szDrive[] = "?:";
    szDrive[0] = (char)toupper((unsigned char)chDrive);
    if (!JoinText(pszOut, cbOut, szDrive, pszRest[0] != '\0' ? pszRest : "/"))
        return false;
    UseBackslashes(pszOut);
    return true;
}
