#include "CSettingsApplication.h"

#include "SettingsStore.h"

#include <cstring>
#include <memory>

namespace
{
constexpr const char* kSettingsKey = "Software\\Varko Technologies Corporation\\Odomira\\Settings";
constexpr const char* kMachineKey = "Software\\Varko Technologies Corporation\\Odomira\\";
constexpr const char* kViewSettings = "View Settings";
constexpr const char* kWindowPosition = "Window Position";
constexpr const char* kDisplayUnits = "Display Units";
constexpr const char* kRefreshMinutes = "Refresh Minutes";
// The units are read into a buffer of this size; a longer value is ignored.
constexpr DWORD kUnitsBuffer = 64;

std::unique_ptr<CSettingsApplication>& settingsObject()
{
    static std::unique_ptr<CSettingsApplication> settings;
    return settings;
}

// A per-user value of at least `size` bytes, of which the first `size` are copied.
bool ReadUserBinary(const char* name, void* out, DWORD size)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD length = 0;
    bool ok = false;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &length) == ERROR_SUCCESS &&
        length >= size)
    {
        std::unique_ptr<BYTE[]> data(new BYTE[length]);
        if (RegQueryValueExA(key, name, nullptr, &type, data.get(), &length) == ERROR_SUCCESS &&
            length >= size)
        {
            std::memcpy(out, data.get(), size);
            ok = true;
        }
    }
    RegCloseKey(key);
    return ok;
}

void WriteUserValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void DeleteUserValue(const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// A text value of up to 63 characters; false when missing or too long.
bool ReadUnits(HKEY root, const char* keyName, CString& units)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    // The store hands text back with its terminating zero, so 63 characters fill the
    // 64 bytes; one byte more keeps the end of the text inside the buffer in any case.
    char buffer[kUnitsBuffer + 1] = {};
    DWORD length = kUnitsBuffer;
    DWORD type = 0;
    const bool ok = RegQueryValueExA(key, kDisplayUnits, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer), &length) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!ok)
        return false;
    // The value is stored without its terminating zero; one that carries it ends there.
    units = CString(buffer, static_cast<int>(strnlen(buffer, length)));
    return true;
}
} // namespace

CSettingsApplication::CSettingsApplication() : m_viewSettings{}, m_windowPlacement{}
{
    Load();
}

CSettingsApplication::~CSettingsApplication()
{
    Save();
}

void CSettingsApplication::Load()
{
    if (!ReadUserBinary(kViewSettings, m_viewSettings, sizeof m_viewSettings))
    {
        for (int i = 0; i < 4; ++i)
            m_viewSettings[i] = -1;
    }
    static constexpr std::int32_t kNegativeDefaults[4] = {175, 300, 275, 150};
    for (int i = 0; i < 4; ++i)
        if (m_viewSettings[i] < 0)
            m_viewSettings[i] = kNegativeDefaults[i];
    static constexpr std::int32_t kPositiveDefaults[3] = {300, 50, 450};
    for (int i = 0; i < 3; ++i)
        if (m_viewSettings[8 + i] < 1)
            m_viewSettings[8 + i] = kPositiveDefaults[i];

    if (!ReadUserBinary(kWindowPosition, &m_windowPlacement, sizeof m_windowPlacement))
        m_windowPlacement.length = 0;

    std::uint32_t minutes = 0;
    if (ReadUserBinary(kRefreshMinutes, &minutes, sizeof minutes) && minutes <= MAX_REFRESH_MINUTES)
        m_refreshMinutes = minutes;

    if (ReadUnits(HKEY_LOCAL_MACHINE, kMachineKey, m_machineDisplayUnits))
        m_displayUnits = m_machineDisplayUnits;
    CString own;
    if (ReadUnits(HKEY_CURRENT_USER, kSettingsKey, own))
        m_displayUnits = own;
}

void CSettingsApplication::Save() const
{
    WriteUserValue(kViewSettings, REG_BINARY, m_viewSettings, sizeof m_viewSettings);
    if (m_windowPlacement.length != 0)
        WriteUserValue(kWindowPosition, REG_BINARY, &m_windowPlacement, sizeof m_windowPlacement);
    // Off is no value at all, as on a first start.
    if (m_refreshMinutes != 0)
        WriteUserValue(kRefreshMinutes, REG_DWORD, &m_refreshMinutes, sizeof m_refreshMinutes);
    else
        DeleteUserValue(kRefreshMinutes);

    const CString units = m_displayUnits.Left(static_cast<int>(kUnitsBuffer) - 1);
    bool machineWritten = false;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMachineKey, 0, "", REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS)
    {
        machineWritten = RegSetValueExA(key, kDisplayUnits, 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(units.GetString()),
                                        static_cast<DWORD>(units.GetLength())) == ERROR_SUCCESS;
        RegCloseKey(key);
    }

    // The per-user copy exists only while it says something the machine-wide value
    // does not: after a machine-wide write, or when the user's choice equals what the
    // machine holds, it goes, so a later machine-wide change reaches this user again.
    if (!machineWritten && units.Compare(m_machineDisplayUnits.GetString()) != 0)
    {
        WriteUserValue(kDisplayUnits, REG_SZ, units.GetString(),
                       static_cast<DWORD>(units.GetLength()));
        return;
    }
    DeleteUserValue(kDisplayUnits);
}

CSettingsApplication& GetApplicationSettings()
{
    auto& settings = settingsObject();
    if (!settings)
        settings = std::make_unique<CSettingsApplication>();
    return *settings;
}

void ReleaseApplicationSettings()
{
    settingsObject().reset();
}
