// Holds a top-level window open, as the maker's other tools do while they
// run. Usage: window_holder <title> <file>. Creates the file once the window
// exists, then serves the window until it is killed.
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    HWND hWnd = CreateWindowExA(0, "STATIC", argv[1],
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                100, NULL, NULL, NULL, NULL);
    FILE* f = hWnd != NULL ? fopen(argv[2], "wb") : NULL;
    if (f == NULL)
        return 1;
    fclose(f);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
