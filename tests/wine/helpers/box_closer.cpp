// Answers message boxes as a user would. Usage: box_closer <file> <seconds>.
// Each dialog box (class #32770) that appears in time is logged in the file:
// caption, text, buttons as id:text separated by ',', and 1 if it shows an
// icon (else 0), separated by tabs. Then its OK is pressed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char g_szText[512], g_szButtons[512];
static int g_nIcon;

// Only visible controls count: the dialog holds every button a box may need.
static BOOL CALLBACK AddControl(HWND hControl, LPARAM)
{
    char szClass[16], szText[256];
    size_t cch = strlen(g_szButtons);
    if (!IsWindowVisible(hControl) ||
        !GetClassNameA(hControl, szClass, sizeof(szClass)))
        return TRUE;
    GetWindowTextA(hControl, szText, sizeof(szText));
    if (lstrcmpiA(szClass, "Button") == 0)
        snprintf(g_szButtons + cch, sizeof(g_szButtons) - cch, "%s%d:%s",
                 cch ? "," : "", GetDlgCtrlID(hControl), szText);
    else if ((GetWindowLongA(hControl, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        g_nIcon |= SendMessageA(hControl, STM_GETICON, 0, 0) != 0;
    else
        snprintf(g_szText, sizeof(g_szText), "%s", szText);
    return TRUE;
}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    HWND hBox, hLast = NULL;
    char szCaption[256];
    for (DWORD dwStart = GetTickCount();
         GetTickCount() - dwStart < atoi(argv[2]) * 1000u; Sleep(50)) {
        // The first visible box not answered yet; one being closed may linger.
        for (hBox = NULL; (hBox = FindWindowExA(NULL, hBox, "#32770", NULL));)
            if (hBox != hLast && IsWindowVisible(hBox))
                break;
        FILE* f = hBox != NULL ? fopen(argv[1], "ab") : NULL;
        if (f == NULL)
            continue;
        g_szText[0] = g_szButtons[0] = '\0';
        g_nIcon = 0;
        EnumChildWindows(hBox, AddControl, 0);
        GetWindowTextA(hBox, szCaption, sizeof(szCaption));
        fprintf(f, "%s\t%s\t%s\t%d\n", szCaption, g_szText, g_szButtons,
                g_nIcon);
        fclose(f);
        hLast = hBox;
        PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return 0;
}
