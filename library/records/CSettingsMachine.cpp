#include "CSettingsMachine.h"

#include "SettingsStore.h"

const char* const CSettingsMachine::KEY = "Software\\Varko Technologies Corporation\\Pelmark\\";
const char* const CSettingsMachine::VALUE_MAX_DOWNLOADS = "MaxDownloads";

int CSettingsMachine::GetMaxDownloads()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 1;
    // Starts at 0 and stays so when the value is missing or unreadable: an installer
    // that made the key but no value thereby stops downloads, as it always has.
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, VALUE_MAX_DOWNLOADS, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        size != sizeof value)
        value = 0;
    RegCloseKey(key);
    return static_cast<int>(value);
}

void CSettingsMachine::SetMaxDownloads(int maxDownloads)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, "", REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD value = static_cast<DWORD>(maxDownloads);
    RegSetValueExA(key, VALUE_MAX_DOWNLOADS, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(key);
}
