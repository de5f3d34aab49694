// Three versions from the input: each read alike with and without its trace, and ordered
// strictly: never newer than itself, antisymmetric, transitive.
#include "fuzz/fuzz.h"
#include "launcher/suite_check.h"
#include "tests/unit/fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    VersionTriple v[3];
    for (VersionTriple& version : v) {
        std::string text = input.ConsumeRandomLengthString(), again = text;
        version = ParseVersionText(&text[0], false);
        const VersionTriple traced = ParseVersionText(&again[0], true);
        CHECK(memcmp(&version, &traced, sizeof(version)) == 0);
    }
    g_world.log.clear();  // the trace, as the scripted machine keeps it
    for (const VersionTriple& a : v)
        for (const VersionTriple& b : v)
            for (const VersionTriple& c : v)
                CHECK(!IsNewerVersion(a, a) && (!IsNewerVersion(a, b) || !IsNewerVersion(b, a)) &&
                      (!IsNewerVersion(a, b) || !IsNewerVersion(b, c) || IsNewerVersion(a, c)));
    return 0;
}
