// The registry file reader with the output buffers' size and the file from the input: each value's
// name and data decode into that size as the start of their whole decoding, never past it, and
// the same each time; a decoded name names its value, and a key line has its root.
#include <memory>

#include "fuzz/fuzz.h"
#include "platform/posix/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const size_t cbCut = input.ConsumeIntegral<uint8_t>();
    const std::string file = input.ConsumeRemainingBytesAsString();
    // Decodes whole, then into a buffer of exactly cbCut bytes.
    auto decodeWholeAndCut = [&](auto decode) {
        std::string whole(decode(NULL, 0), '\0');
        std::unique_ptr<char[]> cut(new char[cbCut]);
        CHECK(decode(&whole[0], whole.size()) == whole.size() &&
              decode(cut.get(), cbCut) == whole.size());
        CHECK(memcmp(cut.get(), whole.data(), cbCut < whole.size() ? cbCut : whole.size()) == 0);
        return whole;
    };
    LSTATUS status;
    // Skipped lines are named each once, in order, none longer than the file's text.
    struct {
        size_t nLast, cchMost;
    } skipped = {0, file.size() * 3 / 2};
    RegistryText* pText = ReadRegistryText(
        file.data(), file.size(),
        [](void* p, size_t n, const char* pch, size_t cch) {
            auto* pSkipped = (decltype(skipped)*)p;
            CHECK(n > pSkipped->nLast && pch != NULL && cch > 0 && cch <= pSkipped->cchMost);
            pSkipped->nLast = n;
        },
        &skipped, &status);
    CHECK((pText != NULL) == (status == ERROR_SUCCESS));
    RegistryLine line;
    for (size_t i = 0; pText != NULL && NextRegistryLine(pText, &i, &line);) {
        CHECK(!line.bKey || (line.hRoot && line.pchPath + line.cchPath < pText->pchLines + i));
        if (line.bKey)
            continue;
        const std::string name = decodeWholeAndCut(
            [&](char* p, size_t cb) { return DecodeRegistryName(line, p, cb); });
        CHECK(IsRegistryValueNamed(line, name.c_str()));
        DWORD dwType;
        decodeWholeAndCut([&](char* p, size_t cb) {
            return DecodeRegistryData(pText, line, &dwType, (BYTE*)p, cb);
        });
    }
    FreeRegistryText(pText);
    return 0;
}
