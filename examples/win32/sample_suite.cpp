// Sample stand-ins for the suite's installer and flashing program, for the
// Wine demo of Romgate.exe. Not a real installer; it flashes nothing.
//
// Named Setup.exe, it installs a copy of itself as Chipburn.exe into
// <Windows drive>:\Program Files\Vorn\VornUpdate and registers suite 2.1.0
// there, replacing the record of an earlier version. Named Chipburn.exe, it
// reports what it would flash. Its reports go to the debugger output, beside
// the launcher's own trace.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static const char kVersion[] = "2.1.0";
static const char kSuiteKey[] = "Software\\Vorn\\VornUpdate";

static void Report(const char* pszFormat, ...)
{
    char szLine[512];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    OutputDebugStringA(szLine);
}

// Drops the version subkeys of an earlier install, so that the one written
// next is the record's only subkey.
static void DeleteVersionSubkeys(HKEY hKey)
{
    char szName[256];
    DWORD cchName = sizeof(szName);
    while (RegEnumKeyExA(hKey, 0, szName, &cchName, NULL, NULL, NULL, NULL) ==
               ERROR_SUCCESS &&
           RegDeleteKeyA(hKey, szName) == ERROR_SUCCESS)
        cchName = sizeof(szName);
}

static bool Register(const char* pszFolder)
{
    HKEY hKey, hVersion;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSuiteKey, 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &hKey, NULL) != ERROR_SUCCESS)
        return false;
    DeleteVersionSubkeys(hKey);
    bool bDone = RegSetValueExA(hKey, "Location", 0, REG_SZ,
                                (const BYTE*)pszFolder,
                                (DWORD)strlen(pszFolder) + 1) == ERROR_SUCCESS &&
                 RegCreateKeyExA(hKey, kVersion, 0, NULL, 0, KEY_ALL_ACCESS,
                                 NULL, &hVersion, NULL) == ERROR_SUCCESS;
    if (bDone)
        RegCloseKey(hVersion);
    RegCloseKey(hKey);
    return bDone;
}

static int Install(const char* pszSelf)
{
    char szWindows[MAX_PATH], szFolder[MAX_PATH], szTarget[MAX_PATH];
    UINT cch = GetWindowsDirectoryA(szWindows, sizeof(szWindows));
    char chDrive = (cch != 0 && cch < sizeof(szWindows)) ? szWindows[0] : 'C';
    snprintf(szFolder, sizeof(szFolder), "%c:\\Program Files\\Vorn", chDrive);
    CreateDirectoryA(szFolder, NULL);
    snprintf(szFolder, sizeof(szFolder),
             "%c:\\Program Files\\Vorn\\VornUpdate", chDrive);
    CreateDirectoryA(szFolder, NULL);
    snprintf(szTarget, sizeof(szTarget), "%s\\Chipburn.exe", szFolder);

    Report("Setup (sample): installing VornUpdate %s into %s", kVersion,
           szFolder);
    if (!CopyFileA(pszSelf, szTarget, FALSE) || !Register(szFolder)) {
        Report("Setup (sample): failed, error %lu", GetLastError());
        return 1;
    }
    Report("Setup (sample): registered VornUpdate %s", kVersion);
    return 0;
}

// The checksum of POSIX cksum, so that both sample flashers print the same.
static unsigned long CksumAdd(unsigned long crc, unsigned char b)
{
    crc ^= (unsigned long)b << 24;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 0x80000000UL) ? (crc << 1) ^ 0x04C11DB7UL : crc << 1;
    return crc & 0xFFFFFFFFUL;
}

static int Flash(const char* pszImage)
{
    FILE* pFile = fopen(pszImage, "rb");
    if (pFile == NULL) {
        Report("Chipburn (sample): cannot open %s", pszImage);
        return 1;
    }
    unsigned char buffer[4096];
    unsigned long crc = 0, cbImage = 0;
    size_t cb;
    while ((cb = fread(buffer, 1, sizeof(buffer), pFile)) != 0) {
        for (size_t i = 0; i < cb; ++i)
            crc = CksumAdd(crc, buffer[i]);
        cbImage += (unsigned long)cb;
    }
    fclose(pFile);
    for (unsigned long n = cbImage; n != 0; n >>= 8)
        crc = CksumAdd(crc, (unsigned char)(n & 0xFF));
    Report("Chipburn (sample): would flash %s (%lu bytes, cksum %lu)",
           pszImage, cbImage, ~crc & 0xFFFFFFFFUL);
    return 0;
}

int main(int argc, char** argv)
{
    char szSelf[MAX_PATH];
    DWORD cch = GetModuleFileNameA(NULL, szSelf, sizeof(szSelf));
    if (cch == 0 || cch >= sizeof(szSelf))
        return 1;
    const char* pszName = strrchr(szSelf, '\\');
    pszName = pszName != NULL ? pszName + 1 : szSelf;
    if (_stricmp(pszName, "Setup.exe") == 0)
        return Install(szSelf);
    if (argc < 2) {
        Report("Chipburn (sample): no image given");
        return 1;
    }
    return Flash(argv[1]);
}
