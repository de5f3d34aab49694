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
#include <string>
#include <vector>

#include <openssl/crypto.h>

#include "pack/archive.h"
#include "pack/check.h"
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

namespace {

const char kHelp[] =
    R"(usage: romgate-pack --setup FILE --image FILE --version X.Y.Z --out DIR
                    [--launcher FILE] [--sign-pkcs12 FILE --sign-pass-file FILE
                    [--ca-file PEM] [--timestamp-url URL]] [--zip]
       romgate-pack --check DIR|ZIP [--installed VERSION|none] [--ca-file PEM]

Lays out DIR as a Romgate package, with exactly its four files:
  Romgate.exe     the launcher, --launcher (default: Romgate.exe here)
  Setup.exe       the suite's installer, --setup
  BIOS.rom        the firmware image, --image: streamed, never held in
                  memory, of any size; holes of a sparse file stay holes;
                  a pipe or FIFO is read to its end
  VORNUpdate.ini  the manifest, "[VORNUpdate]" and "Version=X.Y.Z", CRLF line
                  ends, no byte-order mark

Refuses, with nothing left behind in DIR:
  - a version that Romgate would read as another number: empty, more than
    three components, anything but digits in a component, a component
    beyond 2147483647, more than the 254 characters Romgate reads (the
    message says what Romgate would read);
  - a --setup that is not a Windows GUI or console program for i386, AMD64
    or ARM64, a --launcher that is not a 32-bit i386 GUI one (PE32), either
    beyond 256 MiB, an empty image;
  - a DIR that exists and is not an empty folder, or is a symbolic link.
Warns when the installer's version resource declares a product version
whose first three components differ from --version.

--sign-pkcs12 FILE --sign-pass-file FILE
    signs Romgate.exe with osslsigncode (Authenticode, SHA-256), with the key and certificates of the PKCS#12
    file and the password on the first line of the pass file (its line end
    LF or CRLF); each file is read once, so either may be a pipe. The
    certificate chain is checked before any work, and the signature
    verified before finishing, against the roots of --ca-file and the
    certificates of the PKCS#12 file (a self-signed key needs no --ca-file).
    Without --timestamp-url the signature has no time stamp, needs no
    network, and stops verifying when the certificate expires.
--ca-file PEM
    the root certificates that a key issued by a certificate authority
    chains to, when its PKCS#12 file does not hold its root.
--timestamp-url URL
    has the signature time-stamped (RFC 3161) by the time-stamp authority
    at URL, which needs network access to it; the signature then verifies
    after the certificate expires. The time stamp is verified too: the
    authority's certificate must chain to the same certificates as the
    key's. An authority that cannot be reached or whose reply does not
    verify fails the run.
--zip
    also writes DIR.zip (the four files at its top level, fixed times, so
    the same package gives the same archive) and DIR.zip.sha256 (its digest,
    as sha256sum writes it) beside DIR. DIR.zip must not exist.

Works in a folder .romgate-pack-<pid>@<host>-XXXXXX beside DIR, moved into
place when complete; Ctrl-C, SIGTERM or SIGHUP remove it. A run killed
outright (SIGKILL) leaves it, and the next run in that folder removes it.

--check DIR|ZIP
    checks a package folder, or a zip of one, that this tool may not have
    built, as Romgate and Windows will read it, writing nothing but in a
    private folder in $TMPDIR that is gone at the end. A zip is read with
    libzip; its DIR.zip.sha256 beside it, when there, must match; an entry
    that could write outside its folder (absolute, a drive letter, "..", a
    link) or whose name differs from another's only in case is refused.
    Errors: a missing file, a manifest with a UTF-8 byte-order mark or a
    version Romgate would misread, a launcher that is not a 32-bit GUI
    Romgate, an installer that is no Windows program, an empty image, a
    signature that does not verify against --ca-file. Warnings: another
    file, no digest file, a signature not verified (no --ca-file) or
    without a time stamp, an installer's ProductVersion that differs.
    Exit status 0 when sound (warnings allowed), 1 when not.
--installed VERSION|none
    with --check: also says what Romgate does where that suite version (or
    none) is registered, by its own comparison: installs the packaged
    suite, then flashes; or flashes only.

Prints what it did as a table. Exit status: 0 done, 1 refused or failed,
2 wrong usage; killed by the signal when interrupted.
)";

const uint64_t kcbKeyFileMax = 1u << 20;

struct Options {
    std::string setup, image, version, out, launcher = "Romgate.exe", pkcs12, passFile, caFile,
        timestampUrl;
    bool bZip = false;
};

// What the checks read, for the run to write.
struct Inputs {
    std::string setup, launcher, manifest;
    int fdImage = -1;
    bool bOutExists = false;  // --out is an empty folder now
    SigningKey key;
    Inputs() = default;
    Inputs(const Inputs&) = delete;
    Inputs& operator=(const Inputs&) = delete;
    ~Inputs()
    {
        if (fdImage >= 0)
            close(fdImage);
    }
};

bool ReadInput(const std::string& path, const char* option, uint64_t cbMax, std::string* pBytes)
{
    std::string why;
    return ReadBounded(path, cbMax, pBytes, &why) ||
           Fail(std::string("cannot read ") + option + " " + path + ": " + why);
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
                   {"--sign-pass-file", &pOptions->passFile}, {"--ca-file", &pOptions->caFile},
                   {"--timestamp-url", &pOptions->timestampUrl}};
    bool bVersionGiven = false, bTimestampGiven = false;
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
            bTimestampGiven |= arg == "--timestamp-url";
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
    if (!pOptions->caFile.empty() && pOptions->pkcs12.empty())
        return Usage("--ca-file goes with --sign-pkcs12");
    if (bTimestampGiven && pOptions->pkcs12.empty())
        return Usage("--timestamp-url goes with --sign-pkcs12");
    // An empty URL, from a script's unset variable, would sign without the
    // time stamp that was asked for.
    if (bTimestampGiven && pOptions->timestampUrl.empty())
        return Usage("--timestamp-url needs a URL");
    while (pOptions->out.size() > 1 && pOptions->out.back() == '/')
        pOptions->out.pop_back();
    return 0;
}

// The folder DIR goes in, as given ("." for a bare name).
std::string ParentOf(const std::string& path)
{
    size_t iSlash = path.rfind('/');
    return iSlash == std::string::npos ? "." : iSlash == 0 ? "/" : path.substr(0, iSlash);
}

// Why DIR cannot take the package, "" when it can; *pbExists tells that it
// is an empty folder already. A symbolic link is refused: the package would
// go wherever it points, and moving it there would replace the link.
std::string OutProblem(const std::string& out, bool* pbExists)
{
    struct stat st;
    if (lstat(out.c_str(), &st) != 0) {
        if (errno == ENAMETOOLONG)
            return "the name is too long";
        if (errno == ENOTDIR)
            return "a part of its path is not a folder";
        if (errno != ENOENT)
            return strerror(errno);
        std::string parent = ParentOf(out);
        return stat(parent.c_str(), &st) == 0 ? "" : "cannot use its folder " + parent + ": " +
                                                        strerror(errno);
    }
    if (S_ISLNK(st.st_mode))
        return "it is a symbolic link; give the folder itself";
    if (!S_ISDIR(st.st_mode))
        return "it exists and is not a folder";
    struct stat parent;
    if (stat(ParentOf(out).c_str(), &parent) == 0 && parent.st_dev != st.st_dev)
        return "it is where a file system is mounted, and the package is moved into place "
               "with a rename; give a folder in it";
    DIR* pDir = opendir(out.c_str());
    if (pDir == nullptr)
        return strerror(errno);
    size_t cEntries = 0;
    while (const struct dirent* pEntry = readdir(pDir))
        cEntries += strcmp(pEntry->d_name, ".") != 0 && strcmp(pEntry->d_name, "..") != 0;
    closedir(pDir);
    *pbExists = true;
    return cEntries == 0 ? "" : "it exists and is not an empty folder";
}

// Why DIR.zip or DIR.zip.sha256 cannot be written, "" when both can.
std::string ZipProblem(const std::string& out)
{
    struct stat st;
    for (const std::string& path : {out + ".zip", out + ".zip.sha256"}) {
        if (lstat(path.c_str(), &st) == 0)
            return out + ".zip or its .sha256 exists already";
        if (errno != ENOENT)
            return path + ": " + (errno == ENAMETOOLONG ? "the name is too long" : strerror(errno));
    }
    return "";
}

// The key, its password and the roots, each read once, and the chain
// checked, before anything is written.
bool CheckKey(const Options& options, SigningKey* pKey)
{
    std::string pkcs12, pass, ca, why;
    if (!ReadInput(options.pkcs12, "--sign-pkcs12", kcbKeyFileMax, &pkcs12) ||
        !ReadInput(options.passFile, "--sign-pass-file", kcbKeyFileMax, &pass) ||
        (!options.caFile.empty() &&
         !ReadInput(options.caFile, "--ca-file", kcbCaFileMax, &ca)))
        return false;
    bool bOpened = pKey->Open(pkcs12, pass, &why);
    OPENSSL_cleanse(&pass[0], pass.size());
    return (bOpened && pKey->CheckChain(ca, &why)) ||
           Fail("refused --sign-pkcs12 " + options.pkcs12 + ": " + why);
}

bool CheckImage(const Options& options, Inputs* pInputs)
{
    std::string why;
    struct stat st;
    pInputs->fdImage = OpenInput(options.image, &why);
    if (pInputs->fdImage < 0)
        return Fail("cannot read --image " + options.image + ": " + why);
    if (fstat(pInputs->fdImage, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
        return Fail("refused --image " + options.image + ": it is empty");
    return true;
}

// Everything is checked before anything is written.
bool CheckInputs(const Options& options, std::vector<Row>* pRows, Inputs* pInputs)
{
    VersionCheck version = CheckVersionText(options.version);
    if (!version.strProblem.empty())
        return Fail("refused --version \"" + options.version + "\": " + version.strProblem +
                    "; Romgate would read it as " + version.strRead);
    PeFacts setup, launcher;
    std::string* pSetup = &pInputs->setup;
    std::string* pLauncher = &pInputs->launcher;
    if (!ReadInput(options.setup, "--setup", kcbProgramMax, pSetup) ||
        !ReadInput(options.launcher, "--launcher", kcbProgramMax, pLauncher))
        return false;
    if (!ReadPeFacts(*pSetup, &setup) || !IsInstallerProgram(setup))
        return Fail("refused --setup " + options.setup + ": " + kNotAnInstaller);
    if (!ReadPeFacts(*pLauncher, &launcher) || !IsLauncherProgram(launcher))
        return Fail("refused --launcher " + options.launcher + ": " + kNotALauncher);
    if (!CheckImage(options, pInputs))
        return false;
    std::string problem = OutProblem(options.out, &pInputs->bOutExists);
    if (!problem.empty())
        return Fail("refused --out " + options.out + ": " + problem);
    problem = options.bZip ? ZipProblem(options.out) : "";
    if (!problem.empty())
        return Fail("refused --zip: " + problem);
    if (!options.pkcs12.empty() && !OnPath("osslsigncode"))
        return Fail(MissingTool("osslsigncode"));
    if (!options.pkcs12.empty() && !CheckKey(options, &pInputs->key))
        return false;

    std::string warning, setupWhat = DescribeInstaller(setup, version.strRead, &warning);
    if (!warning.empty())
        Say("warning: " + options.setup + " " + warning);
    pInputs->manifest = ManifestFor(options.version);
    *pRows = {{"Romgate.exe", "launcher, PE32 i386, not signed", pLauncher->size()},
              {"Setup.exe", setupWhat, pSetup->size()},
              {"BIOS.rom", "image, from " + options.image, 0},
              {"VORNUpdate.ini", "Version=" + options.version + ", read by Romgate as " +
                                     version.strRead,
               pInputs->manifest.size()}};
    return true;
}

bool Run(const std::vector<std::string>& argv, const Staging& staging)
{
    std::string why;
    return RunExplained(argv, staging.Path("log"), &why) || Fail(why);
}

// The time stamp on the signed launcher, verified against the trusted
// certificates: osslsigncode's verify passes a signature whose time stamp
// fails as long as the signing certificate is valid today, which would
// leave a package that stops verifying when it expires.
bool CheckTimeStamp(const Options& options, const Staging& staging, const std::string& signedBytes,
                    const SignatureFacts& facts, std::string* pStamped)
{
    std::string trusted, why;
    if (!ReadBounded(staging.Path("trusted.pem"), kcbCaFileMax + kcbKeyFileMax, &trusted, &why))
        return Fail("cannot read back the trusted certificates: " + why);
    if (!facts.bTimeStamped || !VerifyTimeStamp(signedBytes, trusted, &why))
        return Fail("the time stamp of --timestamp-url " + options.timestampUrl +
                    " on the signed launcher: " + (facts.bTimeStamped ? why : "there is none"));
    *pStamped = ", time-stamped " + facts.timeStamped;
    return true;
}

// Signs the launcher written as unsigned.exe into the package, and verifies
// the signature as Windows will, against the trusted certificates, and its
// time stamp when it has one.
bool Sign(const Options& options, const Inputs& inputs, const Staging& staging, Row* pRow)
{
    std::string key = staging.Path("key.p12"), trusted = staging.Path("trusted.pem"),
                unsignedExe = staging.Path("unsigned.exe"),
                signedExe = staging.Path("package/Romgate.exe"), why;
    if (!inputs.key.WritePrivateCopy(key, &why) || !inputs.key.WriteTrusted(trusted, &why))
        return Fail("cannot prepare the signing in " + staging.Path("") + ": " + why);
    std::vector<std::string> sign = {"osslsigncode", "sign", "-pkcs12", key, "-h", "sha256"};
    if (!options.timestampUrl.empty())
        sign.insert(sign.end(), {"-ts", options.timestampUrl});
    sign.insert(sign.end(), {"-in", unsignedExe, "-out", signedExe});
    bool bSigned = Run(sign, staging);
    // The key's copy has no password: it is kept no longer than needed.
    unlink(key.c_str());
    if (!bSigned && !options.timestampUrl.empty())
        Say("the signing asked --timestamp-url " + options.timestampUrl +
            " for a time stamp: it must be reachable from here and answer RFC 3161 queries");
    if (!bSigned || !Run({"osslsigncode", "verify", "-CAfile", trusted, "-TSA-CAfile", trusted,
                          "-in", signedExe},
                         staging))
        return false;
    std::string bytes, stamped;
    SignatureFacts facts;
    if (!ReadBounded(signedExe, kcbProgramMax + kcbKeyFileMax, &bytes, &why) ||
        !ReadSignatureFacts(bytes, &facts, &why) || !facts.bPresent)
        return Fail("cannot read back the signed " + signedExe + ": " +
                    (why.empty() ? "it has no signature" : why));
    if (!options.timestampUrl.empty() &&
        !CheckTimeStamp(options, staging, bytes, facts, &stamped))
        return false;
    pRow->cb = bytes.size();
    pRow->what = "launcher, PE32 i386, signed (Authenticode, SHA-256), signature verified" +
                 std::string(options.caFile.empty() ? "" : " up to a root of --ca-file") + stamped;
    return true;
}

bool Zip(const Options& options, const Staging& staging, std::vector<Row>* pRows)
{
    std::vector<std::string> names;
    for (const Row& row : *pRows)
        names.push_back(row.name);
    std::string zip = staging.Path("archive.zip"), sum, why;
    std::string name = options.out.substr(options.out.rfind('/') + 1) + ".zip";
    if (!WriteZip(zip, staging.Path("package"), names, &why) ||
        !Sha256OfFile(zip, &sum, &why))
        return Fail("cannot write " + options.out + ".zip: " + why);
    std::string line = Sha256SumLine(sum, name);
    struct stat st;
    if (stat(zip.c_str(), &st) != 0 ||
        !WriteNewFile(staging.Path("archive.sha256"), line, 0666, &why))
        return Fail("cannot write " + options.out + ".zip.sha256: " + why);
    pRows->push_back({name, "the four files", (uint64_t)st.st_size});
    pRows->push_back({name + ".sha256", "sha256 " + sum, line.size()});
    return true;
}

// Writes the four files into the package folder, the launcher aside
// first when it is to be signed into place.
bool WriteFiles(const Options& options, const Inputs& inputs, const Staging& staging,
                std::vector<Row>* pRows)
{
    std::string why, launcher = options.pkcs12.empty() ? staging.Path("package/Romgate.exe")
                                                       : staging.Path("unsigned.exe");
    if (!WriteNewFile(launcher, inputs.launcher, 0666, &why) ||
        !WriteNewFile(staging.Path("package/Setup.exe"), inputs.setup, 0666, &why) ||
        !WriteNewFile(staging.Path("package/VORNUpdate.ini"), inputs.manifest, 0666, &why))
        return Fail("cannot write into " + staging.Path("package") + ": " + why);
    Row* pImageRow = &(*pRows)[2];
    if (!CopyToNewFile(inputs.fdImage, staging.Path("package/BIOS.rom"), &pImageRow->cb, &why))
        return Fail("cannot copy --image " + options.image + ": " + why);
    return pImageRow->cb > 0 || Fail("refused --image " + options.image + ": it is empty");
}

bool Pack(const Options& options, std::vector<Row>* pRows)
{
    Inputs inputs;
    if (!CheckInputs(options, pRows, &inputs))
        return false;
    std::string parent = ParentOf(options.out), why;
    for (const std::string& name : SweepStaleStaging(parent)) {
        std::string message = "removed ";
        message += parent;
        message += '/';
        message += name;
        Say(message + ", left by a run that was killed");
    }
    Staging staging;
    if (!staging.Make(parent, &why))
        return Fail("cannot make a working folder in " + parent + ": " + why);
    if (!WriteFiles(options, inputs, staging, pRows) ||
        (!options.pkcs12.empty() && !Sign(options, inputs, staging, &(*pRows)[0])) ||
        (options.bZip && !Zip(options, staging, pRows)))
        return false;
    InterruptsHeld held;
    if (InterruptSignal() != 0)
        return false;
    return staging.MoveIntoPlace(options.out, inputs.bOutExists, options.bZip, &why) ||
           Fail(why);
}

int PackMain(int argc, char** argv)
{
    Options options;
    if (int status = ParseOptions(argc, argv, &options))
        return status;
    std::vector<Row> rows;
    if (!Pack(options, &rows))
        return 1;
    PrintTable("package " + options.out, rows);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool bCheck = false, bHelp = false;
    for (int i = 1; i < argc; ++i) {
        bCheck |= strcmp(argv[i], "--check") == 0;
        bHelp |= strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0;
    }
    if (!CatchInterrupts())
        return Fail(std::string("cannot catch interruptions: ") + strerror(errno)), 1;
    int status = bCheck && !bHelp ? CheckMain(argc, argv) : PackMain(argc, argv);
    // Either run has unwound and removed what it made.
    if (status != 0 && InterruptSignal() != 0) {
        Say("interrupted; removed what this run had made");
        EndAsInterrupted();
    }
    return status;
}
