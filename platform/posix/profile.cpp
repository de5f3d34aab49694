// GetPrivateProfileStringA: the profile file streamed into the text reader.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include "platform/posix/paths.h"
#include "platform/posix/profile.h"

namespace {

// An open profile file and the piece of it last read.
struct ProfileFile {
    int fd;
    char buffer[4096];
};

// Reads the next piece; the end of the file or a failed read ends the text; no file is no text.
const char* SupplyFilePiece(void* pContext, size_t* pcb)
{
    ProfileFile* pFile = (ProfileFile*)pContext;
    ssize_t cb;
    do
        cb = pFile->fd < 0 ? 0 : read(pFile->fd, pFile->buffer, sizeof(pFile->buffer));
    while (cb < 0 && errno == EINTR);
    *pcb = cb > 0 ? (size_t)cb : 0;
    return cb > 0 ? pFile->buffer : NULL;
}

}  // namespace

// The file is streamed in small pieces straight into the reader, with no stdio buffer (nor heap)
// between; a file that cannot be named or opened is a missing file, which gives the default.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    char szHostPath[PATH_MAX];
    ProfileFile file;
    file.fd = -1;
    if (lpFileName != NULL && WindowsPathToHost(lpFileName, szHostPath, sizeof(szHostPath)))
        file.fd = open(szHostPath, O_RDONLY | O_CLOEXEC);
    DWORD cch = GetProfileStringFromSource(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize,
                                           SupplyFilePiece, &file);
    if (file.fd >= 0)
        close(file.fd);
    return cch;
}
