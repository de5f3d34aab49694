#include "pack/pe_facts.h"

namespace {

const uint16_t kCharacteristicExecutable = 0x0002;
const uint16_t kCharacteristicDll = 0x2000;
const uint32_t kResourceDirectory = 2;
const uint32_t kVersionResourceType = 16;  // RT_VERSION
const uint32_t kFixedInfoSignature = 0xFEEF04BD;
// VS_VERSIONINFO: three WORDs, then L"VS_VERSION_INFO" with its terminator,
// padded to a DWORD boundary: the fixed part starts 40 bytes in.
const uint32_t kFixedInfoOffset = 40;

// Little-endian reads that answer 0 past the end, so that a cut or hostile
// file reads as one with nothing there instead of being read out of bounds.
struct Bytes {
    const std::string& s;
    bool Has(uint64_t offset, uint64_t cb) const { return offset + cb <= s.size(); }
    uint32_t U16(uint64_t at) const
    {
        return Has(at, 2) ? (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 : 0;
    }
    uint32_t U32(uint64_t at) const { return U16(at) | U16(at + 2) << 16; }
};

struct Image {
    Bytes bytes;
    uint64_t offSections;
    uint32_t cSections;

    // The file offset of a relative virtual address, or 0 when no section
    // holds it in the file.
    uint64_t OffsetOf(uint32_t rva) const
    {
        for (uint32_t i = 0; i < cSections; ++i) {
            uint64_t section = offSections + 40ull * i;
            uint32_t va = bytes.U32(section + 12), cbRaw = bytes.U32(section + 16);
            if (rva >= va && rva - va < cbRaw)
                return (uint64_t)bytes.U32(section + 20) + (rva - va);
        }
        return 0;
    }
};

// The first entry of a resource directory (at offset dir from the start of
// the resources) whose id is wanted, or any id when wanted is ~0u: the
// offset its data lies at, with its subdirectory bit, or 0 if there is none.
uint32_t FindEntry(const Bytes& b, uint64_t resources, uint32_t dir, uint32_t wanted)
{
    uint64_t at = resources + dir;
    uint32_t cNamed = b.U16(at + 12), cIds = b.U16(at + 14);
    for (uint32_t i = cNamed; i < cNamed + cIds; ++i) {
        uint64_t entry = at + 16 + 8ull * i;
        if (wanted == ~0u || b.U32(entry) == wanted)
            return b.U32(entry + 4);
    }
    return 0;
}

// Type, name, language: the first version resource's fixed part.
void ReadProductVersion(const Image& image, uint64_t offOptional, bool bPe32Plus,
                        PeFacts* pFacts)
{
    const Bytes& b = image.bytes;
    uint64_t dirs = offOptional + (bPe32Plus ? 112 : 96);
    uint32_t cDirs = b.U32(offOptional + (bPe32Plus ? 108 : 92));
    uint64_t resources = cDirs > kResourceDirectory
                             ? image.OffsetOf(b.U32(dirs + 8ull * kResourceDirectory))
                             : 0;
    if (resources == 0)
        return;
    uint32_t entry = FindEntry(b, resources, 0, kVersionResourceType);
    for (int level = 0; level < 2 && (entry & 0x80000000u) != 0; ++level)
        entry = FindEntry(b, resources, entry & 0x7FFFFFFFu, ~0u);
    if (entry == 0 || (entry & 0x80000000u) != 0)
        return;
    uint64_t data = image.OffsetOf(b.U32(resources + entry));
    uint64_t fixed = data + kFixedInfoOffset;
    if (data == 0 || b.U32(fixed) != kFixedInfoSignature || !b.Has(fixed, 24))
        return;
    uint32_t ms = b.U32(fixed + 16), ls = b.U32(fixed + 20);
    pFacts->bHasProductVersion = true;
    pFacts->productVersion[0] = (uint16_t)(ms >> 16);
    pFacts->productVersion[1] = (uint16_t)ms;
    pFacts->productVersion[2] = (uint16_t)(ls >> 16);
    pFacts->productVersion[3] = (uint16_t)ls;
}

}  // namespace

bool ReadPeFacts(const std::string& bytes, PeFacts* pFacts)
{
    Bytes b{bytes};
    *pFacts = PeFacts{};
    if (b.U16(0) != 0x5A4D)  // "MZ"
        return false;
    uint64_t pe = b.U32(0x3C);
    if (b.U32(pe) != 0x00004550 || !b.Has(pe, 24))  // "PE\0\0" and the COFF header
        return false;
    uint16_t characteristics = (uint16_t)b.U16(pe + 22);
    uint64_t offOptional = pe + 24;
    uint32_t cbOptional = b.U16(pe + 20);
    pFacts->wMachine = (uint16_t)b.U16(pe + 4);
    pFacts->wMagic = (uint16_t)b.U16(offOptional);
    bool bPe32Plus = pFacts->wMagic == 0x020B;
    if (!b.Has(offOptional, cbOptional) || (!bPe32Plus && pFacts->wMagic != PE_MAGIC_PE32) ||
        (characteristics & kCharacteristicExecutable) == 0 ||
        (characteristics & kCharacteristicDll) != 0)
        return false;
    Image image{b, offOptional + cbOptional, b.U16(pe + 6)};
    ReadProductVersion(image, offOptional, bPe32Plus, pFacts);
    return true;
}
