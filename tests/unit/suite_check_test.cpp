// The installed-suite check against a scripted registry.
#include <limits.h>

#include "fake_platform.h"
#include "launcher/suite_check.h"

namespace {

// Dotted text as both sides read it, each component's text traced as it is
// taken, and its order against 1.2.3: numbers, major first, signed.
TEST(SuiteCheckTest, ReadsAndComparesVersions)
{
    const struct { const char* text; std::vector<int> triple; bool newer; Lines log; } rows[] = {
        {"1.2.3", {1, 2, 3}, false, {"debug 1", "debug 2", "debug 3"}},
        {"01.02.03", {1, 2, 3}, false, {"debug 01", "debug 02", "debug 03"}},
        {"1..2.3", {1, 2, 3}, false, {"debug 1", "debug 2", "debug 3"}},
        {"1.2.3.9", {1, 2, 3}, false, {"debug 1", "debug 2", "debug 3"}},
        {"1.2.3a", {1, 2, 3}, false, {"debug 1", "debug 2", "debug 3a"}},
        {"1.2.10", {1, 2, 10}, true, {"debug 1", "debug 2", "debug 10"}},
        {"1.1.9", {1, 1, 9}, false, {"debug 1", "debug 1", "debug 9"}},
        {"1.x.3", {1, 0, 3}, false, {"debug 1", "debug x", "debug 3"}},
        {"2.1", {2, 1, 0}, true, {"debug 2", "debug 1"}},
        {"", {0, 0, 0}, false, {}},
        {"-1", {-1, 0, 0}, false, {"debug -1"}},
        {"99999999999", {INT_MAX, 0, 0}, true, {"debug 99999999999"}},
        {"-99999999999", {INT_MIN, 0, 0}, false, {"debug -99999999999"}},
    };
    ForEachRow(rows, [](const auto& row) {
        char szText[16];
        snprintf(szText, sizeof(szText), "%s", row.text);
        VersionTriple version = ParseVersionText(szText, true);
        EXPECT_EQ(std::vector<int>({version.nMajor, version.nMinor, version.nPatch}), row.triple);
        EXPECT_EQ(IsNewerVersion(version, {1, 2, 3}), row.newer);
        EXPECT_EQ(g_world.log, row.log);
    });
}

// No key, no subkey or an unreadable one means no suite, with nothing unread
// traced. Location replaces the folder when it fits 256 bytes, cut at its
// first zero byte or, lacking one, at 255 characters.
TEST(SuiteCheckTest, TracesAndRefreshesTheLocation)
{
    const std::string z(1, '\0'), s255(255, 'b'), s256(256, 'c'), kept = "D:\\Kept";
    const std::string open = "open Software\\Vorn\\VornUpdate KEY_ALL_ACCESS";
    const Lines none = {open}, current = {open, "debug Current Version = 2.1.0", "close key"};
    const Lines all = {open, current[1], "debug 2.0.7", "debug 2", "debug 0", "debug 7",
                       "debug Installed Version = 2.0.7", "close key"};
    const struct { bool key; LSTATUS enumStatus; std::string bytes, location; Lines log; } rows[] = {
        {false, ERROR_SUCCESS, "E:\\New" + z, kept, none},
        {true, ERROR_NO_MORE_ITEMS, "E:\\New" + z, "E:\\New", current},
        {true, ERROR_MORE_DATA, "E:\\New" + z, "E:\\New", current},
        {true, ERROR_SUCCESS, "E:\\New" + z, "E:\\New", all},
        {true, ERROR_SUCCESS, z, "", all},
        {true, ERROR_SUCCESS, "", kept, all},
        {true, ERROR_SUCCESS, s255 + z, s255, all},
        {true, ERROR_SUCCESS, s256 + z, kept, all},
        {true, ERROR_SUCCESS, s256, s256.substr(0, 255), all},
        {true, ERROR_SUCCESS, "E:\\New", "E:\\New", all},
    };
    ForEachRow(rows, [](const auto& row) {
        g_world.key = row.key;
        g_world.enumStatus = row.enumStatus;
        g_world.location = row.bytes;
        snprintf(g_szSuiteLocation, TEXT_BUFFER_SIZE, "D:\\Kept");
        EXPECT_TRUE(IsSetupRequired("2.1.0"));
        EXPECT_EQ(std::string(g_szSuiteLocation), row.location);
        EXPECT_EQ(g_world.log, row.log);
    });
}

}  // namespace
