#include "framework.h"

#include <stddef.h>

static CWinApp* g_pApp = NULL;

CWinApp::CWinApp() noexcept
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = NULL;
}

BOOL CWinApp::InitInstance()
{
    return FALSE;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* pApp = AfxGetApp();
    if (pApp != NULL)
        pApp->InitInstance();
    // There is no message loop here: the launcher owns no window, and the
    // status is the one a start-up hook answering FALSE ends with.
    return 0;
}
