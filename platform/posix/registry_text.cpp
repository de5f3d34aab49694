// The text of a registry file: checking it, keeping its lines, and decoding their names and data.
#include "platform/posix/registry_text.h"

#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "platform/posix/text.h"

namespace {

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
    {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_DYN_DATA", "HKEY_DYN_DATA", HKEY_DYN_DATA},  // no short name
};

// The predefined key a key line's root names, ignoring case; NULL for none.
HKEY FindRegistryRoot(const char* pchName, size_t cchName)
{
    for (const auto& root : kRoots)
        if (IsSameIgnoringCase(pchName, cchName, root.pszName, strlen(root.pszName)) ||
            IsSameIgnoringCase(pchName, cchName, root.pszShortName, strlen(root.pszShortName)))
            return root.hRoot;
    return NULL;
}

// True when the cch bytes at p are the text pszText.
bool IsText(const char* p, size_t cch, const char* pszText)
{
    return strlen(pszText) == cch && memcmp(p, pszText, cch) == 0;
}

size_t SkipBlanks(const char* s, size_t cch, size_t i)
{
    while (i < cch && IsBlank(s[i]))
        ++i;
    return i;
}

// True when s[i..cch) holds only blanks and perhaps a comment, as may follow a value's data.
bool IsRestOfLineEmpty(const char* s, size_t cch, size_t i)
{
    i = SkipBlanks(s, cch, i);
    return i == cch || s[i] == ';';
}

// The character an escape stands for, as regedit writes them: \\, \", \n and \r; any other
// character after a backslash stands for itself. False for \0, which regedit refuses.
bool Unescape(char chEscaped, char* pch)
{
    if (chEscaped == '0')
        return false;
    if (chEscaped == 'n')
        *pch = '\n';
    else if (chEscaped == 'r')
        *pch = '\r';
    else
        *pch = chEscaped;
    return true;
}

// Reads the quoted text at s[*pi], escapes undone; *pi ends after the closing quote.
bool ReadQuoted(const char* s, size_t cch, size_t* pi, ByteWriter* pWriter)
{
    size_t i = *pi;
    if (i >= cch || s[i] != '"')
        return false;
    for (++i; i < cch; ++i) {
        char ch = s[i];
        if (ch == '"') {
            *pi = i + 1;
            return true;
        }
        if (ch == '\\' && (++i == cch || !Unescape(s[i], &ch)))
            return false;
        Put(pWriter, (unsigned char)ch);
    }
    return false;
}

// Reads 1 to nMaxDigits hex digits at s[*pi].
bool ReadHex(const char* s, size_t cch, size_t* pi, size_t nMaxDigits, uint32_t* pn)
{
    size_t iFirst = *pi, i = *pi;
    for (*pn = 0; i < cch && isxdigit((unsigned char)s[i]); ++i)
        *pn = *pn * 16 + (s[i] <= '9' ? s[i] - '0' : FoldAscii((unsigned char)s[i]) - 'A' + 10);
    *pi = i;
    return i > iFirst && i - iFirst <= nMaxDigits;
}

enum DataVerdict { kBadData, kDataEnds, kDataContinues };

// Reads hex bytes "aa,bb,..." from s[i] (a trailing comma allowed), each put out as it is or, with
// pDecoder, as UTF-16LE text turned into UTF-8. A backslash after the last comma continues the data
// on the next line. *piEnd is where the bytes end, blanks and comment left out.
DataVerdict ReadHexBytes(const char* s, size_t cch, size_t i, Utf16Decoder* pDecoder,
                         ByteWriter* pWriter, size_t* piEnd)
{
    uint32_t n = 0;
    for (*piEnd = i;; *piEnd = ++i) {
        i = SkipBlanks(s, cch, i);
        if (i < cch && s[i] == '\\')
            return IsRestOfLineEmpty(s, cch, i + 1) ? kDataContinues : kBadData;
        if (i == cch || s[i] == ';')
            return kDataEnds;
        if (!ReadHex(s, cch, &i, 2, &n))
            return kBadData;
        if (pDecoder != NULL)
            DecodeUtf16Byte(pDecoder, (unsigned char)n, pWriter);
        else
            Put(pWriter, (unsigned char)n);
        *piEnd = i;
        i = SkipBlanks(s, cch, i);
        if (i == cch || s[i] != ',')
            return IsRestOfLineEmpty(s, cch, i) ? kDataEnds : kBadData;
    }
}

// Reads the data after '=': "text", dword:n, hex:aa,bb,... or hex(N):aa,bb,..., putting out the
// bytes handed out (a version 5.00 file's hex text as UTF-8, as the ANSI calls hand out text); a
// comment may follow. *piEnd is where the data ends on its line.
DataVerdict ReadData(const char* s, size_t cch, bool bVersion5, DWORD* pdwType, ByteWriter* pWriter,
                     size_t* piEnd)
{
    size_t i = 0;
    uint32_t n = 0;
    if (cch > 0 && s[0] == '"') {
        *pdwType = REG_SZ;
        bool bRead = ReadQuoted(s, cch, &i, pWriter);
        Put(pWriter, '\0');
        *piEnd = i;
        return bRead && IsRestOfLineEmpty(s, cch, i) ? kDataEnds : kBadData;
    }
    if (cch >= 6 && memcmp(s, "dword:", 6) == 0) {
        *pdwType = REG_DWORD;
        i = SkipBlanks(s, cch, 6);
        if (!ReadHex(s, cch, &i, 8, &n) || !IsRestOfLineEmpty(s, cch, i))
            return kBadData;
        for (int nShift = 0; nShift < 32; nShift += 8)
            Put(pWriter, (unsigned char)(n >> nShift));
        *piEnd = i;
        return kDataEnds;
    }
    *pdwType = REG_BINARY;
    if (cch < 3 || memcmp(s, "hex", 3) != 0)
        return kBadData;
    i = 3;
    if (i < cch && s[i] == '(') {
        ++i;
        if (!ReadHex(s, cch, &i, 8, pdwType) || i >= cch || s[i] != ')')
            return kBadData;
        ++i;
    }
    if (i >= cch || s[i++] != ':')
        return kBadData;
    DWORD t = *pdwType;
    bool bText = bVersion5 && (t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ);
    Utf16Decoder decoder = {false, false, 0, 0};
    DataVerdict verdict = ReadHexBytes(s, cch, i, bText ? &decoder : NULL, pWriter, piEnd);
    if (bText)
        EndUtf16(&decoder, pWriter);
    return verdict;
}

// Reads "[ROOT\path]" or "[-ROOT\path]"; each path component needs a name.
bool ReadKeyLine(const char* s, size_t cch, RegistryLine* pLine, bool* pbDeletion)
{
    *pbDeletion = cch >= 2 && s[1] == '-';
    if (cch < 3 || s[cch - 1] != ']')
        return false;
    const char* pchName = s + (*pbDeletion ? 2 : 1);
    size_t cchName = cch - (*pbDeletion ? 2 : 1) - 1;
    const char* pSlash = (const char*)memchr(pchName, '\\', cchName);
    size_t iSlash = pSlash != NULL ? (size_t)(pSlash - pchName) : cchName;
    pLine->bKey = true;
    pLine->hRoot = FindRegistryRoot(pchName, iSlash);
    bool bHasPath = iSlash < cchName;
    pLine->pchPath = pchName + iSlash + bHasPath;
    pLine->cchPath = cchName - iSlash - bHasPath;
    const char* p = pLine->pchPath;
    for (size_t i = 0; i < pLine->cchPath; ++i)
        if (p[i] == '\\' && (i == 0 || i + 1 == pLine->cchPath || p[i + 1] == '\\'))
            return false;
    return pLine->hRoot != NULL && (!bHasPath || pLine->cchPath > 0);
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

enum LineVerdict { kSkipped, kDropped, kKept, kContinued };

// Where values go: to the key above them, nowhere after a deleted key (an export never holds such
// values), and nowhere but skipped before any key or after a key regedit could not create.
enum KeyState { kNoKey, kKeyOpen, kKeyDeleted };

// Checks one trimmed line after the header as regedit imports it, and cuts off what is not kept: a
// key line's text after its last ']', a value's comment, a hex value's closing backslash. Comments
// ('#' too), blank lines, deletions and the values of deleted keys are dropped; any other line
// regedit would not take is skipped. A skipped key line leaves the key above it open, as regedit.
LineVerdict CheckLine(char* s, size_t* pcch, bool bVersion5, KeyState* pKeyState)
{
    size_t cch = *pcch;
    RegistryLine line;
    bool bDeletion;
    if (cch == 0 || s[0] == ';' || s[0] == '#')
        return kDropped;
    if (s[0] == '[') {
        size_t cchKey = cch;
        while (cchKey > 0 && s[cchKey - 1] != ']')
            --cchKey;
        if (cchKey == 0 || IsBlank(s[1]))
            return kSkipped;
        bool bRead = ReadKeyLine(s, cchKey, &line, &bDeletion);
        *pcch = cchKey;
        if (bDeletion) {
            *pKeyState = kKeyDeleted;
            return kDropped;
        }
        *pKeyState = bRead ? kKeyOpen : kNoKey;
        return bRead ? kKept : kSkipped;
    }
    if ((s[0] == '"' || s[0] == '@') && *pKeyState == kKeyDeleted)
        return kDropped;
    if (*pKeyState == kNoKey || !ReadValueLine(s, cch, &line))
        return kSkipped;
    if (line.cchData > 0 && line.pchData[0] == '-' &&
        IsRestOfLineEmpty(line.pchData, line.cchData, 1))
        return kDropped;
    ByteWriter nowhere = {NULL, 0, 0};
    DWORD dwType;
    size_t iEnd = 0;
    DataVerdict verdict = ReadData(line.pchData, line.cchData, bVersion5, &dwType, &nowhere, &iEnd);
    *pcch = (size_t)(line.pchData - s) + iEnd;
    if (verdict == kBadData)
        return kSkipped;
    return verdict == kDataContinues ? kContinued : kKept;
}

// The line starting at s[iLine], ending at CR LF, LF or a lone CR as regedit reads them: its text
// without blanks at either end is s[*piFirst..*piLast). Gives where the next line starts.
size_t ReadLine(const char* s, size_t cch, size_t iLine, size_t* piFirst, size_t* piLast)
{
    size_t iEnd = iLine;
    while (iEnd < cch && s[iEnd] != '\n' && s[iEnd] != '\r')
        ++iEnd;
    *piFirst = SkipBlanks(s, iEnd, iLine);
    for (*piLast = iEnd; *piLast > *piFirst && IsBlank(s[*piLast - 1]);)
        --*piLast;
    if (iEnd < cch)
        iEnd += s[iEnd] == '\r' && iEnd + 1 < cch && s[iEnd + 1] == '\n' ? 2 : 1;
    return iEnd;
}

// Turns the file's text, in place, into the lines that are kept: the header first, then each line
// as regedit imports it, a hex value with the lines it continues on. Lines only ever get shorter,
// so each is written at or before the place it was read from. False without a header.
bool KeepLines(RegistryText* pText, RegistryLineSkipped pfnSkipped, void* pContext)
{
    char* s = pText->pchLines;
    size_t cch = pText->cch, cchKept = 0, cchLogical = 0, nLogical = 0, iFirst, iLast;
    size_t iLine = ReadLine(s, cch, 0, &iFirst, &iLast);
    pText->bVersion5 = IsText(s + iFirst, iLast - iFirst, kHeader5);
    if (!pText->bVersion5 && !IsText(s + iFirst, iLast - iFirst, kHeader4))
        return false;
    KeyState keyState = kNoKey;
    for (size_t nLine = 2; iLine < cch; ++nLine) {
        iLine = ReadLine(s, cch, iLine, &iFirst, &iLast);
        char* pLogical = s + cchKept;
        LineVerdict verdict = kKept;
        if (cchLogical > 0) {
            // Hex data going on: blank and comment lines are passed over; a line that does not go
            // on with a hex digit ends the value unread, and is lost with it, as in regedit.
            if (iFirst == iLast || s[iFirst] == ';')
                continue;
            ByteWriter nowhere = {NULL, 0, 0};
            size_t iDataEnd = iFirst;
            DataVerdict data = isxdigit((unsigned char)s[iFirst])
                                   ? ReadHexBytes(s, iLast, iFirst, NULL, &nowhere, &iDataEnd)
                                   : kBadData;
            if (data == kBadData) {
                if (pfnSkipped != NULL) {
                    pfnSkipped(pContext, nLogical, pLogical, cchLogical);
                    pfnSkipped(pContext, nLine, s + iFirst, iLast - iFirst);
                }
                cchLogical = 0;
                continue;
            }
            memmove(pLogical + cchLogical, s + iFirst, iDataEnd - iFirst);
            cchLogical += iDataEnd - iFirst;
            if (data == kDataContinues)
                continue;
        } else {
            nLogical = nLine;
            cchLogical = iLast - iFirst;
            memmove(pLogical, s + iFirst, cchLogical);
            size_t cchLine = cchLogical;
            verdict = CheckLine(pLogical, &cchLogical, pText->bVersion5, &keyState);
            if (verdict == kSkipped && pfnSkipped != NULL)
                pfnSkipped(pContext, nLine, pLogical, cchLine);
            if (verdict == kContinued)
                continue;
        }
        if (verdict == kKept) {
            pLogical[cchLogical] = '\n';
            cchKept += cchLogical + 1;
        }
        cchLogical = 0;
    }
    // Hex data going on at the end of the file ends there, as in regedit.
    if (cchLogical > 0) {
        s[cchKept + cchLogical] = '\n';
        cchKept += cchLogical + 1;
    }
    pText->cch = cchKept;
    return true;
}

}  // namespace

RegistryText* ReadRegistryText(const char* pBytes, size_t cbBytes, RegistryLineSkipped pfnSkipped,
                               void* pContext, LSTATUS* pStatus)
{
    bool bUtf16 = cbBytes >= 2 && memcmp(pBytes, "\xFF\xFE", 2) == 0;
    size_t iFirst = bUtf16 ? 2 : 0;
    if (!bUtf16 && cbBytes >= 3 && memcmp(pBytes, "\xEF\xBB\xBF", 3) == 0)
        iFirst = 3;
    // Each 2 bytes of UTF-16 make at most 3 of UTF-8; a pair of 4 makes 4.
    size_t cbRoom = bUtf16 ? (cbBytes - 2) / 2 * 3 : cbBytes - iFirst;
    // One block: the text, its lines after it, with room for a newline past them.
    RegistryText* pText = (RegistryText*)malloc(sizeof(RegistryText) + cbRoom + 1);
    *pStatus = pText != NULL ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    if (pText != NULL)
        *pText = RegistryText{false, 0, (char*)(pText + 1)};
    if (pText == NULL || pBytes == NULL)
        return pText;
    ByteWriter writer = {(BYTE*)pText->pchLines, cbRoom, 0};
    Utf16Decoder decoder = {false, false, 0, 0};
    for (size_t i = iFirst; i < cbBytes; ++i) {
        if (bUtf16)
            DecodeUtf16Byte(&decoder, (unsigned char)pBytes[i], &writer);
        else
            Put(&writer, (unsigned char)pBytes[i]);
    }
    EndUtf16(&decoder, &writer);
    pText->cch = writer.cbPut;
    // No export holds a NUL: this is a binary file, or UTF-16 without its byte-order mark.
    if (memchr(pText->pchLines, '\0', pText->cch) != NULL ||
        !KeepLines(pText, pfnSkipped, pContext)) {
        FreeRegistryText(pText);
        *pStatus = ERROR_BADDB;
        return NULL;
    }
    return pText;
}

void FreeRegistryText(RegistryText* pText)
{
    free(pText);
}

bool NextRegistryLine(const RegistryText* pText, size_t* piNext, RegistryLine* pLine)
{
    if (*piNext >= pText->cch)
        return false;
    const char* s = pText->pchLines + *piNext;
    size_t cch = (size_t)((const char*)memchr(s, '\n', pText->cch - *piNext) - s);
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
        char ch = line.pchName[i];
        // Every line kept was checked: its escapes are good.
        if (ch == '\\')
            (void)Unescape(line.pchName[++i], &ch);
        if (cch >= cchName ||
            FoldAscii((unsigned char)ch) != FoldAscii((unsigned char)pszName[cch]))
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

size_t DecodeRegistryData(const RegistryText* pText, const RegistryLine& line, DWORD* pdwType,
                          BYTE* pOut, size_t cbOut)
{
    ByteWriter writer = {pOut, cbOut, 0};
    size_t iEnd;
    (void)ReadData(line.pchData, line.cchData, pText->bVersion5, pdwType, &writer, &iEnd);
    return writer.cbPut;
}

bool IsRegistryRoot(HKEY hKey)
{
    for (const auto& root : kRoots)
        if (hKey == root.hRoot)
            return true;
    return false;
}
