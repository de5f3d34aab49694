// Answers the message boxes other programs show, the way a user would, and
// records what each looked like. Usage: box_closer <output file> <seconds>.
// Every dialog box (class #32770) that appears within the time is recorded
// as one line: the owning program's file name, the caption, the text, the
// buttons as id:text separated by ',', and 1 when it shows an icon, all
// separated by tabs. Then its OK is pressed.
#define _WIN32_WINNT 0x0600
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct BoxRecord {
    char szText[512];
    char szButtons[512];
    bool bIcon;
};

// The file name of the program that owns hWnd, or "?".
static void OwnerName(HWND hWnd, char* pszName, DWORD cbName)
{
    snprintf(pszName, cbName, "?");
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hWnd, &dwProcessId);
    HANDLE hProcess =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwProcessId);
    if (hProcess == NULL)
        return;
    char szPath[MAX_PATH];
    DWORD cch = sizeof(szPath);
    if (QueryFullProcessImageNameA(hProcess, 0, szPath, &cch)) {
        const char* pszSlash = strrchr(szPath, '\\');
        snprintf(pszName, cbName, "%s", pszSlash ? pszSlash + 1 : szPath);
    }
    CloseHandle(hProcess);
}

// Only what the user can see counts: the dialog template may hold hidden
// controls that this box does not use.
static BOOL CALLBACK RecordChild(HWND hChild, LPARAM lParam)
{
    BoxRecord* pRecord = (BoxRecord*)lParam;
    if (!IsWindowVisible(hChild))
        return TRUE;
    char szClass[64];
    char szText[256];
    GetClassNameA(hChild, szClass, sizeof(szClass));
    GetWindowTextA(hChild, szText, sizeof(szText));
    LONG lStyle = GetWindowLongA(hChild, GWL_STYLE);
    size_t cchButtons = strlen(pRecord->szButtons);

    if (lstrcmpiA(szClass, "Button") == 0)
        snprintf(pRecord->szButtons + cchButtons,
                 sizeof(pRecord->szButtons) - cchButtons, "%s%d:%s",
                 cchButtons ? "," : "", GetDlgCtrlID(hChild), szText);
    else if (lstrcmpiA(szClass, "Static") == 0 &&
             (lStyle & SS_TYPEMASK) == SS_ICON)
        pRecord->bIcon |= SendMessageA(hChild, STM_GETICON, 0, 0) != 0;
    else if (lstrcmpiA(szClass, "Static") == 0)
        snprintf(pRecord->szText, sizeof(pRecord->szText), "%s", szText);
    return TRUE;
}

// Appends the record of one dialog box to pszOutput.
static void RecordBox(HWND hBox, const char* pszOutput)
{
    BoxRecord record;
    memset(&record, 0, sizeof(record));
    EnumChildWindows(hBox, RecordChild, (LPARAM)&record);
    char szOwner[MAX_PATH];
    char szCaption[256];
    OwnerName(hBox, szOwner, sizeof(szOwner));
    GetWindowTextA(hBox, szCaption, sizeof(szCaption));

    FILE* f = fopen(pszOutput, "ab");
    if (f == NULL)
        return;
    fprintf(f, "%s\t%s\t%s\t%s\t%d\n", szOwner, szCaption, record.szText,
            record.szButtons, record.bIcon ? 1 : 0);
    fclose(f);
}

static HWND g_handled[16];
static int g_nHandled = 0;

static bool IsHandled(HWND hWnd)
{
    for (int i = 0; i < g_nHandled; ++i)
        if (g_handled[i] == hWnd)
            return true;
    return false;
}

// EnumWindows callback: stores the first visible dialog box not yet
// answered into *(HWND*)lParam.
static BOOL CALLBACK FindNewBox(HWND hWnd, LPARAM lParam)
{
    char szClass[16];
    if (IsWindowVisible(hWnd) && GetClassNameA(hWnd, szClass, sizeof(szClass)) &&
        strcmp(szClass, "#32770") == 0 && !IsHandled(hWnd)) {
        *(HWND*)lParam = hWnd;
        return FALSE;
    }
    return TRUE;
}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    DWORD dwDeadline = GetTickCount() + (DWORD)atoi(argv[2]) * 1000;
    while ((LONG)(dwDeadline - GetTickCount()) > 0) {
        HWND hBox = NULL;
        EnumWindows(FindNewBox, (LPARAM)&hBox);
        if (hBox == NULL || g_nHandled == 16) {
            Sleep(50);
            continue;
        }
        RecordBox(hBox, argv[1]);
        g_handled[g_nHandled++] = hBox;
        PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return 0;
}
