// Bounded formatting as Windows' <strsafe.h> gives it: the text is always terminated, and one that
// does not fit whole is cut and reported.
#include <stdarg.h>
#include <stdio.h>

#include "platform/winapi.h"

// NOLINTNEXTLINE(cert-dcl50-cpp): Windows' own signature, as the core calls it
HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...)
{
    if (cchDest == 0 || cchDest > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    va_list args;
    va_start(args, pszFormat);
    int cch = vsnprintf(pszDest, cchDest, pszFormat, args);
    va_end(args);
    if (cch >= 0 && (size_t)cch < cchDest)
        return S_OK;
    pszDest[cchDest - 1] = '\0';
    return STRSAFE_E_INSUFFICIENT_BUFFER;
}
