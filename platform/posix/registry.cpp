#include "platform/posix/registry.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <new>

#include "platform/posix/paths.h"

namespace {

const size_t kMaxFileSize = 64u << 20;
const size_t kMaxOpenKeys = 64;
const uintptr_t kFirstHandle = 0x52470000u;  // clear of NULL and the roots

const struct {
    const char *pszName, *pszShortName;
    HKEY hRoot;
} kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

// ASCII upper case; other bytes are left as they are.
unsigned char FoldCase(char ch)
{
    return (unsigned char)((ch >= 'a' && ch <= 'z') ? ch - 'a' + 'A' : ch);
}

// True when the first cch bytes of a and b match ignoring ASCII case.
bool SameText(const char* a, const char* b, size_t cch)
{
    for (size_t i = 0; i < cch; ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

// True when two names match ignoring ASCII case.
bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && SameText(a.data(), b.data(), a.size());
}

// The registry's own order of subkeys: by upper-cased name, as Windows.
bool NameBefore(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char x, char y) { return FoldCase(x) < FoldCase(y); });
}

// True when strPath is strAncestor or lies below it.
bool IsAtOrBelow(const std::string& strPath, const std::string& strAncestor)
{
    size_t cch = strAncestor.size();
    return cch == 0 || (strPath.size() >= cch &&
                        SameText(strPath.data(), strAncestor.data(), cch) &&
                        (strPath.size() == cch || strPath[cch] == '\\'));
}

// The index of the first byte from s[i] on that is not a space or a tab.
size_t SkipBlanks(const std::string& s, size_t i)
{
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return i;
}

// UTF-16LE from in[i] on, appended as UTF-8; false for an odd length or a
// lone surrogate.
bool Utf16ToUtf8(const std::string& in, size_t i, std::string& out)
{
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    const unsigned char* u = (const unsigned char*)in.data();
    if ((in.size() - i) % 2 != 0)
        return false;
    for (; i < in.size(); i += 2) {
        uint32_t cp = u[i] | u[i + 1] << 8;
        uint32_t low = i + 3 < in.size() ? u[i + 2] | u[i + 3] << 8 : 0;
        if (cp >= 0xD800 && cp < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            return false;
        }
        int nTrail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
        out += (char)(kLead[nTrail] | cp >> (6 * nTrail));
        for (int k = nTrail - 1; k >= 0; --k)
            out += (char)(0x80 | ((cp >> (6 * k)) & 0x3F));
    }
    return true;
}

// Reads the quoted text at s[i]; a backslash takes the next character as it
// is. i ends after the closing quote.
bool ReadQuoted(const std::string& s, size_t& i, std::string& out)
{
    if (i >= s.size() || s[i] != '"')
        return false;
    for (++i; i < s.size(); ++i) {
        if (s[i] == '"') {
            ++i;
            return true;
        }
        if (s[i] == '\\' && ++i == s.size())
            return false;
        out += s[i];
    }
    return false;
}

// Reads 1 to nMaxDigits hex digits at s[i].
bool ReadHex(const std::string& s, size_t& i, size_t nMaxDigits, uint32_t* pn)
{
    size_t iFirst = i;
    for (*pn = 0; i < s.size() && isxdigit((unsigned char)s[i]); ++i)
        *pn =
            *pn * 16 + (s[i] <= '9' ? s[i] - '0' : (FoldCase(s[i]) - 'A' + 10));
    return i > iFirst && i - iFirst <= nMaxDigits;
}

// The data after '=': "text", dword:n, hex:aa,bb,... or hex(N):aa,bb,...
// (a trailing comma allowed).
bool ReadData(const std::string& s, size_t i, bool bUnicode,
              RegistryValue& value)
{
    uint32_t n = 0;
    if (s[i] == '"') {
        value.dwType = REG_SZ;
        bool bRead = ReadQuoted(s, i, value.strData) && i == s.size();
        value.strData += '\0';
        return bRead;
    }
    if (s.compare(i, 6, "dword:") == 0) {
        value.dwType = REG_DWORD;
        if (!ReadHex(s, i += 6, 8, &n) || i != s.size())
            return false;
        for (int nShift = 0; nShift < 32; nShift += 8)
            value.strData += (char)(n >> nShift);
        return true;
    }
    value.dwType = REG_BINARY;
    if (s.compare(i, 3, "hex") != 0)
        return false;
    i += 3;
    if (s.compare(i, 1, "(") == 0 &&
        !(ReadHex(s, ++i, 8, &value.dwType) && s.compare(i++, 1, ")") == 0))
        return false;
    if (s.compare(i++, 1, ":") != 0)
        return false;
    std::string bytes;
    while ((i = SkipBlanks(s, i)) < s.size()) {
        if (!ReadHex(s, i, 2, &n))
            return false;
        bytes += (char)n;
        i = SkipBlanks(s, i);
        if (i < s.size() && s[i++] != ',')
            return false;
    }
    // A Unicode export writes text in UTF-16; the ANSI calls hand it out as
    // 8-bit text.
    DWORD t = value.dwType;
    if (bUnicode && (t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ))
        return Utf16ToUtf8(bytes, 0, value.strData);
    value.strData = std::move(bytes);
    return true;
}

// Reads "[ROOT\path]" or "[-ROOT\path]"; each path component needs a name.
bool ReadKeyLine(const std::string& line, RegistryKey& key, bool& bDeletion)
{
    if (line.size() < 3 || line.back() != ']')
        return false;
    bDeletion = line[1] == '-';
    std::string strName = line.substr(bDeletion ? 2 : 1);
    strName.pop_back();
    size_t iSlash = std::min(strName.find('\\'), strName.size());
    for (const auto& root : kRoots)
        if (SameName(strName.substr(0, iSlash), root.pszName) ||
            SameName(strName.substr(0, iSlash), root.pszShortName))
            key.hRoot = root.hRoot;
    if (iSlash == strName.size())
        return key.hRoot != NULL;
    key.strPath = strName.substr(iSlash + 1);
    return key.hRoot != NULL &&
           ("\\" + key.strPath + "\\").find("\\\\") == std::string::npos;
}

// One logical line (continuations joined, blanks trimmed) after the header.
// bInDeletion: the last key line was a deletion, whose values are ignored.
bool ParseLine(const std::string& line, bool bUnicode, bool& bInDeletion,
               RegistryModel& model)
{
    if (line.empty() || line[0] == ';')
        return true;
    if (line[0] == '[') {
        RegistryKey key{NULL, std::string(), {}};
        if (!ReadKeyLine(line, key, bInDeletion))
            return false;
        if (!bInDeletion)
            model.push_back(std::move(key));
        return true;
    }
    RegistryValue value;
    size_t i = line[0] == '@' ? 1 : 0;
    if ((i == 0 && !ReadQuoted(line, i, value.strName)) ||
        (model.empty() && !bInDeletion))
        return false;
    i = SkipBlanks(line, i);
    if (line.compare(i, 1, "=") != 0)
        return false;
    i = SkipBlanks(line, i + 1);
    if (bInDeletion || line.compare(i, std::string::npos, "-") == 0)
        return true;
    if (!ReadData(line, i, bUnicode, value))
        return false;
    model.back().values.push_back(std::move(value));
    return true;
}

}  // namespace

bool ParseRegistryFile(const std::string& bytes, RegistryModel& model)
{
    std::string text;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (!Utf16ToUtf8(bytes, 2, text))
            return false;
    } else {
        text = bytes.substr(bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
    }
    // A text export never holds a NUL: this is a binary file, or UTF-16
    // without its byte-order mark.
    if (text.find('\0') != std::string::npos)
        return false;
    bool bHeader = false, bUnicode = false, bInDeletion = false;
    std::string strLogical;
    for (size_t iLine = 0, iEnd; iLine < text.size(); iLine = iEnd + 1) {
        iEnd = std::min(text.find('\n', iLine), text.size());
        std::string line = text.substr(iLine, iEnd - iLine);
        line.erase(line.find_last_not_of(" \t\r") + 1);
        line.erase(0, line.find_first_not_of(" \t"));
        if (!bHeader) {
            bUnicode = line == "Windows Registry Editor Version 5.00";
            if (!bUnicode && line != "REGEDIT4")
                return false;
            bHeader = true;
            continue;
        }
        strLogical += line;
        // Only value lines continue: a key or comment line may end in '\'.
        if ((strLogical[0] == '"' || strLogical[0] == '@') &&
            strLogical.back() == '\\') {
            strLogical.pop_back();
            continue;
        }
        if (!ParseLine(strLogical, bUnicode, bInDeletion, model))
            return false;
        strLogical.clear();
    }
    // A continuation cut off by the end of the file is a truncated file.
    return bHeader && strLogical.empty();
}

namespace {

// A key as the calls see it: the registry it was read from and its place.
struct KeyView {
    std::shared_ptr<const RegistryModel> model;  // none: a free handle slot
    HKEY hRoot;
    std::string strPath;
};

KeyView g_openKeys[kMaxOpenKeys];

// True for the predefined keys the file can name.
bool IsRoot(HKEY hKey)
{
    for (const auto& root : kRoots)
        if (hKey == root.hRoot)
            return true;
    return false;
}

// The open key a handle names, or NULL for anything else.
KeyView* FindOpenKey(HKEY hKey)
{
    uintptr_t nOffset = (uintptr_t)hKey - kFirstHandle;
    if ((uintptr_t)hKey < kFirstHandle || nOffset % 4 != 0 ||
        nOffset / 4 >= kMaxOpenKeys || !g_openKeys[nOffset / 4].model)
        return NULL;
    return &g_openKeys[nOffset / 4];
}

// Reads <prefix>/registry.reg afresh. A missing file is an empty registry;
// one that cannot be read or parsed is ERROR_BADDB.
LSTATUS LoadRegistry(std::shared_ptr<const RegistryModel>& model)
{
    char szPrefix[PATH_MAX], szPath[PATH_MAX];
    if (!GetPrefixDirectory(szPrefix, sizeof(szPrefix)))
        return ERROR_BADDB;
    int cch = snprintf(szPath, sizeof(szPath), "%s/registry.reg", szPrefix);
    if (cch < 0 || (size_t)cch >= sizeof(szPath))
        return ERROR_BADDB;
    auto parsed = std::make_shared<RegistryModel>();
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(szPath, "rb"), fclose);
    if (!file && errno != ENOENT && errno != ENOTDIR)
        return ERROR_BADDB;
    if (file) {
        std::string bytes;
        char buffer[16384];
        size_t cb;
        while ((cb = fread(buffer, 1, sizeof(buffer), file.get())) > 0 &&
               bytes.size() + cb <= kMaxFileSize)
            bytes.append(buffer, cb);
        if (cb != 0 || ferror(file.get()) || !ParseRegistryFile(bytes, *parsed))
            return ERROR_BADDB;
    }
    model = std::move(parsed);
    return ERROR_SUCCESS;
}

// A root reads the file; a handle gives the view it was opened with.
LSTATUS ResolveKey(HKEY hKey, KeyView& view)
{
    if (IsRoot(hKey)) {
        view.hRoot = hKey;
        return LoadRegistry(view.model);
    }
    const KeyView* pOpen = FindOpenKey(hKey);
    if (pOpen == NULL)
        return ERROR_INVALID_HANDLE;
    view = *pOpen;
    return ERROR_SUCCESS;
}

// True when the key has a section of its own or below it, or is a root.
bool KeyExists(const KeyView& view)
{
    for (const RegistryKey& key : *view.model)
        if (key.hRoot == view.hRoot && IsAtOrBelow(key.strPath, view.strPath))
            return true;
    return view.strPath.empty();
}

// The value as last written in any section of the key, or NULL.
const RegistryValue* FindValue(const KeyView& view, const std::string& strName)
{
    const RegistryValue* pFound = NULL;
    for (const RegistryKey& key : *view.model)
        if (key.hRoot == view.hRoot && SameName(key.strPath, view.strPath))
            for (const RegistryValue& value : key.values)
                if (SameName(value.strName, strName))
                    pFound = &value;
    return pFound;
}

// The immediate subkeys' names, sorted, each once in its first spelling.
std::vector<std::string> ListSubkeys(const KeyView& view)
{
    std::vector<std::string> names;
    size_t iName = view.strPath.empty() ? 0 : view.strPath.size() + 1;
    for (const RegistryKey& key : *view.model)
        if (key.hRoot == view.hRoot && key.strPath.size() > iName &&
            IsAtOrBelow(key.strPath, view.strPath))
            names.push_back(key.strPath.substr(
                iName, key.strPath.find('\\', iName) - iName));
    std::stable_sort(names.begin(), names.end(), NameBefore);
    names.erase(std::unique(names.begin(), names.end(), SameName), names.end());
    return names;
}

// Runs a call on the key; only allocation can throw there, and no exception
// leaves the hosted layer.
template <typename Call>
LSTATUS WithKey(HKEY hKey, Call call)
{
    try {
        KeyView view;
        LSTATUS status = ResolveKey(hKey, view);
        return status != ERROR_SUCCESS ? status : call(view);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

// Any access asked for is granted: the file has no security to check.
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                      REGSAM samDesired, PHKEY phkResult)
{
    (void)ulOptions;
    (void)samDesired;
    if (phkResult == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    return WithKey(hKey, [&](KeyView& view) -> LSTATUS {
        if (lpSubKey != NULL && *lpSubKey != '\0')
            view.strPath +=
                (view.strPath.empty() ? "" : "\\") + std::string(lpSubKey);
        if (!KeyExists(view))
            return ERROR_FILE_NOT_FOUND;
        for (size_t i = 0; i < kMaxOpenKeys; ++i) {
            if (!g_openKeys[i].model) {
                g_openKeys[i] = std::move(view);
                *phkResult = (HKEY)(kFirstHandle + 4 * i);
                return ERROR_SUCCESS;
            }
        }
        return ERROR_NOT_ENOUGH_MEMORY;
    });
}

// A NULL or empty name is the default value (@). On ERROR_MORE_DATA nothing
// is copied and *lpcbData gives the size needed.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    (void)lpReserved;
    if (lpData != NULL && lpcbData == NULL)
        return ERROR_INVALID_PARAMETER;
    return WithKey(hKey, [&](KeyView& view) -> LSTATUS {
        const RegistryValue* pValue = FindValue(
            view, std::string(lpValueName != NULL ? lpValueName : ""));
        if (pValue == NULL)
            return ERROR_FILE_NOT_FOUND;
        if (lpType != NULL)
            *lpType = pValue->dwType;
        if (lpcbData == NULL)
            return ERROR_SUCCESS;
        DWORD cbNeeded = (DWORD)pValue->strData.size();
        bool bFits = lpData == NULL || *lpcbData >= cbNeeded;
        if (lpData != NULL && bFits)
            memcpy(lpData, pValue->strData.data(), cbNeeded);
        *lpcbData = cbNeeded;
        return bFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
    });
}

// A name that does not fit writes nothing and leaves *lpcchName as it was.
// Keys have no class here: a class asked for is "". No time is written.
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime)
{
    (void)lpReserved;
    (void)lpftLastWriteTime;
    if (lpName == NULL || lpcchName == NULL)
        return ERROR_INVALID_PARAMETER;
    return WithKey(hKey, [&](KeyView& view) -> LSTATUS {
        std::vector<std::string> names = ListSubkeys(view);
        if (dwIndex >= names.size())
            return ERROR_NO_MORE_ITEMS;
        const std::string& strName = names[dwIndex];
        if (strName.size() >= *lpcchName)
            return ERROR_MORE_DATA;
        memcpy(lpName, strName.c_str(), strName.size() + 1);
        *lpcchName = (DWORD)strName.size();
        if (lpClass != NULL && lpcchClass != NULL && *lpcchClass > 0)
            lpClass[0] = '\0';
        if (lpcchClass != NULL)
            *lpcchClass = 0;
        return ERROR_SUCCESS;
    });
}

// Closing a root is allowed and does nothing, as on Windows.
LSTATUS RegCloseKey(HKEY hKey)
{
    if (IsRoot(hKey))
        return ERROR_SUCCESS;
    KeyView* pOpen = FindOpenKey(hKey);
    if (pOpen == NULL)
        return ERROR_INVALID_HANDLE;
    *pOpen = KeyView();
    return ERROR_SUCCESS;
}
