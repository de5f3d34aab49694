// Drives, case-insensitive lookup, the current directory's drive, own path.
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "platform/posix/paths.h"
#include "platform/posix/process.h"

static int RemoveEntry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

// The answer ("-": none), or a complaint unless it also fits exactly and
// fails one byte short, writing nothing past the size given either way.
static std::string Convert(bool (*convert)(const char*, char*, size_t), const char* in)
{
    char sz[PATH_MAX];
    if (!convert(in, sz, sizeof(sz)))
        return "-";
    const std::string out = sz;
    for (size_t cb : {out.size() + 1, out.size()}) {
        memset(sz, 0xbd, sizeof(sz));
        if (convert(in, sz, cb) != (cb > out.size()) || (cb > out.size() && out != sz) ||
            (unsigned char)sz[cb] != 0xbd)
            return "<wrong at size " + std::to_string(cb) + ">";
    }
    return out;
}

// C: at its default, D: a dosdevices link to <root>/d, which is also the
// current directory; no other letter.
TEST(PathsTest, ConvertsBothWays)
{
    char szTemplate[] = "/tmp/romgate_paths_XXXXXX", szRoot[PATH_MAX], szCwd[PATH_MAX];
    ASSERT_TRUE(mkdtemp(szTemplate) && realpath(szTemplate, szRoot) && getcwd(szCwd, PATH_MAX));
    const std::string root = szRoot;
    for (const char* dir : {"/p", "/p/drive_c", "/p/drive_c/Program Files", "/p/dosdevices", "/d"})
        ASSERT_EQ(mkdir((root + dir).c_str(), 0755), 0) << dir;
    ASSERT_EQ(symlink((root + "/d").c_str(), (root + "/p/dosdevices/d:").c_str()), 0);
    std::ofstream(root + "/d/Setup.exe");
    setenv("ROMGATE_PREFIX", (root + "/p").c_str(), 1);
    ASSERT_EQ(chdir((root + "/d").c_str()), 0);
    // "@" stands for the root; "-": the conversion fails.
    static const struct { bool toHost; const char *in, *expected; } rows[] = {
        {true, "c:/PROGRAM files\\.\\x\\..//New", "@/p/drive_c/Program Files/New"},
        {true, "C:\\..\\..", "@/p/drive_c"},
        {true, "d:\\SETUP.EXE", "@/p/dosdevices/d:/Setup.exe"},
        {true, "\\setup.exe", "@/p/dosdevices/d:/Setup.exe"},
        {true, "z:\\TMP", "/tmp"},
        {true, "F:\\x", "-"},
        {false, "@/d/Setup.exe", "D:\\Setup.exe"},
        {false, "@/p/drive_c/Program Files/New", "C:\\Program Files\\New"},
        {false, "@/p/drive_c", "C:\\"},
        {false, "@/p", "Z:@/p"},
        {false, "relative", "-"},
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        std::string in = rows[i].in, want = rows[i].expected;
        for (std::string* s : {&in, &want})
            *s = s->find('@') == std::string::npos ? *s : s->replace(s->find('@'), 1, root);
        if (!rows[i].toHost)
            std::replace(want.begin(), want.end(), '/', '\\');
        EXPECT_EQ(Convert(rows[i].toHost ? WindowsPathToHost : HostPathToWindows, in.c_str()), want)
            << "row " << i;
    }
    EXPECT_EQ(chdir(szCwd), 0);
    nftw(szRoot, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    unsetenv("ROMGATE_PREFIX");
}

// The executable's path on Z:, cut and terminated like Windows when too
// long; the Windows directory is not written at all then.
TEST(PathsTest, ModuleFileNameAndWindowsDirectory)
{
    char szExe[PATH_MAX];
    ASSERT_TRUE(realpath("/proc/self/exe", szExe));
    std::string full = std::string("Z:") + szExe;
    std::replace(full.begin(), full.end(), '/', '\\');
    setenv("ROMGATE_PREFIX", "/nonexistent", 1);
    for (int i = 0, slack[] = {2, 1, 0}; i < 3; i++) {  // to spare, exactly fits, one short
        const DWORD nSize = (DWORD)full.size() + slack[i];
        char szOut[PATH_MAX];
        memset(szOut, 0xbd, sizeof(szOut));
        SetLastErrorCode(0xdeadbeef);
        const DWORD cch = GetModuleFileNameA(NULL, szOut, nSize);
        EXPECT_EQ(cch, slack[i] ? full.size() : nSize) << "row " << i;
        EXPECT_EQ(std::string(szOut), full.substr(0, nSize - 1)) << "row " << i;
        EXPECT_EQ(GetLastError(), slack[i] ? 0xdeadbeef : ERROR_INSUFFICIENT_BUFFER) << "row " << i;
        EXPECT_EQ((unsigned char)szOut[nSize], 0xbd) << "row " << i;
    }
    unsetenv("ROMGATE_PREFIX");
    char szWindows[12];
    memset(szWindows, 0xbd, sizeof(szWindows));
    EXPECT_EQ(GetWindowsDirectoryA(szWindows, 10), 11u);
    EXPECT_EQ(szWindows[0], '\xbd');
    EXPECT_EQ(GetWindowsDirectoryA(szWindows, 11), 10u);
    EXPECT_EQ(std::string(szWindows, 12), std::string("C:\\windows\0\xbd", 12));
}
