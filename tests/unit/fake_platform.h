// The scripted machine of the unit tests and the launch fuzz target: calls answer from g_world.
#ifndef ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H
#define ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H

#include <string>

#include "platform/winapi.h"

inline struct World {
    std::string module = "C:\\Pkg\\R.exe", windowsDir = "C:\\W", version = "";  // manifest Version
    bool codePage950 = false;            // bytes 0x81 to 0xFE lead a character
    LSTATUS openStatus = ERROR_SUCCESS;  // of the suite's key; its first subkey ("": none),
    std::string subkey = "2.1.0", location = "", log = "";  // Location's bytes, calls joined by |
    std::string admin = "";  // names of programs CreateProcessA refuses for want of rights
    char shell = 'p';        // the shell then starts a process, 'n' none to wait for, 'c' declined
    DWORD lastError = 0;
} g_world;

#endif  // ROMGATE_TESTS_UNIT_FAKE_PLATFORM_H
