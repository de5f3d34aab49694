#include "pack/zip_read.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include <zip.h>

#include "pack/archive.h"
#include "pack/interrupt.h"
#include "platform/posix/path_text.h"
#include "platform/posix/text.h"

namespace {

const size_t kChunk = 1u << 20;

bool Why(std::string* pWhy, const std::string& why)
{
    *pWhy = why;
    return false;
}

// The name as Windows compares names, a trailing separator (a folder's)
// left out.
std::string Folded(std::string name)
{
    for (char& c : name)
        c = (char)FoldAscii((unsigned char)c);
    while (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        name.pop_back();
    return name;
}

bool IsLink(zip_t* pZip, zip_uint64_t i)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    return zip_file_get_external_attributes(pZip, i, 0, &opsys, &attributes) == 0 &&
           opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK;
}

// Every entry's name, each checked; false at the first hostile one.
bool CheckEntries(zip_t* pZip, std::vector<std::string>* pNames, std::string* pWhy)
{
    std::set<std::string> folded;
    zip_int64_t cEntries = zip_get_num_entries(pZip, 0);
    for (zip_int64_t i = 0; i < cEntries; ++i) {
        const char* pszName = zip_get_name(pZip, (zip_uint64_t)i, ZIP_FL_ENC_RAW);
        if (pszName == nullptr)
            return Why(pWhy, zip_strerror(pZip));
        std::string name = pszName, problem = HostileNameProblem(name);
        if (problem.empty() && IsLink(pZip, (zip_uint64_t)i))
            problem = "it is a symbolic link";
        if (problem.empty() && !folded.insert(Folded(name)).second)
            problem = "another entry has the same name, or the same but for case, and "
                      "Windows would write both to one file";
        if (!problem.empty()) {
            std::string why = "a hostile entry \"";
            return Why(pWhy, why.append(name).append("\": ").append(problem));
        }
        pNames->push_back(name);
    }
    return true;
}

bool WriteEntry(zip_t* pZip, zip_uint64_t i, const std::string& path, std::string* pWhy)
{
    zip_file_t* pFile = zip_fopen_index(pZip, i, 0);
    if (pFile == nullptr)
        return Why(pWhy, zip_strerror(pZip));
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::string buffer(kChunk, '\0');
    bool bOk = fd >= 0 || Why(pWhy, strerror(errno));
    while (bOk) {
        if (InterruptSignal() != 0) {
            bOk = Why(pWhy, "interrupted");
            break;
        }
        // libzip checks the entry's CRC when it reaches its end.
        zip_int64_t cb = zip_fread(pFile, &buffer[0], buffer.size());
        if (cb <= 0) {
            bOk = cb == 0 || Why(pWhy, zip_file_strerror(pFile));
            break;
        }
        bOk = write(fd, buffer.data(), (size_t)cb) == cb || Why(pWhy, strerror(errno));
    }
    if (fd >= 0 && close(fd) != 0 && bOk)
        bOk = Why(pWhy, strerror(errno));
    zip_fclose(pFile);
    return bOk;
}

}  // namespace

std::string HostileNameProblem(const std::string& name)
{
    // Read as Windows reads a path: the package is unpacked there too.
    char chDrive = 0;
    const char* p = nullptr;
    PathStart start = ReadPathStart(name.c_str(), &chDrive, &p);
    if (name.empty())
        return "it has no name";
    if (start == kStartOnCurrentDrive)
        return "its path is absolute";
    if (start == kStartOnDrive)
        return "its path starts with a drive letter";
    const char* pch = nullptr;
    for (size_t cch; (cch = NextPathComponent(&p, &pch)) > 0;)
        if (cch == 2 && pch[0] == '.' && pch[1] == '.')
            return "its path has a \"..\" component";
    return "";
}

bool UnpackTopLevel(const std::string& zipPath, const std::string& folder,
                    const std::vector<std::string>& wanted, std::vector<std::string>* pOthers,
                    std::string* pWhy)
{
    zip_t* pZip = OpenZip(zipPath, ZIP_RDONLY | ZIP_CHECKCONS, pWhy);
    if (pZip == nullptr)
        return false;
    std::vector<std::string> names;
    std::vector<zip_uint64_t> toWrite;
    bool bOk = CheckEntries(pZip, &names, pWhy);
    zip_uint64_t cbToWrite = 0;
    for (size_t i = 0; bOk && i < names.size(); ++i) {
        // Romgate looks only beside itself: a folder of the archive, and
        // what it holds, is not part of the package.
        zip_stat_t st;
        if (std::find(wanted.begin(), wanted.end(), names[i]) == wanted.end()) {
            pOthers->push_back(names[i]);
        } else if (zip_stat_index(pZip, i, 0, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0) {
            bOk = Why(pWhy, "cannot read the size of \"" + names[i] + "\"");
        } else {
            toWrite.push_back(i);
            cbToWrite += st.size;
        }
    }
    struct statvfs fs;
    if (bOk && statvfs(folder.c_str(), &fs) == 0 && cbToWrite > (uint64_t)fs.f_bavail * fs.f_frsize)
        bOk = Why(pWhy, "its files need " + std::to_string(cbToWrite) + " bytes, more than " +
                            folder + " has free");
    for (size_t k = 0; bOk && k < toWrite.size(); ++k) {
        const std::string& name = names[toWrite[k]];
        std::string path = folder;
        bOk = WriteEntry(pZip, toWrite[k], path.append("/").append(name), pWhy);
        if (!bOk)
            *pWhy = "cannot unpack \"" + name + "\": " + *pWhy;
    }
    zip_discard(pZip);
    return bOk;
}
