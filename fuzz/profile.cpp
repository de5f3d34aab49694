// The profile reader with the buffer size, section, key, default (each may be NULL) and text from
// the input: nothing written from the size on, terminated where its count says, the same twice.
#include "fuzz/fuzz.h"
#include "platform/posix/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const DWORD cch = input.ConsumeIntegral<uint8_t>(), nulls = input.ConsumeIntegral<uint8_t>();
    auto name = [&] { return input.ConsumeRandomLengthString(); };
    const std::string section = name(), key = name(), def = name();
    const std::string text = input.ConsumeRemainingBytesAsString();
    auto read = [&](std::string& out) {
        out.assign(cch + 16, '\xbd');
        const DWORD count = GetProfileStringFromText(
            text.data(), text.size(), nulls & 1 ? NULL : section.c_str(),
            nulls & 2 ? NULL : key.c_str(), nulls & 4 ? NULL : def.c_str(), &out[0], cch);
        CHECK(out.substr(cch) == std::string(16, '\xbd'));
        CHECK(cch == 0 ? count == 0 : count < cch && strlen(out.c_str()) == count);
        return count;
    };
    std::string out, again;
    CHECK(read(out) == read(again) && out == again);
    return 0;
}
