#include "pack/version_check.h"

#include <limits.h>

#include "launcher/suite_check.h"
#include "platform/posix/profile.h"

namespace {

// The buffer the launcher reads the manifest's version into.
const DWORD kLauncherReadSize = 255;

std::string Problem(const std::string& text)
{
    if (text.empty())
        return "the version is empty";
    size_t cComponents = 1, cchComponent = 0;
    unsigned long long nComponent = 0;
    for (char ch : text) {
        if (ch == '.') {
            if (cchComponent == 0)
                return "a component is empty";
            ++cComponents;
            cchComponent = 0;
            nComponent = 0;
        } else if (ch >= '0' && ch <= '9') {
            ++cchComponent;
            nComponent = nComponent * 10 + (unsigned)(ch - '0');
            if (nComponent > INT_MAX)
                return "a component is beyond 2147483647";
        } else {
            return "a component holds something other than digits";
        }
    }
    if (cchComponent == 0)
        return "a component is empty";
    if (cComponents > 3)
        return "it has more than three components";
    return "";
}

}  // namespace

std::string ManifestFor(const std::string& version)
{
    return "[VORNUpdate]\r\nVersion=" + version + "\r\n";
}

VersionCheck CheckVersionText(const std::string& text)
{
    std::string manifest = ManifestFor(text);
    char szValue[kLauncherReadSize + 1];
    DWORD cch = GetProfileStringFromText(manifest.data(), manifest.size(), "VORNUpdate",
                                         "Version", "", szValue, kLauncherReadSize);
    VersionCheck check;
    if (cch == 0) {
        check.strRead = "no version (\"Can't find VORNUpdate.ini file\")";
    } else {
        VersionTriple read = ParseVersionText(szValue, false);
        check.strRead = std::to_string(read.nMajor) + "." + std::to_string(read.nMinor) + "." +
                        std::to_string(read.nPatch);
    }
    check.strProblem = Problem(text);
    return check;
}
