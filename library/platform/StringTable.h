#pragma once
// String tables by number, as resources are looked up: each module (the library, the
// program) registers its table once, and a lookup searches them all, so a library
// string id resolves in whichever program shows it.
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

struct StringTableEntry
{
    UINT id;
    const char* text;
};

VARKO_EXPORT void RegisterStringTable(const StringTableEntry* entries, int count);
// False (and an empty text) when no registered table holds the id.
VARKO_EXPORT bool LoadStringById(UINT id, CString& text);
VARKO_EXPORT CString LoadStringById(UINT id);
