#include "pack/staging.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

const char kPrefix[] = ".romgate-pack-";
// mkdtemp's part: "-XXXXXX".
const size_t kcchUnique = 7;

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

std::string CommandOf(const std::string& pid)
{
    std::string command;
    std::ifstream in("/proc/" + pid + "/comm");
    std::getline(in, command);
    return command;
}

// True when the folder name was made by a run of this program on this
// machine whose process is still that run.
bool OwnerAlive(const std::string& name)
{
    size_t iAt = name.find('@');
    if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0 || iAt == std::string::npos ||
        name.size() < iAt + 1 + kcchUnique)
        return true;  // not a name of ours: left alone
    std::string pid = name.substr(sizeof kPrefix - 1, iAt - (sizeof kPrefix - 1));
    std::string host = name.substr(iAt + 1, name.size() - kcchUnique - iAt - 1);
    if (host != HostName())
        return true;  // another machine's run, on a shared folder: cannot tell
    char* pEnd = nullptr;
    long id = strtol(pid.c_str(), &pEnd, 10);
    if (pid.empty() || *pEnd != '\0' || id <= 0)
        return true;  // not a name of ours
    if (id == (long)getpid())
        return false;  // an ended run's that had this pid: this run's is not made yet
    bool bExists = kill((pid_t)id, 0) == 0 || errno == EPERM;
    return bExists && CommandOf(pid) == CommandOf("self");
}

// A move that fails rather than replace what is at to.
int MoveNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    // A file system without that kind of rename (NFS): a placeholder made
    // only where nothing is claims the name, and the rename replaces only it.
    struct stat st;
    bool bFolder = lstat(from.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    int fd = bFolder ? mkdir(to.c_str(), 0700)
                     : open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    if (!bFolder)
        close(fd);
    if (rename(from.c_str(), to.c_str()) == 0)
        return 0;
    int error = errno;
    (void)(bFolder ? rmdir(to.c_str()) : unlink(to.c_str()));
    return error;
}

}  // namespace

Staging::~Staging()
{
    std::error_code error;
    if (!m_folder.empty())
        std::filesystem::remove_all(m_folder, error);
}

bool Staging::Make(const std::string& parent, std::string* pWhy)
{
    std::string folder = parent + "/" + kPrefix + std::to_string(getpid()) + "@" + HostName() +
                         "-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) {
        *pWhy = strerror(errno);
        return false;
    }
    m_folder = folder;
    // The package folder is made as any other folder of the packager's;
    // only the working folder around it is private.
    if (mkdir(Path("package").c_str(), 0777) != 0) {
        *pWhy = strerror(errno);
        return false;
    }
    return true;
}

bool Staging::MoveIntoPlace(const std::string& out, bool bOutExists, bool bZip,
                            std::string* pWhy)
{
    const std::string zip = out + ".zip", digest = out + ".zip.sha256";
    int error = bZip ? MoveNoReplace(Path("archive.zip"), zip) : 0;
    if (error != 0) {
        *pWhy = "cannot write " + zip + ": " + strerror(error);
        return false;
    }
    error = bZip ? MoveNoReplace(Path("archive.sha256"), digest) : 0;
    if (error == 0) {
        // An empty folder there is replaced; one that got files meanwhile
        // makes the rename fail.
        error = bOutExists ? (rename(Path("package").c_str(), out.c_str()) == 0 ? 0 : errno)
                           : MoveNoReplace(Path("package"), out);
        if (error != 0)
            *pWhy = "cannot move the package into " + out + ": " + strerror(error);
        if (error != 0 && bZip)
            (void)rename(digest.c_str(), Path("archive.sha256").c_str());
    } else {
        *pWhy = "cannot write " + digest + ": " + strerror(error);
    }
    if (error != 0 && bZip)
        (void)rename(zip.c_str(), Path("archive.zip").c_str());
    return error == 0;
}

std::vector<std::string> SweepStaleStaging(const std::string& parent)
{
    std::vector<std::string> removed;
    DIR* pDir = opendir(parent.c_str());
    if (pDir == nullptr)
        return removed;
    while (const struct dirent* pEntry = readdir(pDir)) {
        std::string name = pEntry->d_name, path = parent;
        path += '/';
        path += name;
        struct stat st;
        if (OwnerAlive(name) || lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != geteuid())
            continue;
        std::error_code error;
        if (std::filesystem::remove_all(path, error) != static_cast<std::uintmax_t>(-1) && !error)
            removed.push_back(name);
    }
    closedir(pDir);
    return removed;
}
