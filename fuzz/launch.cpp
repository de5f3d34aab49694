// The whole launch on the scripted machine, with what the launcher reads from the input. The fake
// checks each command line started (terminated, under 512 bytes); a second run traces alike.
#include <gtest/gtest.h>

#include "fuzz/fuzz.h"
#include "launcher/launcher_app.h"
#include "tests/unit/fake_platform.h"

// A failed check of the fake ends the run as an abort, whose input libFuzzer keeps.
struct AbortOnFailure : testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult& r) override { CHECK(!r.failed()); }
};

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    testing::UnitTest::GetInstance()->listeners().Append(new AbortOnFailure);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // Which children need rights the launcher lacks, and what the prompt then gives.
    const std::string admin = input.PickValueInArray({"", "Setup.exe", "Chipburn.exe"});
    const char shell = input.PickValueInArray({'p', 'n', 'c'});
    World world = {input.ConsumeRandomLengthString(),  // the launcher's own path
                         input.ConsumeRandomLengthString(),  // the Windows directory
                         input.ConsumeRandomLengthString(),  // the manifest's Version
                         input.ConsumeBool(),                // code page 950
                         (LSTATUS)(input.ConsumeBool() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED),
                         input.ConsumeRandomLengthString(),        // the version subkey
                         input.ConsumeRemainingBytesAsString()};  // the bytes of Location
    world.admin = admin;
    world.shell = shell;
    auto run = [&] {
        g_world = world;
        CLauncherApp().InitInstance();
        return g_world.log;
    };
    CHECK(run() == run());
    return 0;
}
