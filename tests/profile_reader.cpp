// Reads the manifest's version as the launcher does from each file named after
// the folder on the command line, in one process, with the launcher's buffer
// size, the value's length plus one, its length (0 too) and 1: a line per file
// and size, "<file> <size> <count> <escaped bytes>". Built for Linux and Windows.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "platform/winapi.h"

static char g_buffer[1 << 18];  // more than any value of the corpus, and a guard

static DWORD Read(const char* pszFile, DWORD size)
{
    memset(g_buffer, 0xbd, size + 64);
    return GetPrivateProfileStringA("VORNUpdate", "Version", "", g_buffer, size, pszFile);
}

int main(int argc, char** argv)
{
    char szPath[1024];
    for (int i = 2; i < argc; i++) {
        snprintf(szPath, sizeof(szPath), "%s\\%s", argv[1], argv[i]);
        const DWORD cchAll = Read(szPath, sizeof(g_buffer) - 64);
        const DWORD sizes[] = {255, cchAll + 1, cchAll, 1};
        for (const DWORD size : sizes) {
            const DWORD cch = Read(szPath, size);
            printf("%s %lu %lu ", argv[i], (unsigned long)size, (unsigned long)cch);
            for (DWORD k = 0; k < cch && k < size; k++) {
                const BYTE ch = g_buffer[k];
                printf(ch >= ' ' && ch < 0x7f && ch != '\\' ? "%c" : "\\x%02x", ch);
            }
            const bool bPast = std::count(g_buffer + size, g_buffer + size + 64, '\xbd') != 64;
            printf("%s%s\n", cch >= size || g_buffer[cch] ? " (no terminator)" : "",
                   bPast ? " (written past the size)" : "");
        }
    }
    return 0;
}
