// Command-line splitting, program search, child processes, debugger output.
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/posix/process.h"

// The arguments joined by '|'; "-" when the storage or argv is too small.
TEST(ProcessTest, SplitsLikeTheCRuntime)
{
    static const struct { const char *line, *joined; size_t cb = 256, cArgv = 16; } rows[] = {
        {"p \"a b\"c d\te", "p|a bc|d|e"},     {"p a\\\\\\b \"\" \"\"\t", "p|a\\\\\\b||"},
        {"p a\\\\\\\"b c", "p|a\\\"b|c"},      {"p a\\\\\\\\\"b c\" d", "p|a\\\\b c|d"},
        {"p a\"b\"\" c d", "p|ab\" c d"},      {"\"C:\\a b\\\"c d", "C:\\a b\\c|d"},
        {" a", "|a"}, {"", ""}, {"p a", "p|a", 4, 3}, {"p a", "-", 3, 3}, {"p a", "-", 4, 2},
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        char szStorage[257], *argv[16];
        size_t n = 0;
        memset(szStorage, 0xbd, sizeof(szStorage));
        bool ok = SplitCommandLine(rows[i].line, szStorage, rows[i].cb, argv, rows[i].cArgv, &n);
        std::string joined = ok ? "" : "-";
        for (size_t j = 0; ok && j < n; j++)
            joined += (j > 0 ? "|" : "") + std::string(argv[j]);
        EXPECT_EQ(joined, rows[i].joined) << "row " << i;
        EXPECT_TRUE((!ok || argv[n] == NULL) && szStorage[rows[i].cb] == '\xbd') << "row " << i;
    }
}

static int RemoveEntry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

// Starts a command line; a failure leaves the poisoned information as it was.
static BOOL Start(const std::string& line, PROCESS_INFORMATION* pi)
{
    char szLine[512];
    snprintf(szLine, sizeof(szLine), "%s", line.c_str());
    memset(pi, 0xbd, sizeof(*pi));
    SetLastErrorCode(0xdeadbeef);
    return CreateProcessA(NULL, szLine, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, NULL, pi);
}

// C:\Tools.exe plays a planted C:\Program.exe: an unquoted line finds it
// before the program it names. "-": nothing found, and CreateProcessA fails.
TEST(ProcessTest, FindsTheProgramAsWindowsDoes)
{
    char szRoot[] = "/tmp/romgate_process_XXXXXX";
    ASSERT_TRUE(mkdtemp(szRoot) && setenv("ROMGATE_PREFIX", szRoot, 1) == 0);
    const std::string c = std::string(szRoot) + "/drive_c";
    for (const char* dir : {"", "/Program Files", "/Tools Dir", "/x.v2"})
        ASSERT_EQ(mkdir((c + dir).c_str(), 0755), 0) << dir;
    for (const char* name : {"/Program Files/Chipburn.exe", "/Tools.exe", "/Tools Dir/x.exe",
                             "/setup", "/setup.exe", "/BIOS.rom", "/x.v2/tool.exe"})
        std::ofstream(c + name) << "#!/bin/sh\n";
    static const char* const rows[][2] = {
        {"C:\\Program Files\\Chipburn.exe x", "/Program Files/Chipburn.exe"},
        {"C:\\Tools Dir\\x.exe", "/Tools.exe"}, {"\"C:\\Tools Dir\\x.exe\" y", "/Tools Dir/x.exe"},
        {"C:\\SETUP -s", "/setup.exe"},         {"C:\\BIOS.rom x", "/BIOS.rom"},
        {"C:\\x.v2\\tool", "/x.v2/tool.exe"},   {"\"C:\\Program Files\" x", "-"},
        {"C:\\missing x", "-"},
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        char szHost[PATH_MAX];
        PROCESS_INFORMATION pi;
        const bool found = FindProgramInCommandLine(rows[i][0], szHost, sizeof(szHost));
        EXPECT_EQ(found ? szHost : "-", rows[i][1][0] == '-' ? "-" : c + rows[i][1]) << "row " << i;
        EXPECT_TRUE(found || (!Start(rows[i][0], &pi) && GetLastError() == ERROR_FILE_NOT_FOUND &&
                              pi.dwProcessId == 0xbdbdbdbd)) << "row " << i;
    }
    nftw(szRoot, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    unsetenv("ROMGATE_PREFIX");
}

// The child records its arguments, its environment (by finding the prefix),
// directory and whether the test's descriptor 57 reached it, then leaves a
// grandchild sleeping that the wait must not wait for.
TEST(ProcessTest, StartsAChildAndWaitsForItAlone)
{
    char szRoot[] = "/tmp/romgate_process_XXXXXX", szCwd[PATH_MAX];
    ASSERT_TRUE(mkdtemp(szRoot) && getcwd(szCwd, PATH_MAX) && dup2(2, 57) == 57);
    const std::string root = szRoot;
    std::ofstream(root + "/rec.exe")
        << "#!/bin/sh\ncd \"$ROMGATE_PREFIX\"\n{ printf '[%s]' \"$@\"; printf '%s|' \"$OLDPWD\";"
           " [ -e /proc/$$/fd/57 ] && printf fd57; } >out\n"
           "sleep 30 >/dev/null 2>&1 &\necho $! >pid\n";
    setenv("ROMGATE_PREFIX", szRoot, 1);
    PROCESS_INFORMATION pi;
    const time_t started = time(NULL);
    ASSERT_EQ(chmod((root + "/rec.exe").c_str(), 0755), 0);
    ASSERT_TRUE(Start("Z:" + root + "/rec \"a b\" c\\\"d \"\" e\\\\f", &pi)) << GetLastError();
    close(57);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_LT(time(NULL) - started, 10);  // not the grandchild's 30 s
    EXPECT_TRUE(CloseHandle(pi.hProcess) && CloseHandle(pi.hThread) && !CloseHandle(pi.hProcess));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_FAILED);
    std::string out;
    pid_t grandchild = 0;
    std::getline(std::ifstream(root + "/out"), out);
    std::ifstream(root + "/pid") >> grandchild;
    EXPECT_EQ(out, "[a b][c\"d][][e\\\\f]" + std::string(szCwd) + "|");
    EXPECT_TRUE(grandchild > 0 && kill(grandchild, SIGTERM) == 0);
    nftw(szRoot, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    unsetenv("ROMGATE_PREFIX");
}

TEST(ProcessTest, DebugOutputIsOneEscapedLine)
{
    const std::string longText(3000, 'x');
    static const char* const rows[][3] = {  // ROMGATE_DEBUG, text (NULL: longText), output
        {NULL, "quiet", ""}, {"", "quiet", ""}, {"1", NULL, NULL},
        {"1", "a\tb\nc\\d\r\x01\x7f \xc3\xa9", "debug: a\\tb\\nc\\\\d\\r\\x01\\x7f \xc3\xa9\n"},
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        rows[i][0] ? setenv("ROMGATE_DEBUG", rows[i][0], 1) : unsetenv("ROMGATE_DEBUG");
        testing::internal::CaptureStderr();
        OutputDebugStringA(rows[i][1] ? rows[i][1] : longText.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  rows[i][2] ? rows[i][2] : "debug: " + longText + "\n") << "row " << i;
    }
    unsetenv("ROMGATE_DEBUG");
}
