// Little-endian reads of a file held in memory, for the readers of Windows
// executables. Every read is of bytes first checked to lie in the file; past
// its end they answer 0 all the same, as a second guard.
#ifndef ROMGATE_PACK_LE_BYTES_H
#define ROMGATE_PACK_LE_BYTES_H

#include <stdint.h>

#include <string>

struct Bytes {
    const std::string& s;
    bool Has(uint64_t offset, uint64_t cb) const
    {
        return offset <= s.size() && cb <= s.size() - offset;
    }
    uint32_t U16(uint64_t at) const
    {
        return Has(at, 2) ? (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 : 0;
    }
    uint32_t U32(uint64_t at) const { return U16(at) | U16(at + 2) << 16; }
};

#endif  // ROMGATE_PACK_LE_BYTES_H
