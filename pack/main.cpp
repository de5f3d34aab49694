// romgate-pack: lays out a Romgate package folder, checks it as the launcher
// and Windows will read it, and signs the launcher.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pack/pe_facts.h"
#include "pack/tool_run.h"
#include "pack/version_check.h"

namespace {

const char kHelp[] =
    R"(usage: romgate-pack --setup FILE --image FILE --version X.Y.Z --out DIR
                    [--launcher FILE] [--sign-pkcs12 FILE --sign-pass-file FILE] [--zip]

Lays out DIR as a Romgate package, with exactly its four files:
  Romgate.exe     the launcher, --launcher (default: Romgate.exe here)
  Setup.exe       the suite's installer, --setup
  BIOS.rom        the firmware image, --image
  VORNUpdate.ini  the manifest, "[VORNUpdate]" and "Version=X.Y.Z", CRLF line
                  ends, no byte-order mark

Refuses, with nothing left behind in DIR:
  - a version that Romgate would read as another number: empty, more than
    three components, anything but digits in a component, a component
    beyond 2147483647 (the message says what Romgate would read);
  - a --setup that is not a Windows GUI or console program for i386, AMD64
    or ARM64, a --launcher that is not a 32-bit i386 GUI one (PE32), an
    empty image, a DIR that exists and is not empty.
Warns when the installer's version resource declares a product version
whose first three components differ from --version.

--sign-pkcs12 FILE --sign-pass-file FILE
    signs Romgate.exe with osslsigncode (Authenticode, SHA-256, no time
    stamp, so no network), with the key and certificates of the PKCS#12
    file and the password on the first line of the pass file; then verifies
    the signature against the certificates in that file before finishing.
--zip
    also writes DIR.zip (the four files at its top level) and
    DIR.zip.sha256 (its digest, as sha256sum writes it) beside DIR.

Prints what it did as a table. Exit status: 0 done, 1 refused or failed,
2 wrong usage.
)";

struct Options {
    std::string setup, image, version, out, launcher = "Romgate.exe", pkcs12, passFile;
    bool bZip = false;
};

struct Row {
    std::string name, what;
    size_t cb;
};

// Where the package is built beside DIR before it is moved into place, and
// the packager's scratch files; what was not moved is removed whatever
// happens, so a refused or failed run leaves nothing behind.
struct Work {
    std::string staging, scratch, zip, digest;
    ~Work()
    {
        for (const std::string& dir : {staging, scratch}) {
            if (dir.empty())
                continue;
            for (const char* name : {"Romgate.exe", "Setup.exe", "BIOS.rom", "VORNUpdate.ini",
                                     "unsigned.exe", "chain.pem", "log", "sum"})
                unlink((dir + "/" + name).c_str());
            rmdir(dir.c_str());
        }
        for (const std::string& file : {zip, digest})
            if (!file.empty())
                unlink(file.c_str());
    }
};

void Say(const std::string& message)
{
    // Standard error is where the packager looks; it has no other place.
    (void)fprintf(stderr, "romgate-pack: %s\n", message.c_str());
}

bool Fail(const std::string& message)
{
    Say(message);
    return false;
}

bool ReadFile(const std::string& path, const char* option, std::string* pBytes)
{
    struct stat st;
    std::ifstream in;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        in.open(path, std::ios::binary);
    if (!in.is_open())
        return Fail(std::string("cannot read ") + option + " " + path + ": not a readable file");
    pBytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() || Fail(std::string("cannot read ") + option + " " + path);
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    return (out << bytes).flush().good() || Fail("cannot write " + path);
}

int Usage(const std::string& message)
{
    Fail(message + " (see --help)");
    return 2;
}

// 0 when the options are usable, else the exit status.
int ParseOptions(int argc, char** argv, Options* pOptions)
{
    const struct {
        const char* name;
        std::string* pValue;
    } kValued[] = {{"--setup", &pOptions->setup},         {"--image", &pOptions->image},
                   {"--version", &pOptions->version},     {"--out", &pOptions->out},
                   {"--launcher", &pOptions->launcher},   {"--sign-pkcs12", &pOptions->pkcs12},
                   {"--sign-pass-file", &pOptions->passFile}};
    bool bVersionGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            (void)fputs(kHelp, stdout);
            exit(0);
        }
        if (arg == "--zip") {
            pOptions->bZip = true;
            continue;
        }
        bool bKnown = false;
        for (const auto& option : kValued) {
            if (arg != option.name)
                continue;
            if (++i == argc)
                return Usage(arg + " needs a value");
            *option.pValue = argv[i];
            bVersionGiven |= arg == "--version";
            bKnown = true;
        }
        if (!bKnown)
            return Usage("unknown argument " + arg);
    }
    if (pOptions->setup.empty() || pOptions->image.empty() || !bVersionGiven ||
        pOptions->out.empty())
        return Usage("--setup, --image, --version and --out are needed");
    if (pOptions->pkcs12.empty() != pOptions->passFile.empty())
        return Usage("--sign-pkcs12 and --sign-pass-file go together");
    while (pOptions->out.size() > 1 && pOptions->out.back() == '/')
        pOptions->out.pop_back();
    return 0;
}

std::string FormatVersion(const uint16_t version[4])
{
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

// True when path is missing or an empty folder.
bool IsFreeFolder(const std::string& path)
{
    DIR* pDir = opendir(path.c_str());
    if (pDir == nullptr)
        return errno == ENOENT;
    size_t cEntries = 0;
    while (struct dirent* pEntry = readdir(pDir))
        cEntries += strcmp(pEntry->d_name, ".") != 0 && strcmp(pEntry->d_name, "..") != 0;
    closedir(pDir);
    return cEntries == 0;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Everything is checked before anything is written.
bool CheckInputs(const Options& options, std::vector<Row>* pRows, std::string* pSetup,
                 std::string* pImage, std::string* pLauncher)
{
    VersionCheck version = CheckVersionText(options.version);
    if (!version.strProblem.empty())
        return Fail("refused --version \"" + options.version + "\": " + version.strProblem +
                    "; Romgate would read it as " + version.strRead);
    PeFacts setup, launcher;
    if (!ReadFile(options.setup, "--setup", pSetup) ||
        !ReadFile(options.image, "--image", pImage) ||
        !ReadFile(options.launcher, "--launcher", pLauncher))
        return false;
    // Windows starts GUI and console programs only (an EFI application or a
    // driver is refused), and the installer may be built for any Windows the
    // package meets: 32-bit, x64 or ARM64.
    const unsigned machines[] = {PE_MACHINE_I386, PE_MACHINE_AMD64, PE_MACHINE_ARM64};
    if (!ReadPeFacts(*pSetup, &setup) ||
        std::find(std::begin(machines), std::end(machines), setup.wMachine) ==
            std::end(machines) ||
        (setup.wSubsystem != PE_SUBSYSTEM_GUI && setup.wSubsystem != PE_SUBSYSTEM_CONSOLE))
        return Fail("refused --setup " + options.setup +
                    ": not a Windows GUI or console program for i386, AMD64 or ARM64");
    if (!ReadPeFacts(*pLauncher, &launcher) || launcher.wMachine != PE_MACHINE_I386 ||
        launcher.wMagic != PE_MAGIC_PE32 || launcher.wSubsystem != PE_SUBSYSTEM_GUI)
        return Fail("refused --launcher " + options.launcher +
                    ": not a 32-bit Windows GUI program (PE32, i386)");
    if (pImage->empty())
        return Fail("refused --image " + options.image + ": it is empty");
    if (!IsFreeFolder(options.out))
        return Fail("refused --out " + options.out + ": it exists and is not an empty folder");
    if (options.bZip && (Exists(options.out + ".zip") || Exists(options.out + ".zip.sha256")))
        return Fail("refused --zip: " + options.out + ".zip or its .sha256 exists already");

    std::string setupWhat = "installer, no version resource";
    if (setup.bHasProductVersion) {
        std::string declared = FormatVersion(setup.productVersion);
        setupWhat = "installer, ProductVersion " + declared;
        if (declared.compare(0, version.strRead.size() + 1, version.strRead + ".") != 0) {
            Say("warning: " + options.setup + " declares ProductVersion " + declared +
                 ", not " + options.version);
            setupWhat += " (differs: warned)";
        }
    }
    *pRows = {{"Romgate.exe", "launcher, PE32 i386, not signed", pLauncher->size()},
              {"Setup.exe", setupWhat, pSetup->size()},
              {"BIOS.rom", "image, from " + options.image, pImage->size()},
              {"VORNUpdate.ini", "Version=" + options.version + ", read by Romgate as " +
                                     version.strRead,
               ManifestFor(options.version).size()}};
    return true;
}

bool Run(const std::vector<std::string>& argv, const Work& work, const std::string& stdoutPath = "",
         const std::string& cwd = "")
{
    if (RunTool(argv, cwd, stdoutPath, work.scratch + "/log"))
        return true;
    std::string log;
    std::ifstream in(work.scratch + "/log");
    std::getline(in, log, '\0');
    return Fail(argv[0] + " " + argv[1] + " failed:\n" + log);
}

bool Sign(const Options& options, const Work& work, Row* pRow)
{
    std::string unsignedExe = work.scratch + "/unsigned.exe", chain = work.scratch + "/chain.pem",
                signedExe = work.staging + "/Romgate.exe";
    if (rename(signedExe.c_str(), unsignedExe.c_str()) != 0 ||
        !Run({"osslsigncode", "sign", "-pkcs12", options.pkcs12, "-readpass", options.passFile,
              "-h", "sha256", "-in", unsignedExe, "-out", signedExe},
             work) ||
        !Run({"openssl", "pkcs12", "-in", options.pkcs12, "-passin", "file:" + options.passFile,
              "-nokeys", "-out", chain},
             work) ||
        !Run({"osslsigncode", "verify", "-CAfile", chain, "-in", signedExe}, work))
        return false;
    struct stat st;
    pRow->cb = stat(signedExe.c_str(), &st) == 0 ? (size_t)st.st_size : 0;
    pRow->what = "launcher, PE32 i386, signed (Authenticode, SHA-256), signature verified";
    return true;
}

bool Zip(const Options& options, Work* pWork, std::vector<Row>* pRows)
{
    pWork->zip = pWork->staging + ".zip";
    std::vector<std::string> argv = {"zip", "-q", "-X", "-D", "-j", pWork->zip};
    for (const Row& row : *pRows)
        argv.push_back(pWork->staging + "/" + row.name);
    std::string sum;
    if (!Run(argv, *pWork) || !Run({"sha256sum", pWork->zip}, *pWork, pWork->scratch + "/sum"))
        return false;
    std::ifstream in(pWork->scratch + "/sum");
    in >> sum;
    std::string name = options.out.substr(options.out.rfind('/') + 1) + ".zip";
    struct stat st;
    stat(pWork->zip.c_str(), &st);
    pRows->push_back({name, "the four files", (size_t)st.st_size});
    pRows->push_back({name + ".sha256", "sha256 " + sum, sum.size() + name.size() + 3});
    pWork->digest = pWork->staging + ".sha256";
    return sum.size() == 64 && WriteFile(pWork->digest, sum + "  " + name + "\n");
}

// Moves the built package into place: the folder first, then the archive
// and its digest.
bool Commit(const Options& options, Work* pWork)
{
    if (rename(pWork->staging.c_str(), options.out.c_str()) != 0)
        return Fail("cannot move the package into " + options.out + ": " + strerror(errno));
    pWork->staging.clear();
    if (!options.bZip)
        return true;
    if (rename(pWork->zip.c_str(), (options.out + ".zip").c_str()) != 0 ||
        rename(pWork->digest.c_str(), (options.out + ".zip.sha256").c_str()) != 0)
        return Fail("cannot write " + options.out + ".zip: " + strerror(errno));
    pWork->zip.clear();
    pWork->digest.clear();
    return true;
}

bool Pack(const Options& options, std::vector<Row>* pRows)
{
    std::string setup, image, launcher;
    if (!CheckInputs(options, pRows, &setup, &image, &launcher))
        return false;
    size_t iSlash = options.out.rfind('/');
    std::string parent = iSlash == std::string::npos ? "." : options.out.substr(0, iSlash + 1);
    std::string base = options.out.substr(iSlash + 1);
    std::string staging = parent + "/." + base + ".romgate-pack-XXXXXX";
    const char* pszTmp = getenv("TMPDIR");
    std::string scratch = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/romgate-pack-XXXXXX";
    Work work;
    if (mkdtemp(&staging[0]) == nullptr)
        return Fail("cannot make a working folder beside " + options.out + ": " + strerror(errno));
    work.staging = staging;
    // A package folder as any other the packager makes: mkdtemp's is private.
    mode_t umaskNow = umask(0);
    umask(umaskNow);
    chmod(staging.c_str(), 0777 & ~umaskNow);
    if (mkdtemp(&scratch[0]) == nullptr)
        return Fail("cannot make a working folder in " + scratch + ": " + strerror(errno));
    work.scratch = scratch;
    // In the order of the rows.
    std::string manifest = ManifestFor(options.version);
    const std::string* contents[] = {&launcher, &setup, &image, &manifest};
    for (size_t i = 0; i < 4; ++i)
        if (!WriteFile(staging + "/" + (*pRows)[i].name, *contents[i]))
            return false;
    return (options.pkcs12.empty() || Sign(options, work, &(*pRows)[0])) &&
           (!options.bZip || Zip(options, &work, pRows)) && Commit(options, &work);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (int status = ParseOptions(argc, argv, &options))
        return status;
    std::vector<Row> rows;
    if (!Pack(options, &rows))
        return 1;
    int cchName = 0;
    for (const Row& row : rows)
        cchName = std::max(cchName, (int)row.name.size());
    printf("romgate-pack: package %s\n", options.out.c_str());
    for (const Row& row : rows)
        printf("  %-*s %10zu bytes  %s\n", cchName, row.name.c_str(), row.cb, row.what.c_str());
    return 0;
}
