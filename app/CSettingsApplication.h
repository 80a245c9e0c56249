#pragma once
// The program's own settings: a block of view settings, the main window's placement and
// the display units. Constructing the object loads them, destroying it saves them, so
// changes made while the program runs are written once, at exit.
//
// Where they live (the settings store, see SettingsStore.h):
//   per user   Software\Varko Technologies Corporation\Odomira\Settings
//              "View Settings" (44 bytes), "Window Position" (44 bytes),
//              "Refresh Minutes" (32-bit; only while a timed refresh is on)
//   per machine Software\Varko Technologies Corporation\Odomira (the key name ends in a
//              backslash)
//              "Display Units" (text, no terminating zero)
// Only an administrator may write the machine-wide units. An ordinary user's choice is
// kept under the per-user key as "Display Units" instead, and a per-user value found
// there wins over the machine-wide one, so the choice survives a restart.
//
// Threading: user-interface thread only.
#include "CString.h"
#include "WinTypes.h"

#include <cstdint>

// The window-placement record, 44 bytes of 32-bit little-endian fields.
struct WINDOWPLACEMENT
{
    std::uint32_t length;
    std::uint32_t flags;
    std::uint32_t showCmd;
    std::int32_t ptMinPosition[2];
    std::int32_t ptMaxPosition[2];
    // left, top, right, bottom
    std::int32_t rcNormalPosition[4];
};
static_assert(sizeof(WINDOWPLACEMENT) == 44);

constexpr std::uint32_t SW_SHOWNORMAL = 1;
constexpr std::uint32_t SW_SHOWMINIMIZED = 2;
constexpr std::uint32_t SW_SHOWMAXIMIZED = 3;

class CSettingsApplication
{
public:
    static constexpr int VIEW_SETTINGS_COUNT = 11;

    CSettingsApplication();
    virtual ~CSettingsApplication();
    CSettingsApplication(const CSettingsApplication&) = delete;
    CSettingsApplication& operator=(const CSettingsApplication&) = delete;

    // A day: a timed refresh less often than that would rather be a cron job.
    static constexpr std::uint32_t MAX_REFRESH_MINUTES = 24 * 60;

    std::int32_t m_viewSettings[VIEW_SETTINGS_COUNT];
    WINDOWPLACEMENT m_windowPlacement;
    CString m_displayUnits;
    // How often the open window asks its printers again, so the odometer history keeps
    // going while nobody presses F5; 0 is never (the default).
    std::uint32_t m_refreshMinutes = 0;

private:
    void Load();
    void Save() const;

    // The machine-wide text as loaded, to tell whether a per-user value is still needed.
    CString m_machineDisplayUnits;
};

// The one settings object, created (and so loaded) on the first call.
CSettingsApplication& GetApplicationSettings();
// Saves and destroys the settings object at program exit; the next call of
// GetApplicationSettings loads them afresh.
void ReleaseApplicationSettings();
