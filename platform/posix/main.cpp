// The romgate entry point: the framework runs the application object.
#include "platform/framework.h"

// Arguments are ignored: the launcher takes none.
int main(int, char**)
{
    return AfxWinMain(NULL, NULL, (LPSTR) "", 1 /* show normal */);
}
