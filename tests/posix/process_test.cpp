// Command-line splitting, program search, child processes and messages.
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/posix/process.h"
#include "platform/winapi.h"

// Splits a line and joins the arguments with '|' for comparison.
static std::string Split(const char* pszLine, size_t cbStorage = 256, size_t cArgvMax = 16)
{
    char szStorage[256];
    char* argv[16];
    size_t cArgs = 0;
    memset(szStorage, 0xbd, sizeof(szStorage));
    bool ok = SplitCommandLine(pszLine, szStorage, cbStorage, argv, cArgvMax, &cArgs);
    if (cbStorage < sizeof(szStorage) && (unsigned char)szStorage[cbStorage] != 0xbd)
        return "<overrun>";
    std::string joined = ok ? "" : "<false>";
    for (size_t i = 0; ok && i < cArgs; i++)
        joined += (i > 0 ? "|" : "") + std::string(argv[i]);
    return ok && argv[cArgs] != NULL ? "<no NULL>" : joined;
}

TEST(SplitCommandLineTest, FollowsTheCRuntimeRules)
{
    static const struct {
        const char* line;
        const char* expected;
    } rows[] = {
        {"p \"a b c\" d e", "p|a b c|d|e"},
        {"p \"ab\\\"c\" \"\\\\\" d", "p|ab\"c|\\|d"},
        {"p a\\\\\\b d\"e f\"g h", "p|a\\\\\\b|de fg|h"},
        {"p a\\\\\\\"b c d", "p|a\\\"b|c|d"},
        {"p a\\\\\\\\\"b c\" d e", "p|a\\\\b c|d|e"},
        {"p a\"b\"\" c d", "p|ab\" c d"},
        {"p \"\" \"\"", "p||"},
        {"p\ta\t\tb ", "p|a|b"},
        {"p a\\\\", "p|a\\\\"},
        {"\"C:\\Program Files\\x.exe\" -s", "C:\\Program Files\\x.exe|-s"},
        {"C:\\dir\\x.exe a\\\"b", "C:\\dir\\x.exe|a\"b"},
        {"\"a b\"c d", "a bc|d"},
        {" a", "|a"},
        {"", ""},
    };
    int i = 0;
    for (const auto& row : rows)
        EXPECT_EQ(Split(row.line), row.expected) << "row " << i++ << ": " << row.line;
    // "p a" needs 4 bytes of storage and 3 pointers, the NULL included.
    EXPECT_EQ(Split("p a", 4, 3), "p|a");
    EXPECT_EQ(Split("p a", 3, 3), "<false>");
    EXPECT_EQ(Split("p a", 4, 2), "<false>");
}

static int RemoveEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

// A prefix whose C: holds the programs the tests look for and start.
class ProcessTest : public testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/romgate_process_XXXXXX";
        char szReal[PATH_MAX];
        ASSERT_TRUE(mkdtemp(szTemplate) && realpath(szTemplate, szReal));
        root = szReal;
        drive = root + "/drive_c";
        for (const char* dir :
             {"", "/Program Files", "/Program Files/Vorn", "/Tools", "/Tools/data.v2"})
            ASSERT_EQ(mkdir((drive + dir).c_str(), 0755), 0) << dir;
        for (const char* name : {"/Program Files/Vorn/Chipburn.exe", "/Tools/setup",
                                 "/Tools/setup.exe", "/Tools/BIOS.rom", "/Tools/data.v2/tool.exe"})
            WriteFile(name, "#!/bin/sh\n", 0755);
        WriteFile("/Tools/junk.exe", "no interpreter line\n", 0755);
        // Records its arguments, one variable, its directory and whether
        // descriptor 57 of the test reached it.
        WriteFile("/Tools/rec.exe",
                  "#!/bin/sh\n{ printf '[%s]' \"$@\"; printf '%s|%s|' \"$ROMGATE_MARK\" "
                  "\"$(pwd -P)\"; [ -e /proc/$$/fd/57 ] && printf fd57; } >args.txt\n", 0755);
        WriteFile("/Tools/bg.exe", "#!/bin/sh\nsleep 30 >/dev/null 2>&1 &\necho $! >bg.pid\n",
                  0755);
        WriteFile("/Tools/sleeper.exe", "#!/bin/sh\nexec sleep 30 >/dev/null 2>&1\n", 0755);
        WriteFile("/Tools/plain.exe", "#!/bin/sh\n", 0644);
        setenv("ROMGATE_PREFIX", root.c_str(), 1);
        // The children write beside the test's current directory: it is theirs.
        ASSERT_TRUE(getcwd(szReal, sizeof(szReal)) && chdir(root.c_str()) == 0);
        savedCwd = szReal;
    }

    void TearDown() override
    {
        EXPECT_EQ(chdir(savedCwd.c_str()), 0);
        nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
        unsetenv("ROMGATE_PREFIX");
    }

    void WriteFile(const char* path, const char* text, mode_t mode)
    {
        std::ofstream((drive + path).c_str()) << text;
        ASSERT_EQ(chmod((drive + path).c_str(), mode), 0) << path;
    }

    std::string Read(const char* path)
    {
        std::stringstream text;
        text << std::ifstream((root + path).c_str()).rdbuf();
        return text.str();
    }

    // Starts a command line; a failure leaves the poisoned information as it was.
    BOOL Start(const char* pszLine, PROCESS_INFORMATION* pInfo)
    {
        char szLine[512];
        snprintf(szLine, sizeof(szLine), "%s", pszLine);
        memset(pInfo, 0xbd, sizeof(*pInfo));
        SetLastErrorCode(0xdeadbeef);
        return CreateProcessA(NULL, szLine, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL,
                              NULL, pInfo);
    }

    std::string root;
    std::string drive;
    std::string savedCwd;
};

TEST_F(ProcessTest, FindsTheProgramAsWindowsDoes)
{
    static const struct {
        const char* line;
        bool plantProgramExe;  // C:\Program.exe exists
        const char* expected;  // under C:; "-": nothing found
    } rows[] = {
        {"C:\\Program Files\\Vorn\\Chipburn.exe x", false,
         "/Program Files/Vorn/Chipburn.exe"},
        {"C:\\Program Files\\Vorn\\Chipburn.exe x", true, "/Program.exe"},
        {"\"C:\\Program Files\\Vorn\\Chipburn.exe\" x", true,
         "/Program Files/Vorn/Chipburn.exe"},
        {"\"C:\\Program Files\\Vorn\\Chipburn\" x", false, "/Program Files/Vorn/Chipburn.exe"},
        {"C:\\TOOLS\\setup -s", false, "/Tools/setup.exe"},
        {"C:\\Tools\\BIOS.rom x", false, "/Tools/BIOS.rom"},
        {"C:\\Tools\\data.v2\\tool", false, "/Tools/data.v2/tool.exe"},
        {"\"C:\\Program Files\\Vorn\" x", false, "-"},
        {"C:\\Tools\\missing x", false, "-"},
        {"\"C:\\Tools\\setup -s", false, "-"},
        {"", false, "-"},
    };
    int i = 0;
    for (const auto& row : rows) {
        if (row.plantProgramExe)
            WriteFile("/Program.exe", "#!/bin/sh\n", 0755);
        char szHost[PATH_MAX];
        bool found = FindProgramInCommandLine(row.line, szHost, sizeof(szHost));
        unlink((drive + "/Program.exe").c_str());
        EXPECT_EQ(found ? std::string(szHost) : "-",
                  row.expected[0] == '-' ? "-" : drive + row.expected) << "row " << i++;
    }
}

TEST_F(ProcessTest, FailureStartsNothing)
{
    static const struct {
        const char* line;
        DWORD error;
    } rows[] = {
        {"C:\\Tools\\missing a", ERROR_FILE_NOT_FOUND},
        {"\"C:\\Program Files\\Vorn\" x", ERROR_FILE_NOT_FOUND},
        {"C:\\Tools\\plain.exe", ERROR_ACCESS_DENIED},
        {"C:\\Tools\\junk.exe", ERROR_BAD_EXE_FORMAT},
    };
    int i = 0;
    for (const auto& row : rows) {
        PROCESS_INFORMATION pi;
        EXPECT_FALSE(Start(row.line, &pi)) << "row " << i;
        EXPECT_EQ(GetLastError(), row.error) << "row " << i;
        EXPECT_EQ(pi.dwProcessId, 0xbdbdbdbdu) << "row " << i++;
    }
}

TEST_F(ProcessTest, ChildGetsArgumentsEnvironmentAndNoMoreDescriptors)
{
    PROCESS_INFORMATION pi;
    int fd = open("/dev/null", O_RDONLY);
    ASSERT_EQ(dup2(fd, 57), 57);
    setenv("ROMGATE_MARK", "marked", 1);
    ASSERT_TRUE(Start("C:\\Tools\\rec \"a b\" c\\\"d \"\" e\\\\f", &pi)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(pi.hProcess) && CloseHandle(pi.hThread));
    close(57);
    close(fd);
    unsetenv("ROMGATE_MARK");
    EXPECT_EQ(Read("/args.txt"), "[a b][c\"d][][e\\\\f]marked|" + root + "|");
}

TEST_F(ProcessTest, WaitsForTheChildAloneAndReleasesHandles)
{
    PROCESS_INFORMATION pi;
    time_t started = time(NULL);
    ASSERT_TRUE(Start("C:\\Tools\\bg.exe", &pi)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_LT(time(NULL) - started, 10);  // not the grandchild's 30 s
    EXPECT_TRUE(CloseHandle(pi.hProcess) && CloseHandle(pi.hThread));
    pid_t grandchild = atoi(Read("/bg.pid").c_str());
    EXPECT_TRUE(grandchild > 0 && kill(grandchild, SIGTERM) == 0);

    ASSERT_TRUE(Start("C:\\Tools\\sleeper.exe", &pi)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_TIMEOUT);
    ASSERT_EQ(kill((pid_t)pi.dwProcessId, SIGTERM), 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(pi.hThread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(pi.hThread) && CloseHandle(pi.hProcess));
    EXPECT_FALSE(CloseHandle(pi.hProcess));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(NULL, INFINITE), WAIT_FAILED);
}

TEST(MessagesTest, DebugOutputIsOneEscapedLine)
{
    const std::string longText(3000, 'x');
    static const struct {
        const char* flag;  // ROMGATE_DEBUG, NULL for unset
        const char* text;  // NULL: a text longer than any line buffer
        const char* expected;
    } rows[] = {
        {NULL, "quiet", ""},
        {"", "quiet", ""},
        {"1", "a\tb\nc\\d\r\x01\x7f \xc3\xa9", "debug: a\\tb\\nc\\\\d\\r\\x01\\x7f \xc3\xa9\n"},
        {"1", "", "debug: \n"},
        {"1", NULL, NULL},
    };
    int i = 0;
    for (const auto& row : rows) {
        if (row.flag != NULL)
            setenv("ROMGATE_DEBUG", row.flag, 1);
        else
            unsetenv("ROMGATE_DEBUG");
        testing::internal::CaptureStderr();
        OutputDebugStringA(row.text != NULL ? row.text : longText.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  row.expected != NULL ? row.expected : "debug: " + longText + "\n")
            << "row " << i++;
    }
    unsetenv("ROMGATE_DEBUG");
}

TEST(MessagesTest, MessageBoxAndWindowsWithoutDisplay)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(NULL, "Can't find VORNUpdate.ini file", "Error Message", MB_OK), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error Message: Can't find VORNUpdate.ini file\n");
    const char* pszDisplay = getenv("DISPLAY");
    const std::string saved = pszDisplay != NULL ? pszDisplay : "";
    unsetenv("DISPLAY");
    EXPECT_EQ(FindWindowA(NULL, "VORN Update"), (HWND)NULL);
    if (!saved.empty())
        setenv("DISPLAY", saved.c_str(), 1);
}
