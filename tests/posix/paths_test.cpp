// Drives, case-insensitive lookup, own path and the Windows directory.
#include <errno.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/posix/paths.h"
#include "platform/posix/process.h"
#include "platform/winapi.h"

static int RemoveEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

// "Z:" and the host path with '/' turned into '\'.
static std::string OnDriveZ(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// A prefix with C: at its default, D: a dosdevices link to a package
// folder, E: a dosdevices directory, and no other letter. "@" at the start
// of a path in a table stands for the temporary root.
class PathsTest : public testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/romgate_paths_XXXXXX";
        char szReal[PATH_MAX];
        ASSERT_TRUE(mkdtemp(szTemplate) && realpath(szTemplate, szReal));
        root = szReal;
        ASSERT_TRUE(getcwd(szReal, sizeof(szReal)));
        savedCwd = szReal;
        for (const char* dir : {"/prefix", "/prefix/drive_c", "/prefix/drive_c/Program Files",
                                "/prefix/drive_c/Program Files/Vorn", "/prefix/dosdevices",
                                "/prefix/dosdevices/e:", "/pkg", "/pkg2"})
            ASSERT_EQ(mkdir((root + dir).c_str(), 0755), 0) << dir;
        ASSERT_EQ(symlink((root + "/pkg").c_str(), (root + "/prefix/dosdevices/d:").c_str()), 0);
        for (const char* file :
             {"/pkg/Setup.exe", "/prefix/drive_c/Program Files/Vorn/Chipburn.exe"}) {
            FILE* f = fopen((root + file).c_str(), "w");
            ASSERT_TRUE(f != NULL) << file;
            fclose(f);
        }
        setenv("ROMGATE_PREFIX", (root + "/prefix").c_str(), 1);
    }

    void TearDown() override
    {
        EXPECT_EQ(chdir(savedCwd.c_str()), 0);
        nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
        unsetenv("ROMGATE_PREFIX");
    }

    std::string Expand(const char* path) { return path[0] == '@' ? root + (path + 1) : path; }

    std::string root;
    std::string savedCwd;
};

TEST_F(PathsTest, WindowsPathToHost)
{
    static const struct {
        const char* cwd;  // under the root; NULL stays where the last row was
        const char* windowsPath;
        const char* expected;  // "-": the call fails
    } rows[] = {
        {NULL, "C:\\Program Files\\Vorn\\Chipburn.exe",
         "@/prefix/drive_c/Program Files/Vorn/Chipburn.exe"},
        {NULL, "c:/PROGRAM files\\vorn//CHIPBURN.exe",
         "@/prefix/drive_c/Program Files/Vorn/Chipburn.exe"},
        {NULL, "C:\\Program Files\\Gone\\x.exe", "@/prefix/drive_c/Program Files/Gone/x.exe"},
        {NULL, "C:\\a\\..\\program files\\.\\vorn\\", "@/prefix/drive_c/Program Files/Vorn"},
        {NULL, "C:\\..\\..\\x", "@/prefix/drive_c/x"},
        {NULL, "C:", "@/prefix/drive_c"},
        {NULL, "d:\\SETUP.EXE", "@/prefix/dosdevices/d:/Setup.exe"},
        {NULL, "E:\\new", "@/prefix/dosdevices/e:/new"},
        {NULL, "Z:\\", "/"},
        {NULL, "z:\\TMP", "/tmp"},
        {NULL, "F:\\x", "-"},
        {"/pkg", "\\setup.exe", "@/prefix/dosdevices/d:/Setup.exe"},
        {"/pkg", "setup.exe", "@/pkg/Setup.exe"},
        {"/pkg", "..\\pkg2", "@/pkg2"},
        {"/pkg2", "\\tmp", "/tmp"},
    };
    int i = 0;
    for (const auto& row : rows) {
        ASSERT_TRUE(row.cwd == NULL || chdir((root + row.cwd).c_str()) == 0);
        char szOut[PATH_MAX];
        memset(szOut, 0xbd, sizeof(szOut));
        bool ok = WindowsPathToHost(row.windowsPath, szOut, sizeof(szOut));
        EXPECT_EQ(ok ? std::string(szOut) : "-", Expand(row.expected)) << "row " << i++;
    }
}

TEST_F(PathsTest, HostPathToWindows)
{
    static const struct {
        const char* hostPath;
        const char* expected;  // "Z": on Z:, the host path as it is
    } rows[] = {
        {"@/pkg/Setup.exe", "D:\\Setup.exe"},
        {"@/prefix/dosdevices/d:/Setup.exe", "D:\\Setup.exe"},
        {"@/prefix/drive_c/Program Files", "C:\\Program Files"},
        {"@/prefix/drive_c", "C:\\"},
        {"@/prefix/dosdevices/e:/not/yet", "E:\\not\\yet"},
        {"@/pkg2/x", "Z"},
        {"@/prefix", "Z"},
        {"/", "Z:\\"},
        {"relative/path", "-"},
    };
    int i = 0;
    for (const auto& row : rows) {
        std::string hostPath = Expand(row.hostPath);
        char szOut[PATH_MAX];
        memset(szOut, 0xbd, sizeof(szOut));
        bool ok = HostPathToWindows(hostPath.c_str(), szOut, sizeof(szOut));
        EXPECT_EQ(ok ? std::string(szOut) : "-",
                  strcmp(row.expected, "Z") == 0 ? OnDriveZ(hostPath) : row.expected)
            << "row " << i++;
    }
}

// Exactly fitting works, one byte less fails, and nothing is written past
// the size given either way.
TEST_F(PathsTest, ResultsFitTheBuffer)
{
    const std::string host = root + "/prefix/dosdevices/d:/Setup.exe";
    const size_t cchWindows = strlen("D:\\Setup.exe");
    for (size_t extra : {1, 0}) {
        char szOut[PATH_MAX];
        memset(szOut, 0xbd, sizeof(szOut));
        EXPECT_EQ(WindowsPathToHost("D:\\Setup.exe", szOut, host.size() + extra), extra == 1);
        EXPECT_EQ((unsigned char)szOut[host.size() + extra], 0xbd) << extra;
        memset(szOut, 0xbd, sizeof(szOut));
        EXPECT_EQ(HostPathToWindows(host.c_str(), szOut, cchWindows + extra), extra == 1);
        EXPECT_EQ((unsigned char)szOut[cchWindows + extra], 0xbd) << extra;
    }
}

// On Z: as the host path, or on the drive whose root holds the executable;
// a buffer too small gets a cut, terminated path and its own size back.
TEST_F(PathsTest, ModuleFileName)
{
    char szExe[PATH_MAX];
    ASSERT_TRUE(realpath("/proc/self/exe", szExe));
    char* pszName = strrchr(szExe, '/');
    static const struct {
        bool onDriveG;  // the executable's folder is G:
        int sizeDelta;  // buffer size less the path's length
    } rows[] = {{false, 2}, {false, 1}, {false, 0}, {false, -1}, {true, 1}, {true, 0}};
    int i = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << i++);
        std::string full = OnDriveZ(szExe);
        if (row.onDriveG) {
            std::string directory(szExe, pszName);
            full = std::string("G:") + std::string(pszName).replace(0, 1, "\\");
            ASSERT_TRUE(symlink(directory.c_str(), (root + "/prefix/dosdevices/g:").c_str()) == 0 ||
                        errno == EEXIST);
        }
        const DWORD nSize = (DWORD)full.size() + row.sizeDelta;
        char szOut[PATH_MAX];
        memset(szOut, 0xbd, sizeof(szOut));
        SetLastErrorCode(0xdeadbeef);
        const bool fits = row.sizeDelta > 0;
        EXPECT_EQ(GetModuleFileNameA(NULL, szOut, nSize), fits ? full.size() : nSize);
        EXPECT_EQ(std::string(szOut), fits ? full : full.substr(0, nSize - 1));
        EXPECT_EQ(GetLastError(), fits ? 0xdeadbeef : (DWORD)ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ((unsigned char)szOut[nSize], 0xbd);
    }
}

TEST(SystemTest, WindowsDirectoryAndLeadBytes)
{
    static const struct {
        UINT size;
        UINT expected;
        const char* text;  // NULL: nothing may be written
    } rows[] = {{64, 10, "C:\\windows"}, {11, 10, "C:\\windows"}, {10, 11, NULL}, {0, 11, NULL}};
    int i = 0;
    for (const auto& row : rows) {
        char szOut[64];
        memset(szOut, 0xbd, sizeof(szOut));
        EXPECT_EQ(GetWindowsDirectoryA(szOut, row.size), row.expected) << "row " << i;
        EXPECT_EQ(std::string(szOut, row.text != NULL ? 11 : 1),
                  row.text != NULL ? std::string(row.text, 11) : "\xbd") << "row " << i++;
    }
    for (int b = 0; b < 256; b++)
        EXPECT_FALSE(IsDBCSLeadByte((BYTE)b)) << b;
}
