#include "pack/program_rules.h"

#include <algorithm>
#include <iterator>

const char kNotAnInstaller[] = "not a Windows GUI or console program for i386, AMD64 or ARM64";
const char kNotALauncher[] = "not a 32-bit Windows GUI program (PE32, i386)";

bool IsInstallerProgram(const PeFacts& facts)
{
    const unsigned machines[] = {PE_MACHINE_I386, PE_MACHINE_AMD64, PE_MACHINE_ARM64};
    return std::find(std::begin(machines), std::end(machines), facts.wMachine) !=
               std::end(machines) &&
           (facts.wSubsystem == PE_SUBSYSTEM_GUI || facts.wSubsystem == PE_SUBSYSTEM_CONSOLE);
}

bool IsLauncherProgram(const PeFacts& facts)
{
    return facts.wMachine == PE_MACHINE_I386 && facts.wMagic == PE_MAGIC_PE32 &&
           facts.wSubsystem == PE_SUBSYSTEM_GUI;
}

std::string DescribeInstaller(const PeFacts& facts, const std::string& versionRead,
                              std::string* pWarning)
{
    pWarning->clear();
    if (!facts.bHasProductVersion)
        return "installer, no version resource";
    const uint16_t* v = facts.productVersion;
    std::string declared = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                           std::to_string(v[2]) + "." + std::to_string(v[3]);
    // Its first three numbers are the suite's version; the fourth is a build.
    if (declared.compare(0, versionRead.size() + 1, versionRead + ".") == 0)
        return "installer, ProductVersion " + declared;
    *pWarning = "declares ProductVersion " + declared + ", not " + versionRead;
    return "installer, ProductVersion " + declared + " (differs: warned)";
}
