#include "pack/version_check.h"

#include "launcher/launcher_app.h"
#include "launcher/suite_check.h"
#include "platform/posix/profile.h"

namespace {

// The components the text spells as decimal numbers, each without its
// leading zeros; or why the text spells no version: the launcher's own
// reading then decides nothing, since it reads a number out of any text.
std::string SpellComponents(const std::string& text, std::vector<std::string>* pComponents)
{
    if (text.empty())
        return "the version is empty";
    size_t iStart = 0;
    for (;;) {
        size_t iEnd = text.find('.', iStart);
        std::string digits = text.substr(iStart, iEnd - iStart);
        if (digits.empty())
            return "a component is empty";
        if (digits.find_first_not_of("0123456789") != std::string::npos)
            return "a component holds something other than digits";
        size_t iFirst = digits.find_first_not_of('0');
        pComponents->push_back(iFirst == std::string::npos ? "0" : digits.substr(iFirst));
        if (iEnd == std::string::npos)
            break;
        iStart = iEnd + 1;
    }
    return pComponents->size() > 3 ? "it has more than three components" : "";
}

}  // namespace

std::string ManifestFor(const std::string& version)
{
    return "[VORNUpdate]\r\nVersion=" + version + "\r\n";
}

// What the launcher reads of the manifest, against the text it spells.
static VersionCheck CheckRead(const std::string& manifest, const std::string& text)
{
    char szValue[PACKAGE_VERSION_READ_SIZE + 1];
    DWORD cch = GetProfileStringFromText(manifest.data(), manifest.size(), "VORNUpdate",
                                         "Version", "", szValue, PACKAGE_VERSION_READ_SIZE);
    VersionCheck check;
    VersionTriple read = ParseVersionText(szValue, false);
    const int read3[3] = {read.nMajor, read.nMinor, read.nPatch};
    check.strRead = cch == 0 ? "no version (\"Can't find VORNUpdate.ini file\")"
                             : std::to_string(read.nMajor) + "." + std::to_string(read.nMinor) +
                                   "." + std::to_string(read.nPatch);
    std::vector<std::string> spelled;
    check.strProblem = SpellComponents(text, &spelled);
    if (!check.strProblem.empty())
        return check;
    if (cch < text.size())
        check.strProblem = "Romgate reads only its first " + std::to_string(cch) + " characters";
    // What is not spelled is 0, as the launcher takes a missing component.
    for (size_t i = 0; i < 3 && check.strProblem.empty(); ++i) {
        std::string want = i < spelled.size() ? spelled[i] : "0";
        if (want != std::to_string(read3[i]))
            check.strProblem = "component " + std::to_string(i + 1) + " is " + want +
                               ", which Romgate reads as " + std::to_string(read3[i]);
    }
    return check;
}

VersionCheck CheckVersionText(const std::string& text)
{
    return CheckRead(ManifestFor(text), text);
}

VersionCheck CheckManifest(const std::string& manifest, std::string* pText, bool* pbFound)
{
    // Read whole: a text longer than the launcher reads must be seen whole
    // to be told apart from the part the launcher reads.
    std::vector<char> text(manifest.size() + 1);
    DWORD cch = GetProfileStringFromText(manifest.data(), manifest.size(), "VORNUpdate",
                                         "Version", "", text.data(), (DWORD)text.size());
    pText->assign(text.data(), cch);
    *pbFound = cch > 0;
    return CheckRead(manifest, *pText);
}
