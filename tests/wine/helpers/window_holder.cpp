// Holds a top-level window open, as the maker's other tools do while they run.
// Usage: window_holder <title>. The title is the whole command line (Wine
// hands it over with the quotes as typed, so one surrounding pair is
// dropped). Once the window exists, the file named by ROMGATE_TEST_READY is
// created; then the program serves its window until it is killed.
#include <windows.h>

#include <string.h>

// Copies the command line into pszTitle, without one surrounding pair of
// quotes, cut to the buffer.
static void TitleFromCommandLine(const char* pszCommandLine, char* pszTitle,
                                 size_t cbTitle)
{
    size_t cch = strlen(pszCommandLine);
    if (cch >= 2 && pszCommandLine[0] == '"' && pszCommandLine[cch - 1] == '"') {
        ++pszCommandLine;
        cch -= 2;
    }
    if (cch >= cbTitle)
        cch = cbTitle - 1;
    memcpy(pszTitle, pszCommandLine, cch);
    pszTitle[cch] = '\0';
}

// Creates the file named by ROMGATE_TEST_READY, if any.
static void SignalReady()
{
    char szPath[MAX_PATH];
    DWORD cch = GetEnvironmentVariableA("ROMGATE_TEST_READY", szPath,
                                        sizeof(szPath));
    if (cch == 0 || cch >= sizeof(szPath))
        return;
    HANDLE hFile = CreateFileA(szPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR pszCommandLine, int)
{
    char szTitle[256];
    TitleFromCommandLine(pszCommandLine, szTitle, sizeof(szTitle));

    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = hInstance;
    wc.lpszClassName = "RomgateTestWindowHolder";
    if (!RegisterClassA(&wc))
        return 1;
    HWND hWnd = CreateWindowExA(0, wc.lpszClassName, szTitle,
                                WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL,
                                NULL, hInstance, NULL);
    if (hWnd == NULL)
        return 1;
    ShowWindow(hWnd, SW_SHOWNORMAL);
    SignalReady();

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
