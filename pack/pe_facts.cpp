#include "pack/pe_facts.h"

#include "pack/le_bytes.h"

namespace {

const uint32_t kDosHeaderSize = 64;
const uint32_t kCoffHeaderSize = 24;  // with the "PE\0\0" signature
const uint32_t kSectionHeaderSize = 40;
const uint16_t kCharacteristicExecutable = 0x0002;
const uint16_t kCharacteristicDll = 0x2000;
const uint32_t kResourceDirectory = 2;
const uint32_t kVersionResourceType = 16;  // RT_VERSION
const uint32_t kSubdirectory = 0x80000000u;
const uint32_t kFixedInfoSignature = 0xFEEF04BD;
// VS_VERSIONINFO: three WORDs, then L"VS_VERSION_INFO" with its terminator,
// padded to a DWORD boundary: the fixed part, VS_FIXEDFILEINFO, starts 40
// bytes in.
const char kVersionKey[] = "VS_VERSION_INFO";
const uint32_t kVersionKeyOffset = 6;
const uint32_t kFixedInfoOffset = 40;
const uint32_t kFixedInfoSize = 52;

// The file as Windows maps it: the headers at address 0, each section's raw
// data at its address. All of it was checked to lie in the file.
struct Image {
    Bytes bytes;
    uint64_t cbHeaders;
    uint64_t offSections;
    uint32_t cSections;

    // The file offset of cb bytes at a relative virtual address, when they
    // all lie in the headers or in the raw data of one section.
    bool Map(uint32_t rva, uint32_t cb, uint64_t* pOffset) const
    {
        uint64_t end = (uint64_t)rva + cb;
        if (end <= cbHeaders) {
            *pOffset = rva;
            return true;
        }
        for (uint32_t i = 0; i < cSections; ++i) {
            uint64_t section = offSections + (uint64_t)kSectionHeaderSize * i;
            uint32_t va = bytes.U32(section + 12), cbRaw = bytes.U32(section + 16);
            if (rva >= va && end - va <= cbRaw) {
                *pOffset = (uint64_t)bytes.U32(section + 20) + (rva - va);
                return true;
            }
        }
        return false;
    }
    // A DWORD at a relative virtual address; 0, which means "none" to the
    // resource walk, where nothing is mapped.
    uint32_t U32At(uint32_t rva) const
    {
        uint64_t offset = 0;
        return Map(rva, 4, &offset) ? bytes.U32(offset) : 0;
    }
};

// Windows refuses an image whose section table or whose sections' raw data
// run past the end of the file; a section without raw data (zeros only) has
// none to check.
bool SectionsInFile(const Image& image)
{
    const Bytes& b = image.bytes;
    if (!b.Has(image.offSections, (uint64_t)kSectionHeaderSize * image.cSections))
        return false;
    for (uint32_t i = 0; i < image.cSections; ++i) {
        uint64_t section = image.offSections + (uint64_t)kSectionHeaderSize * i;
        uint32_t cbRaw = b.U32(section + 16);
        if (cbRaw != 0 && !b.Has(b.U32(section + 20), cbRaw))
            return false;
    }
    return true;
}

// The first entry of a resource directory (at offset dir from the start of
// the resources) whose id is wanted, or any id when wanted is ~0u: the
// offset its data lies at, with its subdirectory bit, or 0 if there is none.
uint32_t FindEntry(const Image& image, uint32_t resources, uint32_t dir, uint32_t wanted)
{
    uint32_t at = resources + dir;
    uint32_t cNamed = image.U32At(at + 12) & 0xFFFF, cIds = image.U32At(at + 12) >> 16;
    // All its entries, named first, or none: one mapping, however many.
    uint64_t entries = 0;
    if (!image.Map(at + 16, 8 * (cNamed + cIds), &entries))
        return 0;
    for (uint64_t entry = entries + 8ull * cNamed; entry < entries + 8ull * (cNamed + cIds);
         entry += 8)
        if (wanted == ~0u || image.bytes.U32(entry) == wanted)
            return image.bytes.U32(entry + 4);
    return 0;
}

bool HasVersionKey(const Bytes& b, uint64_t key)
{
    for (uint32_t i = 0; i < sizeof(kVersionKey); ++i)
        if (b.U16(key + 2ull * i) != (uint8_t)kVersionKey[i])
            return false;
    return true;
}

// One node of a version block: WORD length, WORD value length, WORD type
// (1: the value is text, its length counted in UTF-16 units), the key in
// UTF-16 with its terminator, the value and the children, each starting on
// a 4-byte boundary of the block.
struct VersionNode {
    uint64_t end;        // just past the node
    std::string key;     // ASCII, '?' for any other character
    uint64_t value;      // where the value starts
    uint64_t cbValue;
    uint64_t children;   // where the first child starts
};

uint64_t AlignInBlock(uint64_t block, uint64_t at)
{
    return block + ((at - block + 3) & ~3ull);
}

// The UTF-16 text at at, up to its terminator or end, as ASCII.
std::string AsciiText(const Bytes& b, uint64_t at, uint64_t end, uint64_t* pAfter)
{
    std::string text;
    for (; at + 2 <= end; at += 2) {
        uint32_t ch = b.U16(at);
        if (ch == 0) {
            at += 2;
            break;
        }
        text += ch < 0x80 ? (char)ch : '?';
    }
    *pAfter = at;
    return text;
}

// The node at at, which must lie within [at, end) of the block.
bool ReadVersionNode(const Bytes& b, uint64_t block, uint64_t at, uint64_t end, VersionNode* pNode)
{
    uint32_t cb = b.U16(at);
    if (cb < 6 || at + cb > end)
        return false;
    pNode->end = at + cb;
    uint64_t afterKey = 0;
    pNode->key = AsciiText(b, at + 6, pNode->end, &afterKey);
    pNode->value = AlignInBlock(block, afterKey);
    pNode->cbValue = (uint64_t)b.U16(at + 2) * (b.U16(at + 4) == 1 ? 2 : 1);
    pNode->children = AlignInBlock(block, pNode->value + pNode->cbValue);
    return pNode->value + pNode->cbValue <= pNode->end;
}

// The children of the node named path[0] under parent, then of path[1]
// under that, and so on: the value of the first String found at the end
// of the path, or "" when there is none.
std::string FindVersionString(const Bytes& b, uint64_t block, const VersionNode& parent,
                              const char* const* path, int cPath)
{
    VersionNode child;
    for (uint64_t at = parent.children; at < parent.end; at = AlignInBlock(block, child.end)) {
        if (!ReadVersionNode(b, block, at, parent.end, &child))
            return "";
        if (cPath == 1 && child.key == path[0]) {
            uint64_t after = 0;
            return AsciiText(b, child.value, child.value + child.cbValue, &after);
        }
        // A string table's key is its language and code page, any of them.
        if (cPath > 1 && (path[0][0] == '\0' || child.key == path[0])) {
            std::string found = FindVersionString(b, block, child, path + 1, cPath - 1);
            if (!found.empty())
                return found;
        }
    }
    return "";
}

std::string ReadInternalName(const Bytes& b, uint64_t block, uint64_t cbBlock)
{
    static const char* const kPath[] = {"StringFileInfo", "", "InternalName"};
    VersionNode root;
    if (!ReadVersionNode(b, block, block, block + cbBlock, &root))
        return "";
    return FindVersionString(b, block, root, kPath, 3);
}

// Type, name, language: the first version resource's fixed part, read only
// within the size its data entry gives.
void ReadProductVersion(const Image& image, uint32_t resources, PeFacts* pFacts)
{
    uint32_t entry = FindEntry(image, resources, 0, kVersionResourceType);
    for (int level = 0; level < 2 && (entry & kSubdirectory) != 0; ++level)
        entry = FindEntry(image, resources, entry & ~kSubdirectory, ~0u);
    if (entry == 0 || (entry & kSubdirectory) != 0)
        return;
    uint32_t cbBlock = image.U32At(resources + entry + 4);
    uint64_t block = 0;
    if (cbBlock < kFixedInfoOffset + kFixedInfoSize ||
        !image.Map(image.U32At(resources + entry), cbBlock, &block))
        return;
    const Bytes& b = image.bytes;
    uint64_t fixed = block + kFixedInfoOffset;
    if (!HasVersionKey(b, block + kVersionKeyOffset) || b.U32(fixed) != kFixedInfoSignature)
        return;
    uint32_t ms = b.U32(fixed + 16), ls = b.U32(fixed + 20);
    pFacts->bHasProductVersion = true;
    pFacts->productVersion[0] = (uint16_t)(ms >> 16);
    pFacts->productVersion[1] = (uint16_t)ms;
    pFacts->productVersion[2] = (uint16_t)(ls >> 16);
    pFacts->productVersion[3] = (uint16_t)ls;
    pFacts->internalName = ReadInternalName(b, block, cbBlock);
}

// The MZ, PE and optional headers: where they are, and the optional
// header's size, magic and the size of its fields before its data
// directories.
struct PeHeaders {
    uint64_t pe, offOptional;
    uint32_t cbOptional, magic, cbFields;
};

// False unless the file holds the DOS and COFF headers with their
// signatures, and a PE32 or PE32+ optional header that holds its fields.
bool ReadPeHeaders(const Bytes& b, PeHeaders* pHeaders)
{
    uint64_t pe = b.U32(0x3C);
    if (!b.Has(0, kDosHeaderSize) || b.U16(0) != 0x5A4D ||  // "MZ"
        !b.Has(pe, kCoffHeaderSize) || b.U32(pe) != 0x00004550)  // "PE\0\0"
        return false;
    uint64_t offOptional = pe + kCoffHeaderSize;
    uint32_t cbOptional = b.U16(pe + 20), magic = b.U16(offOptional);
    uint32_t cbFields = magic == PE_MAGIC_PE32_PLUS ? 112 : 96;
    *pHeaders = PeHeaders{pe, offOptional, cbOptional, magic, cbFields};
    return (magic == PE_MAGIC_PE32 || magic == PE_MAGIC_PE32_PLUS) && cbOptional >= cbFields &&
           b.Has(offOptional, cbOptional);
}

// The file offset of data directory entry index: only a directory that both
// the count and the header's size hold; 0 for none.
uint64_t DirectoryEntry(const Bytes& b, const PeHeaders& h, uint32_t index)
{
    uint32_t cDirs = b.U32(h.offOptional + h.cbFields - 4);
    return cDirs > index && (h.cbOptional - h.cbFields) / 8 > index
               ? h.offOptional + h.cbFields + 8ull * index
               : 0;
}

}  // namespace

bool ReadDataDirectory(const std::string& bytes, uint32_t index, uint32_t* pAddress, uint32_t* pcb)
{
    Bytes b{bytes};
    PeHeaders h;
    if (!ReadPeHeaders(b, &h))
        return false;
    uint64_t entry = DirectoryEntry(b, h, index);
    *pAddress = entry != 0 ? b.U32(entry) : 0;
    *pcb = entry != 0 ? b.U32(entry + 4) : 0;
    return true;
}

bool ReadPeFacts(const std::string& bytes, PeFacts* pFacts)
{
    Bytes b{bytes};
    *pFacts = PeFacts{};
    PeHeaders h;
    if (!ReadPeHeaders(b, &h))
        return false;
    uint16_t characteristics = (uint16_t)b.U16(h.pe + 22);
    if ((characteristics & kCharacteristicExecutable) == 0 ||
        (characteristics & kCharacteristicDll) != 0)
        return false;
    // Windows maps the headers, SizeOfHeaders bytes, from the file.
    uint32_t cbHeaders = b.U32(h.offOptional + 60);
    Image image{b, cbHeaders, h.offOptional + h.cbOptional, b.U16(h.pe + 6)};
    if (!b.Has(0, cbHeaders) || !SectionsInFile(image))
        return false;
    pFacts->wMachine = (uint16_t)b.U16(h.pe + 4);
    pFacts->wMagic = (uint16_t)h.magic;
    pFacts->wSubsystem = (uint16_t)b.U16(h.offOptional + 68);
    uint64_t entry = DirectoryEntry(b, h, kResourceDirectory);
    if (entry != 0)
        ReadProductVersion(image, b.U32(entry), pFacts);
    return true;
}
