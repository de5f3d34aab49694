// Window lookup on the X server, message boxes and debugger output.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "platform/winapi.h"

// The few Xlib calls used, taken from libX11 at run time: the headers give only their types, so
// romgate starts (and finds no window) without X.
struct Xlib {
    decltype(&XOpenDisplay) OpenDisplay;
    decltype(&XCloseDisplay) CloseDisplay;
    decltype(&XDefaultRootWindow) DefaultRoot;
    decltype(&XQueryTree) QueryTree;
    decltype(&XInternAtom) InternAtom;
    decltype(&XGetWindowProperty) GetWindowProperty;
    decltype(&XFree) Free;
    decltype(&XSetErrorHandler) SetErrorHandler;
};

// What a search needs besides the window: the display, the calls, the atoms of the two title
// properties and the title looked for.
struct TitleSearch {
    const Xlib* pX;
    Display* pDisplay;
    Atom netWmName;
    Atom utf8String;
    const char* pszTitle;
};

template <typename T>
static bool LoadSymbol(void* pLibrary, const char* pszName, T* pFunction)
{
    *pFunction = reinterpret_cast<T>(dlsym(pLibrary, pszName));
    return *pFunction != NULL;
}

// Loads libX11 once and for all: it is never unloaded, since Xlib keeps process-wide state (error
// handlers, locks) that must outlive a display.
static bool LoadXlib(Xlib* pX)
{
    void* pLibrary = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    return pLibrary != NULL && LoadSymbol(pLibrary, "XOpenDisplay", &pX->OpenDisplay) &&
           LoadSymbol(pLibrary, "XCloseDisplay", &pX->CloseDisplay) &&
           LoadSymbol(pLibrary, "XDefaultRootWindow", &pX->DefaultRoot) &&
           LoadSymbol(pLibrary, "XQueryTree", &pX->QueryTree) &&
           LoadSymbol(pLibrary, "XInternAtom", &pX->InternAtom) &&
           LoadSymbol(pLibrary, "XGetWindowProperty", &pX->GetWindowProperty) &&
           LoadSymbol(pLibrary, "XFree", &pX->Free) &&
           LoadSymbol(pLibrary, "XSetErrorHandler", &pX->SetErrorHandler);
}

// A window may vanish between listing and reading it; Xlib's default handler would then exit.
static int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

// 1 when the window has the text property and it equals the title (ASCII letters in either case, as
// Windows compares titles), 0 when it differs, -1 when the window has no such property.
static int CompareTitleProperty(const TitleSearch& search, Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long cItems = 0, cbAfter = 0;
    unsigned char* pData = NULL;
    if (search.pX->GetWindowProperty(search.pDisplay, window, property, 0, 1024, False, type,
                                     &actualType, &format, &cItems, &cbAfter, &pData) != Success)
        return -1;
    int result = actualType == None ? -1 : 0;
    if (pData != NULL && format == 8 && cbAfter == 0 && cItems == strlen(search.pszTitle) &&
        strncasecmp((const char*)pData, search.pszTitle, cItems) == 0)
        result = 1;
    if (pData != NULL)
        search.pX->Free(pData);
    return result;
}

static bool HasTitle(const TitleSearch& search, Window window)
{
    int result = CompareTitleProperty(search, window, search.netWmName, search.utf8String);
    if (result < 0)
        result = CompareTitleProperty(search, window, XA_WM_NAME, AnyPropertyType);
    return result > 0;
}

// Looks at the children of a window, and down to depth levels below it: a window manager puts each
// client window inside a frame of its own.
static Window FindTitledChild(const TitleSearch& search, Window parent, int depth)
{
    Window root = None, parentOfParent = None, found = None;
    Window* pChildren = NULL;
    unsigned int cChildren = 0;
    if (!search.pX->QueryTree(search.pDisplay, parent, &root, &parentOfParent, &pChildren,
                              &cChildren))
        return None;
    for (unsigned int i = 0; i < cChildren && found == None; i++) {
        if (HasTitle(search, pChildren[i]))
            found = pChildren[i];
        else if (depth > 1)
            found = FindTitledChild(search, pChildren[i], depth - 1);
    }
    if (pChildren != NULL)
        search.pX->Free(pChildren);
    return found;
}

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName)
{
    const char* pszDisplay = getenv("DISPLAY");
    Xlib x;
    // Window classes do not exist here; only a lookup by title can match.
    if (lpClassName != NULL || lpWindowName == NULL || pszDisplay == NULL ||
        pszDisplay[0] == '\0' || !LoadXlib(&x))
        return NULL;
    Display* pDisplay = x.OpenDisplay(NULL);
    if (pDisplay == NULL)
        return NULL;
    XErrorHandler previousHandler = x.SetErrorHandler(IgnoreXError);
    TitleSearch search = {&x, pDisplay, x.InternAtom(pDisplay, "_NET_WM_NAME", False),
                          x.InternAtom(pDisplay, "UTF8_STRING", False), lpWindowName};
    Window found = FindTitledChild(search, x.DefaultRoot(pDisplay), 3);
    x.CloseDisplay(pDisplay);
    x.SetErrorHandler(previousHandler);
    return (HWND)(uintptr_t)found;
}

int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT)
{
    const int kIdOk = 1;
    // A line that standard error does not take has nowhere else to go; the box is answered as if OK
    // was pressed all the same.
    (void)fprintf(stderr, "%s: %s\n", lpCaption != NULL ? lpCaption : "Error",
                  lpText != NULL ? lpText : "");
    return kIdOk;
}

// Appends one byte of debugger text to the line, escaped C-style when it is a control character or
// a backslash, so that a text is one line. The line is written out whenever it might not hold
// another escape. Writes are not checked: as on Windows, debugger output cannot fail its caller.
static void AppendEscaped(char* pszLine, size_t cbLine, size_t* pcch, unsigned char ch)
{
    static const char kEscaped[] = "\n\t\r\\";
    static const char kLetters[] = "ntr\\";
    const char* pEscape = ch != '\0' ? strchr(kEscaped, ch) : NULL;
    int cch;
    if (pEscape != NULL)
        cch = snprintf(pszLine + *pcch, cbLine - *pcch, "\\%c", kLetters[pEscape - kEscaped]);
    else if (ch < 0x20 || ch == 0x7F)
        cch = snprintf(pszLine + *pcch, cbLine - *pcch, "\\x%02x", ch);
    else
        cch = snprintf(pszLine + *pcch, cbLine - *pcch, "%c", ch);
    *pcch += (size_t)cch;
    if (*pcch + sizeof("\\xNN") >= cbLine) {
        (void)fwrite(pszLine, 1, *pcch, stderr);
        *pcch = 0;
    }
}

void OutputDebugStringA(LPCSTR lpOutputString)
{
    const char* pszFlag = getenv("ROMGATE_DEBUG");
    char szLine[1024];
    size_t cch = 0;
    if (pszFlag == NULL || pszFlag[0] == '\0' || lpOutputString == NULL)
        return;
    cch = (size_t)snprintf(szLine, sizeof(szLine), "debug: ");
    for (const char* p = lpOutputString; *p != '\0'; p++)
        AppendEscaped(szLine, sizeof(szLine), &cch, (unsigned char)*p);
    szLine[cch++] = '\n';
    (void)fwrite(szLine, 1, cch, stderr);
}
