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
// differ only in case, which collide on Windows), then writes each entry
// named in wanted, a regular file at its top level, into folder, when the
// file system there has room for them. *pOthers gets the names of every
// other entry, which are not written. False with *pWhy when the archive is
// unreadable or hostile, or cannot be unpacked.
bool UnpackTopLevel(const std::string& zipPath, const std::string& folder,
                    const std::vector<std::string>& wanted, std::vector<std::string>* pOthers,
                    std::string* pWhy);

#endif  // ROMGATE_PACK_ZIP_READ_H
