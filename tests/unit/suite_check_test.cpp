// The installed-suite check against a scripted registry.
#include <stdio.h>

#include "fake_platform.h"
#include "launcher/launcher_app.h"
#include "launcher/suite_check.h"

namespace {

using SuiteCheckTest = FakePlatformTest;

const char kOpen[] = "RegOpenKeyExA(HKLM, Software\\Vorn\\VornUpdate, 0, 0xf003f)";
const char kEarlier[] = "D:\\Earlier";

TEST_F(SuiteCheckTest, ComparesNumbersMajorFirst)
{
    static const struct { const char *packaged, *installed; bool required; } rows[] = {
        {"1.2.10", "1.2.9", true},  {"1.2.3", "1.2.3", false},    {"1.2.3", "1.3.0", false},
        {"01.02.03", "1.2.3", false}, {"2.1.0", "2.0.7", true},   {"2.0.7", "2.1.0", false},
        {"2.0.0", "1.99.99", true}, {"1.3.0", "1.2.99", true},    {"1.2.4", "1.2.3", true},
        {"0.0.0", "-1.0.0", true},  {"-1.0.0", "0.0.0", false},   {"2.1", "2.1.0", false},
        {"2.1.1", "2.1", true},     {"", "0.0.0", false},
        {"99999999999.0.0", "2147483647.0.0", false},
        {"99999999999.0.0", "2147483646.9.9", true},
        {"-99999999999", "-2147483648.0.0", false},
    };
    ForEachRow(rows, [](const auto& row) {
        RegisterSuite("C:\\Suite", {row.installed});
        EXPECT_EQ(IsSetupRequired(row.packaged), row.required);
    });
}

// Both sides parse alike; the subkey name is traced whole, then each
// component as it is taken.
TEST_F(SuiteCheckTest, ParsesAndTracesVersionText)
{
    static const struct { const char *text, *triple; Lines components; } rows[] = {
        {"2.1.0", "2.1.0", {"2", "1", "0"}},     {"1..2.3", "1.2.3", {"1", "2", "3"}},
        {"1.2.3.9", "1.2.3", {"1", "2", "3"}},   {"1.2.3a", "1.2.3", {"1", "2", "3a"}},
        {"1.x.3", "1.0.3", {"1", "x", "3"}},     {".1.2.3", "1.2.3", {"1", "2", "3"}},
        {" 2.1.0", "2.1.0", {" 2", "1", "0"}},   {"2.1", "2.1.0", {"2", "1"}},
        {"", "0.0.0", {}},                       {"...", "0.0.0", {}},
        {"-1.0.0", "-1.0.0", {"-1", "0", "0"}},  {"+3", "3.0.0", {"+3"}},
        {"99999999999.0.0", "2147483647.0.0", {"99999999999", "0", "0"}},
        {"-99999999999", "-2147483648.0.0", {"-99999999999"}},
        {"2147483648.-2147483649.2147483647", "2147483647.-2147483648.2147483647",
         {"2147483648", "-2147483649", "2147483647"}},
    };
    ForEachRow(rows, [](const auto& row) {
        RegisterSuite("C:\\Suite", {row.text});
        Lines expected = {std::string("Current Version = ") + row.triple, row.text};
        expected.insert(expected.end(), row.components.begin(), row.components.end());
        expected.push_back(std::string("Installed Version = ") + row.triple);
        EXPECT_FALSE(IsSetupRequired(row.text));
        EXPECT_EQ(g_world.traces, expected);
    });
}

TEST_F(SuiteCheckTest, TracesBothVersionsAndClosesTheKey)
{
    RegisterSuite("E:\\Suite", {"2.0.7", "9.9.9"});
    char szPackaged[] = "2.1.0";
    EXPECT_TRUE(IsSetupRequired(szPackaged));
    EXPECT_STREQ(szPackaged, "2.1.0");
    EXPECT_STREQ(g_szSuiteLocation, "E:\\Suite");
    EXPECT_EQ(g_world.log,
              Lines({kOpen, "RegQueryValueExA(Location)",
                     "OutputDebugStringA(Current Version = 2.1.0)", "RegEnumKeyExA(0)",
                     "OutputDebugStringA(2.0.7)", "OutputDebugStringA(2)",
                     "OutputDebugStringA(0)", "OutputDebugStringA(7)",
                     "OutputDebugStringA(Installed Version = 2.0.7)", "RegCloseKey"}));
}

TEST_F(SuiteCheckTest, UnopenableKeyRequiresSetupSilently)
{
    static const LSTATUS rows[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED};
    ForEachRow(rows, [](LSTATUS status) {
        g_world.openStatus = status;
        snprintf(g_szSuiteLocation, sizeof(g_szSuiteLocation), "%s", kEarlier);
        EXPECT_TRUE(IsSetupRequired("2.1.0"));
        EXPECT_STREQ(g_szSuiteLocation, kEarlier);
        EXPECT_EQ(g_world.log, Lines({kOpen}));
    });
}

TEST_F(SuiteCheckTest, LocationIsTakenOnlyWhenItFits)
{
    const std::string s254(254, 'a'), s255(255, 'b'), s256(256, 'c'), kept = kEarlier;
    const struct { bool present; std::string bytes, expected; } rows[] = {
        {true, std::string("", 1), ""},
        {true, s254 + '\0', s254},                       // 255 bytes
        {true, s255 + '\0', s255},                       // 256 bytes: exactly fits
        {true, s256 + '\0', kept},                       // 257 bytes
        {true, s256, s256.substr(0, 255)},               // no terminator
        {true, "C:\\Suite", "C:\\Suite"},                // no terminator
        {true, std::string("C:\\A\0junk", 9), "C:\\A"},  // the first zero ends it
        {false, "", kept},
    };
    ForEachRow(rows, [&](const auto& row) {
        RegisterSuite("", {"2.1.0"});
        g_world.hasLocation = row.present;
        g_world.locationBytes = row.bytes;
        snprintf(g_szSuiteLocation, sizeof(g_szSuiteLocation), "%s", kEarlier);
        EXPECT_FALSE(IsSetupRequired("2.1.0"));
        EXPECT_EQ(std::string(g_szSuiteLocation), row.expected);
    });
}

// No subkey, or one that cannot be read, counts as no suite; nothing of an
// unread name is parsed or traced.
TEST_F(SuiteCheckTest, MissingOrUnreadableSubkeyRequiresSetup)
{
    const std::string name255 = "3." + std::string(253, '0');
    const Lines onlyCurrent = {"Current Version = 2.1.0"};
    const struct { Lines subkeys; LSTATUS status; bool required; Lines traces; } rows[] = {
        {{name255}, ERROR_SUCCESS, false,
         {"Current Version = 2.1.0", name255, "3", name255.substr(2), "Installed Version = 3.0.0"}},
        {{name255 + "0"}, ERROR_SUCCESS, true, onlyCurrent},
        {{"1.0.0"}, ERROR_ACCESS_DENIED, true, onlyCurrent},
        {{}, ERROR_SUCCESS, true, onlyCurrent},
    };
    ForEachRow(rows, [](const auto& row) {
        RegisterSuite("E:\\Suite", row.subkeys);
        g_world.enumStatus = row.status;
        EXPECT_EQ(IsSetupRequired("2.1.0"), row.required);
        EXPECT_EQ(g_world.traces, row.traces);
        EXPECT_STREQ(g_szSuiteLocation, "E:\\Suite");
    });
}

}  // namespace
