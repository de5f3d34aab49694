// A minimal stand-in for the application framework the launcher was designed
// for: one global application object whose start-up hook does all the work.
//
// The object's constructor registers it; AfxWinMain, called by the entry
// point of each build (WinMain on Windows, main elsewhere), runs its
// InitInstance once. Command-line arguments and the show command are ignored.
#ifndef ROMGATE_PLATFORM_FRAMEWORK_H
#define ROMGATE_PLATFORM_FRAMEWORK_H

#include "winapi.h"

class CWinApp {
public:
    // Cannot fail: the application object is a global, constructed before
    // anything could catch what its constructor threw.
    CWinApp() noexcept;

    // The start-up hook. FALSE ends the process without a message loop.
    virtual BOOL InitInstance();

    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

protected:
    // Not virtual, and so not public: the application object is never
    // deleted, through a CWinApp pointer or otherwise. A virtual one would
    // bring a deleting destructor, and with it the C++ runtime's operator
    // delete, into both builds for nothing.
    ~CWinApp();
};

// The one application object, or NULL before it is constructed.
CWinApp* AfxGetApp();

// Runs the application's start-up hook once and gives the exit status.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine,
               int nCmdShow);

#endif  // ROMGATE_PLATFORM_FRAMEWORK_H
