// The signature reader on any bytes: a time it gives is one well-formed time, and no time stamp
// verifies when nothing is trusted.
#include "fuzz/fuzz.h"
#include "pack/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes((const char*)data, size);
    SignatureFacts facts;
    std::string why;
    if (ReadSignatureFacts(bytes, &facts, &why) && facts.bTimeStamped)
        CHECK(facts.bPresent && facts.timeStamped.size() == strlen("2026-12-07 12:00:00 UTC"));
    CHECK(!VerifyTimeStamp(bytes, "", &why));
    return 0;
}
