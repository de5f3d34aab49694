// The installer's and the flashing program's command lines and runs.
#include "fake_platform.h"
#include "launcher/child_runs.h"

namespace {

// A folder with a space or tab is quoted, each on its own; the rest is kept
// byte for byte. A line of 511 characters runs, one of 512 does not.
TEST(ChildRunsTest, RunsEachCommandLineAndWaits)
{
    const std::string d233 = "D:\\" + std::string(230, 'd'), d234 = d233 + "d";
    const std::string s255 = "C:\\" + std::string(252, 's'), exe = "\\Chipburn.exe ";
    const struct { std::string dir, location, setup, flash; } rows[] = {  // "": not run
        {"C:\\P", "C:\\S", "C:\\P\\Setup.exe -s", "C:\\S\\Chipburn.exe C:\\P\\BIOS.rom"},
        {"C:\\P", "C:\\S x", "C:\\P\\Setup.exe -s", "\"C:\\S x\\Chipburn.exe\" C:\\P\\BIOS.rom"},
        {"C:\\P\ty", "C:\\S", "\"C:\\P\ty\\Setup.exe\" -s", "C:\\S\\Chipburn.exe \"C:\\P\ty\\BIOS.rom\""},
        {"C:\\P y", "C:\\S\tx", "\"C:\\P y\\Setup.exe\" -s", "\"C:\\S\tx\\Chipburn.exe\" \"C:\\P y\\BIOS.rom\""},
        {"C:", "", "C:\\Setup.exe -s", "\\Chipburn.exe C:\\BIOS.rom"},
        {d233, s255, d233 + "\\Setup.exe -s", s255 + exe + d233 + "\\BIOS.rom"},
        {d234, s255, d234 + "\\Setup.exe -s", ""},
    };
    ForEachRow(rows, [](const auto& row) {
        snprintf(g_szLauncherDir, TEXT_BUFFER_SIZE, "%s", row.dir.c_str());
        snprintf(g_szSuiteLocation, TEXT_BUFFER_SIZE, "%s", row.location.c_str());
        RunSetup();
        RunFlasher();
        Lines expected;
        for (const std::string& line : {row.setup, row.flash})
            if (!line.empty())
                expected.insert(expected.end(), {"run " + line, "wait", "close process", "close thread"});
        EXPECT_EQ(g_world.log, expected);
    });
}

}  // namespace
