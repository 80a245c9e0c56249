#pragma once
// What the store and forecast tests share: a private folder per test, and readings
// made up by the hour.
#include "CReadingStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

constexpr UtcMillis kHour = 3600 * 1000;
constexpr UtcMillis kDay = 24 * kHour;
// 2024-03-01T00:00:00Z: a fixed start keeps dates in the tests readable.
constexpr UtcMillis kStart = 1709251200000;

class StoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* root = std::getenv("VARKO_SETTINGS_ROOT");
        ASSERT_TRUE(root && *root) << "tests run over a private settings root";
        m_dir = std::string(root) + "/" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_path = m_dir + "/odometers.sqlite";
    }

    static OdometerReading Reading(const std::string& serial, UtcMillis time,
                                   std::optional<long long> head, std::optional<long long> total,
                                   OdometerUnit unit = OdometerUnit::inches)
    {
        OdometerReading r;
        r.time = time;
        r.serial = serial;
        r.name = "Printer " + serial;
        r.model = "RX400";
        r.port = "COM3";
        r.head = head;
        r.total = total;
        r.unit = unit;
        return r;
    }

    std::string m_dir;
    std::string m_path;
};
