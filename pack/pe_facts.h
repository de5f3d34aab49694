// What a packager needs to know about a Windows executable, read from the
// file's own headers: whether Windows would load it as a program at all, for
// which machine and subsystem, and the product version its version resource
// declares.
#ifndef ROMGATE_PACK_PE_FACTS_H
#define ROMGATE_PACK_PE_FACTS_H

#include <stdint.h>

#include <string>

#define PE_MACHINE_I386 0x014Cu
#define PE_MACHINE_AMD64 0x8664u
#define PE_MACHINE_ARM64 0xAA64u
#define PE_MAGIC_PE32 0x010Bu
#define PE_MAGIC_PE32_PLUS 0x020Bu
#define PE_SUBSYSTEM_GUI 2u
#define PE_SUBSYSTEM_CONSOLE 3u

struct PeFacts {
    uint16_t wMachine;    // the COFF header's machine
    uint16_t wMagic;      // the optional header's: PE32 or PE32+
    uint16_t wSubsystem;  // the optional header's: GUI, console, EFI, ...
    // The fixed part of the version resource, when the file has one.
    bool bHasProductVersion;
    uint16_t productVersion[4];
    // The InternalName of the block's string tables, ASCII ('?' for any
    // other character); empty when it has none.
    std::string internalName;
};

// Reads the facts of a PE image that is a program (not a DLL) from its
// bytes; a pure function, which reads nothing outside them. False when the
// bytes are not one: no MZ and PE signatures, a DOS header, COFF header,
// optional header (up to its data directories), SizeOfHeaders, section
// table or section data that runs past the end, or a DLL. The first version resource is read
// as Windows maps the file (the headers, then each section's data at its
// address), and only when all of it, as long as its data entry says, is
// mapped, holds the whole fixed part, and has the VS_VERSION_INFO key and
// the fixed part's signature; otherwise the file is taken as having none.
// Its strings are read within that block only.
bool ReadPeFacts(const std::string& bytes, PeFacts* pFacts);

// Data directory entry index of the PE bytes' optional header: its address
// and size (for the certificate table, a file offset), both 0 when the
// header holds fewer directories. False when the bytes hold no MZ and PE
// headers with a PE32 or PE32+ optional header that lies in them whole.
bool ReadDataDirectory(const std::string& bytes, uint32_t index, uint32_t* pAddress, uint32_t* pcb);

#endif  // ROMGATE_PACK_PE_FACTS_H
