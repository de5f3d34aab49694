// The text rules both file readers share: ASCII case folding, blanks, and UTF-16 turned into UTF-8,
// the hosted layer's code page, a byte at a time.
#ifndef ROMGATE_POSIX_TEXT_H
#define ROMGATE_POSIX_TEXT_H

#include <stddef.h>

// ASCII upper case; every other byte, those of UTF-8 sequences included, is left as it is, as
// Windows folds names in a UTF-8 code page.
inline unsigned char FoldAscii(unsigned char ch)
{
    return (ch >= 'a' && ch <= 'z') ? (unsigned char)(ch - 'a' + 'A') : ch;
}

// A space or a tab: what the readers skip around names and data.
inline bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

// The order of the cchA bytes at a and the cchB bytes at b by upper-cased bytes, the order the
// registry sorts names in: negative when a comes first, 0 for the same name, else positive.
int CompareIgnoringCase(const char* a, size_t cchA, const char* b, size_t cchB);

inline bool IsSameIgnoringCase(const char* a, size_t cchA, const char* b, size_t cchB)
{
    return CompareIgnoringCase(a, cchA, b, cchB) == 0;
}

// Counts every byte put and stores those that fit the caller's buffer, so that one pass both sizes
// and, given room, writes; more put than fits is an overflow.
struct ByteWriter {
    unsigned char* pOut;
    size_t cbOut;
    size_t cbPut;
};

inline void Put(ByteWriter* pWriter, unsigned char ch)
{
    if (pWriter->cbPut < pWriter->cbOut)
        pWriter->pOut[pWriter->cbPut] = ch;
    pWriter->cbPut++;
}

// The most UTF-8 bytes one UTF-16 byte can complete: a surrogate left alone (3 bytes) and the
// character after it (3 more).
#define UTF8_PER_UTF16_BYTE_MAX 6

// UTF-16 text arriving a byte at a time, in either byte order. A surrogate without its partner
// stands for U+FFFD, as Windows converts it; an odd last byte is no character and is dropped. Start
// it zeroed, bBigEndian set for text whose byte-order mark is FE FF.
struct Utf16Decoder {
    bool bBigEndian;
    bool bHaveFirstByte;
    unsigned char chFirstByte;
    unsigned int nHighSurrogate;  // waiting for its low half, or 0
};

// Takes one byte and puts out the UTF-8 of the characters it completes, at most
// UTF8_PER_UTF16_BYTE_MAX bytes.
void DecodeUtf16Byte(Utf16Decoder* pDecoder, unsigned char ch, ByteWriter* pWriter);

// Ends the text: a high surrogate still waiting is put out as U+FFFD.
void EndUtf16(Utf16Decoder* pDecoder, ByteWriter* pWriter);

#endif  // ROMGATE_POSIX_TEXT_H
