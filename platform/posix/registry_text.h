// The text of a registry file, read as Wine's regedit imports it. No system call is made here:
// registry.cpp reads <prefix>/registry.reg and hands over its bytes.
//
// Bytes are UTF-8 or ANSI, taken as they are (a UTF-8 byte-order mark skipped), or UTF-16LE with
// its byte-order mark, turned into UTF-8 as text.h says; a NUL byte makes the text unreadable.
// Lines end at CR LF, LF or CR. The first line is "Windows Registry Editor Version 5.00" or
// "REGEDIT4", else nothing is read. Keys are "[HKEY_LOCAL_MACHINE\Software\X]" (HKLM, HKCU, HKCR,
// HKU, HKCC and the long names), the name running to the last ']'; a key also exists as the parent
// of a deeper key. Values are "name"="text" (\n and \r stand for LF and CR, any other character
// after a backslash for itself; \0 is refused), "name"=dword:1-8 hex digits, "name"=hex:aa,bb,...
// and hex(N):..., going on over lines after a trailing ",\"; @ names the default value; ';' starts
// a comment after the data. Under the 5.00 header, hex(1), hex(2) and hex(7) data are UTF-16LE and
// are handed out as UTF-8, as the ANSI calls hand out text. Names compare ignoring ASCII case; a
// value written twice answers its later data. Names longer than Windows' 255 characters are kept
// whole; they only fail to fit a caller's buffer.
//
// Lines starting with ';' or '#' are comments. Deletions ("[-KEY]", "name"=-) are dropped with the
// values under a deleted key: an export never holds them. Any other line regedit would not take is
// skipped and named to the caller, and the rest stands: a key with an unknown root or an empty path
// component (with its values), a value before any key, a "[" line without ']' (the key above it
// stays open, as in regedit).
#ifndef ROMGATE_POSIX_REGISTRY_TEXT_H
#define ROMGATE_POSIX_REGISTRY_TEXT_H

#include "platform/winapi.h"

// One reading of a registry file, a single heap block: the lines kept, one per key and value, in
// UTF-8, trimmed, without comments and with a hex value's lines joined. A value's name and data are
// decoded only when asked for.
struct RegistryText {
    bool bVersion5;  // hex(1), hex(2) and hex(7) data are UTF-16LE
    size_t cch;      // the lines, each ending in '\n'
    char* pchLines;
};

// Told of each line skipped: its number (the file's first line is 1) and its text, trimmed.
typedef void (*RegistryLineSkipped)(void* pContext, size_t nLine, const char* pchLine,
                                    size_t cchLine);

// Checks the bytes of a registry file and keeps them as lines, telling pfnSkipped (unless NULL) of
// each line skipped; pBytes NULL (and cbBytes 0) is no file, an empty registry. NULL and *pStatus
// ERROR_BADDB without a header or with a NUL byte, ERROR_NOT_ENOUGH_MEMORY when memory runs out.
RegistryText* ReadRegistryText(const char* pBytes, size_t cbBytes, RegistryLineSkipped pfnSkipped,
                               void* pContext, LSTATUS* pStatus);

void FreeRegistryText(RegistryText* pText);

// One line of a text: a key, "[ROOT\path]", or a value of the key above it, "name"=data or @=data.
struct RegistryLine {
    bool bKey;
    HKEY hRoot;           // a key's root
    const char* pchPath;  // a key's path below its root, '\'-separated
    size_t cchPath;
    const char* pchName;  // a value's name as written: quoted, or "@"
    size_t cchName;
    const char* pchData;  // a value's data as written, after '='
    size_t cchData;
};

// The line at *piNext, which then moves to the next; false after the last.
bool NextRegistryLine(const RegistryText* pText, size_t* piNext, RegistryLine* pLine);

// True for the predefined keys a registry file can name.
bool IsRegistryRoot(HKEY hKey);

// True when a value's name is pszName ("" for the default value).
bool IsRegistryValueNamed(const RegistryLine& line, const char* pszName);

// Decodes a value's name; writes at most cbOut bytes, no terminator, and gives the name's length.
size_t DecodeRegistryName(const RegistryLine& line, char* pOut, size_t cbOut);

// Decodes a value's data: its type, and the bytes handed out (a text's terminator included), of
// which at most cbOut are written to pOut. Gives the data's size.
size_t DecodeRegistryData(const RegistryText* pText, const RegistryLine& line, DWORD* pdwType,
                          BYTE* pOut, size_t cbOut);

#endif  // ROMGATE_POSIX_REGISTRY_TEXT_H
