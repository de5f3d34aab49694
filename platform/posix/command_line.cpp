#include "platform/posix/command_line.h"

#include <string.h>

#include "platform/posix/text.h"

namespace {

// Copies the program name, the first token: quotes only group, backslashes are plain characters (a
// path such as C:\dir\ must survive). Gives back where the rest of the line starts.
const char* ParseProgramName(const char* p, ByteWriter* pWriter)
{
    bool bInQuotes = false;
    for (; *p != '\0' && (bInQuotes || !IsBlank(*p)); p++) {
        if (*p == '"')
            bInQuotes = !bInQuotes;
        else
            Put(pWriter, (unsigned char)*p);
    }
    Put(pWriter, '\0');
    return p;
}

// Copies one argument by the runtime's backslash and quote rules and gives back where it ended.
const char* ParseArgument(const char* p, ByteWriter* pWriter)
{
    bool bInQuotes = false;
    for (;;) {
        size_t cSlashes = 0;
        bool bCopy = true;
        while (*p == '\\') {
            p++;
            cSlashes++;
        }
        if (*p == '"') {
            if (cSlashes % 2 == 0) {
                if (bInQuotes && p[1] == '"')
                    p++;
                else {
                    bCopy = false;
                    bInQuotes = !bInQuotes;
                }
            }
            cSlashes /= 2;
        }
        for (; cSlashes > 0; cSlashes--)
            Put(pWriter, '\\');
        if (*p == '\0' || (!bInQuotes && IsBlank(*p)))
            break;
        if (bCopy)
            Put(pWriter, (unsigned char)*p);
        p++;
    }
    Put(pWriter, '\0');
    return p;
}

}  // namespace

bool SplitCommandLine(const char* pszCommandLine, char* pszStorage, size_t cbStorage, char** argv,
                      size_t cArgvMax, size_t* pcArgs)
{
    ByteWriter writer = {(unsigned char*)pszStorage, cbStorage, 0};
    size_t cArgs = 0;
    if (cArgvMax < 2)
        return false;
    argv[cArgs++] = pszStorage;
    const char* p = ParseProgramName(pszCommandLine, &writer);
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (*p == '\0')
            break;
        if (cArgs + 1 >= cArgvMax || writer.cbPut > cbStorage)
            return false;
        argv[cArgs++] = pszStorage + writer.cbPut;
        p = ParseArgument(p, &writer);
    }
    argv[cArgs] = NULL;
    *pcArgs = cArgs;
    return writer.cbPut <= cbStorage;
}

bool NextProgramName(const char* pszCommandLine, size_t* piNext, char* pszName, size_t cbName)
{
    for (;;) {
        const char* p = pszCommandLine;
        size_t cch = *piNext;
        if (p[0] == '"') {
            // Only the quoted name is tried: it is the program or nothing.
            if (cch > 0)
                return false;
            const char* pEnd = strchr(++p, '"');
            cch = pEnd != NULL ? (size_t)(pEnd - p) : strlen(p);
            *piNext = 1;
        } else {
            // Each blank might end the program's name: "C:\Program Files\x.exe" is tried as
            // "C:\Program" first, which is why callers quote.
            if (cch > 0 && p[cch - 1] == '\0')
                return false;
            while (p[cch] != '\0' && !IsBlank(p[cch]))
                cch++;
            *piNext = cch + 1;
        }
        if (cch == 0 || cch + sizeof(".exe") > cbName)
            continue;
        memcpy(pszName, p, cch);
        pszName[cch] = '\0';
        size_t cchDirectory = cch;
        while (cchDirectory > 0 && pszName[cchDirectory - 1] != '\\' &&
               pszName[cchDirectory - 1] != '/')
            cchDirectory--;
        if (strchr(pszName + cchDirectory, '.') == NULL)
            memcpy(pszName + cch, ".exe", sizeof(".exe"));
        return true;
    }
}
