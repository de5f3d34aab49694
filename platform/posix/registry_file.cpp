// Reading and checking registry files, and decoding their lines.
#include "platform/posix/registry_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/paths.h"

namespace {

const size_t kMaxFileSize = 64u << 20;
const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

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

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

bool IsHexDigit(char ch)
{
    return (ch >= '0' && ch <= '9') ||
           (FoldCase(ch) >= 'A' && FoldCase(ch) <= 'F');
}

// True when the cch bytes at p are the text pszText.
bool IsText(const char* p, size_t cch, const char* pszText)
{
    return strlen(pszText) == cch && memcmp(p, pszText, cch) == 0;
}

// Counts every byte put and stores those that fit the caller's buffer, so
// that one pass both sizes and, given room, writes.
struct ByteWriter {
    BYTE* pOut;
    size_t cbOut;
    size_t cbPut;
};

void Put(ByteWriter* pWriter, unsigned char ch)
{
    if (pWriter->cbPut < pWriter->cbOut)
        pWriter->pOut[pWriter->cbPut] = ch;
    pWriter->cbPut++;
}

void PutUtf8(ByteWriter* pWriter, uint32_t cp)
{
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    int nTrail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    Put(pWriter, (unsigned char)(kLead[nTrail] | cp >> (6 * nTrail)));
    for (int k = nTrail - 1; k >= 0; --k)
        Put(pWriter, (unsigned char)(0x80 | ((cp >> (6 * k)) & 0x3F)));
}

// UTF-16LE taken a byte at a time and put out as UTF-8. An odd byte count or
// a lone surrogate makes it bad.
struct Utf16Reader {
    unsigned char chLow;
    bool bHaveLow;
    uint32_t high;  // a high surrogate waiting for its low half, or 0
    bool bBad;
};

void AddUtf16Byte(Utf16Reader* pReader, unsigned char ch, ByteWriter* pWriter)
{
    if (!pReader->bHaveLow) {
        pReader->chLow = ch;
        pReader->bHaveLow = true;
        return;
    }
    pReader->bHaveLow = false;
    uint32_t unit = pReader->chLow | (uint32_t)ch << 8;
    bool bLowHalf = unit >= 0xDC00 && unit < 0xE000;
    if (pReader->high != 0) {
        if (bLowHalf)
            PutUtf8(pWriter, 0x10000 + ((pReader->high - 0xD800) << 10) +
                                 (unit - 0xDC00));
        pReader->bBad |= !bLowHalf;
        pReader->high = 0;
    } else if (unit >= 0xD800 && unit < 0xDC00) {
        pReader->high = unit;
    } else if (bLowHalf) {
        pReader->bBad = true;
    } else {
        PutUtf8(pWriter, unit);
    }
}

bool EndsUtf16Well(const Utf16Reader& reader)
{
    return !reader.bBad && !reader.bHaveLow && reader.high == 0;
}

size_t SkipBlanks(const char* s, size_t cch, size_t i)
{
    while (i < cch && IsBlank(s[i]))
        ++i;
    return i;
}

// Reads the quoted text at s[*pi]; a backslash takes the next character as
// it is. *pi ends after the closing quote.
bool ReadQuoted(const char* s, size_t cch, size_t* pi, ByteWriter* pWriter)
{
    size_t i = *pi;
    if (i >= cch || s[i] != '"')
        return false;
    for (++i; i < cch; ++i) {
        if (s[i] == '"') {
            *pi = i + 1;
            return true;
        }
        if (s[i] == '\\' && ++i == cch)
            return false;
        Put(pWriter, (unsigned char)s[i]);
    }
    return false;
}

// Reads 1 to nMaxDigits hex digits at s[*pi].
bool ReadHex(const char* s, size_t cch, size_t* pi, size_t nMaxDigits,
             uint32_t* pn)
{
    size_t iFirst = *pi, i = *pi;
    for (*pn = 0; i < cch && IsHexDigit(s[i]); ++i)
        *pn = *pn * 16 + (s[i] <= '9' ? s[i] - '0' : FoldCase(s[i]) - 'A' + 10);
    *pi = i;
    return i > iFirst && i - iFirst <= nMaxDigits;
}

// Reads the data after '=': "text", dword:n, hex:aa,bb,... or
// hex(N):aa,bb,... (a trailing comma allowed), putting out the bytes handed
// out. In a Unicode file, text types written in hex are UTF-16LE and are
// handed out as UTF-8, as the ANSI calls hand out text.
bool ReadData(const char* s, size_t cch, bool bUnicode, DWORD* pdwType,
              ByteWriter* pWriter)
{
    size_t i = 0;
    uint32_t n = 0;
    if (cch > 0 && s[0] == '"') {
        *pdwType = REG_SZ;
        bool bRead = ReadQuoted(s, cch, &i, pWriter) && i == cch;
        Put(pWriter, '\0');
        return bRead;
    }
    if (cch >= 6 && memcmp(s, "dword:", 6) == 0) {
        *pdwType = REG_DWORD;
        i = 6;
        if (!ReadHex(s, cch, &i, 8, &n) || i != cch)
            return false;
        for (int nShift = 0; nShift < 32; nShift += 8)
            Put(pWriter, (unsigned char)(n >> nShift));
        return true;
    }
    *pdwType = REG_BINARY;
    if (cch < 3 || memcmp(s, "hex", 3) != 0)
        return false;
    i = 3;
    if (i < cch && s[i] == '(') {
        ++i;
        if (!ReadHex(s, cch, &i, 8, pdwType) || i >= cch || s[i] != ')')
            return false;
        ++i;
    }
    if (i >= cch || s[i++] != ':')
        return false;
    DWORD t = *pdwType;
    bool bText =
        bUnicode && (t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ);
    Utf16Reader reader = {0, false, 0, false};
    while ((i = SkipBlanks(s, cch, i)) < cch) {
        if (!ReadHex(s, cch, &i, 2, &n))
            return false;
        if (bText)
            AddUtf16Byte(&reader, (unsigned char)n, pWriter);
        else
            Put(pWriter, (unsigned char)n);
        i = SkipBlanks(s, cch, i);
        if (i < cch && s[i++] != ',')
            return false;
    }
    return !bText || EndsUtf16Well(reader);
}

// Reads "[ROOT\path]" or "[-ROOT\path]"; each path component needs a name.
bool ReadKeyLine(const char* s, size_t cch, RegistryLine* pLine,
                 bool* pbDeletion)
{
    if (cch < 3 || s[cch - 1] != ']')
        return false;
    *pbDeletion = s[1] == '-';
    const char* pchName = s + (*pbDeletion ? 2 : 1);
    size_t cchName = cch - (*pbDeletion ? 2 : 1) - 1;
    const char* pSlash = (const char*)memchr(pchName, '\\', cchName);
    size_t iSlash = pSlash != NULL ? (size_t)(pSlash - pchName) : cchName;
    pLine->bKey = true;
    pLine->hRoot = NULL;
    for (const auto& root : kRoots)
        if (IsSameRegistryName(pchName, iSlash, root.pszName,
                               strlen(root.pszName)) ||
            IsSameRegistryName(pchName, iSlash, root.pszShortName,
                               strlen(root.pszShortName)))
            pLine->hRoot = root.hRoot;
    pLine->pchPath = iSlash < cchName ? pchName + iSlash + 1 : pchName + iSlash;
    pLine->cchPath = iSlash < cchName ? cchName - iSlash - 1 : 0;
    if (pLine->hRoot == NULL || iSlash == cchName)
        return pLine->hRoot != NULL;
    const char* p = pLine->pchPath;
    size_t cchPath = pLine->cchPath;
    if (cchPath == 0 || p[0] == '\\' || p[cchPath - 1] == '\\')
        return false;
    for (size_t i = 1; i < cchPath; ++i)
        if (p[i] == '\\' && p[i - 1] == '\\')
            return false;
    return true;
}

// Splits a value line into its name as written and its data after '='.
bool ReadValueLine(const char* s, size_t cch, RegistryLine* pLine)
{
    ByteWriter nowhere = {NULL, 0, 0};
    size_t i = s[0] == '@' ? 1 : 0;
    if (i == 0 && !ReadQuoted(s, cch, &i, &nowhere))
        return false;
    pLine->bKey = false;
    pLine->pchName = s;
    pLine->cchName = i;
    i = SkipBlanks(s, cch, i);
    if (i >= cch || s[i] != '=')
        return false;
    i = SkipBlanks(s, cch, i + 1);
    pLine->pchData = s + i;
    pLine->cchData = cch - i;
    return true;
}

enum LineVerdict { kMalformed, kDropped, kKept };

// Checks one logical line (continuations joined, blanks trimmed) after the
// header. Only keys and values that exist are kept: comments, blank lines,
// deleted keys with their values, and deleted values are dropped.
LineVerdict CheckLine(const char* s, size_t cch, bool bUnicode,
                      bool* pbInDeletion, bool* pbAnyKey)
{
    RegistryLine line;
    if (cch == 0 || s[0] == ';')
        return kDropped;
    if (s[0] == '[') {
        if (!ReadKeyLine(s, cch, &line, pbInDeletion))
            return kMalformed;
        *pbAnyKey |= !*pbInDeletion;
        return *pbInDeletion ? kDropped : kKept;
    }
    if (!ReadValueLine(s, cch, &line) || (!*pbAnyKey && !*pbInDeletion))
        return kMalformed;
    if (*pbInDeletion || IsText(line.pchData, line.cchData, "-"))
        return kDropped;
    ByteWriter nowhere = {NULL, 0, 0};
    DWORD dwType;
    return ReadData(line.pchData, line.cchData, bUnicode, &dwType, &nowhere)
               ? kKept
               : kMalformed;
}

// Turns the file's text, in place, into the lines that are kept, checking
// each: the header first, then logical lines. Only value lines continue: a
// key or comment line may end in '\'. Lines only ever get shorter, so each
// is written at or before the place it was read from.
bool KeepLines(RegistryText* pText)
{
    char* s = pText->pchLines;
    size_t cch = pText->cch, cchKept = 0, cchLogical = 0;
    bool bHeader = false, bInDeletion = false, bAnyKey = false;
    for (size_t iLine = 0, iEnd; iLine < cch; iLine = iEnd + 1) {
        const char* pNewline =
            (const char*)memchr(s + iLine, '\n', cch - iLine);
        iEnd = pNewline != NULL ? (size_t)(pNewline - s) : cch;
        size_t iFirst = iLine, iLast = iEnd;
        while (iLast > iFirst &&
               (IsBlank(s[iLast - 1]) || s[iLast - 1] == '\r'))
            --iLast;
        while (iFirst < iLast && IsBlank(s[iFirst]))
            ++iFirst;
        if (!bHeader) {
            pText->bUnicode = IsText(s + iFirst, iLast - iFirst, kHeader5);
            if (!pText->bUnicode &&
                !IsText(s + iFirst, iLast - iFirst, kHeader4))
                return false;
            bHeader = true;
            continue;
        }
        char* pLogical = s + cchKept;
        memmove(pLogical + cchLogical, s + iFirst, iLast - iFirst);
        cchLogical += iLast - iFirst;
        if (cchLogical > 0 && (pLogical[0] == '"' || pLogical[0] == '@') &&
            pLogical[cchLogical - 1] == '\\') {
            --cchLogical;
            continue;
        }
        LineVerdict verdict = CheckLine(pLogical, cchLogical, pText->bUnicode,
                                        &bInDeletion, &bAnyKey);
        if (verdict == kMalformed)
            return false;
        if (verdict == kKept) {
            pLogical[cchLogical] = '\n';
            cchKept += cchLogical + 1;
        }
        cchLogical = 0;
    }
    // A continuation cut off by the end of the file is a truncated file.
    pText->cch = cchKept;
    return bHeader && cchLogical == 0;
}

// A text block with room for cb bytes and a newline past them.
RegistryText* AllocateText(size_t cb)
{
    RegistryText* pText = (RegistryText*)malloc(sizeof(RegistryText) + cb + 1);
    if (pText != NULL)
        *pText = RegistryText{0, false, 0, (char*)(pText + 1)};
    return pText;
}

// Takes the file's bytes in pText to checked lines: the byte-order mark
// skipped, UTF-16LE turned into UTF-8. NULL (pText freed) with the reason.
RegistryText* PrepareText(RegistryText* pText, LSTATUS* pStatus)
{
    const char* s = pText->pchLines;
    if (pText->cch >= 2 && memcmp(s, "\xFF\xFE", 2) == 0) {
        // Each 2 bytes make at most 3 of UTF-8; a pair of 4 makes 4.
        RegistryText* pUtf8 = AllocateText((pText->cch - 2) / 2 * 3);
        if (pUtf8 == NULL) {
            FreeRegistryText(pText);
            *pStatus = ERROR_NOT_ENOUGH_MEMORY;
            return NULL;
        }
        ByteWriter writer = {(BYTE*)pUtf8->pchLines, (pText->cch - 2) / 2 * 3,
                             0};
        Utf16Reader reader = {0, false, 0, false};
        for (size_t i = 2; i < pText->cch; ++i)
            AddUtf16Byte(&reader, (unsigned char)s[i], &writer);
        pUtf8->cch = writer.cbPut;
        bool bWell = EndsUtf16Well(reader);
        FreeRegistryText(pText);
        pText = pUtf8;
        if (!bWell) {
            FreeRegistryText(pText);
            *pStatus = ERROR_BADDB;
            return NULL;
        }
    } else if (pText->cch >= 3 && memcmp(s, "\xEF\xBB\xBF", 3) == 0) {
        pText->cch -= 3;
        memmove(pText->pchLines, s + 3, pText->cch);
    }
    // A text export never holds a NUL: this is a binary file, or UTF-16
    // without its byte-order mark.
    if (memchr(pText->pchLines, '\0', pText->cch) != NULL ||
        !KeepLines(pText)) {
        FreeRegistryText(pText);
        *pStatus = ERROR_BADDB;
        return NULL;
    }
    *pStatus = ERROR_SUCCESS;
    return pText;
}

// Reads the whole file at fd into a new text block, up to the size limit.
// The file's size is only a first guess, as the file may grow meanwhile:
// reading goes on until it ends.
RegistryText* ReadWholeFile(int fd, LSTATUS* pStatus)
{
    struct stat st;
    *pStatus = ERROR_BADDB;
    if (fstat(fd, &st) != 0 || (uint64_t)st.st_size > kMaxFileSize)
        return NULL;
    size_t cbRoom = (size_t)st.st_size + 1;
    RegistryText* pText = AllocateText(cbRoom);
    while (pText != NULL) {
        ssize_t cb =
            read(fd, pText->pchLines + pText->cch, cbRoom - pText->cch);
        if (cb == 0) {
            *pStatus = ERROR_SUCCESS;
            return pText;
        }
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb < 0 || pText->cch + (size_t)cb > kMaxFileSize)
            break;
        pText->cch += (size_t)cb;
        if (pText->cch == cbRoom) {
            cbRoom *= 2;
            RegistryText* pBigger = (RegistryText*)realloc(
                pText, sizeof(RegistryText) + cbRoom + 1);
            if (pBigger == NULL) {
                *pStatus = ERROR_NOT_ENOUGH_MEMORY;
                break;
            }
            pText = pBigger;
            pText->pchLines = (char*)(pText + 1);
        }
    }
    if (pText == NULL)
        *pStatus = ERROR_NOT_ENOUGH_MEMORY;
    FreeRegistryText(pText);
    return NULL;
}

}  // namespace

bool IsSameRegistryName(const char* a, size_t cchA, const char* b, size_t cchB)
{
    if (cchA != cchB)
        return false;
    for (size_t i = 0; i < cchA; ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

int CompareRegistryNames(const char* a, size_t cchA, const char* b, size_t cchB)
{
    for (size_t i = 0; i < cchA && i < cchB; ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return FoldCase(a[i]) < FoldCase(b[i]) ? -1 : 1;
    return cchA < cchB ? -1 : cchA > cchB ? 1 : 0;
}

RegistryText* ReadRegistryText(const char* pBytes, size_t cbBytes,
                               LSTATUS* pStatus)
{
    RegistryText* pText = AllocateText(cbBytes);
    if (pText == NULL) {
        *pStatus = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    memcpy(pText->pchLines, pBytes, cbBytes);
    pText->cch = cbBytes;
    return PrepareText(pText, pStatus);
}

RegistryText* LoadRegistryFile(LSTATUS* pStatus)
{
    char szPath[PATH_MAX];
    *pStatus = ERROR_BADDB;
    if (!GetPrefixPath("registry.reg", szPath, sizeof(szPath)))
        return NULL;
    int fd = open(szPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return NULL;
        // No file: an empty registry, with no header to check.
        RegistryText* pEmpty = AllocateText(0);
        *pStatus = pEmpty != NULL ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
        return pEmpty;
    }
    RegistryText* pText = ReadWholeFile(fd, pStatus);
    close(fd);
    return pText != NULL ? PrepareText(pText, pStatus) : NULL;
}

void FreeRegistryText(RegistryText* pText)
{
    free(pText);
}

bool NextRegistryLine(const RegistryText* pText, size_t* piNext,
                      RegistryLine* pLine)
{
    if (*piNext >= pText->cch)
        return false;
    const char* s = pText->pchLines + *piNext;
    size_t cch =
        (size_t)((const char*)memchr(s, '\n', pText->cch - *piNext) - s);
    *piNext += cch + 1;
    bool bDeletion;
    // Every line kept was checked, so it reads as it did then.
    if (s[0] == '[')
        ReadKeyLine(s, cch, pLine, &bDeletion);
    else
        ReadValueLine(s, cch, pLine);
    return true;
}

bool IsRegistryValueNamed(const RegistryLine& line, const char* pszName)
{
    size_t cchName = strlen(pszName);
    if (line.pchName[0] == '@')
        return cchName == 0;
    size_t cch = 0;
    for (size_t i = 1; i + 1 < line.cchName; ++i, ++cch) {
        if (line.pchName[i] == '\\')
            ++i;
        if (cch >= cchName ||
            FoldCase(line.pchName[i]) != FoldCase(pszName[cch]))
            return false;
    }
    return cch == cchName;
}

size_t DecodeRegistryName(const RegistryLine& line, char* pOut, size_t cbOut)
{
    ByteWriter writer = {(BYTE*)pOut, cbOut, 0};
    size_t i = 0;
    if (line.pchName[0] == '"')
        ReadQuoted(line.pchName, line.cchName, &i, &writer);
    return writer.cbPut;
}

size_t DecodeRegistryData(const RegistryText* pText, const RegistryLine& line,
                          DWORD* pdwType, BYTE* pOut, size_t cbOut)
{
    ByteWriter writer = {pOut, cbOut, 0};
    ReadData(line.pchData, line.cchData, pText->bUnicode, pdwType, &writer);
    return writer.cbPut;
}
