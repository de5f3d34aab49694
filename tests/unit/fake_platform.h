// A scripted machine for the launcher's unit tests. Each operation of
// platform/winapi.h answers from g_world and logs one readable line, so a test
// states what the launcher did as a list of lines. Buffers are poisoned before
// they are filled; what a line does not show (sizes, options) is checked here.
#ifndef ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H
#define ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "launcher/launcher_app.h"

typedef std::vector<std::string> Lines;

struct FakeWorld {
    Lines windows;  // titles of the open top-level windows
    std::string module = "C:\\Pkg\\Romgate.exe", windowsDir = "C:\\WINDOWS";
    std::string version = "2.1.0";  // in C:\Pkg\VORNUpdate.ini, the only manifest
    bool codePage950 = false;       // bytes 0x81 to 0xFE lead a character
    bool key = true;  // HKLM\Software\Vorn\VornUpdate, with Location (as stored; empty: none)
    std::string location = std::string("C:\\Suite", 9), subkey = "2.0.7";
    LSTATUS enumStatus = ERROR_SUCCESS;
    bool setupStarts = true;        // false: Setup.exe cannot be started
    Lines log;
};
extern FakeWorld g_world;

// Runs body for each row on a fresh world, the launcher's shared buffers
// poisoned; failures name the row.
template <typename Row, size_t N, typename Body>
void ForEachRow(const Row (&rows)[N], Body body)
{
    for (size_t i = 0; i < N; ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        g_world = FakeWorld();
        for (char* pszShared : {g_szLauncherDir, g_szSuiteLocation, g_szPackageVersion})
            snprintf(pszShared, TEXT_BUFFER_SIZE, "%s", std::string(255, '\xbd').c_str());
        body(rows[i]);
    }
}

#endif  // ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H
