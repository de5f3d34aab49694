// The package as one zip archive, written with libzip (which also reads
// archives strictly, checking each entry against the central directory).
#ifndef ROMGATE_PACK_ARCHIVE_H
#define ROMGATE_PACK_ARCHIVE_H

#include <string>
#include <vector>

#include <zip.h>

// Opens the archive zipPath with libzip's flags; NULL with *pWhy when it
// cannot.
zip_t* OpenZip(const std::string& zipPath, int flags, std::string* pWhy);

// Writes the new archive zipPath holding the files names of folder at its
// top level. Every entry carries the same fixed time, so that one package
// always gives the same archive, byte for byte.
bool WriteZip(const std::string& zipPath, const std::string& folder,
              const std::vector<std::string>& names, std::string* pWhy);

// The line sha256sum writes for a file named name with that digest, which
// `sha256sum -c` reads back: a name with a backslash or a line break is
// escaped and the line marked with a leading backslash.
std::string Sha256SumLine(const std::string& hex, const std::string& name);

#endif  // ROMGATE_PACK_ARCHIVE_H
