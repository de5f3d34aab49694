// The launcher on the scripted machine, for what no real run can reach: buffer limits, refused
// and failing registry reads, version reading and order, the double-byte scan.
#include <gtest/gtest.h>
#include <stdio.h>

#include <sstream>

#include "fake_platform.h"
#include "launcher/child_runs.h"
#include "launcher/launcher_app.h"
#include "launcher/suite_check.h"

// Rows: the calls, "in" the launcher's folder, "on" the default folder's drive
// ("-": unset). A module path cut short (260 of 260) or a folder of 256 is
// refused and left empty, a manifest path of 256 never read. A5 5C is one
// character in code page 950, a lead byte at the end leads none. Default: Windows' drive, else
// (unreadable, or cut short) C:.
TEST(LauncherTest, FindsItsFolderAndDefaultFolder)
{
    const std::string r(256, 'r'), d255 = "C:\\" + std::string(252, 'd'),
                                   cjk = "C:\\Pkg\\\xA5\x5C.exe";
    const std::string d241(d255, 0, 241), pkg = "ini C:\\Pkg\\VORNUpdate.ini|box in C:\\Pkg",
                                          no = "box in  on -";
    const struct {
        World world;
        std::string log;
    } rows[] = {
        {{"C:\\" + r}, "ini C:\\VORNUpdate.ini|box in C: on C"},
        {{"C:\\" + r + "r"}, no},
        {{d255 + "d\\R"}, no},
        {{d241 + "\\R"}, "box in " + d241 + " on C"},
        {{d255 + "\\R"}, "box in " + d255 + " on C"},
        {{""}, no},
        {{cjk, "C:\\W", "", true}, pkg + " on C"},
        {{"C:\\Pkg\\\xA5", "C:\\W", "", true}, pkg + " on C"},
        {{cjk}, "ini C:\\Pkg\\\xA5\\VORNUpdate.ini|box in C:\\Pkg\\\xA5 on C"},
        {{"C:\\Pkg\\R.exe", "D:\\W"}, pkg + " on D"},
        {{"C:\\Pkg\\R.exe", ""}, pkg + " on C"},
        {{"C:\\Pkg\\R.exe", "D:\\" + r}, pkg + " on C"},
    };
    for (const auto& row : rows) {
        g_world = row.world;
        snprintf(g_szLauncherDir, TEXT_BUFFER_SIZE, "stale");
        snprintf(g_szSuiteLocation, TEXT_BUFFER_SIZE, "-");
        EXPECT_EQ(CLauncherApp().InitInstance(), FALSE);
        EXPECT_EQ(g_world.log + " in " + g_szLauncherDir + " on " + g_szSuiteLocation[0], row.log)
            << row.world.module;
    }
}

// A folder with a tab is quoted. A line of 511 characters runs, one of 512
// does not. A program in a folder named Gone cannot start: no wait, no close.
TEST(LauncherTest, RunsChildrenWithinTheirCommandLine)
{
    const std::string d233 = "D:\\" + std::string(230, 'd'), d234 = d233 + "d",
                      s255 = "C:\\" + std::string(252, 's');
    const std::string ok = "|wait|close process|close thread",
                      flash = "\\Chipburn.exe " + d233 + "\\BIOS.rom";
    const struct {
        std::string dir, location, log;
    } rows[] = {
        {d233, s255, "run " + d233 + "\\Setup.exe -s" + ok + "|run " + s255 + flash + ok},
        {d234, s255, "run " + d234 + "\\Setup.exe -s" + ok},
        {"C:\t", "C:\\Gone",
         "run \"C:\t\\Setup.exe\" -s" + ok + "|run C:\\Gone\\Chipburn.exe \"C:\t\\BIOS.rom\""},
    };
    for (const auto& row : rows) {
        g_world = World();
        snprintf(g_szLauncherDir, TEXT_BUFFER_SIZE, "%s", row.dir.c_str());
        snprintf(g_szSuiteLocation, TEXT_BUFFER_SIZE, "%s", row.location.c_str());
        RunSetup();
        RunFlasher();
        EXPECT_EQ(g_world.log, row.log);
    }
}

// A start refused for want of rights is made again through the elevation
// prompt: the refused line's program, unquoted, as the file, the rest of the
// line as the parameters; waited for and closed when the shell gives a
// process. Declined, the run goes on. No other refusal is tried again.
// Calls of the launch (without the trace): subkey 2.0.7 means setup.
TEST(LauncherTest, StartsThroughTheElevationPromptWhenRightsAreNeeded)
{
    const std::string z(1, '\0'), setup = "run C:\\Pkg\\Setup.exe -s|shell C:\\Pkg\\Setup.exe <-s>|",
                      flash = "open|run C:\\S\\Chipburn.exe C:\\Pkg\\BIOS.rom|wait|close process|"
                              "close thread",
                      spaced = "\"C:\\Program Files\\Chipburn.exe\" \"C:\\My Pkg\\BIOS.rom\"";
    const struct {
        std::string module, location, subkey, admin;
        char shell;
        std::string log;
    } rows[] = {
        {"C:\\Pkg\\R", "C:\\S", "2.0.7", "Setup.exe", 'p',
         "open|" + setup + "wait shell|close shell|" + flash},
        {"C:\\My Pkg\\R", "C:\\Program Files", "2.1.0", "Chipburn.exe", 'p',
         "open|run " + spaced + "|shell C:\\Program Files\\Chipburn.exe <\"C:\\My Pkg\\BIOS.rom\">|"
         "wait shell|close shell"},
        {"C:\\Pkg\\R", "C:\\S", "2.0.7", "Setup.exe", 'c', "open|" + setup + flash},
        {"C:\\Pkg\\R", "C:\\S", "2.0.7", "Setup.exe", 'n', "open|" + setup + flash},
        {"C:\\Gone\\R", "C:\\S", "2.0.7", "Setup.exe Chipburn.exe", 'p',
         "open|run C:\\Gone\\Setup.exe -s|open|run C:\\S\\Chipburn.exe C:\\Gone\\BIOS.rom"},
    };
    for (const auto& row : rows) {
        g_world = World();
        g_world.module = row.module;
        g_world.version = "2.1.0";
        g_world.location = row.location + z;
        g_world.subkey = row.subkey;
        g_world.admin = row.admin;
        g_world.shell = row.shell;
        CLauncherApp().InitInstance();
        std::string calls, call;
        for (std::istringstream log(g_world.log); std::getline(log, call, '|');)
            if (call.rfind("open", 0) == 0 || call.rfind("run ", 0) == 0 ||
                call.rfind("shell", 0) == 0 || call.rfind("wait", 0) == 0 ||
                (call.rfind("close ", 0) == 0 && call != "close key"))
                calls += (calls.empty() ? "" : "|") + call;
        EXPECT_EQ(calls, row.log) << row.module << " " << row.admin << " " << row.shell;
    }
}

// Read like atoi, runs of dots as one, at most three components, saturated
// at the int range, each traced as taken; then ordered against 1.2.3.
TEST(LauncherTest, ReadsAndOrdersVersions)
{
    const char* const rows[][2] = {
        {"1.2.3", "1|2|3 => 1.2.3"},
        {"\t\r 1.+2.3a", "\t\r 1|+2|3a => 1.2.3"},
        {"1..2.3.9", "1|2|3 => 1.2.3"},
        {"1.2.10", "1|2|10 => 1.2.10 newer"},
        {"1.1.9", "1|1|9 => 1.1.9"},
        {"2.1", "2|1 => 2.1.0 newer"},
        {"-1.x", "-1|x => -1.0.0"},
        {"", " => 0.0.0"},
        {"2147483648.-99999999999999999999",
         "2147483648|-99999999999999999999 => 2147483647.-2147483648.0 newer"},
    };
    for (const auto& row : rows) {
        g_world = World();
        std::string text = row[0];
        const VersionTriple v = ParseVersionText(text.data(), true);
        text = std::to_string(v.nMajor) + "." + std::to_string(v.nMinor) + "." +
               std::to_string(v.nPatch);
        EXPECT_EQ(g_world.log + " => " + text + (IsNewerVersion(v, {1, 2, 3}) ? " newer" : ""),
                  row[1]);
    }
}

// A refused full-access open, no subkey or one whose name needs 257 bytes
// means setup, with nothing unread traced. Location replaces the folder when
// it fits 256 bytes, cut at its first zero byte or else at 255 characters;
// a missing one leaves it.
TEST(LauncherTest, ChecksTheRegisteredSuite)
{
    const std::string z(1, '\0'), s255(255, 'b'), s256(256, 'c'),
        e = "E:\\New", cur = "open|Current Version = 2.1.0|";
    const std::string read = cur + "2.1.0|2|1|0|Installed Version = 2.1.0|close key => in ";
    const struct {
        LSTATUS openStatus;
        std::string subkey, bytes, result;
    } rows[] = {
        {ERROR_ACCESS_DENIED, "2.1.0", e + z, "open => setup in D:\\Kept"},
        {ERROR_SUCCESS, "", e + z, cur + "close key => setup in " + e},
        {ERROR_SUCCESS, s256, e + z, cur + "close key => setup in " + e},
        {ERROR_SUCCESS, s255, e + z,
         cur + s255 + "|" + s255 + "|Installed Version = 0.0.0|close key => setup in " + e},
        {ERROR_SUCCESS, "2.1.0", s255 + z, read + s255},
        {ERROR_SUCCESS, "2.1.0", s256 + z, read + "D:\\Kept"},
        {ERROR_SUCCESS, "2.1.0", s256, read + s256.substr(0, 255)},
        {ERROR_SUCCESS, "2.1.0", e, read + e},
        {ERROR_SUCCESS, "2.1.0", "", read + "D:\\Kept"},
    };
    for (const auto& row : rows) {
        g_world = World();
        g_world.openStatus = row.openStatus;
        g_world.subkey = row.subkey;
        g_world.location = row.bytes;
        snprintf(g_szSuiteLocation, TEXT_BUFFER_SIZE, "D:\\Kept");
        const char* pszSetup = IsSetupRequired("2.1.0") ? " => setup in " : " => in ";
        EXPECT_EQ(g_world.log + pszSetup + g_szSuiteLocation, row.result);
    }
}
