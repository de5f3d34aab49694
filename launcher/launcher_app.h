// The launcher's application object and the text it shares across its run.
#ifndef ROMGATE_LAUNCHER_LAUNCHER_APP_H
#define ROMGATE_LAUNCHER_LAUNCHER_APP_H

#include "../platform/framework.h"

// Size of each shared text buffer: at most 255 characters and the terminator.
#define TEXT_BUFFER_SIZE 256
// The packaged version is read with one byte less than its buffer holds: at
// most 254 characters of the manifest's value count. romgate-pack refuses a
// version the launcher would read cut.
#define PACKAGE_VERSION_READ_SIZE 255

// The directory of the launcher's executable, without a trailing backslash.
extern char g_szLauncherDir[TEXT_BUFFER_SIZE];
// The suite's install folder: the default on the Windows drive, then the
// folder the suite registered, exactly as stored.
extern char g_szSuiteLocation[TEXT_BUFFER_SIZE];
// The suite version packaged beside the launcher, read from its manifest.
extern char g_szPackageVersion[TEXT_BUFFER_SIZE];

class CLauncherApp : public CWinApp {
public:
    // The whole run: guards, manifest, suite check, installer, flash.
    // Answers FALSE on every path, so the process ends afterwards.
    BOOL InitInstance() override;
};

// Fills g_szLauncherDir from the executable's own path. FALSE when that path
// was cut short by the platform or its directory does not fit the buffer;
// g_szLauncherDir is then empty.
BOOL GetLauncherDirectory();

#endif  // ROMGATE_LAUNCHER_LAUNCHER_APP_H
