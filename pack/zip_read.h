// A package zip someone else made, read with libzip without trusting it:
// every entry's name is checked before anything is written, and only the
// files at its top level are written, into a folder of the caller's.
#ifndef ROMGATE_PACK_ZIP_READ_H
#define ROMGATE_PACK_ZIP_READ_H

#include <string>
#include <vector>

// Why an entry name could write outside the folder it is unpacked into (on
// Linux or on Windows): absolute, with a drive letter, with a ".."
// component, or empty. "" when it is harmless.
std::string HostileNameProblem(const std::string& name);

// Checks every entry of the archive zipPath (names, links, names that
// differ only in case, which collide on Windows), then writes each regular
// file at its top level into folder, which must be empty. *pNested gets
// the names of the entries below the top level, which are not written.
// False with *pWhy when the archive is unreadable or hostile.
bool UnpackTopLevel(const std::string& zipPath, const std::string& folder,
                    std::vector<std::string>* pNested, std::string* pWhy);

#endif  // ROMGATE_PACK_ZIP_READ_H
