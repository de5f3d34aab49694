// The hosted layer's parsers and searches at their corners.
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/posix/command_line.h"
#include "platform/posix/paths.h"
#include "platform/posix/process.h"
#include "platform/posix/profile.h"
#include "platform/posix/registry_text.h"

// One scratch prefix ("@" in paths) for the whole run, removed at its end.
static struct Scratch {
    char szRoot[32] = "/tmp/romgate_hosted_XXXXXX";
    Scratch() { setenv("ROMGATE_PREFIX", mkdtemp(szRoot) ? szRoot : "/nonexistent", 1); }
    ~Scratch()
    {
        nftw(
            szRoot, [](const char* p, const struct stat*, int, FTW*) { return remove(p); }, 8,
            FTW_DEPTH);
    }
} g_scratch;

static std::string At(const std::string& path)
{
    return path[0] == '@' ? g_scratch.szRoot + path.substr(1) : path;
}

static void Put(const std::string& path, const std::string& bytes)
{
    for (size_t i = 1; (i = path.find('/', i + 1)) != std::string::npos;)
        mkdir(At(path.substr(0, i)).c_str(), 0755);
    std::ofstream(At(path), std::ios::binary) << bytes;
}

// C: at its default, D: in dosdevices and the current directory, Z: the root;
// a path one byte too long fails, and the own path is cut as Windows cuts it.
TEST(HostedLayerTest, ConvertsPaths)
{
    char szExe[PATH_MAX], sz[PATH_MAX];
    Put("@/dosdevices/d:/Setup.exe", "");
    ASSERT_TRUE(realpath("/proc/self/exe", szExe) && chdir(At("@/dosdevices/d:").c_str()) == 0);
    static const struct {
        bool toHost;
        const char *in, *out;
    } rows[] = {
        {true, "d:/.\\x\\..//SETUP.EXE", "@/dosdevices/d:/Setup.exe"},
        {true, "C:\\..\\..", "@/drive_c"},
        {true, "\\setup.exe", "@/dosdevices/d:/Setup.exe"},
        {true, "/../setup.exe", "@/dosdevices/d:/Setup.exe"},
        {true, "z:\\TMP", "/tmp"},
        {true, "F:\\x", "-"},
        {false, "@/dosdevices/d:/Setup.exe", "D:\\Setup.exe"},
        {false, "@/dosdevices/d:", "D:\\"},
        {false, "/nonexistent/a", "Z:\\nonexistent\\a"},
        {false, "relative", "-"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(
            (row.toHost ? WindowsPathToHost : HostPathToWindows)(At(row.in).c_str(), sz, sizeof(sz))
                ? sz
                : "-",
            At(row.out))
            << row.in;
    // A folder whose name only starts like D:'s root is not under it.
    std::string sibling = At("@/dosdevices/d:x/a"), onZ = "Z:" + sibling;
    std::replace(onZ.begin(), onZ.end(), '/', '\\');
    EXPECT_TRUE(HostPathToWindows(sibling.c_str(), sz, sizeof(sz)) && onZ == sz) << sz;
    // Both ways at an exact fit and one byte short: nothing written past the buffer.
    const std::string host = At("@/dosdevices/d:/Setup.exe"), windowsPath = "D:\\Setup.exe";
    for (bool bToHost : {true, false}) {
        const std::string& in = bToHost ? windowsPath : host;
        const std::string& out = bToHost ? host : windowsPath;
        for (size_t cb : {out.size() + 1, out.size()}) {
            std::string buf(out.size() + 2, '\xbd');
            bool bFits = (bToHost ? WindowsPathToHost : HostPathToWindows)(in.c_str(), &buf[0], cb);
            EXPECT_EQ(bFits ? buf.c_str() : "-", cb > out.size() ? out : "-") << in;
            EXPECT_EQ(buf[cb], '\xbd') << in << " " << cb;
        }
    }
    std::string full = std::string("Z:") + szExe, windows(12, '\xbd');
    std::replace(full.begin(), full.end(), '/', '\\');
    for (DWORD cch : {(DWORD)full.size() + 1, (DWORD)full.size()}) {  // fits exactly, one short
        memset(sz, 0xbd, sizeof(sz));
        EXPECT_EQ(GetModuleFileNameA(NULL, sz, cch), std::min<DWORD>(cch, full.size()));
        EXPECT_EQ(sz + std::string(1, sz[cch]), full.substr(0, cch - 1) + "\xbd");
    }
    EXPECT_EQ(GetWindowsDirectoryA(&windows[0], 10), 11u);
    EXPECT_EQ(std::to_string(GetWindowsDirectoryA(&windows[1], 11)) + windows,
              std::string("10\xbd"
                          "C:\\windows",
                          14));
}

// Arguments joined by '|' ("-": storage or argv too small). C:\Tools.exe plays
// a planted C:\Program.exe, found before the program an unquoted line names. A
// child gets no descriptor beyond 0, 1 and 2; its handles close once.
TEST(HostedLayerTest, SplitsSearchesAndStartsCommandLines)
{
    static const struct {
        const char *line, *joined;
        size_t cb = 256, cArgv = 16;
    } rows[] = {
        {"p \"a b\"c d\te", "p|a bc|d|e"},
        {"p a\\\\\\b \"\" \"\"\t", "p|a\\\\\\b||"},
        {"p a\\\\\\\"b c", "p|a\\\"b|c"},
        {"p a\\\\\\\\\"b c\" d", "p|a\\\\b c|d"},
        {"p a\"b\"\" c d", "p|ab\" c d"},
        {" a", "|a"},
        {"", ""},
        {"\"C:\\a b\\\"c d", "C:\\a b\\c|d"},
        {"p a", "p|a", 4, 3},
        {"p a", "-", 3, 3},
        {"p a", "-", 4, 2},
    };
    for (const auto& row : rows) {
        char szStorage[257], *argv[16];
        size_t n = 0;
        memset(szStorage, 0xbd, sizeof(szStorage));
        const bool ok = SplitCommandLine(row.line, szStorage, row.cb, argv, row.cArgv, &n);
        std::string joined = ok ? "" : "-";
        for (size_t j = 0; ok && j < n; j++) joined += (j > 0 ? "|" : "") + std::string(argv[j]);
        EXPECT_EQ(joined + (ok && argv[n] ? " and no NULL" : "") +
                      (szStorage[row.cb] != '\xbd' ? " and more" : ""),
                  row.joined)
            << row.line;
    }
    for (const char* name :
         {"Tools.exe", "Tools Dir/x.exe", "setup", "setup.exe", "BIOS.rom", "x.v2/tool.exe"})
        Put(std::string("@/drive_c/") + name, "");
    Put("@/drive_c/Program Files/Chipburn.exe",
        "#!/bin/sh\nprintf '[%s]' \"$@\"\n[ -e /proc/$$/fd/57 ] && echo fd57");
    static const char* const programs[][2] = {
        {"C:\\Program Files\\Chipburn.exe x", "@/drive_c/Program Files/Chipburn.exe"},
        {"C:\\Tools Dir\\x.exe", "@/drive_c/Tools.exe"},
        {"\"C:\\Tools Dir\\x.exe\" y", "@/drive_c/Tools Dir/x.exe"},
        {"C:\\SETUP -s", "@/drive_c/setup.exe"},
        {"C:\\BIOS.rom x", "@/drive_c/BIOS.rom"},
        {"C:\\x.v2\\tool", "@/drive_c/x.v2/tool.exe"},
        {"\"C:\\Program Files\" x", "-"},
        {"C:\\missing x", "-"},
    };
    char szHost[PATH_MAX], szLine[] = "\"C:\\Program Files\\Chipburn.exe\" \"a b\" c\\\"d";
    for (const auto& row : programs)
        EXPECT_EQ(FindProgramInCommandLine(row[0], szHost, sizeof(szHost)) ? szHost : "-",
                  At(row[1]))
            << row[0];
    PROCESS_INFORMATION pi;
    testing::internal::CaptureStdout();  // the child's too
    const bool bStarted = chmod(At("@/drive_c/Program Files/Chipburn.exe").c_str(), 0755) == 0 &&
                          dup2(2, 57) == 57 &&
                          CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, NULL, &pi);
    close(57);
    // Only a wait without limit is offered.
    EXPECT_TRUE(bStarted && WaitForSingleObject(pi.hProcess, 0) == WAIT_FAILED &&
                GetLastError() == ERROR_INVALID_PARAMETER &&
                WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0);
    EXPECT_TRUE(bStarted && CloseHandle(pi.hProcess) && CloseHandle(pi.hThread) &&
                !CloseHandle(pi.hProcess) && GetLastError() == ERROR_INVALID_HANDLE);
    // The shell's start: Linux has no prompt, the same program gets the same arguments.
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = "C:\\Program Files\\Chipburn.exe";
    info.lpParameters = szLine + strlen(info.lpFile) + 3;
    EXPECT_TRUE(ShellExecuteExA(&info) &&
                WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                CloseHandle(info.hProcess));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[a b][c\"d][a b][c\"d]");
}

TEST(HostedLayerTest, WritesDebugOutputAsOneEscapedLine)
{
    const std::string x = std::string(3000, 'x') + "\t\n\\\r\x01\x7f \xc3\xa9";
    const struct {
        const char* flag;
        std::string out;
    } rows[] = {{"1", "debug: " + std::string(3000, 'x') + "\\t\\n\\\\\\r\\x01\\x7f \xc3\xa9\n"},
                {"", ""},
                {NULL, ""}};
    for (const auto& row : rows) {
        row.flag ? setenv("ROMGATE_DEBUG", row.flag, 1) : unsetenv("ROMGATE_DEBUG");
        testing::internal::CaptureStderr();
        OutputDebugStringA(x.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), row.out) << row.flag;
    }
}

// What the corpus, read for one section and key, cannot show: names asked with
// space and case, the section "", defaults, a quoted value in an exact fit (a known
// difference from Wine), UTF-16 beyond ASCII. Nothing is written from buffer[size] on.
TEST(HostedLayerTest, FindsProfileValuesAsWindowsDoes)
{
    static const char kText[] =
        "top=no section\n[App]\nName=Romgate\n;Hidden=no\nQSix=\"abcdef\"\n";
    static const struct {
        const char *app, *key, *want, *def = "d";
        DWORD size = 64;
    } rows[] = {
        {" aPP\t", "nAmE ", "Romgate"},
        {"", "top", "no section"},
        {"App", ";Hidden", "d"},
        {"App", "", "d"},
        {"None", "k", " 'd'", " 'd' "},
        {"App", "No", "q", "'q'"},
        {"App", "No", "", NULL},
        {"App", "QSix", "abcdef", "d", 7},
        {"App", "QSix", "abcde", "d", 6},
        {"App", "No", "abcdef", "abcdef", 7},
        {"App", "No", "abcde", "abcdef", 6},
    };
    for (const auto& row : rows) {
        std::string buffer(64, '\xbd');
        DWORD cch = GetProfileStringFromText(kText, sizeof(kText) - 1, row.app, row.key, row.def,
                                             &buffer[0], row.size);
        EXPECT_EQ(cch, strlen(row.want)) << row.key;
        EXPECT_EQ(memcmp(buffer.data(), row.want, std::min<size_t>(row.size, cch + 1)), 0)
            << row.key;
        EXPECT_EQ(buffer.substr(row.size), std::string(64 - row.size, '\xbd')) << row.key;
    }
    // é, €, U+1F600, a lone surrogate and x; the odd last byte is no character.
    static const char kUtf16[] =
        "\xFF\xFE[\0U\0]\0\n\0k\0=\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\x00\xD8x\0y";
    char sz[32];
    DWORD cch = GetProfileStringFromText(kUtf16, sizeof(kUtf16) - 1, "U", "k", "", sz, sizeof(sz));
    EXPECT_EQ(std::string(sz, cch), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx");
    // UTF-16BE, and a high surrogate ending the text.
    static const char kEnds[] = "\xFE\xFF\0k\0=\0x\xD8\0";
    cch = GetProfileStringFromText(kEnds, sizeof(kEnds) - 1, "", "k", "", sz, sizeof(sz));
    EXPECT_EQ(std::string(sz, cch), "x\xEF\xBF\xBD");
    // A NULL key asks for the names, which are not listed: "\0\0", or "\0" in one byte.
    std::string list(3, '\xbd');
    GetProfileStringFromText(kText, sizeof(kText) - 1, "App", NULL, "d", &list[0], 3);
    GetProfileStringFromText(kText, sizeof(kText) - 1, "App", NULL, "d", &list[2], 1);
    EXPECT_EQ(list, std::string(3, '\0'));
}

// "!n " for each line n skipped, then the values as "name=type:data ", NULs
// as '~'; "-" if unreadable.
static std::string Parsed(const std::string& bytes)
{
    LSTATUS status;
    std::string skipped;
    RegistryText* pText = ReadRegistryText(
        bytes.data(), bytes.size(),
        [](void* p, size_t n, const char*, size_t) {
            *(std::string*)p += "!" + std::to_string(n) + " ";
        },
        &skipped, &status);
    std::string out = pText != NULL ? skipped : "-";
    RegistryLine line;
    for (size_t i = 0; pText != NULL && NextRegistryLine(pText, &i, &line);) {
        if (line.bKey)
            continue;
        DWORD dwType = 0;
        std::string name(DecodeRegistryName(line, NULL, 0), '\0');
        std::string data(DecodeRegistryData(pText, line, &dwType, NULL, 0), '\0');
        DecodeRegistryName(line, &name[0], name.size());
        DecodeRegistryData(pText, line, &dwType, (BYTE*)&data[0], data.size());
        out += name + "=" + std::to_string(dwType) + ":" + data + " ";
    }
    FreeRegistryText(pText);
    std::replace(out.begin(), out.end(), '\0', '~');
    return out;
}

// HKLM\path's subkeys read into cch characters, then the last status: "a,;259".
static std::string Subkeys(const char* pszPath, DWORD cch)
{
    HKEY hKey = NULL;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0, KEY_READ, &hKey);
    std::string out, name(512, '\0');
    for (DWORD i = 0, cchName = cch; status == ERROR_SUCCESS; cchName = cch)
        if ((status = RegEnumKeyExA(hKey, i++, &name[0], &cchName, NULL, NULL, NULL, NULL)) ==
            ERROR_SUCCESS)
            out += name.substr(0, cchName) + ",";
    RegCloseKey(hKey);
    return out + ";" + std::to_string(status);
}

// Bytes are taken as they are, a hex(2) text as UTF-16. Subkeys come sorted by
// upper-cased name, parents implied, each once; a value written twice answers
// its later data (here, its size). A missing file is an empty registry.
TEST(HostedLayerTest, ReadsRegistryFiles)
{
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n",
                      test = header + "[HKLM\\T]\r\n";
    EXPECT_EQ(Parsed("\xEF\xBB\xBF" + header + "[HKLM\\S]\r\n@=\"\xC3\xB6\"\r\n"), "=1:\xC3\xB6~ ");
    std::string utf16 = "\xFF\xFE";  // as regedit writes version 5.00 files
    for (char ch : header + "[HKLM\\S]\r\n\"v\"=\"x\"\r\n") utf16 += std::string(1, ch) + '\0';
    EXPECT_EQ(Parsed(utf16), "v=1:x~ ");
    utf16.resize(utf16.size() - 8);  // x"\r\n, for 100 euro signs: 3 bytes each in UTF-8
    std::string euros;
    for (int i = 0; i < 100; i++) utf16 += "\xAC\x20", euros += "\xE2\x82\xAC";
    EXPECT_EQ(Parsed(utf16 + std::string("\"\0", 2)), "v=1:" + euros + "~ ");
    // A high surrogate ending the file is U+FFFD, no hex digit.
    utf16 = "\xFF\xFE";
    for (char ch : header + "[HKLM\\S]\r\n\"v\"=hex:41") utf16 += std::string(1, ch) + '\0';
    EXPECT_EQ(Parsed(utf16 + std::string("\0\xD8", 2)), "!4 ");
    EXPECT_EQ(
        Parsed(
            test +
            "\"S\" = \"a\\\\b\\\"c\"\r\n;c\\\r\n\"D\"=dword:00434241\r\n\"B\"=hex:41,42,4a,4B\r\n"
            "\"C\"=hex:31,32,\\\r\n 33,\\\r\n  "
            "34\r\n\"X\"=hex(2):25,00,e9,00,ac,20,3d,d8,00,de,00,00\r\n\"L\"=hex(2):00,dc,00,d8,41\r\n"),
        "S=1:a\\b\"c~ D=4:ABC~ B=3:ABJK C=3:1234 X=2:%\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80~ "
        "L=2:\xEF\xBF\xBD\xEF\xBF\xBD ");
    // Read as Wine's regedit imports: a line it would skip is skipped, the rest
    // stands. Line 3 is the first after the header; with test, the first after [HKLM\T].
    const struct {
        std::string bytes, parsed;
    } rows[] = {
        {"", "-"},
        {"REGEDIT5\r\n", "-"},
        {test + std::string("\"\0\"=\"\"", 6), "-"},
        {"\xFF\xFE" "R", "-"},
        {std::string("R\0E\0", 4), "-"},
        {header + "[HKEY_NOWHERE\\S]\r\n\"v\"=\"x\"\r\n[HKLM\\S\\\\T]\r\n\"w\"=\"x\"\r\n[HKLMX\\S]\r\n"
                  "\"a\"=\"x\"\r\n[HKLM\\\\S]\r\n\"b\"=\"x\"\r\n[HKLM\\S\\]\r\n\"c\"=\"x\"\r\n[HKLM\\]\r\n\"d\"=\"x\"\r\n",
         "!3 !4 !5 !6 !7 !8 !9 !10 !11 !12 !13 !14 "},
        {"REGEDIT4\t\r\n[HKLM\\S]\r\n\"v\"=\"x\"", "v=1:x~ "},
        {header + "\"v\"=\"before any key\"\r\n[-HKLM\\T]\r\n\"v\"=\"x\"\r\n\"w\"=-\r\n", "!3 "},
        {test + "[HKLM\\U\r\n\"v\"=\"x\"\r\n[ HKLM\\U]\r\n\"w\"=\"y\"\r\n", "!4 !6 v=1:x~ w=1:y~ "},
        {header + "[HKEY_CURRENT_CONFIG\\S] text\r\n# c\r\n\"v\"=\"x\"", "v=1:x~ "},
        {test + "\"a\"=dword:123456789\r\n\"b\"=hex:1g\r\n\"c\"=hex:123\r\n\"d\"=\"open\r\n",
         "!4 !5 !6 !7 "},
        {test + "\"a\"=\"x\" y\r\ngarbage\r\n\"b\"=str:x\r\n\"c\"=\"x\\0\"\r\n\"d\"=hex:41\\\r\n",
         "!4 !5 !6 !7 !8 "},
        {test + "\"a\\n\"=\"\\r\\n\\q\" ;c\r\n\"b\"=dword: 10 ;c\r\"c\"=hex:41,42 ;c\n",
         "a\n=1:\r\nq~ b=4:\x10~~~ c=3:AB "},
        {test + "\"s\"=\"a\\\r\nb\"\r\n\"h\"=hex:31,\\ ;c\r\n\r\n ;c\r\n 32,\\\r\n",
         "!4 !5 h=3:12 "},
        {test + "\"h\"=hex:31,\\\r\n[HKLM\\U]\r\n\"v\"=\"x\"\r\n", "!4 !5 v=1:x~ "},
    };
    for (const auto& row : rows) EXPECT_EQ(Parsed(row.bytes), row.parsed) << row.bytes;
    const std::string s = "[HKLM\\Software\\Suite", k255(255, 'k');
    Put("@/registry.reg", header + "bad\tline\r\n" + s + "\\2.9.0]\r\n" + s + "\\10.0]\r\n" + s + "\\a_b]\r\n" + s +
                              "Y2.0]\r\n[HKCU\\Software\\Suite\\9.0]\r\n" + s +
                              "\\AB]\r\n" + s + "\\ab\\x]\r\n[HKLM\\S\\" + k255 + "]\r\n" + s +
                              "]\r\n\"V\"=\"first\"\r\n" +
                              "[hklm\\software\\suite]\r\n\"v\"=\"second\"\r\n");
    setenv("ROMGATE_DEBUG", "1", 1);  // the skipped line is named at the first reading only
    testing::internal::CaptureStderr();
    EXPECT_EQ(Subkeys("Software\\Suite", 256), "10.0,2.9.0,AB,a_b,;259");
    EXPECT_EQ(Subkeys("S", 256) + Subkeys("S", 255) + Subkeys("Software\\Sui", 256),
              k255 + ",;259;234;2");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "debug: registry.reg line 3 skipped: bad\\tline\n");
    unsetenv("ROMGATE_DEBUG");
    HKEY hKey, hSub;
    char data[8];
    DWORD cb = 6;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\SUITE", 0, KEY_READ, &hKey),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(hKey, "V", NULL, NULL, (BYTE*)data, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(RegQueryValueExA(hKey, "V", NULL, NULL, (BYTE*)data, &cb), ERROR_SUCCESS);
    EXPECT_STREQ(data, "second");
    // Below an open key, "2.0" is not SuiteY2.0; a handle is taken exactly.
    EXPECT_EQ(RegOpenKeyExA(hKey, "2.0", 0, KEY_READ, &hSub), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey((HKEY)((uintptr_t)hKey + 2)), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(cb == 7 && RegCloseKey(hKey) == ERROR_SUCCESS);
    unlink(At("@/registry.reg").c_str());
    EXPECT_EQ(Subkeys("", 256) + Subkeys("Software", 256), ";259;2");
    // A prefix that is no folder holds no registry file: an empty registry.
    Put("@/file", "");
    setenv("ROMGATE_PREFIX", At("@/file").c_str(), 1);
    EXPECT_EQ(Subkeys("", 256), ";259");
    setenv("ROMGATE_PREFIX", g_scratch.szRoot, 1);
    // 64 MiB is read; a byte more, or a file without end, is unreadable (ERROR_BADDB).
    std::string big = header + "[HKLM\\S]\r\n;";
    big.resize(64 << 20, ' ');
    Put("@/registry.reg", big);
    std::string statuses = Subkeys("S", 256);
    Put("@/registry.reg", big + " ");
    statuses += Subkeys("S", 256);
    unlink(At("@/registry.reg").c_str());
    EXPECT_EQ(statuses + (symlink("/dev/zero", At("@/registry.reg").c_str()) == 0
                              ? Subkeys("S", 256)
                              : "no link"),
              ";259;1009;1009");
    unlink(At("@/registry.reg").c_str());
}
