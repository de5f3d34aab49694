// The text of a registry file, in the format regedit exports. No system call
// is made here: registry.cpp reads <prefix>/registry.reg and hands over its
// bytes.
//
// Reading a text checks all of it and keeps one line per key and per value
// that exists, in UTF-8, each trimmed and with its continuations joined;
// comments, blank lines and deletions are dropped. Lookups walk these lines;
// a value's name and data are decoded only when asked for, into the caller's
// buffer. No copy of the keys and values is built.
//
// The file starts with the line "Windows Registry Editor Version 5.00" or
// "REGEDIT4"; its bytes are UTF-8 (with or without a byte-order mark) or
// ANSI, both taken as they are, or UTF-16LE with a byte-order mark, turned
// into UTF-8 as text.h says. Keys are written in full, "[HKEY_LOCAL_MACHINE\Software\X]"
// (HKLM, HKCU, HKCR and HKU are accepted too); a key also exists as the
// parent of a deeper key. Values are "name"="text" (a backslash takes
// the next character as it is, so \\ and \" work), "name"=dword:1-8 hex
// digits, "name"=hex:aa,bb,... and hex(N):..., continued over lines ending
// in '\'; @ names the default value. Under the 5.00 header, hex(1), hex(2)
// and hex(7) data are UTF-16LE and are handed out as UTF-8, as the ANSI
// calls hand out text. Names compare ignoring ASCII case; a key or value
// written twice is merged, the later value winning.
//
// Deletions ("[-KEY]" and "name"=-) are ignored, with the values under a
// deleted key: the file describes what exists, and an export never holds
// them. Names longer than Windows' 255 characters are kept whole; they only
// fail to fit a caller's buffer. Any other line, an unknown root, an empty
// component in a key path, a missing header, a continuation cut off by the
// end of the file or a NUL byte makes the text unreadable.
#ifndef ROMGATE_POSIX_REGISTRY_TEXT_H
#define ROMGATE_POSIX_REGISTRY_TEXT_H

#include <stddef.h>

#include "platform/winapi.h"

// One reading of a registry file: a single heap block, the lines after it.
struct RegistryText {
    bool bVersion5;  // hex(1), hex(2) and hex(7) data are UTF-16LE
    size_t cch;      // the lines, each ending in '\n'
    char* pchLines;
};

// Checks the bytes of a registry file and keeps them as lines; pBytes NULL
// (and cbBytes 0) is no file, an empty registry. NULL and *pStatus
// ERROR_BADDB when the text is malformed, ERROR_NOT_ENOUGH_MEMORY when
// memory runs out.
RegistryText* ReadRegistryText(const char* pBytes, size_t cbBytes,
                               LSTATUS* pStatus);

void FreeRegistryText(RegistryText* pText);

// One line of a text: a key, "[ROOT\path]", or a value of the key above it,
// "name"=data or @=data.
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
bool NextRegistryLine(const RegistryText* pText, size_t* piNext,
                      RegistryLine* pLine);

// The predefined key a key line's root names ("HKEY_LOCAL_MACHINE", or
// "HKLM" and the like), ignoring case; NULL for none.
HKEY FindRegistryRoot(const char* pchName, size_t cchName);

// True for the predefined keys a registry file can name.
bool IsRegistryRoot(HKEY hKey);

// The registry's own order of names, by upper-cased bytes, as Windows sorts
// subkeys: negative when a comes first, 0 for the same name, else positive.
int CompareRegistryNames(const char* a, size_t cchA, const char* b,
                         size_t cchB);

// True when a value's name is pszName ("" for the default value).
bool IsRegistryValueNamed(const RegistryLine& line, const char* pszName);

// Decodes a value's name; writes at most cbOut bytes, no terminator, and
// gives the name's length.
size_t DecodeRegistryName(const RegistryLine& line, char* pOut, size_t cbOut);

// Decodes a value's data: its type, and the bytes handed out (a text's
// terminator included), of which at most cbOut are written to pOut. Gives
// the data's size.
size_t DecodeRegistryData(const RegistryText* pText, const RegistryLine& line,
                          DWORD* pdwType, BYTE* pOut, size_t cbOut);

#endif  // ROMGATE_POSIX_REGISTRY_TEXT_H
