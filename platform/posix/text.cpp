#include "platform/posix/text.h"

namespace {

const unsigned int kReplacement = 0xFFFD;

void PutUtf8(unsigned int cp, ByteWriter* pWriter)
{
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    size_t cTrail = (cp >= 0x80) + (cp >= 0x800) + (cp >= 0x10000);
    Put(pWriter, (unsigned char)(kLead[cTrail] | cp >> (6 * cTrail)));
    for (size_t k = 1; k <= cTrail; ++k)
        Put(pWriter, (unsigned char)(0x80 | ((cp >> (6 * (cTrail - k))) & 0x3F)));
}

}  // namespace

int CompareIgnoringCase(const char* a, size_t cchA, const char* b, size_t cchB)
{
    for (size_t i = 0; i < cchA && i < cchB; ++i) {
        int nDifference = FoldAscii((unsigned char)a[i]) - FoldAscii((unsigned char)b[i]);
        if (nDifference != 0)
            return nDifference;
    }
    return (cchA > cchB) - (cchA < cchB);
}

void DecodeUtf16Byte(Utf16Decoder* pDecoder, unsigned char ch, ByteWriter* pWriter)
{
    if (!pDecoder->bHaveFirstByte) {
        pDecoder->chFirstByte = ch;
        pDecoder->bHaveFirstByte = true;
        return;
    }
    pDecoder->bHaveFirstByte = false;
    unsigned int unit = pDecoder->bBigEndian ? (unsigned int)pDecoder->chFirstByte << 8 | ch
                                             : (unsigned int)ch << 8 | pDecoder->chFirstByte;
    unsigned int nHigh = pDecoder->nHighSurrogate;
    pDecoder->nHighSurrogate = 0;
    bool bLow = unit >= 0xDC00 && unit <= 0xDFFF;
    if (nHigh != 0 && bLow) {
        PutUtf8(0x10000 + ((nHigh - 0xD800) << 10) + (unit - 0xDC00), pWriter);
        return;
    }
    if (nHigh != 0)
        PutUtf8(kReplacement, pWriter);
    if (unit >= 0xD800 && unit <= 0xDBFF)
        pDecoder->nHighSurrogate = unit;
    else
        PutUtf8(bLow ? kReplacement : unit, pWriter);
}

void EndUtf16(Utf16Decoder* pDecoder, ByteWriter* pWriter)
{
    if (pDecoder->nHighSurrogate != 0)
        PutUtf8(kReplacement, pWriter);
    pDecoder->nHighSurrogate = 0;
    pDecoder->bHaveFirstByte = false;
}
