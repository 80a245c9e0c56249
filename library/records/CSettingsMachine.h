#pragma once
// The machine-wide limit of simultaneous downloads, kept in the settings store under
// the local-machine root, key "Software\Varko Technologies Corporation\Pelmark\", value
// "MaxDownloads" (a 32-bit number). Made on the stack for each use; holds nothing.
//
// Threading: any thread; each call opens and closes the key itself.
#include "WinTypes.h"

class CSettingsMachine
{
public:
    CSettingsMachine() = default;
    virtual ~CSettingsMachine() = default;

    // 1 when the key does not exist; 0 when the key exists but the value does not.
    int GetMaxDownloads();
    // A user without the right to write there changes nothing and is told nothing.
    void SetMaxDownloads(int maxDownloads);

    static const char* const KEY;
    static const char* const VALUE_MAX_DOWNLOADS;
};
