// What a packager needs to know about a Windows executable, read from the
// file's own headers: whether it is a program at all, for which machine, and
// the product version its version resource declares.
#ifndef ROMGATE_PACK_PE_FACTS_H
#define ROMGATE_PACK_PE_FACTS_H

#include <stdint.h>

#include <string>

#define PE_MACHINE_I386 0x014Cu
#define PE_MAGIC_PE32 0x010Bu

struct PeFacts {
    uint16_t wMachine;  // the COFF header's machine
    uint16_t wMagic;    // the optional header's: PE32 or PE32+
    // The fixed part of the version resource, when the file has one.
    bool bHasProductVersion;
    uint16_t productVersion[4];
};

// Reads the facts of a PE image that is a program (not a DLL) from its
// bytes. False when the bytes are not one: no MZ and PE signatures, headers
// that run past the end, or a DLL. A version resource that cannot be read is
// taken as none.
bool ReadPeFacts(const std::string& bytes, PeFacts* pFacts);

#endif  // ROMGATE_PACK_PE_FACTS_H
