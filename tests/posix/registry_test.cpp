// The registry file: encodings, values, subkey order, limits, bad files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/posix/registry.h"

static const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
static const std::string kTest = kHeader + "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n";

// UTF-16LE of ASCII text.
static std::string ToUtf16(const std::string& ascii)
{
    std::string out;
    for (char ch : ascii)
        out += {ch, '\0'};
    return out;
}

// A prefix of its own, whose registry.reg each test writes.
class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mkdtemp(szDir) && setenv("ROMGATE_PREFIX", szDir, 1) == 0);
        file = std::string(szDir) + "/registry.reg";
    }
    void TearDown() override
    {
        unlink(file.c_str());
        rmdir(szDir);
        unsetenv("ROMGATE_PREFIX");
    }
    void Write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    // HKLM\path's value as "<type>:<data>" with NULs shown as \0, or as
    // "error <status> <size>"; "<overrun>" if more than the data was written.
    std::string Query(const char* pszPath, const char* pszName, DWORD cb = 256)
    {
        HKEY hKey;
        char data[257];
        DWORD dwType = 0;
        memset(data, 0xbd, sizeof(data));
        LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0, KEY_ALL_ACCESS, &hKey);
        if (status == ERROR_SUCCESS) {
            status = RegQueryValueExA(hKey, pszName, NULL, &dwType, (BYTE*)data, &cb);
            EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
        }
        const size_t cbData = status == ERROR_SUCCESS ? cb : 0;
        std::string answer = status == ERROR_SUCCESS
                                 ? std::to_string(dwType) + ":"
                                 : "error " + std::to_string(status) + " " + std::to_string(cb);
        for (size_t i = 0; i < cbData; i++)
            answer += data[i] != '\0' ? std::string(1, data[i]) : "\\0";
        return answer + (data[cbData] == '\xbd' ? "" : "<overrun>");
    }
    // HKLM\path's subkeys as "a,b,;<status that ended the enumeration>"; a
    // name that does not fit leaves the size and the buffer as they were.
    std::string Subkeys(const char* pszPath, DWORD cchName = 256)
    {
        HKEY hKey = (HKEY)1;
        LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0, KEY_READ, &hKey);
        const bool bOpen = status == ERROR_SUCCESS;
        std::string result;
        for (DWORD i = 0; status == ERROR_SUCCESS; i++) {
            char name[512];
            DWORD cch = cchName;
            memset(name, 0xbd, sizeof(name));
            status = RegEnumKeyExA(hKey, i, name, &cch, NULL, NULL, NULL, NULL);
            const bool bRead = status == ERROR_SUCCESS;
            EXPECT_EQ(cch, bRead ? strlen(name) : cchName);
            EXPECT_EQ(name[bRead ? cch + 1 : 0], '\xbd');
            result += bRead ? std::string(name) + "," : "";
        }
        EXPECT_TRUE(bOpen ? RegCloseKey(hKey) == ERROR_SUCCESS : hKey == NULL);
        return result + ";" + std::to_string(status);
    }
    char szDir[32] = "/tmp/romgate_registry_XXXXXX";
    std::string file;
};

// ANSI bytes are taken as they are; UTF-16 is checked byte for byte below.
TEST_F(Registry, ReadsBothHeadersInEveryEncoding)
{
    const std::string body = "[HKLM\\Software\\Vorn\\2.0.7]\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Vorn]\r\n\"Location\"=\"C:\\\\V";
    const std::string rows[][2] = {
        {kHeader + body + "\xC3\xB6rn\"\r\n", "1:C:\\V\xC3\xB6rn\\0"},
        {"\xEF\xBB\xBF" + kHeader + body + "\xC3\xB6rn\"\r\n", "1:C:\\V\xC3\xB6rn\\0"},
        {"\xFF\xFE" + ToUtf16(kHeader + body + "orn\"\r\n"), "1:C:\\Vorn\\0"},
        {"REGEDIT4\n" + body + "\xF6rn\"", "1:C:\\V\xF6rn\\0"},
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        Write(rows[i][0]);
        EXPECT_EQ(Query("software\\VORN", "location") + Subkeys("Software\\Vorn"),
                  rows[i][1] + "2.0.7,;259") << "row " << i;
    }
}

// A value too big for the buffer answers ERROR_MORE_DATA and the size needed.
TEST_F(Registry, ReadsEveryKindOfValue)
{
    Write(kTest + "\"Esc\" = \"a\\\\b\\\"c\"\r\n@=\"default\"\r\n\"Dword\"=dword:00434241\r\n"
          "\"Bin\"=hex:41,42,4a,4B\r\n\"Cont\"=hex:31,32,\\\r\n   33,\\\r\n  34\r\n"
          "\"Twice\"=\"first\"\r\n"
          "\"Expand\"=hex(2):25,00,e9,00,ac,20,3d,d8,00,de,00,00\r\n"
          "[hklm\\SOFTWARE\\test]\r\n\"TWICE\"=\"second\"\r\n");
    static const struct { const char* name; DWORD cb; const char* expected; } rows[] = {
        {"esc", 6, "1:a\\b\"c\\0"},   {"esc", 5, "error 234 6"}, {"", 256, "1:default\\0"},
        {NULL, 256, "1:default\\0"},  {"Dword", 4, "4:ABC\\0"},  {"Dword", 3, "error 234 4"},
        {"Bin", 256, "3:ABJK"},        {"Cont", 256, "3:1234"},   {"Twice", 256, "1:second\\0"},
        {"Missing", 256, "error 2 256"},
        {"Expand", 256, "2:%\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\\0"},
    };
    for (size_t i = 0; i < std::size(rows); i++)
        EXPECT_EQ(Query("Software\\Test", rows[i].name, rows[i].cb), rows[i].expected)
            << "row " << i;
}

// Sorted by upper-cased name, parents implied. S, T and U hold names of 255,
// 256 and 300 characters, which need 256, 257 and 301 with the terminator.
TEST_F(Registry, EnumeratesSubkeys)
{
    const std::string s = "[HKEY_LOCAL_MACHINE\\Software\\Suite\\", k255(255, 'k'), k300(300, 'k');
    Write(kHeader + s + "2.9.0]\r\n" + s + "10.0]\r\n" + s + "2.10.0\\Deep\\Er]\r\n" + s +
          "a_b]\r\n" + s + "AB]\r\n" + s + "ab\\x]\r\n" +
          "[HKEY_CURRENT_USER\\Software\\Suite\\User]\r\n[HKLM\\S\\" + k255 + "]\r\n" +
          "[HKLM\\T\\" + k255 + "k]\r\n[HKLM\\U\\" + k300 + "]\r\n");
    const struct { const char* path; DWORD cch; std::string expected; } rows[] = {
        {"Software\\Suite", 256, "10.0,2.10.0,2.9.0,AB,a_b,;259"},
        {"software\\suite\\2.10.0", 256, "Deep,;259"},
        {"", 256, "S,Software,T,U,;259"},
        {"Software\\Sui", 256, ";2"},
        {"Software\\Suite\\User", 256, ";2"},
        {"S", 256, k255 + ",;259"}, {"S", 255, ";234"},
        {"T", 256, ";234"},         {"T", 257, k255 + "k,;259"},
        {"U", 256, ";234"},         {"U", 301, k300 + ",;259"},
    };
    for (size_t i = 0; i < std::size(rows); i++)
        EXPECT_EQ(Subkeys(rows[i].path, rows[i].cch), rows[i].expected) << "row " << i;
}

// Every open fails, the root's included, and leaves no handle. A missing
// file is an empty registry, and a change is seen at the next open.
TEST_F(Registry, MalformedFileIsUnreadableAndMissingFileEmpty)
{
    const std::string rows[] = {
        "", "REGEDIT5\r\n", kHeader + "[HKEY_NOWHERE\\Software]\r\n",
        kHeader + "[HKLM\\Software\\\\Test]\r\n", kHeader + "[HKLM\\Software\r\n",
        kHeader + "\"v\"=\"before any key\"\r\n", kTest + "\"v\"=dword:123456789\r\n",
        kTest + "\"v\"=hex:1g\r\n", kTest + "\"v\"=hex:123\r\n", kTest + "\"v\"=\"unterminated\r\n",
        kTest + "\"v\"=\"x\" trailing\r\n", kTest + "\"v\"=hex:01,\\\r\n", kTest + "garbage\r\n",
        kTest + "\"v\"=str:x\r\n", kTest + "\"v\"=hex(2):41\r\n",
        kTest + std::string("\"\0\"=\"\"", 6), "\xFF\xFE" + ToUtf16(kTest) + "x",
        "\xFF\xFE" + ToUtf16(kTest) + std::string("\0\xD8", 2), ToUtf16(kTest),
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        Write(rows[i]);
        EXPECT_EQ(Subkeys("") + Subkeys("Software\\Test"), ";1009;1009") << "row " << i;
    }
    unlink(file.c_str());
    EXPECT_EQ(Subkeys("") + Subkeys("Software\\Test"), ";259;2");
    Write(kTest);
    EXPECT_EQ(Subkeys("Software\\Test"), ";259");
}
