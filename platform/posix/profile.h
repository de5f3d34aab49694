// Profile (INI) files, read as GetPrivateProfileStringA reads them.
//
// Lines end at '\n' or '\r' (so "\r\n" and old Mac files both work). A line whose first non-blank
// byte is '[' and which holds a ']' opens the section named between the '[' and its last ']'
// (without one the line is ignored); a line starting with ';' is a comment; any other line is
// "key=value", split at the first '=' (without one it is a key with no value, whose lookup answers
// the default). Names and values lose the white space around them (^Z counts as white space, as
// Windows treats it); names compare ignoring ASCII case. Keys before the first section belong to
// the section named "". Only the first section of a name is searched and only its first key of the
// name counts, as Wine does. A UTF-8 byte-order mark at the start is skipped; with a UTF-16LE or
// UTF-16BE one the text is read as the UTF-8 it stands for (text.h says how).
//
// The text is read byte by byte with only the current line's state kept, so a file of any size or a
// line of any length costs no memory beyond the caller's buffer, and a long key is compared whole,
// never cut. Bad input still gets a defined answer, Wine's: a NUL byte ends a name or a value as it
// ends a C string (what the caller's string would show anyway), and binary noise is just lines that
// match nothing. The Windows tests hold the cases of tests/profile_corpus against Wine's answers.
#ifndef ROMGATE_POSIX_PROFILE_H
#define ROMGATE_POSIX_PROFILE_H

#include "platform/winapi.h"

// GetPrivateProfileStringA over the profile text pText[0..cbText) (NUL bytes allowed, no terminator
// needed). Gives the value, or the default (trailing spaces removed, NULL taken as "") when the
// section or key is missing, with one pair of matching quotes removed, cut to cchOut-1 characters
// and terminated; returns the characters written. cchOut 0 writes nothing. A NULL section or key
// answers an empty list ("\0\0"): names are not listed.
DWORD GetProfileStringFromText(const char* pText, size_t cbText, LPCSTR pszSection, LPCSTR pszKey,
                               LPCSTR pszDefault, LPSTR pszOut, DWORD cchOut);

// Gives the next piece of a profile text and its size in *pcb, or NULL at the end of the text.
typedef const char* (*ProfileTextSource)(void* pContext, size_t* pcb);

// GetProfileStringFromText over a text that pfnSource supplies in pieces of any size, asked for
// only until the answer is known.
DWORD GetProfileStringFromSource(LPCSTR pszSection, LPCSTR pszKey, LPCSTR pszDefault, LPSTR pszOut,
                                 DWORD cchOut, ProfileTextSource pfnSource, void* pContext);

#endif  // ROMGATE_POSIX_PROFILE_H
