// A scripted machine for the launcher's unit tests. Every operation of
// platform/winapi.h acts on g_world and appends one line to its log, so a
// test states exactly what the launcher did and in which order. Misuse that
// no answer would reveal (a wrong buffer size, a stray flag, a handle used
// after closing) is collected in g_world.faults and fails the test.
#ifndef ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H
#define ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/winapi.h"

typedef std::vector<std::string> Lines;

struct ProfileEntry {
    std::string file, section, key, value;
};

struct FakeWorld {
    Lines windows;  // titles of the open top-level windows
    std::string modulePath = "C:\\Pkg\\Romgate.exe", windowsDir = "C:\\WINDOWS";
    long moduleResult = -1, windowsDirResult = -1;  // forced answers; -1: none
    std::vector<ProfileEntry> profile;
    bool leadBytes[256] = {};
    // The key HKLM\Software\Vorn\VornUpdate, its Location value (the stored
    // bytes, terminator included) and its subkeys.
    LSTATUS openStatus = ERROR_FILE_NOT_FOUND, enumStatus = ERROR_SUCCESS;
    bool hasLocation = false;
    std::string locationBytes;
    Lines subkeys;
    std::string failProgram;  // a command line holding this fails to start
    std::function<void(const std::string&)> onRun;  // a started child's work

    Lines log, traces, commandLines, faults;
    int openKeys = 0, processes = 0;
    std::vector<HANDLE> liveHandles;
};
extern FakeWorld g_world;

// Package in C:\Pkg with manifest version 2.1.0, Windows on C:, no suite
// registered; the launcher's shared buffers are poisoned.
void ResetWorld();
// Fails the current test for faults, and for keys or handles left open.
void CheckWorld();
void RegisterSuite(const std::string& location, const Lines& subkeys);
void SetManifestVersion(const std::string& dir, const std::string& version);
// The log lines that start with one of the prefixes, in order.
Lines Calls(const Lines& prefixes);
// Runs the launcher's start-up hook and gives its answer.
BOOL RunLauncher();

// Runs body on a fresh world for each row; failures name the row.
template <typename Row, size_t N, typename Body>
void ForEachRow(const Row (&rows)[N], Body body)
{
    for (size_t i = 0; i < N; ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i);
        ResetWorld();
        body(rows[i]);
        CheckWorld();
    }
}

class FakePlatformTest : public ::testing::Test {
protected:
    void SetUp() override { ResetWorld(); }
    void TearDown() override { CheckWorld(); }
};

#endif  // ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H
