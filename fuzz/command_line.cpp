// The argv split and the program search's names with buffer sizes and line from the input.
// Storage of the line's length and a pointer per two bytes suffice; smaller buffers split alike or
// fail. Each name tried is terminated in its buffer and is the line's start (after its quote), up
// to a blank, with ".exe" or not; names come in growing order, at most one per byte and the end.
#include <vector>

#include "fuzz/fuzz.h"
#include "platform/posix/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    auto byte = [&] { return input.ConsumeIntegral<uint8_t>(); };
    const size_t cbCut = byte(), cArgvCut = byte(), cbHost = byte();
    const std::string text = input.ConsumeRemainingBytesAsString();
    const char* pszLine = text.c_str();
    std::vector<char> storage(strlen(pszLine) + 1), cut(cbCut), host(cbHost);
    std::vector<char*> argv(strlen(pszLine) / 2 + 2), argvCut(cArgvCut);
    size_t cArgs = 0, cArgsCut = 0;
    CHECK(SplitCommandLine(pszLine, storage.data(), storage.size(), argv.data(), argv.size(),
                           &cArgs) && argv[cArgs] == NULL);
    if (SplitCommandLine(pszLine, cut.data(), cbCut, argvCut.data(), cArgvCut, &cArgsCut)) {
        CHECK(cArgsCut == cArgs && argvCut[cArgs] == NULL);
        for (size_t i = 0; i < cArgs; ++i)
            CHECK(strcmp(argvCut[i], argv[i]) == 0);
    }
    const bool bQuoted = pszLine[0] == '"';
    const char* pszStart = pszLine + bQuoted;
    const size_t cchLine = strlen(pszStart);
    size_t iNext = 0, cNames = 0, cchLast = 0;
    while (cbHost > 0 && NextProgramName(pszLine, &iNext, host.data(), cbHost)) {
        const size_t cch = strnlen(host.data(), cbHost);
        CHECK(cch < cbHost && ++cNames <= cchLine + 2);
        const bool bAsWritten = cch <= cchLine && memcmp(pszStart, host.data(), cch) == 0;
        CHECK(bAsWritten || (cch > 4 && strcmp(&host[cch - 4], ".exe") == 0));
        const size_t cchName = bAsWritten ? cch : cch - 4;
        CHECK(cchName > 0 && cchName <= cchLine && memcmp(pszStart, host.data(), cchName) == 0);
        CHECK(strchr(bQuoted ? "\"" : " \t", pszStart[cchName]) != NULL);
        CHECK(cNames == 1 || (!bQuoted && cchName > cchLast));
        cchLast = cchName;
    }
    return 0;
}
