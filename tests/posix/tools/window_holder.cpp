// Holds a top-level window with the title given as its argument open until
// it is killed, so that tests can look for it. Prints "ready" once the
// server knows the window and its title.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: window_holder TITLE\n");
        return 2;
    }
    Display* pDisplay = XOpenDisplay(NULL);
    if (pDisplay == NULL) {
        fprintf(stderr, "window_holder: cannot open the display\n");
        return 1;
    }
    Window window = XCreateSimpleWindow(pDisplay, DefaultRootWindow(pDisplay),
                                        0, 0, 200, 100, 0, 0, 0);
    // Both title properties: newer lookups read _NET_WM_NAME, older WM_NAME.
    XStoreName(pDisplay, window, argv[1]);
    XChangeProperty(pDisplay, window, XInternAtom(pDisplay, "_NET_WM_NAME", False),
                    XInternAtom(pDisplay, "UTF8_STRING", False), 8,
                    PropModeReplace, (const unsigned char*)argv[1],
                    (int)strlen(argv[1]));
    XMapWindow(pDisplay, window);
    XSync(pDisplay, False);
    printf("ready\n");
    fflush(stdout);
    for (;;)
        pause();
}
