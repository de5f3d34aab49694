#include "pack/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <openssl/evp.h>

#include "pack/interrupt.h"

namespace {

// What one read or write moves at most: large enough to be fast, small
// enough that an interruption is noticed within a fraction of a second.
const size_t kChunk = 8u << 20;

bool Why(std::string* pWhy, const std::string& why)
{
    *pWhy = why;
    return false;
}

bool WhyErrno(std::string* pWhy)
{
    return Why(pWhy, strerror(errno));
}

bool WhyInterrupted(std::string* pWhy)
{
    return Why(pWhy, "interrupted");
}

// Closes a descriptor when its owner's scope ends, whatever path leaves it.
struct Fd {
    int fd;
    explicit Fd(int fdOpen) : fd(fdOpen) {}
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// One read of up to cb bytes; 0 at the end, -1 with *pWhy on failure.
ssize_t ReadSome(int fd, char* pBuffer, size_t cb, std::string* pWhy)
{
    for (;;) {
        if (!WaitReadable(fd)) {
            WhyInterrupted(pWhy);
            return -1;
        }
        ssize_t cbRead = read(fd, pBuffer, cb);
        if (cbRead >= 0)
            return cbRead;
        if (errno != EAGAIN && errno != EINTR) {
            WhyErrno(pWhy);
            return -1;
        }
    }
}

bool WriteAll(int fd, const char* pBytes, size_t cb, off_t offset, std::string* pWhy)
{
    while (cb > 0) {
        ssize_t cbWritten = pwrite(fd, pBytes, cb, offset);
        if (cbWritten < 0 && errno != EINTR)
            return WhyErrno(pWhy);
        if (cbWritten == 0)
            return Why(pWhy, "the file system took nothing more");
        if (cbWritten > 0) {
            pBytes += cbWritten;
            cb -= (size_t)cbWritten;
            offset += cbWritten;
        }
    }
    return true;
}

// Copies [from, to) of a regular file to the same offsets of fdOut, in the
// kernel where it can, else through a buffer.
bool CopyRange(int fdIn, int fdOut, off_t from, off_t to, std::vector<char>* pBuffer,
               std::string* pWhy)
{
    while (from < to) {
        if (InterruptSignal() != 0)
            return WhyInterrupted(pWhy);
        size_t cb = (size_t)std::min<off_t>(to - from, (off_t)kChunk);
        off_t inAt = from, outAt = from;
        ssize_t cbDone = copy_file_range(fdIn, &inAt, fdOut, &outAt, cb, 0);
        if (cbDone < 0 && errno != EINTR) {
            // Across file systems, or where the kernel has no such copy.
            if (pBuffer->empty())
                pBuffer->resize(kChunk);
            cbDone = pread(fdIn, pBuffer->data(), cb, from);
            if (cbDone < 0 && errno != EINTR)
                return WhyErrno(pWhy);
            if (cbDone > 0 && !WriteAll(fdOut, pBuffer->data(), (size_t)cbDone, from, pWhy))
                return false;
        }
        if (cbDone == 0)
            return Why(pWhy, "it got shorter while it was copied");
        from += std::max<ssize_t>(cbDone, 0);
    }
    return true;
}

// A regular file: only its data is copied, so its holes stay holes; a file
// system that cannot tell holes gives all of it as data.
bool CopyRegular(int fdIn, int fdOut, off_t cb, std::string* pWhy)
{
    std::vector<char> buffer;
    for (off_t at = 0; at < cb;) {
        off_t data = lseek(fdIn, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break;  // only a hole up to the end
        off_t hole = data < 0 ? cb : lseek(fdIn, data, SEEK_HOLE);
        data = data < 0 ? at : data;
        hole = hole < 0 ? cb : std::min(hole, cb);
        if (!CopyRange(fdIn, fdOut, data, hole, &buffer, pWhy))
            return false;
        at = hole;
    }
    // The size, with the trailing hole if any.
    return ftruncate(fdOut, cb) == 0 || WhyErrno(pWhy);
}

// A pipe, FIFO or device: read to its end.
bool CopyStream(int fdIn, int fdOut, uint64_t* pcb, std::string* pWhy)
{
    std::vector<char> buffer(kChunk);
    for (;;) {
        ssize_t cbRead = ReadSome(fdIn, buffer.data(), buffer.size(), pWhy);
        if (cbRead <= 0)
            return cbRead == 0;
        if (!WriteAll(fdOut, buffer.data(), (size_t)cbRead, (off_t)*pcb, pWhy))
            return false;
        *pcb += (uint64_t)cbRead;
    }
}

}  // namespace

int OpenInput(const std::string& path, std::string* pWhy)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        fd = -1;
    }
    if (fd < 0)
        WhyErrno(pWhy);
    return fd;
}

bool ReadBounded(const std::string& path, uint64_t cbMax, std::string* pBytes,
                 std::string* pWhy)
{
    Fd in(OpenInput(path, pWhy));
    if (in.fd < 0)
        return false;
    struct stat st;
    if (fstat(in.fd, &st) == 0 && S_ISREG(st.st_mode) && (uint64_t)st.st_size > cbMax)
        return Why(pWhy, std::to_string(st.st_size) + " bytes, more than the " +
                             std::to_string(cbMax) + " bytes allowed");
    pBytes->clear();
    char buffer[65536];
    for (;;) {
        ssize_t cbRead = ReadSome(in.fd, buffer, sizeof buffer, pWhy);
        if (cbRead <= 0)
            return cbRead == 0;
        if (pBytes->size() + (size_t)cbRead > cbMax)
            return Why(pWhy, "more than the " + std::to_string(cbMax) + " bytes allowed");
        pBytes->append(buffer, (size_t)cbRead);
    }
}

bool WriteNewFile(const std::string& path, const std::string& bytes, unsigned mode,
                  std::string* pWhy)
{
    Fd out(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    return (out.fd >= 0 || WhyErrno(pWhy)) && WriteAll(out.fd, bytes.data(), bytes.size(), 0, pWhy) &&
           (fsync(out.fd) == 0 || WhyErrno(pWhy));
}

bool CopyToNewFile(int fdIn, const std::string& path, uint64_t* pcbCopied, std::string* pWhy)
{
    Fd out(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    struct stat st;
    if (out.fd < 0 || fstat(fdIn, &st) != 0)
        return WhyErrno(pWhy);
    *pcbCopied = 0;
    bool bCopied = S_ISREG(st.st_mode) ? CopyRegular(fdIn, out.fd, st.st_size, pWhy)
                                       : CopyStream(fdIn, out.fd, pcbCopied, pWhy);
    if (S_ISREG(st.st_mode))
        *pcbCopied = (uint64_t)st.st_size;
    return bCopied && (fsync(out.fd) == 0 || WhyErrno(pWhy));
}

bool Sha256OfFile(const std::string& path, std::string* pHex, std::string* pWhy)
{
    Fd in(OpenInput(path, pWhy));
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    if (in.fd < 0)
        return false;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return Why(pWhy, "no SHA-256 in libcrypto");
    std::vector<char> buffer(kChunk);
    ssize_t cbRead;
    while ((cbRead = ReadSome(in.fd, buffer.data(), buffer.size(), pWhy)) > 0)
        EVP_DigestUpdate(context.get(), buffer.data(), (size_t)cbRead);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned cbDigest = 0;
    if (cbRead < 0)
        return false;
    if (EVP_DigestFinal_ex(context.get(), digest, &cbDigest) != 1)
        return Why(pWhy, "no SHA-256 in libcrypto");
    static const char kHex[] = "0123456789abcdef";
    pHex->clear();
    for (unsigned i = 0; i < cbDigest; ++i)
        *pHex += {kHex[digest[i] >> 4], kHex[digest[i] & 15]};
    return true;
}
