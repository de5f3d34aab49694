// The launcher's run from its start-up hook to its end.
#include <algorithm>

#include "fake_platform.h"
#include "launcher/launcher_app.h"

namespace {

using LaunchSequenceTest = FakePlatformTest;

const char kFindUpdate[] = "FindWindowA(NULL, VORN Update)";
const char kFindGloRim[] = "FindWindowA(NULL, VORN GloRim)";
const char kOpen[] = "RegOpenKeyExA(HKLM, Software\\Vorn\\VornUpdate, 0, 0xf003f)";

// A directory of exactly cch characters on drive C.
std::string Dir(size_t cch)
{
    return "C:\\" + std::string(cch - 3, 'd');
}

// An open tool of the maker, or a manifest that is missing, empty or out of
// reach: one message box, and nothing else happens. A manifest path of 255
// characters is still read.
TEST_F(LaunchSequenceTest, StopsWithOneMessage)
{
    const std::string ini = "C:\\Pkg\\VORNUpdate.ini", module = g_world.modulePath;
    const std::string read = "GetPrivateProfileStringA(VORNUpdate, Version, ";
    const std::string box = "MessageBoxA(NULL, Can't find VORNUpdate.ini file, Error Message, 0x0)";
    const std::string update =
        "MessageBoxA(NULL, Please terminate the VORNUpdate tool and try again., Warming, 0x0)";
    const std::string glorim =
        "MessageBoxA(NULL, Please terminate the Glorim tool and try again., Warming, 0x0)";
    const Lines readPkg = {kFindUpdate, kFindGloRim, "GetModuleFileNameA",
                           "GetWindowsDirectoryA", read + ini + ")", box};
    const ProfileEntry manifest = {ini, "VORNUpdate", "Version", "2.1.0"};
    const struct {
        Lines windows;
        std::string module;
        long result;
        ProfileEntry entry;
        Lines log;
    } rows[] = {
        {{"VORN Update"}, module, -1, manifest, {kFindUpdate, update}},
        {{"VORN GloRim"}, module, -1, manifest, {kFindUpdate, kFindGloRim, glorim}},
        {{"VORN GloRim", "VORN Update"}, module, -1, manifest, {kFindUpdate, update}},
        {{}, module, -1, {ini, "VORNUpdate", "Version", ""}, readPkg},
        {{}, module, -1, {"C:\\Other\\VORNUpdate.ini", "VORNUpdate", "Version", "2.1.0"}, readPkg},
        {{}, module, -1, {ini, "VORNUpdate", "Versions", "2.1.0"}, readPkg},
        {{}, module, -1, {ini, "Vorn", "Version", "2.1.0"}, readPkg},
        {{}, module, 0, manifest, {kFindUpdate, kFindGloRim, "GetModuleFileNameA", box}},
        {{}, Dir(240) + "\\R.exe", -1, {},
         {kFindUpdate, kFindGloRim, "GetModuleFileNameA", "GetWindowsDirectoryA",
          read + Dir(240) + "\\VORNUpdate.ini)", box}},
        {{}, Dir(241) + "\\R.exe", -1, {},
         {kFindUpdate, kFindGloRim, "GetModuleFileNameA", "GetWindowsDirectoryA", box}},
    };
    ForEachRow(rows, [](const auto& row) {
        RegisterSuite("C:\\Suite", {"1.0.0"});
        g_world.windows = row.windows;
        g_world.modulePath = row.module;
        g_world.moduleResult = row.result;
        g_world.profile = {row.entry};
        EXPECT_EQ(RunLauncher(), FALSE);
        EXPECT_EQ(g_world.log, row.log);
    });
}

// Cut at the last backslash that is a character of its own, never at the
// trail byte of a double-byte character.
TEST_F(LaunchSequenceTest, LauncherDirectoryFromModulePath)
{
    const struct {
        std::string module;
        long result;
        bool codePage950;
        std::string dir;  // empty: refused
    } rows[] = {
        {"C:\\Pkg\\Romgate.exe", -1, false, "C:\\Pkg"},
        {"C:\\Romgate.exe", -1, false, "C:"},
        {"Romgate.exe", -1, false, "Romgate.exe"},
        {"C:\\Pkg\\\xA5\x5C.exe", -1, true, "C:\\Pkg"},
        {"C:\\Pkg\\\xA5\x5C.exe", -1, false, "C:\\Pkg\\\xA5"},
        {"C:\\Pkg\xA5\\R.exe", -1, true, "C:"},
        {"C:\\\xA5\x5C\\R.exe", -1, true, "C:\\\xA5\x5C"},
        {"C:\\Pkg\\R\xA5", -1, true, "C:\\Pkg"},
        {Dir(255) + "\\a", -1, false, Dir(255)},
        {Dir(256) + "\\a", -1, false, ""},
        {"C:\\" + std::string(256, 'r'), -1, false, "C:"},  // 259 characters
        {"C:\\" + std::string(257, 'r'), -1, false, ""},    // 260: cut short
        {"C:\\Pkg\\Romgate.exe", 0, false, ""},
        {"C:\\Pkg\\Romgate.exe", 260, false, ""},
    };
    ForEachRow(rows, [](const auto& row) {
        g_world.modulePath = row.module;
        g_world.moduleResult = row.result;
        if (row.codePage950)
            std::fill(g_world.leadBytes + 0x81, g_world.leadBytes + 0xFF, true);
        EXPECT_EQ(GetLauncherDirectory(), row.dir.empty() ? FALSE : TRUE);
        EXPECT_EQ(std::string(g_szLauncherDir), row.dir);
    });
}

TEST_F(LaunchSequenceTest, DefaultLocationIsOnTheWindowsDrive)
{
    const struct { std::string windowsDir; long result; char drive; } rows[] = {
        {"D:\\WINDOWS", -1, 'D'}, {"C:\\WINDOWS", -1, 'C'}, {"D:\\WINDOWS", 0, 'C'},
        {"D:\\WINDOWS", 255, 'D'}, {"D:\\WINDOWS", 256, 'C'},
        {"D:" + std::string(253, 'w'), -1, 'D'},  // 255 characters
        {"D:" + std::string(254, 'w'), -1, 'C'},  // 256: does not fit
    };
    ForEachRow(rows, [](const auto& row) {
        g_world.windowsDir = row.windowsDir;
        g_world.windowsDirResult = row.result;
        EXPECT_EQ(RunLauncher(), FALSE);
        EXPECT_EQ(std::string(g_szSuiteLocation),
                  row.drive + std::string(":\\Program Files\\Vorn\\VornUpdate"));
    });
}

TEST_F(LaunchSequenceTest, PackageVersionHoldsAtMost254Characters)
{
    static const size_t rows[] = {253, 254, 255, 300};
    ForEachRow(rows, [](size_t cch) {
        const std::string version = "2.1.0" + std::string(cch - 5, '.');
        g_world.profile.clear();
        SetManifestVersion("C:\\Pkg", version);
        EXPECT_EQ(RunLauncher(), FALSE);
        EXPECT_EQ(std::string(g_szPackageVersion), version.substr(0, std::min<size_t>(cch, 254)));
    });
}

// One check, or two when the first asks for the installer; the flash runs
// from whatever folder the last check left.
TEST_F(LaunchSequenceTest, ChecksInstallsAndFlashesInOrder)
{
    const char *setup = "CreateProcessA(C:\\Pkg\\Setup.exe -s)",
               *oldFlash = "CreateProcessA(C:\\Old\\Chipburn.exe C:\\Pkg\\BIOS.rom)",
               *newFlash = "CreateProcessA(E:\\New\\Chipburn.exe C:\\Pkg\\BIOS.rom)",
               *defaultFlash = "CreateProcessA(\"C:\\Program Files\\Vorn\\VornUpdate\\"
                               "Chipburn.exe\" C:\\Pkg\\BIOS.rom)",
               *wait1 = "WaitForSingleObject(P1)", *wait2 = "WaitForSingleObject(P2)";
    const struct {
        const char *before, *after;  // registered version; NULL: none
        bool setupStarts;
        Lines calls;
        size_t traces;
    } rows[] = {
        {NULL, NULL, true, {kOpen, setup, wait1, kOpen, defaultFlash, wait2}, 0},
        {NULL, "2.1.0", true, {kOpen, setup, wait1, kOpen, newFlash, wait2}, 6},
        {"2.0.7", "2.1.0", true, {kOpen, setup, wait1, kOpen, newFlash, wait2}, 12},
        {"2.0.7", NULL, true, {kOpen, setup, wait1, kOpen, oldFlash, wait2}, 12},
        {"2.1.0", "9.9.9", true, {kOpen, oldFlash, wait1}, 6},
        {"2.2.0", "9.9.9", true, {kOpen, oldFlash, wait1}, 6},
        {NULL, "2.1.0", false, {kOpen, setup, kOpen, defaultFlash, wait1}, 0},
    };
    ForEachRow(rows, [](const auto& row) {
        if (row.before != NULL)
            RegisterSuite("C:\\Old", {row.before});
        g_world.onRun = [&row](const std::string& commandLine) {
            if (row.after != NULL && commandLine.find("Setup.exe") != std::string::npos)
                RegisterSuite("E:\\New", {row.after});
        };
        g_world.failProgram = row.setupStarts ? "" : "Setup.exe";
        EXPECT_EQ(RunLauncher(), FALSE);
        EXPECT_EQ(Calls({"RegOpenKeyExA", "CreateProcessA", "WaitForSingleObject"}), row.calls);
        EXPECT_EQ(g_world.traces.size(), row.traces);
    });
}

struct CountingApp : CLauncherApp {
    int calls = 0;
    BOOL InitInstance() override { ++calls; return CLauncherApp::InitInstance(); }
};

TEST_F(LaunchSequenceTest, EntryRunsTheStartUpHookOnceAndEndsWithZero)
{
    CountingApp app;
    char szArguments[] = "/s ignored";
    EXPECT_EQ(AfxWinMain(NULL, NULL, szArguments, 1), 0);
    EXPECT_EQ(app.calls, 1);
    EXPECT_EQ(g_world.commandLines.size(), 2u);
}

}  // namespace
