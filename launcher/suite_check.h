// Whether the suite packaged beside the launcher must be installed first.
#ifndef ROMGATE_LAUNCHER_SUITE_CHECK_H
#define ROMGATE_LAUNCHER_SUITE_CHECK_H

#include "../platform/winapi.h"

// A suite version, compared major first, then minor, then patch.
struct VersionTriple {
    int nMajor;
    int nMinor;
    int nPatch;
};

// Parses dotted version text in place (the text is cut by the tokenizer).
// Runs of dots count as one separator, components after the third are
// ignored, missing ones are 0, each is read like atoi and saturates at the
// int range. With bTraceComponents, each component's text goes to the
// debugger output as soon as it is taken.
VersionTriple ParseVersionText(char* pszText, bool bTraceComponents);

// TRUE when a is newer than b.
bool IsNewerVersion(const VersionTriple& a, const VersionTriple& b);

// True when no suite is registered or the packaged one is newer than the
// registered one. Refreshes g_szSuiteLocation from the registered install
// folder and traces both versions to the debugger output.
bool IsSetupRequired(const char* pszPackageVersion);

#endif  // ROMGATE_LAUNCHER_SUITE_CHECK_H
