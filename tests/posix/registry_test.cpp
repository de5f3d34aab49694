// The registry file: encodings, values, subkey order, limits, bad files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "platform/posix/registry.h"

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kTest = "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n";

// UTF-16LE of UTF-8 text with characters below U+0800.
std::string ToUtf16(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned ch = (unsigned char)text[i];
        if (ch >= 0xC0)
            ch = ((ch & 0x1F) << 6) | (text[++i] & 0x3F);
        out += {(char)(ch & 0xFF), (char)(ch >> 8)};
    }
    return out;
}

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(mkdtemp(m_szDir), nullptr);
        setenv("ROMGATE_PREFIX", m_szDir, 1);
    }
    void TearDown() override
    {
        unlink((std::string(m_szDir) + "/registry.reg").c_str());
        rmdir(m_szDir);
        unsetenv("ROMGATE_PREFIX");
    }
    void Write(const std::string& bytes)
    {
        std::string strFile = std::string(m_szDir) + "/registry.reg";
        FILE* pFile = fopen(strFile.c_str(), "wb");
        ASSERT_NE(pFile, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), pFile);
        fclose(pFile);
    }
    // The value of HKLM\path as "<type>:<bytes>", or "error <status>".
    std::string Query(const char* pszPath, const char* pszName)
    {
        HKEY hKey;
        LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0,
                                       KEY_ALL_ACCESS, &hKey);
        DWORD dwType = 99, cb = 256;
        unsigned char data[257];
        memset(data, 0xbd, sizeof(data));
        if (status == ERROR_SUCCESS) {
            status = RegQueryValueExA(hKey, pszName, NULL, &dwType, data, &cb);
            EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
        }
        if (status != ERROR_SUCCESS)
            return "error " + std::to_string(status);
        EXPECT_EQ(data[cb], 0xbd);
        return std::to_string(dwType) + ":" + std::string((char*)data, cb);
    }
    // HKLM\path's subkeys as "a,b,;<status that ended the enumeration>".
    std::string Subkeys(const char* pszPath, DWORD cchName = 256)
    {
        std::string result;
        HKEY hKey;
        LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0,
                                       KEY_READ, &hKey);
        bool bOpen = status == ERROR_SUCCESS;
        for (DWORD i = 0; status == ERROR_SUCCESS; ++i) {
            char name[512];
            memset(name, 0xbd, sizeof(name));
            DWORD cch = cchName;
            status = RegEnumKeyExA(hKey, i, name, &cch, NULL, NULL, NULL, NULL);
            bool bRead = status == ERROR_SUCCESS;
            EXPECT_EQ(cch, bRead ? strlen(name) : cchName);
            EXPECT_EQ((unsigned char)name[bRead ? cch + 1 : 0], 0xbd);
            result += bRead ? std::string(name) + "," : "";
        }
        if (bOpen) {
            EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
        }
        return result + ";" + std::to_string(status);
    }
    char m_szDir[32] = "/tmp/romgate_registry_XXXXXX";
};

TEST_F(Registry, ReadsBothHeadersInEveryEncoding)
{
    const std::string body =
        "[HKEY_LOCAL_MACHINE\\Software\\Vorn\\VornUpdate]\r\n"
        "\"Location\"=\"C:\\\\V\xC3\xB6rn\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vorn\\VornUpdate\\2.0.7]\r\n";
    const std::string ansi =
        "REGEDIT4\n[HKLM\\Software\\Vorn\\VornUpdate\\2.0.7]\n"
        "[HKLM\\Software\\Vorn\\VornUpdate]\n\"Location\"=\"C:\\\\V\xF6rn\"";
    const std::string rows[][2] = {
        {kHeader + body, "C:\\V\xC3\xB6rn"},
        {"\xEF\xBB\xBF" + kHeader + body, "C:\\V\xC3\xB6rn"},
        {"\xFF\xFE" + ToUtf16(kHeader + body), "C:\\V\xC3\xB6rn"},
        {"REGEDIT4\n" + body, "C:\\V\xC3\xB6rn"},
        {ansi, "C:\\V\xF6rn"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        Write(rows[i][0]);
        EXPECT_EQ(Query("Software\\Vorn\\VornUpdate", "Location"),
                  "1:" + rows[i][1] + '\0') << "row " << i;
        EXPECT_EQ(Subkeys("SOFTWARE\\vorn\\VornUpdate"), "2.0.7,;259")
            << "row " << i;
    }
}

TEST_F(Registry, ReadsEveryKindOfValue)
{
    const std::string name300(300, 'n');
    Write(kHeader + kTest +
          "\"Plain\"=\"text\"\r\n\"Esc\" = \"a\\\\b\\\"c\"\r\n"
          "\"Empty\"=\"\"\r\n@=\"default\"\r\n\"Dword\"=dword:0000012c\r\n"
          "\"Short\"=dword:1\r\n\"Bin\"=hex:de,ad,BE,ef\r\n"
          "\"Cont\"=hex:01,02,\\\r\n   03,\\\r\n  04\r\n\"None\"=hex:\r\n"
          "\"Expand\"=hex(2):25,00,e9,00,ac,20,3d,d8,00,de,00,00\r\n"
          "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
          "\"Qword\"=hex(b):01,00,00,00,00,00,00,80\r\n"
          "\"Deleted\"=\"kept\"\r\n\"Deleted\"=-\r\n"
          "\"" + name300 + "\"=\"long name\"\r\n\"Twice\"=\"first\"\r\n"
          "[-HKEY_LOCAL_MACHINE\\Software\\Test]\r\n\"Twice\"=\"ignored\"\r\n"
          "[hklm\\SOFTWARE\\test]\r\n\"TWICE\"=\"second\"\r\n");
    using S = std::string;
    const struct {
        const char* name;
        std::string expected;
    } rows[] = {
        {"Plain", S("1:text", 7)},         {"esc", S("1:a\\b\"c", 8)},
        {"Empty", S("1:", 3)},             {"", S("1:default", 10)},
        {NULL, S("1:default", 10)},        {"Dword", S("4:\x2c\x01\0\0", 6)},
        {"Short", S("4:\x01\0\0\0", 6)},   {"Bin", "3:\xde\xad\xbe\xef"},
        {"Cont", "3:\x01\x02\x03\x04"},    {"None", "3:"},
        {"Expand", S("2:%\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 13)},
        {"Multi", S("7:a\0\0", 5)},
        {"Qword", S("11:\x01\0\0\0\0\0\0\x80", 11)},
        {"Deleted", S("1:kept", 7)},
        {name300.c_str(), S("1:long name", 12)},
        {"Twice", S("1:second", 9)},       {"Missing", "error 2"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(Query("Software\\Test", rows[i].name), rows[i].expected)
            << "row " << i;
}

TEST_F(Registry, ReportsTheSizeOfDataThatDoesNotFit)
{
    Write(kHeader + kTest + "\"v\"=\"abc\"\r\n");
    const struct {
        DWORD cb;
        bool bData;
        LSTATUS status;
    } rows[] = {{5, true, ERROR_SUCCESS},   {4, true, ERROR_SUCCESS},
                {3, true, ERROR_MORE_DATA}, {0, true, ERROR_MORE_DATA},
                {0, false, ERROR_SUCCESS}};
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0,
                            KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        unsigned char data[8];
        memset(data, 0xbd, sizeof(data));
        DWORD cb = rows[i].cb, dwType = 0;
        EXPECT_EQ(RegQueryValueExA(hKey, "v", NULL, &dwType,
                                   rows[i].bData ? data : NULL, &cb),
                  rows[i].status) << "row " << i;
        EXPECT_EQ(cb, 4u) << "row " << i;
        EXPECT_EQ(dwType, REG_SZ) << "row " << i;
        bool bCopied = rows[i].status == ERROR_SUCCESS && rows[i].bData;
        const char* expected = bCopied ? "abc\0\xbd" : "\xbd\xbd\xbd\xbd\xbd";
        EXPECT_EQ(memcmp(data, expected, 5), 0) << "row " << i;
    }
    unsigned char byte = 0xbd;
    EXPECT_EQ(RegQueryValueExA(hKey, "v", NULL, NULL, &byte, NULL),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(byte, 0xbd);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(hKey, "v", NULL, NULL, NULL, NULL),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey((HKEY)0x1234), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(Registry, EnumeratesSubkeysSortedWithImplicitParents)
{
    const std::string suite = "[HKEY_LOCAL_MACHINE\\Software\\Suite\\";
    Write(kHeader + suite + "2.9.0]\r\n" + suite + "10.0]\r\n" + suite +
          "2.10.0\\Deep\\Er]\r\n" + suite + "a_b]\r\n" + suite + "AB]\r\n" +
          suite + "ab\\x]\r\n[HKEY_CURRENT_USER\\Software\\Suite\\User]\r\n");
    const char* rows[][2] = {
        {"Software\\Suite", "10.0,2.10.0,2.9.0,AB,a_b,;259"},
        {"software\\suite\\2.10.0", "Deep,;259"},
        {"Software\\Suite\\2.10.0\\DEEP", "Er,;259"},
        {"Software\\Suite\\2.10.0\\deep\\er", ";259"},
        {"", "Software,;259"},
        {NULL, "Software,;259"},
        {"Software\\Sui", ";2"},
        {"Software\\Suite\\User", ";2"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(Subkeys(rows[i][0]), rows[i][1]) << "row " << i;
    HKEY hSuite, hDeep;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Suite", 0,
                            KEY_ALL_ACCESS, &hSuite), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(hSuite, "2.10.0\\deep", 0, KEY_READ, &hDeep),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hDeep), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hSuite), ERROR_SUCCESS);
}

TEST_F(Registry, ReportsSubkeyNamesThatDoNotFit)
{
    const struct {
        size_t cchName;
        DWORD cchBuffer;
        bool bFits;
    } rows[] = {{255, 257, true}, {255, 256, true}, {255, 255, false},
                {256, 256, false}, {256, 257, true}, {300, 256, false},
                {300, 301, true}};
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        std::string name(rows[i].cchName, 'k');
        Write(kHeader + "[HKEY_LOCAL_MACHINE\\S\\" + name + "]\r\n");
        EXPECT_EQ(Subkeys("S", rows[i].cchBuffer),
                  rows[i].bFits ? name + ",;259" : ";234") << "row " << i;
    }
}

TEST_F(Registry, MalformedFileFailsEveryOpen)
{
    const std::string key = kHeader + kTest;
    const std::string rows[] = {
        "",
        "REGEDIT5\r\n" + kTest,
        "Windows Registry Editor Version 5.0\r\n" + kTest,
        kHeader + "[HKEY_NOWHERE\\Software]\r\n",
        kHeader + "[HKEY_LOCAL_MACHINE\\Software\\\\Test]\r\n",
        kHeader + "[HKEY_LOCAL_MACHINE\\]\r\n",
        kHeader + "[HKEY_LOCAL_MACHINE\\Software\r\n",
        kHeader + "\"v\"=\"before any key\"\r\n",
        key + "\"v\"=dword:123456789\r\n",
        key + "\"v\"=hex:1g\r\n",
        key + "\"v\"=hex:123\r\n",
        key + "\"v\"=\"unterminated\r\n",
        key + "\"v\"=\"x\" trailing\r\n",
        key + "\"v\"=hex:01,\\\r\n",
        key + "garbage\r\n",
        key + "\"v\"=str:x\r\n",
        key + "\"v\"=hex(2):41\r\n",
        key + std::string("\"v\"=\"a\0b\"\r\n", 10),
        "\xFF\xFE" + ToUtf16(key) + "x",
        "\xFF\xFE" + ToUtf16(key) + std::string("\0\xD8\x41\0", 4),
        ToUtf16(key),
        std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10),
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        Write(rows[i]);
        for (const char* pszPath : {"", "Software", "Software\\Test", "x"}) {
            HKEY hKey = (HKEY)1;
            EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0,
                                    KEY_ALL_ACCESS, &hKey), ERROR_BADDB)
                << "row " << i << " " << pszPath;
            EXPECT_EQ(hKey, nullptr) << "row " << i;
        }
    }
}

TEST_F(Registry, MissingFileIsAnEmptyRegistryAndChangesAreSeen)
{
    EXPECT_EQ(Subkeys(""), ";259");
    EXPECT_EQ(Subkeys("Software\\Test"), ";2");
    Write(kHeader + kTest);
    EXPECT_EQ(Subkeys("Software\\Test"), ";259");
}

}  // namespace
