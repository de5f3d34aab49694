// The PE reader takes a program's facts only from bytes checked to lie in it: appending changes none.
#include "fuzz/fuzz.h"
#include "pack/pe_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes((const char*)data, size);
    PeFacts f, g;
    CHECK(!ReadPeFacts(bytes, &f) ||
          (ReadPeFacts(bytes + bytes, &g) && f.wMachine == g.wMachine && f.wMagic == g.wMagic &&
           f.wSubsystem == g.wSubsystem && f.bHasProductVersion == g.bHasProductVersion &&
           memcmp(f.productVersion, g.productVersion, sizeof(f.productVersion)) == 0 &&
           f.internalName == g.internalName));
    return 0;
}
