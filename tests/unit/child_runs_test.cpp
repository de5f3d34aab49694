// The installer's and the flashing program's command lines and runs.
#include <stdio.h>

#include "fake_platform.h"
#include "launcher/child_runs.h"
#include "launcher/launcher_app.h"

namespace {

using ChildRunsTest = FakePlatformTest;

void SetFolders(const std::string& launcherDir, const std::string& location)
{
    snprintf(g_szLauncherDir, sizeof(g_szLauncherDir), "%s", launcherDir.c_str());
    snprintf(g_szSuiteLocation, sizeof(g_szSuiteLocation), "%s", location.c_str());
}

// A folder with a space or tab is quoted, each on its own; any other stays
// exactly as it was.
TEST_F(ChildRunsTest, CommandLinesQuoteOnlyFoldersWithBlanks)
{
    static const struct { const char *dir, *location, *setup, *flash; } rows[] = {
        {"C:\\Pkg", "C:\\Suite", "C:\\Pkg\\Setup.exe -s", "C:\\Suite\\Chipburn.exe C:\\Pkg\\BIOS.rom"},
        {"C:\\Pkg", "C:\\Program Files\\Vorn\\VornUpdate", "C:\\Pkg\\Setup.exe -s",
         "\"C:\\Program Files\\Vorn\\VornUpdate\\Chipburn.exe\" C:\\Pkg\\BIOS.rom"},
        {"C:\\Pkg", "C:\\Vorn\tSuite", "C:\\Pkg\\Setup.exe -s",
         "\"C:\\Vorn\tSuite\\Chipburn.exe\" C:\\Pkg\\BIOS.rom"},
        {"D:\\My Pkg", "C:\\Suite", "\"D:\\My Pkg\\Setup.exe\" -s",
         "C:\\Suite\\Chipburn.exe \"D:\\My Pkg\\BIOS.rom\""},
        {"D:\\My\tPkg", "C:\\Suite", "\"D:\\My\tPkg\\Setup.exe\" -s",
         "C:\\Suite\\Chipburn.exe \"D:\\My\tPkg\\BIOS.rom\""},
        {"D:\\A B", "C:\\C D", "\"D:\\A B\\Setup.exe\" -s",
         "\"C:\\C D\\Chipburn.exe\" \"D:\\A B\\BIOS.rom\""},
        {"C:", "", "C:\\Setup.exe -s", "\\Chipburn.exe C:\\BIOS.rom"},
    };
    ForEachRow(rows, [](const auto& row) {
        SetFolders(row.dir, row.location);
        RunSetup();
        RunFlasher();
        EXPECT_EQ(g_world.commandLines, Lines({row.setup, row.flash}));
        EXPECT_STREQ(g_szLauncherDir, row.dir);
        EXPECT_STREQ(g_szSuiteLocation, row.location);
    });
}

TEST_F(ChildRunsTest, EachChildIsWaitedForAndReleasedBeforeTheNext)
{
    SetFolders("C:\\Pkg", "C:\\Suite");
    RunSetup();
    RunFlasher();
    EXPECT_EQ(g_world.log,
              Lines({"CreateProcessA(C:\\Pkg\\Setup.exe -s)", "WaitForSingleObject(P1)",
                     "CloseHandle(P1)", "CloseHandle(T1)",
                     "CreateProcessA(C:\\Suite\\Chipburn.exe C:\\Pkg\\BIOS.rom)",
                     "WaitForSingleObject(P2)", "CloseHandle(P2)", "CloseHandle(T2)"}));
}

// The flashing program's line is the longest: a 255-character suite folder
// and a launcher folder of the remaining length reach the 511 limit.
TEST_F(ChildRunsTest, CommandLineOverTheLimitIsNotRun)
{
    static const struct { bool blank; size_t dirLength, lineLength; } rows[] = {
        {false, 232, 510}, {false, 233, 511}, {false, 234, 512}, {true, 231, 511}, {true, 232, 512}};
    ForEachRow(rows, [](const auto& row) {
        std::string location = "C:\\" + std::string(252, 's');
        location[3] = row.blank ? ' ' : 's';
        const std::string dir = "D:\\" + std::string(row.dirLength - 3, 'd');
        const std::string q = row.blank ? "\"" : "";
        const std::string line = q + location + "\\Chipburn.exe" + q + " " + dir + "\\BIOS.rom";
        ASSERT_EQ(line.size(), row.lineLength);
        SetFolders(dir, location);
        RunFlasher();
        EXPECT_EQ(g_world.commandLines, line.size() <= 511 ? Lines({line}) : Lines());
    });
}

}  // namespace
