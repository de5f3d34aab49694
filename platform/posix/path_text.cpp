#include "platform/posix/path_text.h"

#include <ctype.h>
#include <string.h>

static bool IsSeparator(char ch)
{
    return ch == '\\' || ch == '/';
}

bool JoinText(char* pszOut, size_t cbOut, const char* pszFirst, const char* pszSecond)
{
    size_t cchFirst = strlen(pszFirst), cchSecond = strlen(pszSecond);
    if (cchFirst + cchSecond >= cbOut)
        return false;
    memmove(pszOut, pszFirst, cchFirst);
    memmove(pszOut + cchFirst, pszSecond, cchSecond);
    pszOut[cchFirst + cchSecond] = '\0';
    return true;
}

PathStart ReadPathStart(const char* pszPath, char* pchDrive, const char** ppszRest)
{
    *ppszRest = pszPath;
    if (isalpha((unsigned char)pszPath[0]) && pszPath[1] == ':') {
        *pchDrive = pszPath[0];
        *ppszRest = pszPath + 2;
        return kStartOnDrive;
    }
    return IsSeparator(pszPath[0]) ? kStartOnCurrentDrive : kStartRelative;
}

size_t NextPathComponent(const char** pp, const char** ppch)
{
    while (IsSeparator(**pp))
        ++*pp;
    size_t cch = strcspn(*pp, "\\/");
    *ppch = *pp;
    *pp += cch;
    return cch;
}

size_t TrimTrailingSlashes(char* pszPath)
{
    size_t cch = strlen(pszPath);
    while (cch > 1 && pszPath[cch - 1] == '/')
        pszPath[--cch] = '\0';
    return cch;
}

void RemoveLastComponent(char* pszPath, size_t* pcch, size_t cchRoot)
{
    size_t cch = *pcch;
    while (cch > cchRoot && pszPath[cch - 1] != '/')
        cch--;
    while (cch > cchRoot && cch > 1 && pszPath[cch - 1] == '/')
        cch--;
    pszPath[cch] = '\0';
    *pcch = cch;
}

bool IsPathUnder(const char* pszPath, const char* pszRoot, size_t* pcchRoot)
{
    size_t cch = strcmp(pszRoot, "/") == 0 ? 0 : strlen(pszRoot);
    *pcchRoot = cch;
    return strncmp(pszPath, pszRoot, cch) == 0 && (pszPath[cch] == '/' || pszPath[cch] == '\0');
}

void UseBackslashes(char* pszPath)
{
    for (char* p = pszPath; *p != '\0'; p++) {
        if (*p == '/')
            *p = '\\';
    }
}
