#pragma once
// Reading and writing the program's settings-store values directly, as another program
// (or a hand edit) would, for seeding and checking what the program stores.
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <vector>

inline constexpr const char* kUserSettingsKey =
    "Software\\Varko Technologies Corporation\\Odomira\\Settings";
inline constexpr const char* kMachineSettingsKey =
    "Software\\Varko Technologies Corporation\\Odomira\\";

inline void WriteStoreValue(HKEY root, const char* keyName, const char* value, DWORD type,
                            const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, value, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Empty when the key or the value is missing. Text comes with its terminating zero.
inline std::vector<BYTE> ReadStoreValue(HKEY root, const char* keyName, const char* value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    DWORD size = 0;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (RegQueryValueExA(key, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS)
    {
        data.resize(size);
        if (RegQueryValueExA(key, value, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            data.clear();
    }
    RegCloseKey(key);
    return data;
}
