// The text side of profile (INI) files, with no system call: profile.cpp streams the file in.
#include <string.h>

#include "platform/posix/profile.h"
#include "platform/posix/text.h"

namespace {

// White space around names and values, ^Z too: old editors end files with it; Windows skips it.
bool IsProfileSpace(unsigned char ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r') || ch == 0x1a;
}

// Compares a name arriving byte by byte with a wanted name, ignoring ASCII case and the white space
// around the arriving name. The wanted name is trimmed, so white space inside it must match
// exactly. A NUL byte ends the arriving name as it ends a C string, white space before it included,
// as in Wine, which keeps the name whole and compares it as a string.
struct NameMatcher {
    const char* pszWanted;
    size_t cchWanted, cchMatched;
    bool bFailed, bEnded, bSpaceAfter;

    explicit NameMatcher(const char* pszName)
    {
        while (IsProfileSpace(*pszName))
            ++pszName;
        pszWanted = pszName;
        cchWanted = strlen(pszName);
        while (cchWanted > 0 && IsProfileSpace(pszName[cchWanted - 1]))
            --cchWanted;
        Restart();
    }
    void Restart()
    {
        cchMatched = 0;
        bFailed = bEnded = bSpaceAfter = false;
    }
    void Add(unsigned char ch)
    {
        if (bFailed || bEnded)
            return;
        if (ch == '\0') {
            bEnded = true;
            bFailed = cchMatched != cchWanted || bSpaceAfter;
        } else if (IsProfileSpace(ch) && (cchMatched == 0 || cchMatched == cchWanted)) {
            bSpaceAfter = cchMatched > 0;
        } else {
            bFailed = cchMatched == cchWanted ||
                      FoldAscii(ch) != FoldAscii((unsigned char)pszWanted[cchMatched++]);
        }
    }
    bool Matches() const { return !bFailed && cchMatched == cchWanted; }
};

// Ends a copy of cch characters, chLast the last of them, whose first cchRoom + 1 are in pszOut:
// one pair of matching quotes dropped, then cut to cchRoom characters and terminated; gives that.
DWORD EndCopy(char* pszOut, size_t cchRoom, size_t cch, char chLast)
{
    if (cch >= 2 && (pszOut[0] == '"' || pszOut[0] == '\'') && chLast == pszOut[0]) {
        cch -= 2;
        memmove(pszOut, pszOut + 1, cch < cchRoom ? cch : cchRoom);
    }
    if (cch > cchRoom)
        cch = cchRoom;
    pszOut[cch] = '\0';
    return (DWORD)cch;
}

enum LineState { kLineStart, kSection, kKey, kValue, kSkip };

// Looks for one key of one section in profile text fed in pieces of any size, keeping only the
// current line's state; the value is copied into the caller's buffer as it arrives.
class ProfileScanner {
public:
    ProfileScanner(const char* pszSection, const char* pszKey, char* pszOut, DWORD cchOut)
        : m_section(pszSection), m_key(pszKey), m_pszOut(pszOut), m_cchRoom(cchOut - 1)
    {
        m_bInSection = m_section.cchWanted == 0;
        // An empty key name never names a value; Windows gives the default.
        m_bDone = m_key.cchWanted == 0;
    }

    bool IsDone() const { return m_bDone; }

    // Takes the next piece of text; a byte-order mark opening the first says how to read it.
    void Feed(const char* p, size_t cb)
    {
        if (m_bFirstPiece && cb >= 3 && memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
            p += 3;
            cb -= 3;
        } else if (m_bFirstPiece && cb >= 2 &&
                   (memcmp(p, "\xFF\xFE", 2) == 0 || memcmp(p, "\xFE\xFF", 2) == 0)) {
            m_bUtf16 = true;
            m_utf16.bBigEndian = p[0] == '\xFE';
            p += 2;
            cb -= 2;
        }
        m_bFirstPiece = false;
        for (size_t i = 0; i < cb && !m_bDone; ++i) {
            unsigned char utf8[UTF8_PER_UTF16_BYTE_MAX];
            ByteWriter decoded = {utf8, sizeof(utf8), 0};
            if (m_bUtf16)
                DecodeUtf16Byte(&m_utf16, (unsigned char)p[i], &decoded);
            else
                Put(&decoded, (unsigned char)p[i]);
            AddBytes(decoded);
        }
    }

    // Ends the text; writes the value or else the default (only trailing spaces dropped from it, as
    // Windows does) and returns its length.
    DWORD Finish(const char* pszDefault)
    {
        unsigned char utf8[UTF8_PER_UTF16_BYTE_MAX];
        ByteWriter decoded = {utf8, sizeof(utf8), 0};
        EndUtf16(&m_utf16, &decoded);
        AddBytes(decoded);
        EndLine();
        if (m_bFound)
            return EndCopy(m_pszOut, m_cchRoom, m_cchTrimmed, m_chLast);
        pszDefault = pszDefault != NULL ? pszDefault : "";
        size_t cch = strlen(pszDefault);
        while (cch > 0 && pszDefault[cch - 1] == ' ')
            --cch;
        memcpy(m_pszOut, pszDefault, cch <= m_cchRoom ? cch : m_cchRoom + 1);
        return EndCopy(m_pszOut, m_cchRoom, cch, cch ? pszDefault[cch - 1] : '\0');
    }

private:
    void AddBytes(const ByteWriter& bytes)
    {
        for (size_t i = 0; i < bytes.cbPut && !m_bDone; ++i)
            AddByte(bytes.pOut[i]);
    }

    void AddByte(unsigned char ch)
    {
        if (ch == '\n' || ch == '\r') {
            EndLine();
            return;
        }
        if (m_state == kLineStart) {
            if (IsProfileSpace(ch))
                return;
            m_state = ch == '[' ? kSection : (ch == ';' || !m_bInSection) ? kSkip : kKey;
            m_section.Restart();
            m_key.Restart();
            m_bBracket = false;
            if (m_state == kSection)
                return;
        }
        if (m_state == kSection) {
            // The name runs to the last ']': keep the verdict at each one.
            if (ch == ']') {
                m_bBracket = true;
                m_bBracketMatches = m_section.Matches();
            }
            m_section.Add(ch);
        } else if (m_state == kKey && ch == '=') {
            m_state = m_key.Matches() ? kValue : kSkip;
        } else if (m_state == kKey) {
            m_key.Add(ch);
        } else if (m_state == kValue) {
            AddValueByte(ch);
        }
    }

    // Leading white space is skipped, trailing white space dropped at the end of the line. A NUL
    // ends the value as the caller's string shows it, white space before it included, as in Wine,
    // which keeps the line whole.
    void AddValueByte(unsigned char ch)
    {
        if (m_bValueEnded || (m_cchSeen == 0 && IsProfileSpace(ch)))
            return;
        m_bValueEnded = ch == '\0';
        if (m_bValueEnded) {
            if (m_cchTrimmed != m_cchSeen)
                m_chLast = ' ';  // white space closes no quote
            m_cchTrimmed = m_cchSeen;
            return;
        }
        if (m_cchSeen <= m_cchRoom)
            m_pszOut[m_cchSeen] = (char)ch;
        ++m_cchSeen;
        if (!IsProfileSpace(ch)) {
            m_cchTrimmed = m_cchSeen;
            m_chLast = (char)ch;
        }
    }

    void EndLine()
    {
        if (m_state == kValue) {
            m_bFound = m_bDone = true;
        } else if (m_state == kKey && m_key.Matches()) {
            // A key without '=' has no value, and only the first key of the name counts (as in
            // Wine): the answer is the default.
            m_bDone = true;
        } else if (m_state == kSection && m_bBracket) {
            // The first section of the name ended without the key.
            m_bDone = m_bInSection;
            m_bInSection = m_bBracketMatches;
        }
        m_state = kLineStart;
    }

    NameMatcher m_section, m_key;
    char* m_pszOut;
    size_t m_cchRoom, m_cchSeen = 0, m_cchTrimmed = 0;
    char m_chLast = 0;
    // UTF-16 text, in either byte order, is read as the UTF-8 it stands for.
    Utf16Decoder m_utf16 = {false, false, 0, 0};
    LineState m_state = kLineStart;
    bool m_bInSection, m_bDone, m_bFound = false, m_bFirstPiece = true;
    bool m_bBracket = false, m_bBracketMatches = false, m_bValueEnded = false;
    bool m_bUtf16 = false;
};

// The answers given before any text is read: none without a buffer, an empty list ("\0\0") for a
// NULL section or key, since names are not listed. False when the text must be read.
bool AnswersWithoutText(LPCSTR pszSection, LPCSTR pszKey, LPSTR pszOut, DWORD cchOut)
{
    if (pszOut != NULL && cchOut > 0 && (pszSection == NULL || pszKey == NULL))
        memset(pszOut, 0, cchOut < 2 ? 1 : 2);
    return pszOut == NULL || cchOut == 0 || pszSection == NULL || pszKey == NULL;
}

}  // namespace

DWORD GetProfileStringFromSource(LPCSTR pszSection, LPCSTR pszKey, LPCSTR pszDefault, LPSTR pszOut,
                                 DWORD cchOut, ProfileTextSource pfnSource, void* pContext)
{
    if (AnswersWithoutText(pszSection, pszKey, pszOut, cchOut))
        return 0;
    ProfileScanner scanner(pszSection, pszKey, pszOut, cchOut);
    size_t cb = 0;
    for (const char* p; !scanner.IsDone() && (p = pfnSource(pContext, &cb)) != NULL;)
        scanner.Feed(p, cb);
    return scanner.Finish(pszDefault);
}

DWORD GetProfileStringFromText(const char* pText, size_t cbText, LPCSTR pszSection, LPCSTR pszKey,
                               LPCSTR pszDefault, LPSTR pszOut, DWORD cchOut)
{
    if (AnswersWithoutText(pszSection, pszKey, pszOut, cchOut))
        return 0;
    ProfileScanner scanner(pszSection, pszKey, pszOut, cchOut);
    scanner.Feed(pText != NULL ? pText : "", cbText);
    return scanner.Finish(pszDefault);
}
