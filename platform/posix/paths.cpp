// Windows paths on a Linux machine: drives as directories of the prefix, and
// file names matched without regard to case where the exact case is missing.
#include "platform/posix/paths.h"

#include <ctype.h>
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static bool IsSeparator(char ch)
{
    return ch == '\\' || ch == '/';
}

// Puts pszFirst then pszSecond into pszOut; false when they do not fit with
// the terminator. Paths are only joined here, never formatted: the printf
// machinery is more code to load than all of this file.
static bool JoinText(char* pszOut, size_t cbOut, const char* pszFirst,
                     const char* pszSecond)
{
    size_t cchFirst = strlen(pszFirst);
    size_t cchSecond = strlen(pszSecond);
    if (cchFirst + cchSecond >= cbOut)
        return false;
    memmove(pszOut, pszFirst, cchFirst);
    memmove(pszOut + cchFirst, pszSecond, cchSecond);
    pszOut[cchFirst + cchSecond] = '\0';
    return true;
}

bool GetPrefixDirectory(char* pszOut, size_t cbOut)
{
    const char* pszPrefix = getenv("ROMGATE_PREFIX");
    const char* pszHome = getenv("HOME");
    bool bFits = (pszPrefix != NULL && pszPrefix[0] != '\0')
                     ? JoinText(pszOut, cbOut, pszPrefix, "")
                     : JoinText(pszOut, cbOut, pszHome != NULL ? pszHome : "",
                                "/.romgate");
    if (!bFits)
        return false;
    size_t cch = strlen(pszOut);
    while (cch > 1 && pszOut[cch - 1] == '/')
        pszOut[--cch] = '\0';
    return true;
}

bool GetPrefixPath(const char* pszName, char* pszOut, size_t cbOut)
{
    char szPrefix[PATH_MAX];
    char szDirectory[PATH_MAX];
    return GetPrefixDirectory(szPrefix, sizeof(szPrefix)) &&
           JoinText(szDirectory, sizeof(szDirectory), szPrefix, "/") &&
           JoinText(pszOut, cbOut, szDirectory, pszName);
}

// The host directory that stands for drive chDrive (either case) in the
// prefix pszPrefix: its dosdevices entry when there is one, else the
// built-in default. False when the letter names nothing or the path does
// not fit.
static bool GetDriveRootIn(const char* pszPrefix, char chDrive, char* pszOut,
                           size_t cbOut)
{
    char chLetter = (char)tolower((unsigned char)chDrive);
    struct stat st;
    if (chLetter < 'a' || chLetter > 'z')
        return false;
    // lstat: a dosdevices entry that is a dangling link still claims the
    // letter, as in a Wine prefix; it simply names no files.
    char szEntry[] = "/dosdevices/?:";
    szEntry[sizeof(szEntry) - 3] = chLetter;
    if (JoinText(pszOut, cbOut, pszPrefix, szEntry) && lstat(pszOut, &st) == 0)
        return true;
    if (chLetter == 'c')
        return JoinText(pszOut, cbOut, pszPrefix, "/drive_c");
    if (chLetter == 'z')
        return JoinText(pszOut, cbOut, "/", "");
    return false;
}

static bool GetDriveRoot(char chDrive, char* pszOut, size_t cbOut)
{
    char szPrefix[PATH_MAX];
    return GetPrefixDirectory(szPrefix, sizeof(szPrefix)) &&
           GetDriveRootIn(szPrefix, chDrive, pszOut, cbOut);
}

// Replaces the component just appended at pszOut + cchBase (cch bytes) by
// the directory entry that matches it case-insensitively, if there is one.
static void MatchCaseInsensitively(char* pszOut, size_t cchBase, size_t cch)
{
    char chSaved = pszOut[cchBase];
    pszOut[cchBase] = '\0';
    DIR* pDir = opendir(pszOut);
    pszOut[cchBase] = chSaved;
    if (pDir == NULL)
        return;
    for (struct dirent* pEntry = readdir(pDir); pEntry != NULL;
         pEntry = readdir(pDir)) {
        if (strlen(pEntry->d_name) == cch &&
            strncasecmp(pEntry->d_name, pszOut + cchBase, cch) == 0) {
            memcpy(pszOut + cchBase, pEntry->d_name, cch);
            break;
        }
    }
    closedir(pDir);
}

// Appends "/<component>" to the host path of *pcchOut bytes in pszOut,
// choosing the entry's real case when the exact case does not exist.
static bool AppendComponent(char* pszOut, size_t cbOut, size_t* pcchOut,
                            const char* pchComponent, size_t cch)
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

// Drops the last component of the host path, never shortening it below
// cchRoot bytes: ".." at a drive's root stays at the root, as on Windows.
static void RemoveComponent(char* pszOut, size_t* pcchOut, size_t cchRoot)
{
    size_t cch = *pcchOut;
    while (cch > cchRoot && pszOut[cch - 1] != '/')
        cch--;
    while (cch > cchRoot && cch > 1 && pszOut[cch - 1] == '/')
        cch--;
    pszOut[cch] = '\0';
    *pcchOut = cch;
}

// Puts into pszOut the host directory that a Windows path starts from and
// gives back the rest of the path. *pcchRoot is how far ".." may climb back.
static const char* GetStartDirectory(const char* pszPath, char* pszOut,
                                     size_t cbOut, size_t* pcchRoot)
{
    char szCwd[PATH_MAX];
    char szWindowsCwd[PATH_MAX];
    const char* pszRest = pszPath;
    bool bRelative = false;
    bool bFound;
    if (isalpha((unsigned char)pszPath[0]) && pszPath[1] == ':') {
        bFound = GetDriveRoot(pszPath[0], pszOut, cbOut);
        pszRest = pszPath + 2;
    } else if (IsSeparator(pszPath[0])) {
        bFound = getcwd(szCwd, sizeof(szCwd)) != NULL &&
                 HostPathToWindows(szCwd, szWindowsCwd, sizeof(szWindowsCwd)) &&
                 GetDriveRoot(szWindowsCwd[0], pszOut, cbOut);
    } else {
        bRelative = true;
        bFound = getcwd(pszOut, cbOut) != NULL;
    }
    if (!bFound)
        return NULL;
    size_t cch = strlen(pszOut);
    while (cch > 1 && pszOut[cch - 1] == '/')
        pszOut[--cch] = '\0';
    // A relative path may climb out of the current directory, up to "/".
    *pcchRoot = bRelative ? 1 : cch;
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
    size_t cchOut = strlen(pszOut);
    while (*p != '\0') {
        while (IsSeparator(*p))
            p++;
        size_t cch = strcspn(p, "\\/");
        if (cch == 2 && p[0] == '.' && p[1] == '.')
            RemoveComponent(pszOut, &cchOut, cchRoot);
        else if (cch > 0 && !(cch == 1 && p[0] == '.') &&
                 !AppendComponent(pszOut, cbOut, &cchOut, p, cch))
            return false;
        p += cch;
    }
    return true;
}

// True when the host path lies at or under the directory pszRoot (which has
// no trailing slash unless it is "/"); *pcchRoot is the length to skip.
static bool IsUnder(const char* pszPath, const char* pszRoot, size_t* pcchRoot)
{
    size_t cch = strcmp(pszRoot, "/") == 0 ? 0 : strlen(pszRoot);
    *pcchRoot = cch;
    return strncmp(pszPath, pszRoot, cch) == 0 &&
           (pszPath[cch] == '/' || pszPath[cch] == '\0');
}

bool HostPathToWindows(const char* pszHostPath, char* pszOut, size_t cbOut)
{
    char szReal[PATH_MAX];
    char szPrefix[PATH_MAX];
    char szRoot[PATH_MAX];
    char szRealRoot[PATH_MAX];
    char chDrive = 'z';
    size_t cchBest = 0;
    struct stat st;
    if (pszHostPath == NULL || pszHostPath[0] != '/' || pszOut == NULL)
        return false;
    // A path that does not exist yet keeps its spelling.
    const char* pszPath = realpath(pszHostPath, szReal) ? szReal : pszHostPath;
    bool bPrefix = GetPrefixDirectory(szPrefix, sizeof(szPrefix));
    // Without a dosdevices folder only the built-in C: can hold the path
    // (Z: is the fallback), so the other letters are not looked up one by one.
    bool bDosDevices =
        bPrefix && JoinText(szRoot, sizeof(szRoot), szPrefix, "/dosdevices") &&
        lstat(szRoot, &st) == 0;
    // The deepest root wins, so a drive inside another drive is preferred.
    for (char ch = 'a'; bPrefix && ch < 'z'; ch++) {
        size_t cch;
        if ((bDosDevices || ch == 'c') &&
            GetDriveRootIn(szPrefix, ch, szRoot, sizeof(szRoot)) &&
            realpath(szRoot, szRealRoot) != NULL &&
            IsUnder(pszPath, szRealRoot, &cch) &&
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
    for (char* q = pszOut; *q != '\0'; q++) {
        if (*q == '/')
            *q = '\\';
    }
    return true;
}
