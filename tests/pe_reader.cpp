// Prints romgate-pack's PE facts of each file named, a line each, as pe/pe_diff.py reads them.
#include <stdio.h>

#include <fstream>
#include <iterator>

#include "pack/pe_facts.h"

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        std::ifstream in(argv[i], std::ios::binary);
        PeFacts f;
        const bool bProgram = ReadPeFacts({std::istreambuf_iterator<char>(in), {}}, &f);
        const uint16_t* v = f.productVersion;
        printf(bProgram ? "%s 1 0x%x 0x%x %u %d %u.%u.%u.%u %s\n" : "%s 0\n", argv[i], f.wMachine,
               f.wMagic, f.wSubsystem, f.bHasProductVersion, v[0], v[1], v[2], v[3],
               f.internalName.empty() ? "-" : f.internalName.c_str());
    }
    return 0;
}
