// The argv split and program search with buffer sizes and line from the input. Storage of the
// line's length and a pointer per two bytes suffice; smaller buffers split alike or fail. A program
// found (the search only reads files) is a regular file, terminated in its buffer, found alike.
#include <sys/stat.h>

#include <vector>

#include "fuzz/fuzz.h"
#include "platform/posix/process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    auto byte = [&] { return input.ConsumeIntegral<uint8_t>(); };
    const size_t cbCut = byte(), cArgvCut = byte(), cbHost = byte();
    const std::string text = input.ConsumeRemainingBytesAsString();
    const char* pszLine = text.c_str();
    std::vector<char> storage(strlen(pszLine) + 1), cut(cbCut), host(cbHost), hostAgain(cbHost);
    std::vector<char*> argv(strlen(pszLine) / 2 + 2), argvCut(cArgvCut);
    size_t cArgs = 0, cArgsCut = 0;
    CHECK(SplitCommandLine(pszLine, storage.data(), storage.size(), argv.data(), argv.size(),
                           &cArgs) && argv[cArgs] == NULL);
    if (SplitCommandLine(pszLine, cut.data(), cbCut, argvCut.data(), cArgvCut, &cArgsCut)) {
        CHECK(cArgsCut == cArgs && argvCut[cArgs] == NULL);
        for (size_t i = 0; i < cArgs; ++i)
            CHECK(strcmp(argvCut[i], argv[i]) == 0);
    }
    struct stat st;
    const bool bFound = FindProgramInCommandLine(pszLine, host.data(), cbHost);
    CHECK(bFound == FindProgramInCommandLine(pszLine, hostAgain.data(), cbHost));
    CHECK(!bFound || (strnlen(host.data(), cbHost) < cbHost && host == hostAgain &&
                      stat(host.data(), &st) == 0 && S_ISREG(st.st_mode)));
    return 0;
}
