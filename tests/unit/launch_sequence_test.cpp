// The launcher's run from its start-up hook to its end.
#include "fake_platform.h"

namespace {

BOOL RunLauncher() { return CLauncherApp().InitInstance(); }
std::string Dir(size_t cch) { return "C:\\" + std::string(cch - 3, 'd'); }

// An open tool, or a manifest with no Version where the module path leads:
// one message box and nothing else. The ini line shows the launcher's folder.
TEST(LaunchSequenceTest, StopsWithOneMessage)
{
    const std::string f1 = "find VORN Update", f2 = "find VORN GloRim", m = "module", w = "windir";
    const std::string no = "box Can't find VORNUpdate.ini file | Error Message | 0", ini = "ini C:\\Pkg\\";
    const std::string up = "box Please terminate the VORNUpdate tool and try again. | Warming | 0";
    const std::string gr = "box Please terminate the Glorim tool and try again. | Warming | 0";
    const std::string pkg = "C:\\Pkg\\Romgate.exe", r = std::string(256, 'r'), cjk = "C:\\Pkg\\\xA5\x5C.exe";
    const struct { Lines windows; std::string module; bool codePage950; Lines log; } rows[] = {
        {{"VORN Update"}, pkg, false, {f1, up}},
        {{"VORN GloRim"}, pkg, false, {f1, f2, gr}},
        {{"VORN GloRim", "VORN Update"}, pkg, false, {f1, up}},
        {{}, pkg, false, {f1, f2, m, w, ini + "VORNUpdate.ini", no}},
        {{}, "D:\\Other\\R.exe", false, {f1, f2, m, w, "ini D:\\Other\\VORNUpdate.ini", no}},
        {{}, cjk, true, {f1, f2, m, w, ini + "VORNUpdate.ini", no}},
        {{}, cjk, false, {f1, f2, m, w, ini + "\xA5\\VORNUpdate.ini", no}},
        {{}, "C:\\" + r, false, {f1, f2, m, w, "ini C:\\VORNUpdate.ini", no}},
        {{}, "C:\\" + r + "r", false, {f1, f2, m, no}},
        {{}, "", false, {f1, f2, m, no}},
        {{}, Dir(255) + "\\R", false, {f1, f2, m, w, no}},
        {{}, Dir(256) + "\\R", false, {f1, f2, m, no}},
        {{}, Dir(240) + "\\R", false, {f1, f2, m, w, "ini " + Dir(240) + "\\VORNUpdate.ini", no}},
        {{}, Dir(241) + "\\R", false, {f1, f2, m, w, no}},
    };
    ForEachRow(rows, [](const auto& row) {
        g_world.windows = row.windows;
        g_world.module = row.module;
        g_world.codePage950 = row.codePage950;
        g_world.version = "";
        EXPECT_EQ(RunLauncher(), FALSE);
        EXPECT_EQ(g_world.log, row.log);
    });
}

// One check, or two around the installer whether or not it started; the
// flash runs from the registered folder, else from the default on the Windows
// drive, or on C when that cannot be read.
TEST(LaunchSequenceTest, ChecksInstallsAndFlashesInOrder)
{
    const std::string open = "open Software\\Vorn\\VornUpdate KEY_ALL_ACCESS", image = " C:\\Pkg\\BIOS.rom";
    const std::string setup = "run C:\\Pkg\\Setup.exe -s", registered = "run C:\\Suite\\Chipburn.exe" + image;
    const std::string suite = "\\Program Files\\Vorn\\VornUpdate\\Chipburn.exe\"" + image;
    const std::string onD = "run \"D:" + suite, onC = "run \"C:" + suite;
    const struct { const char *windowsDir, *installed; bool setupStarts; Lines calls; } rows[] = {
        {"D:\\WINDOWS", NULL, true, {open, setup, "wait", open, onD, "wait"}},
        {"D:\\WINDOWS", "2.0.7", true, {open, setup, "wait", open, registered, "wait"}},
        {"D:\\WINDOWS", "2.1.0", true, {open, registered, "wait"}},
        {"D:\\WINDOWS", "2.2.0", true, {open, registered, "wait"}},
        {"", NULL, false, {open, setup, open, onC, "wait"}},
    };
    ForEachRow(rows, [](const auto& row) {
        g_world.windowsDir = row.windowsDir;
        g_world.key = row.installed != NULL;
        g_world.subkey = row.installed ? row.installed : "";
        g_world.setupStarts = row.setupStarts;
        EXPECT_EQ(RunLauncher(), FALSE);
        Lines calls;
        for (const std::string& line : g_world.log)
            if (line.rfind("open", 0) == 0 || line.rfind("run", 0) == 0 || line == "wait")
                calls.push_back(line);
        EXPECT_EQ(calls, row.calls);
    });
}

struct CountingApp : CWinApp {
    int calls = 0;
    BOOL InitInstance() override { ++calls; return FALSE; }
};

TEST(LaunchSequenceTest, EntryRunsTheStartUpHookOnceAndEndsWithZero)
{
    CountingApp app;
    char szArguments[] = "/s ignored";
    EXPECT_EQ(AfxWinMain(NULL, NULL, szArguments, 1), 0);
    EXPECT_EQ(app.calls, 1);
}

}  // namespace
