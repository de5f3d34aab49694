// The profile (INI) reader: lookups in text, buffer limits, files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "platform/posix/profile.h"

// Rows with a 64-byte buffer fit; the others exactly fit or are one too
// long. Nothing may be written from buffer[cchOut] on. A NULL key asks for
// the list of names, which is empty here: "\0\0".
TEST(ProfileTest, FindsValuesAsWindowsDoes)
{
    static const char kText[] =
        "\xEF\xBB\xBFtop=no section\n[App]\n  Name  =  Romgate  \nQuoted=  'a b'  \nMixed=\"x'\n"
        "Lone=\"\nPair=\"\"\nTwice=first\ntwice=second\n;Hidden=no\nSix=abcdef  \nQSix=\"abcdef\"\n"
        "[ app ]\nLater=no\n[a]b]\nk=last bracket\n[NUL]\nkey=be\0fore\n";
    static const struct { const char *app, *key, *def; DWORD size; const char* want; } rows[] = {
        {" aPP\t", "nAmE ", "d", 64, "Romgate"}, {"App", "Quoted", "d", 64, "a b"},
        {"App", "Mixed", "d", 64, "\"x'"},       {"App", "Lone", "d", 64, "\""},
        {"App", "Pair", "d", 64, ""},            {"App", "Twice", "d", 64, "first"},
        {"App", ";Hidden", "d", 64, "d"},        {"App", "Later", "d", 64, "d"},
        {"", "top", "d", 64, "no section"},      {"a]b", "k", "d", 64, "last bracket"},
        {"NUL", "key", "d", 64, "be"},           {"App", "", "d", 64, "d"},
        {"None", "k", " 'd' ", 64, " 'd'"},      {"App", "No", "'q'", 64, "q"},
        {"App", "No", NULL, 64, ""},             {"App", "Six", "d", 7, "abcdef"},
        {"App", "Six", "d", 6, "abcde"},         {"App", "Six", "d", 0, ""},
        {"App", "QSix", "d", 7, "abcdef"},       {"App", "QSix", "d", 6, "abcde"},
        {"App", "No", "abcdef", 7, "abcdef"},    {"App", "No", "abcdef", 6, "abcde"},
        {"App", NULL, "d", 2, ""},               {"App", NULL, "d", 1, ""},
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        SCOPED_TRACE(testing::Message() << "row " << i);
        char buffer[64];
        const DWORD cchOut = rows[i].size;
        memset(buffer, 0xbd, sizeof(buffer));
        DWORD cch = GetProfileStringFromText(kText, sizeof(kText) - 1, rows[i].app,
                                             rows[i].key, rows[i].def, buffer, cchOut);
        EXPECT_EQ(cch, strlen(rows[i].want));
        EXPECT_EQ(memcmp(buffer, rows[i].want, std::min<size_t>(cchOut, cch + 1)), 0);
        EXPECT_TRUE(rows[i].key || cchOut < 2 || buffer[1] == '\0');
        EXPECT_EQ(std::string(buffer + cchOut, 64 - cchOut), std::string(64 - cchOut, '\xbd'));
    }
}

// The file is streamed: lines of any length, binary noise and a missing file.
TEST(ProfileTest, ReadsFilesOfAnyShape)
{
    char szDir[] = "/tmp/romgate_profile_XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    setenv("ROMGATE_PREFIX", szDir, 1);  // no dosdevices: Z: is /
    const std::string file = std::string(szDir) + "/Manifest.ini", path = "Z:" + file;
    const std::string mib(1 << 20, 'x');
    std::string binary;
    for (int i = 0; i < 4096; i++)
        binary += (char)(i * 37);
    const std::string rows[][2] = {
        {"[s]\r\nk=crlf\r\n", "crlf"},
        {mib + "\n[s" + mib + "]\nk=no\n[s]\nk" + mib + "=no\nk=after long\n", "after long"},
        {"[s]\nk=" + mib, "xxxxxxxxxxxxxxx"},
        {binary + "\n[s" + std::string(1, '\0') + "]\nk=no\n[s]\nk=after binary\n", "after binary"},
        {"", "default"},  // the file is removed before reading
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        std::ofstream(file, std::ios::binary) << rows[i][0];
        if (rows[i][0].empty())
            unlink(file.c_str());
        char buffer[20];
        memset(buffer, 0xbd, sizeof(buffer));
        DWORD cch = GetPrivateProfileStringA("S", "K", "default", buffer, 16, path.c_str());
        EXPECT_STREQ(buffer, rows[i][1].c_str()) << "row " << i;
        EXPECT_EQ(cch, rows[i][1].size()) << "row " << i;
        EXPECT_EQ(std::string(buffer + 16, 4), "\xbd\xbd\xbd\xbd") << "row " << i;
    }
    rmdir(szDir);
    unsetenv("ROMGATE_PREFIX");
}
