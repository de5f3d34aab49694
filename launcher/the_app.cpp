#include "launcher_app.h"

// The one application object, constructed before AfxWinMain runs.
CLauncherApp theApp;
