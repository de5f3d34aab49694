// The registry: the file <prefix>/registry.reg, in the text format regedit
// exports, read again at every open from a root key, so that a change made
// by an installer is seen by the next check. A key opened from an open key
// sees the registry as it was read then.
//
// The file starts with the line "Windows Registry Editor Version 5.00" or
// "REGEDIT4"; its bytes are UTF-8 (with or without a byte-order mark) or
// ANSI, both taken as they are, or UTF-16LE with a byte-order mark, turned
// into UTF-8. Keys are written in full, "[HKEY_LOCAL_MACHINE\Software\X]"
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
// end of the file, invalid UTF-16, a NUL byte or a file over 64 MiB makes
// the registry unreadable: every open answers ERROR_BADDB. A missing file is
// an empty registry. At most 64 keys are open at once; another open answers
// ERROR_NOT_ENOUGH_MEMORY, as does a failed allocation.
#ifndef ROMGATE_POSIX_REGISTRY_H
#define ROMGATE_POSIX_REGISTRY_H

#include <string>
#include <vector>

#include "platform/winapi.h"

struct RegistryValue {
    std::string strName;  // "" for the default value
    DWORD dwType;
    std::string strData;  // the bytes handed out, a text's terminator included
};

// One [key] section of the file; a key may have several.
struct RegistryKey {
    HKEY hRoot;
    std::string strPath;  // below the root, '\'-separated; "" for the root
    std::vector<RegistryValue> values;
};

typedef std::vector<RegistryKey> RegistryModel;

// Parses the bytes of a registry file into model (sections in file order).
// False when the file is malformed. May throw std::bad_alloc.
bool ParseRegistryFile(const std::string& bytes, RegistryModel& model);

#endif  // ROMGATE_POSIX_REGISTRY_H
