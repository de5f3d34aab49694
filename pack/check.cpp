#include "pack/check.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/launcher_app.h"
#include "launcher/suite_check.h"
#include "pack/file_io.h"
#include "pack/interrupt.h"
#include "pack/pe_facts.h"
#include "pack/program_rules.h"
#include "pack/report.h"
#include "pack/signature.h"
#include "pack/signing.h"
#include "pack/staging.h"
#include "pack/tool_run.h"
#include "pack/version_check.h"
#include "pack/zip_read.h"

namespace {

const char* const kFour[] = {"Romgate.exe", "Setup.exe", "BIOS.rom", "VORNUpdate.ini"};
const uint64_t kcbManifestMax = 16u << 20;
const uint64_t kcbDigestFileMax = 64u << 10;

struct CheckOptions {
    std::string path, installed, caFile;
    bool bInstalled = false;
};

// What the check found, told as it is found; the rows are printed at the end.
struct Findings {
    int cErrors = 0, cWarnings = 0;
    std::vector<Row> rows;
    std::string versionRead;  // what Romgate reads from the manifest, "" for nothing

    void Error(const std::string& message)
    {
        Say("error: " + message);
        ++cErrors;
    }
    void Warn(const std::string& message)
    {
        Say("warning: " + message);
        ++cWarnings;
    }
};

int CheckUsage(const std::string& message)
{
    Fail(message + " (see --help)");
    return 2;
}

int ParseCheckOptions(int argc, char** argv, CheckOptions* pOptions)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string* pValue = arg == "--check"       ? &pOptions->path
                              : arg == "--installed" ? &pOptions->installed
                              : arg == "--ca-file"   ? &pOptions->caFile
                                                     : nullptr;
        if (pValue == nullptr)
            return CheckUsage("unknown argument with --check: " + arg);
        if (++i == argc)
            return CheckUsage(arg + " needs a value");
        *pValue = argv[i];
        pOptions->bInstalled |= arg == "--installed";
    }
    if (pOptions->path.empty())
        return CheckUsage("--check needs a package folder or zip");
    // The registry holds key names of at most 255 characters.
    if (pOptions->installed.size() >= TEXT_BUFFER_SIZE)
        return CheckUsage("--installed: a registered version has at most 255 characters");
    return 0;
}

std::string FileName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// The digest and name of a line as sha256sum writes it, escapes undone.
bool ParseSha256SumLine(std::string line, std::string* pHex, std::string* pName)
{
    bool bEscaped = !line.empty() && line[0] == '\\';
    line.erase(0, bEscaped ? 1 : 0);
    line.resize(std::min(line.size(), line.find('\n')));
    if (line.size() < 66 || line.find_first_not_of("0123456789abcdefABCDEF") != 64 ||
        line[64] != ' ' || (line[65] != ' ' && line[65] != '*'))
        return false;
    *pHex = line.substr(0, 64);
    std::transform(pHex->begin(), pHex->end(), pHex->begin(), ::tolower);
    pName->clear();
    for (size_t i = 66; i < line.size(); ++i) {
        if (bEscaped && line[i] == '\\' && i + 1 < line.size()) {
            char c = line[++i];
            *pName += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            *pName += line[i];
        }
    }
    return true;
}

// The zip's digest against the .sha256 file beside it, when there is one.
void CheckDigest(const std::string& zipPath, Findings* pFound)
{
    std::string digestPath = zipPath + ".sha256", line, hex, name, actual, why;
    struct stat st;
    if (stat(zipPath.c_str(), &st) != 0 || !Sha256OfFile(zipPath, &actual, &why))
        return pFound->Error("cannot read " + zipPath + ": " + (why.empty() ? strerror(errno) : why));
    Row row{FileName(zipPath), "sha256 " + actual, (uint64_t)st.st_size};
    if (stat(digestPath.c_str(), &st) != 0 && errno == ENOENT) {
        pFound->Warn("no " + FileName(digestPath) + " beside it: its digest is not checked");
    } else if (!ReadBounded(digestPath, kcbDigestFileMax, &line, &why)) {
        pFound->Error("cannot read " + digestPath + ": " + why);
    } else if (!ParseSha256SumLine(line, &hex, &name)) {
        pFound->Error(digestPath + " is not a line as sha256sum writes it");
    } else if (hex != actual) {
        pFound->Error("the digest of " + zipPath + " is not the one " + FileName(digestPath) +
                      " gives (" + hex + "): the zip was changed or cut");
    } else {
        row.what += ", as " + FileName(digestPath) + " gives";
        if (name != row.name)
            pFound->Warn(FileName(digestPath) + " names \"" + name + "\", not \"" + row.name + "\"");
    }
    pFound->rows.push_back(row);
}

// Exactly the four files: another is a warning, a missing one an error.
void CheckListing(const std::string& folder, const std::vector<std::string>& others,
                  Findings* pFound)
{
    DIR* pDir = opendir(folder.c_str());
    if (pDir == nullptr)
        return pFound->Error("cannot read the folder " + folder + ": " + strerror(errno));
    std::vector<std::string> names;
    while (const dirent* pEntry = readdir(pDir))
        names.push_back(pEntry->d_name);
    closedir(pDir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name != "." && name != ".." &&
            std::find(std::begin(kFour), std::end(kFour), name) == std::end(kFour))
            pFound->Warn("another file in the package: " + name);
    }
    for (const std::string& name : others)
        pFound->Warn("another file in the package: " + name);
    for (const char* pszName : kFour) {
        struct stat st;
        std::string path = folder + "/" + pszName;
        if (lstat(path.c_str(), &st) != 0)
            pFound->Error("missing: " + std::string(pszName));
        else if (!S_ISREG(st.st_mode))
            pFound->Error(std::string(pszName) + " is not a regular file");
    }
}

bool ReadPackageFile(const std::string& folder, const char* pszName, uint64_t cbMax,
                     std::string* pBytes, Findings* pFound)
{
    std::string why, path = folder + "/" + pszName;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;  // told by the listing
    if (ReadBounded(path, cbMax, pBytes, &why))
        return true;
    pFound->Error(std::string("cannot read ") + pszName + ": " + why);
    return false;
}

void CheckManifestFile(const std::string& folder, Findings* pFound)
{
    std::string manifest, text;
    if (!ReadPackageFile(folder, "VORNUpdate.ini", kcbManifestMax, &manifest, pFound))
        return;
    Row row{"VORNUpdate.ini", "", manifest.size()};
    bool bFound = false;
    if (manifest.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        // Windows reads no byte-order mark here: its first line is then
        // "\xEF\xBB\xBF[VORNUpdate]", a section Romgate does not look for.
        pFound->Error("VORNUpdate.ini starts with a UTF-8 byte-order mark: on Windows Romgate "
                      "then finds no [VORNUpdate] section and says \"Can't find VORNUpdate.ini "
                      "file\"; save it as ANSI text");
        row.what = "a UTF-8 byte-order mark";
    } else {
        VersionCheck check = CheckManifest(manifest, &text, &bFound);
        row.what = bFound ? "Version=" + text + ", read by Romgate as " + check.strRead
                          : "no [VORNUpdate] Version";
        if (!bFound)
            pFound->Error("VORNUpdate.ini has no [VORNUpdate] Version: Romgate says \"Can't find "
                          "VORNUpdate.ini file\"");
        else if (!check.strProblem.empty())
            pFound->Error("VORNUpdate.ini: Version=" + text + ": " + check.strProblem +
                          "; Romgate would read it as " + check.strRead);
        else
            pFound->versionRead = check.strRead;
    }
    pFound->rows.push_back(row);
}

// Verifies the signature with osslsigncode against the roots of --ca-file
// (a time stamp's authority must chain to one of them too).
bool VerifySignature(const std::string& exe, const std::string& caFile, const Staging& work,
                     std::string* pWhy)
{
    return RunExplained({"osslsigncode", "verify", "-CAfile", caFile, "-TSA-CAfile", caFile,
                         "-in", exe},
                        work.Path("verify.log"), pWhy);
}

std::string ReadCaFile(const std::string& path)
{
    std::string pem, why;
    return ReadBounded(path, kcbCaFileMax, &pem, &why) ? pem : "";
}

std::string DescribeSignature(const std::string& exe, const std::string& bytes,
                              const CheckOptions& options, const Staging& work, Findings* pFound)
{
    SignatureFacts signature;
    std::string why;
    if (!ReadSignatureFacts(bytes, &signature, &why)) {
        pFound->Error("Romgate.exe: its signature cannot be read: " + why);
        return "signature unreadable";
    }
    if (!signature.bPresent) {
        pFound->Warn("Romgate.exe is not signed: SmartScreen and most corporate policies "
                     "block unsigned programs");
        return "not signed";
    }
    std::string what = "signed by " + signature.signer;
    if (options.caFile.empty()) {
        pFound->Warn("Romgate.exe's signature is not verified: give --ca-file with the roots "
                     "of " + signature.signer);
        what += ", not verified (no --ca-file)";
    } else if (VerifySignature(exe, options.caFile, work, &why)) {
        what += ", signature verified up to a root of --ca-file";
    } else {
        pFound->Error("Romgate.exe's signature does not verify against --ca-file: " + why);
        what += ", does not verify";
    }
    if (signature.bTimeStamped && !options.caFile.empty() &&
        !VerifyTimeStamp(bytes, ReadCaFile(options.caFile), &why)) {
        // osslsigncode passes a failing time stamp while the certificate is
        // valid today; the package would stop verifying when it expires.
        pFound->Error("Romgate.exe's time stamp does not verify against --ca-file: " + why);
        return what + ", time stamp does not verify";
    }
    if (signature.bTimeStamped)
        return what + ", time-stamped " + signature.timeStamped;
    pFound->Warn("Romgate.exe's signature has no time stamp: it stops verifying when its "
                 "certificate expires");
    return what + ", no time stamp";
}

void CheckLauncher(const std::string& folder, const CheckOptions& options, const Staging& work,
                   Findings* pFound)
{
    std::string bytes;
    if (!ReadPackageFile(folder, "Romgate.exe", kcbProgramMax, &bytes, pFound))
        return;
    Row row{"Romgate.exe", "launcher", bytes.size()};
    PeFacts facts;
    if (!ReadPeFacts(bytes, &facts) || !IsLauncherProgram(facts)) {
        pFound->Error(std::string("Romgate.exe: ") + kNotALauncher);
        row.what += ", " + std::string(kNotALauncher);
    } else if (facts.internalName != "Romgate") {
        pFound->Error("Romgate.exe: not Romgate: its version block's InternalName is \"" +
                      facts.internalName + "\"");
        row.what += ", InternalName \"" + facts.internalName + "\"";
    } else {
        row.what += ", PE32 i386, " +
                    DescribeSignature(folder + "/Romgate.exe", bytes, options, work, pFound);
    }
    pFound->rows.push_back(row);
}

void CheckInstaller(const std::string& folder, Findings* pFound)
{
    std::string bytes, warning;
    if (!ReadPackageFile(folder, "Setup.exe", kcbProgramMax, &bytes, pFound))
        return;
    Row row{"Setup.exe", "installer", bytes.size()};
    PeFacts facts;
    if (!ReadPeFacts(bytes, &facts) || !IsInstallerProgram(facts)) {
        pFound->Error(std::string("Setup.exe: ") + kNotAnInstaller);
        row.what += ", " + std::string(kNotAnInstaller);
    } else if (!pFound->versionRead.empty()) {
        row.what = DescribeInstaller(facts, pFound->versionRead, &warning);
        if (!warning.empty())
            pFound->Warn("Setup.exe " + warning);
    }
    pFound->rows.push_back(row);
}

void CheckImage(const std::string& folder, Findings* pFound)
{
    struct stat st;
    std::string path = folder + "/BIOS.rom";
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    if (st.st_size == 0)
        pFound->Error("BIOS.rom is empty");
    pFound->rows.push_back({"BIOS.rom", "image", (uint64_t)st.st_size});
}

// What Romgate does where the --installed version (or none) is registered,
// decided by its own parser and comparison.
std::string WhatRomgateDoes(const CheckOptions& options, const std::string& versionRead)
{
    char szPackaged[TEXT_BUFFER_SIZE], szInstalled[TEXT_BUFFER_SIZE];
    (void)snprintf(szPackaged, sizeof(szPackaged), "%s", versionRead.c_str());
    (void)snprintf(szInstalled, sizeof(szInstalled), "%s", options.installed.c_str());
    if (options.installed == "none")
        return "installs the packaged suite " + versionRead + " (no suite registered), then flashes";
    VersionTriple packaged = ParseVersionText(szPackaged, false);
    VersionTriple installed = ParseVersionText(szInstalled, false);
    std::string installedRead = std::to_string(installed.nMajor) + "." +
                                std::to_string(installed.nMinor) + "." +
                                std::to_string(installed.nPatch);
    if (IsNewerVersion(packaged, installed))
        return "installs the packaged suite " + versionRead + " (newer than " + installedRead +
               "), then flashes";
    return "flashes only";
}

// The package folder to check: PATH itself, or the zip unpacked into the
// working folder.
bool PackageFolder(const CheckOptions& options, const Staging& work, std::string* pFolder,
                   Findings* pFound)
{
    struct stat st;
    if (stat(options.path.c_str(), &st) != 0)
        return Fail("cannot check " + options.path + ": " + strerror(errno));
    if (S_ISDIR(st.st_mode)) {
        *pFolder = options.path;
        CheckListing(*pFolder, {}, pFound);
        return true;
    }
    if (!S_ISREG(st.st_mode))
        return Fail("cannot check " + options.path + ": neither a folder nor a zip file");
    CheckDigest(options.path, pFound);
    std::vector<std::string> others;
    std::string why;
    *pFolder = work.Path("package");
    if (!UnpackTopLevel(options.path, *pFolder, {std::begin(kFour), std::end(kFour)}, &others,
                        &why)) {
        pFound->Error("refused " + options.path + ": " + why);
        return false;
    }
    CheckListing(*pFolder, others, pFound);
    return true;
}

size_t RowOrder(const Row& row)
{
    return std::find(std::begin(kFour), std::end(kFour), row.name) - std::begin(kFour);
}

int Check(const CheckOptions& options)
{
    const char* pszTmp = getenv("TMPDIR");
    std::string why, folder, parent = pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp";
    SweepStaleStaging(parent);
    Staging work;
    if (!work.Make(parent, &why))
        return Fail("cannot make a working folder in " + parent + ": " + why), 1;
    Findings found;
    bool bRead = PackageFolder(options, work, &folder, &found);
    if (bRead) {
        CheckManifestFile(folder, &found);
        CheckLauncher(folder, options, work, &found);
        CheckInstaller(folder, &found);
        CheckImage(folder, &found);
    }
    if (InterruptSignal() != 0)
        return 1;
    // The package's files in the order building lists them, the zip last.
    std::stable_sort(found.rows.begin(), found.rows.end(), [](const Row& a, const Row& b) {
        return RowOrder(a) < RowOrder(b);
    });
    if (found.rows.empty() && !bRead)
        return 1;  // the path itself could not be read, as said
    PrintTable("checked " + options.path, found.rows);
    if (options.bInstalled && !found.versionRead.empty())
        printf("  where %s is registered, Romgate %s\n",
               options.installed == "none" ? "no suite" : options.installed.c_str(),
               WhatRomgateDoes(options, found.versionRead).c_str());
    bool bSound = bRead && found.cErrors == 0;
    printf("romgate-pack: %s %s (errors: %d, warnings: %d)\n", options.path.c_str(),
           bSound ? "is sound" : "is not sound", found.cErrors, found.cWarnings);
    return bSound ? 0 : 1;
}

}  // namespace

int CheckMain(int argc, char** argv)
{
    CheckOptions options;
    if (int status = ParseCheckOptions(argc, argv, &options))
        return status;
    if (!options.caFile.empty() && !OnPath("osslsigncode"))
        return Fail(MissingTool("osslsigncode")), 1;
    return Check(options);
}
