// The profile (INI) reader: lookups in text, buffer limits, files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "platform/posix/profile.h"

namespace {

const char kText[] =
    "\xEF\xBB\xBFtop=no section\r\n; comment\r\n[App]\r\n"
    "  Name  =  Romgate  \r\nQuoted=\"a b\"\r\nSingle=  'x'  \r\n"
    "Mixed=\"x'\r\nLone=\"\r\nPair=\"\"\r\nInner=a \"b\" c\r\nEmpty=\r\n"
    "Twice=first\r\ntwice=second\r\nNoEquals\r\n;Hidden=no\r\n"
    "[sec\nAfter=after [\n[ app ]\nLater=second section\n"
    "[Tab\tName]\rk=tabbed\r[a]b]\nk=last bracket\n"
    "[NUL]\nk\0ey=no\nkey=be\0fore\n[End]\nk= no newline ";

TEST(ProfileText, FindsValuesAsWindowsDoes)
{
    static const struct {
        const char *section, *key, *def, *expected;
    } rows[] = {
        {"App", "Name", "d", "Romgate"},     {"APP", "nAmE", "d", "Romgate"},
        {" app\t", " NAME ", "d", "Romgate"}, {"App", "Quoted", "d", "a b"},
        {"App", "Single", "d", "x"},         {"App", "Mixed", "d", "\"x'"},
        {"App", "Lone", "d", "\""},          {"App", "Pair", "d", ""},
        {"App", "Inner", "d", "a \"b\" c"},  {"App", "Empty", "d", ""},
        {"App", "Twice", "d", "first"},      {"App", "NoEquals", "d", "d"},
        {"App", ";Hidden", "d", "d"},        {"App", "After", "d", "after ["},
        {"App", "Later", "d", "d"},          {"", "top", "d", "no section"},
        {"Tab\tName", "k", "d", "tabbed"},   {"a]b", "k", "d", "last bracket"},
        {"a", "k", "d", "d"},                {"NUL", "key", "d", "be"},
        {"NUL", "k", "d", "d"},              {"End", "k", "d", "no newline"},
        {"App", "", "d", "d"},               {"None", "k", "  def  ", "  def"},
        {"App", "No", "'quoted'", "quoted"}, {"App", "No", "\"a' ", "\"a'"},
        {"App", "No", NULL, ""},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        char buffer[64];
        DWORD cch = GetProfileStringFromText(kText, sizeof(kText) - 1,
                                             rows[i].section, rows[i].key,
                                             rows[i].def, buffer, 64);
        EXPECT_STREQ(buffer, rows[i].expected) << "row " << i;
        EXPECT_EQ(cch, strlen(rows[i].expected)) << "row " << i;
    }
}

TEST(ProfileText, CutsToTheBufferWithATerminator)
{
    static const struct {
        const char *key, *def;
        DWORD cchOut;
        const char* expected;  // NULL: nothing written
    } rows[] = {
        {"Six", "d", 8, "abcdef"},     {"Six", "d", 7, "abcdef"},
        {"Six", "d", 6, "abcde"},      {"Six", "d", 1, ""},
        {"QSix", "d", 8, "abcdef"},    {"QSix", "d", 7, "abcdef"},
        {"QSix", "d", 6, "abcde"},     {"Open", "d", 7, "\"abcde"},
        {"Open", "d", 6, "\"abcd"},    {"Open", "d", 2, "\""},
        {"No", "abcdef", 7, "abcdef"}, {"No", "abcdef", 6, "abcde"},
        {"No", "'abcdef'", 6, "abcde"}, {"Six", "d", 0, NULL},
        {NULL, "d", 8, "\0"},          {NULL, "d", 1, ""},
    };
    const char text[] = "[s]\nSix=abcdef  \nQSix=\"abcdef\"\nOpen=\"abcde\n";
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        char buffer[16];
        memset(buffer, 0xbd, sizeof(buffer));
        DWORD cch = GetProfileStringFromText(text, strlen(text), "s",
                                             rows[i].key, rows[i].def, buffer,
                                             rows[i].cchOut);
        const char* expected = rows[i].expected ? rows[i].expected : "";
        EXPECT_EQ(cch, strlen(expected)) << "row " << i;
        size_t cbWritten = rows[i].expected ? strlen(expected) + 1 : 0;
        if (rows[i].key == NULL && rows[i].cchOut > 1)
            cbWritten = 2;  // an empty list ends with two terminators
        EXPECT_EQ(memcmp(buffer, expected, cbWritten), 0) << "row " << i;
        for (size_t j = rows[i].cchOut; j < sizeof(buffer); ++j)
            ASSERT_EQ((unsigned char)buffer[j], 0xbd) << "row " << i;
    }
}

TEST(ProfileFile, ReadsFilesOfAnyShape)
{
    char szDir[] = "/tmp/romgate_profile_XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    setenv("ROMGATE_PREFIX", szDir, 1);  // no dosdevices: Z: is /
    std::string strFile = std::string(szDir) + "/Manifest.ini";
    std::string strWindowsPath = "Z:" + strFile;
    for (char& ch : strWindowsPath)
        ch = ch == '/' ? '\\' : ch;
    std::string mib(1 << 20, 'x'), binary;
    for (int i = 0; i < 4096; ++i)
        binary += (char)(i * 37);
    const struct {
        std::string text;
        const char* expected;
    } rows[] = {
        {"[s]\r\nk=crlf\r\n", "crlf"},
        {mib + "\n[s]\nk=after long\n", "after long"},
        {"[s]\nk" + mib + "=long key\nk=short key\n", "short key"},
        {"[s" + mib + "]\nk=long section\n[s]\nk=v\n", "v"},
        {"[s]\nk=" + mib, "xxxxxxxxxxxxxxx"},
        {binary + "\n[s]\nk=after binary\n", "after binary"},
        {std::string("[s\0]\nk=v\n", 9), "default"},
        {"", "default"},  // removed before reading
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        FILE* pFile = fopen(strFile.c_str(), "wb");
        ASSERT_NE(pFile, nullptr);
        fwrite(rows[i].text.data(), 1, rows[i].text.size(), pFile);
        fclose(pFile);
        if (rows[i].text.empty())
            unlink(strFile.c_str());
        char buffer[20];
        memset(buffer, 0xbd, sizeof(buffer));
        DWORD cch = GetPrivateProfileStringA("S", "K", "default", buffer, 16,
                                             strWindowsPath.c_str());
        EXPECT_STREQ(buffer, rows[i].expected) << "row " << i;
        EXPECT_EQ(cch, strlen(rows[i].expected)) << "row " << i;
        EXPECT_EQ(memcmp(buffer + 16, "\xbd\xbd\xbd\xbd", 4), 0) << "row " << i;
    }
    rmdir(szDir);
    unsetenv("ROMGATE_PREFIX");
}

}  // namespace
