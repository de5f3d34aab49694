// What the package's two programs must be, the same whether romgate-pack
// builds the package or checks one it did not build.
#ifndef ROMGATE_PACK_PROGRAM_RULES_H
#define ROMGATE_PACK_PROGRAM_RULES_H

#include <stdint.h>

#include <string>

#include "pack/pe_facts.h"

// The largest installer or launcher read: both are read whole to check
// their headers, and an updater suite's installer is far smaller.
const uint64_t kcbProgramMax = 256u << 20;

extern const char kNotAnInstaller[];
extern const char kNotALauncher[];

// Windows starts GUI and console programs only (an EFI application or a
// driver is refused), and the installer may be built for any Windows the
// package meets: 32-bit, x64 or ARM64.
bool IsInstallerProgram(const PeFacts& facts);

// Romgate.exe is the 32-bit GUI launcher, which runs on every Windows.
bool IsLauncherProgram(const PeFacts& facts);

// The installer's row in the table, given the version Romgate reads from
// the manifest ("major.minor.patch"). *pWarning says how its declared
// ProductVersion differs, when it does; "" otherwise.
std::string DescribeInstaller(const PeFacts& facts, const std::string& versionRead,
                              std::string* pWarning);

#endif  // ROMGATE_PACK_PROGRAM_RULES_H
