// The packager's reads and writes: small inputs (programs, keys, passwords)
// are read whole but only up to a limit, and the firmware image, which may
// be many gigabytes, is copied through a small buffer, never held.
#ifndef ROMGATE_PACK_FILE_IO_H
#define ROMGATE_PACK_FILE_IO_H

#include <stdint.h>

#include <string>

// Opens an input to read, a regular file or a pipe, FIFO or device alike
// (a FIFO without a writer yet is opened without waiting for one). -1 with
// *pWhy when it cannot.
int OpenInput(const std::string& path, std::string* pWhy);

// Reads all of path into *pBytes; refused when it holds more than cbMax.
bool ReadBounded(const std::string& path, uint64_t cbMax, std::string* pBytes,
                 std::string* pWhy);

// Creates path (which must not exist) with the given mode and writes bytes.
bool WriteNewFile(const std::string& path, const std::string& bytes, unsigned mode,
                  std::string* pWhy);

// Copies everything the open input fdIn has into the new file path; the
// holes of a sparse regular file stay holes where the file system keeps
// them. *pcbCopied is the size copied.
bool CopyToNewFile(int fdIn, const std::string& path, uint64_t* pcbCopied, std::string* pWhy);

// The SHA-256 of the file at path, in lowercase hex.
bool Sha256OfFile(const std::string& path, std::string* pHex, std::string* pWhy);

#endif  // ROMGATE_PACK_FILE_IO_H
