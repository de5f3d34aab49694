// Where romgate-pack builds a package: a private folder beside DIR (so on
// its file system, and so that every move into place is a rename), named
// .romgate-pack-<pid>@<host>-XXXXXX whatever DIR is called, so that it fits
// wherever DIR's name fits and tells which run made it. It holds, under
// short fixed names, the package folder, the archive and its digest, and the
// run's scratch files; whatever is still in it when the run ends is removed.
#ifndef ROMGATE_PACK_STAGING_H
#define ROMGATE_PACK_STAGING_H

#include <string>
#include <vector>

class Staging {
public:
    Staging() = default;
    ~Staging();
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    // Makes the folder in parent, with the package folder in it.
    bool Make(const std::string& parent, std::string* pWhy);
    // A file of the run in the folder: "package", "archive.zip", ...
    std::string Path(const std::string& name) const { return m_folder + "/" + name; }
    // Moves the package to out (an empty folder already when bOutExists) and,
    // with bZip, the archive and digest beside it, never over anything made
    // meanwhile. The folder is moved last, so when it is there, so are the
    // archive and digest; on failure nothing has moved.
    bool MoveIntoPlace(const std::string& out, bool bOutExists, bool bZip, std::string* pWhy);

private:
    std::string m_folder;
};

// Removes the working folders in parent that runs of romgate-pack on this
// machine left when they were killed outright: those whose process has
// ended or is another program now. Gives the names it removed.
std::vector<std::string> SweepStaleStaging(const std::string& parent);

#endif  // ROMGATE_PACK_STAGING_H
