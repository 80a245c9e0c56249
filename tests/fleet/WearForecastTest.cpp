// The head-wear forecast on made-up series, recorded through a real store so that head
// changes come out as the store makes them: steady wear, a replaced head, gaps, odd
// readings, and the head life.
#include "CWearForecast.h"
#include "FleetTestSupport.h"

#include <cmath>
#include <random>

namespace
{
class ForecastTest : public StoreTest
{
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        m_store = std::make_unique<CReadingStore>(m_path);
        m_store->Open();
    }
    // One fill per hour, from `from` for `hours`, with the head at head(t). The total
    // moves as printing moves it: by the head's advance, or from a new head's start.
    template <class Head> void Hourly(UtcMillis from, int hours, Head head)
    {
        Hourly(from, hours, head,
               [this, &head](UtcMillis t)
               {
                   const long long value = head(t);
                   m_total += value >= m_lastHead ? value - m_lastHead : value;
                   m_lastHead = value;
                   return m_total;
               });
    }
    template <class Head, class Total>
    void Hourly(UtcMillis from, int hours, Head head, Total total)
    {
        // One call is quicker than a fill per hour and compares each reading with the
        // one before it all the same.
        std::vector<OdometerReading> readings;
        for (int h = 0; h < hours; ++h)
        {
            const UtcMillis t = from + h * kHour;
            readings.push_back(Reading("A1", t, head(t), total(t)));
        }
        m_store->RecordFill(readings);
    }
    WearForecast Forecast(std::optional<double> life = std::nullopt, UtcMillis now = 0)
    {
        const PrinterHistory h = m_store->History(m_store->FindPrinter("A1", "", "")->id);
        return ForecastWear(h, life, now ? now : h.readings.back().lastSeen);
    }
    // 10 inches a day, in whole inches as printers report them.
    static long long Steady(UtcMillis t) { return std::llround(double(t - kStart) / kDay * 10); }

    std::unique_ptr<CReadingStore> m_store;
    long long m_total = 50000;
    long long m_lastHead = 0;
};
} // namespace

TEST_F(ForecastTest, SteadyWearGivesItsRateAndTheDateTheHeadLifeIsReached)
{
    Hourly(kStart, 30 * 24, Steady);
    WearForecast f = Forecast();
    ASSERT_TRUE(f.inchesPerDay);
    EXPECT_NEAR(*f.inchesPerDay, 10.0, 0.05);
    EXPECT_FALSE(f.daysLeft) << "no head life, no forecast of its end";
    EXPECT_FALSE(f.sinceKind);
    EXPECT_EQ(f.since, kStart);
    // Whole inches change about every 2.4 hours; equal hours are one entry each.
    EXPECT_EQ(f.readingsUsed, 301);

    // 1,000 inches of life: about 70.1 days after the last reading.
    const UtcMillis last = kStart + (30 * 24 - 1) * kHour;
    f = Forecast(1000, last + 10 * kDay);
    ASSERT_TRUE(f.daysLeft);
    EXPECT_NEAR(*f.daysLeft, (1000 - Steady(last)) / 10.0 - 10, 0.5);
    EXPECT_NEAR(double(*f.due - last) / kDay, (1000 - Steady(last)) / 10.0, 0.5);
    EXPECT_EQ(f.headInches, double(Steady(last)));

    // A head past its life is overdue.
    f = Forecast(100, last);
    EXPECT_LT(*f.daysLeft, 0);
}

TEST_F(ForecastTest, AReplacedHeadStartsTheRateAfresh)
{
    Hourly(kStart, 20 * 24, Steady);
    const UtcMillis change = kStart + 20 * kDay;
    // The new head wears at 4 inches a day, from 0.
    Hourly(change, 10 * 24,
           [&](UtcMillis t) { return std::llround(double(t - change) / kDay * 4); });
    WearForecast f = Forecast();
    EXPECT_EQ(f.since, change);
    EXPECT_EQ(f.sinceKind, HeadChangeKind::lowerValue);
    EXPECT_NEAR(*f.inchesPerDay, 4.0, 0.05);
    EXPECT_EQ(f.readingsUsed, 41) << "0 to 40 inches";

    // The same through Reset Head Odometer, an hour before the next reading.
    const UtcMillis reset = change + 10 * kDay + 30 * 60 * 1000;
    m_store->RecordHeadReset(Reading("A1", reset, std::nullopt, std::nullopt));
    Hourly(change + 10 * kDay + kHour, 48,
           [&](UtcMillis t) { return std::llround(double(t - reset) / kDay * 7); });
    f = Forecast();
    EXPECT_EQ(f.since, reset);
    EXPECT_EQ(f.sinceKind, HeadChangeKind::reset);
    EXPECT_NEAR(*f.inchesPerDay, 7.0, 0.3);
}

TEST_F(ForecastTest, GapsBetweenReadingsDoNotBendTheRate)
{
    // Readings on days 0-4, none for 20 days (the printer kept printing), then days 25-29.
    Hourly(kStart, 5 * 24, Steady);
    Hourly(kStart + 25 * kDay, 5 * 24, Steady);
    EXPECT_NEAR(*Forecast().inchesPerDay, 10.0, 0.1);
}

TEST_F(ForecastTest, IdleNightsGiveTheDailyRate)
{
    // The printer works 8 hours a day, 10 inches an hour; the nights merge into single
    // entries.
    Hourly(kStart, 28 * 24,
           [](UtcMillis t)
           {
               const UtcMillis day = (t - kStart) / kDay;
               const UtcMillis hour = (t - kStart) % kDay / kHour;
               return day * 80 + std::min<UtcMillis>(std::max<UtcMillis>(hour - 8, 0), 8) * 10;
           });
    const WearForecast f = Forecast();
    EXPECT_NEAR(*f.inchesPerDay, 80.0, 8.0) << "the daily rate, not the working hour's";
}

TEST_F(ForecastTest, OneOddReadingIsNeitherANewHeadNorAPullOnTheRate)
{
    // A reading far too high, then one far too low, in the middle of steady wear.
    const UtcMillis spike = kStart + 10 * kDay;
    const UtcMillis dip = kStart + 15 * kDay;
    Hourly(
        kStart, 30 * 24,
        [&](UtcMillis t)
        {
            if (t == spike)
                return 999999LL;
            if (t == dip)
                return 2LL;
            return Steady(t);
        },
        [](UtcMillis t) { return Steady(t) + 50000; });
    const PrinterHistory h = m_store->History(m_store->FindPrinter("A1", "", "")->id);
    ASSERT_EQ(h.changes.size(), 2u) << "the store records what it saw";
    const WearForecast f = Forecast();
    EXPECT_FALSE(f.sinceKind) << "the odd readings are not a new head";
    EXPECT_EQ(f.since, kStart);
    EXPECT_NEAR(*f.inchesPerDay, 10.0, 0.05);
}

TEST_F(ForecastTest, ARealHeadChangeRightAfterWearIsStillTaken)
{
    Hourly(kStart, 5 * 24, Steady);
    const UtcMillis change = kStart + 5 * kDay;
    // The new head: 0, 1, 2, ... and never back up to the old values.
    Hourly(change, 25, [&](UtcMillis t) { return (t - change) / kHour; });
    const WearForecast f = Forecast();
    EXPECT_EQ(f.since, change);
    EXPECT_NEAR(*f.inchesPerDay, 24.0, 0.1);
}

TEST_F(ForecastTest, ASecondHeadChangeRightAfterTheFirstIsTaken)
{
    // 4 inches an hour. The first new head reads 3 once and is replaced again before the
    // next reading, which shows 2: more than the value before it, as after an odd low
    // reading, but the total odometer says both were printed.
    Hourly(kStart, 3 * 24, [](UtcMillis t) { return (t - kStart) / kHour * 4; });
    const UtcMillis first = kStart + 3 * kDay;
    const UtcMillis second = first + kHour;
    Hourly(first, 1, [](UtcMillis) { return 3LL; });
    Hourly(second, 30, [&](UtcMillis t) { return 2 + (t - second) / kHour * 4; });
    const WearForecast f = Forecast();
    EXPECT_EQ(f.since, second);
    EXPECT_NEAR(*f.inchesPerDay, 96.0, 0.5);
}

TEST_F(ForecastTest, ARateNeedsThreeReadingsOverADayAndComesWithItsRange)
{
    // Two equal readings a second apart.
    m_store->RecordFill({Reading("B1", kStart, 100, 500)});
    m_store->RecordFill({Reading("B1", kStart + 1000, 100, 500)});
    const PrinterHistory b1 = m_store->History(m_store->FindPrinter("B1", "", "")->id);
    EXPECT_FALSE(ForecastWear(b1, 1000, kStart + 1000).inchesPerDay);
    // Three readings within two hours: still no rate to plan by.
    m_store->RecordFill({Reading("A1", kStart, 100, 500)});
    m_store->RecordFill({Reading("A1", kStart + kHour, 110, 510)});
    m_store->RecordFill({Reading("A1", kStart + 2 * kHour, 112, 512)});
    EXPECT_FALSE(Forecast(1000).inchesPerDay);
    // Over a day, with scatter: a range around the rate, and days left either side.
    m_store->RecordFill({Reading("A1", kStart + kDay, 125, 525)});
    m_store->RecordFill({Reading("A1", kStart + 2 * kDay, 130, 530)});
    m_store->RecordFill({Reading("A1", kStart + 3 * kDay, 150, 550)});
    const WearForecast f = Forecast(1000, kStart + 3 * kDay);
    ASSERT_TRUE(f.inchesPerDay);
    ASSERT_TRUE(f.inchesPerDayLow && f.inchesPerDayHigh);
    EXPECT_LT(*f.inchesPerDayLow, *f.inchesPerDay);
    EXPECT_GT(*f.inchesPerDayHigh, *f.inchesPerDay);
    ASSERT_TRUE(f.daysLeftLow && f.daysLeftHigh);
    EXPECT_LT(*f.daysLeftLow, *f.daysLeft);
    EXPECT_GT(*f.daysLeftHigh, *f.daysLeft);
    EXPECT_NEAR(*f.daysLeftLow, 850 / *f.inchesPerDayHigh, 1e-6);
}

TEST_F(ForecastTest, AHugeHeadLifeGivesNoDateInsteadOfWrapping)
{
    for (int d = 0; d < 3; ++d)
        m_store->RecordFill({Reading("A1", kStart + d * kDay, d, 100 + d)});
    const WearForecast f = Forecast(1e9, kStart + 2 * kDay);
    ASSERT_TRUE(f.daysLeft);
    EXPECT_NEAR(*f.daysLeft, 1e9 - 2, 1);
    EXPECT_FALSE(f.due) << "beyond the year 9999";
}

TEST_F(ForecastTest, MillimetreReadingsGiveInchesPerDayAndTooFewGiveNoRate)
{
    m_store->RecordFill({Reading("A1", kStart, 0, 0, OdometerUnit::millimeters)});
    WearForecast f = Forecast(500);
    EXPECT_FALSE(f.inchesPerDay) << "one reading";
    EXPECT_FALSE(f.daysLeft);
    EXPECT_EQ(f.headInches, 0.0);

    m_store->RecordFill({Reading("A1", kStart + kDay, 254, 254, OdometerUnit::millimeters)});
    m_store->RecordFill({Reading("A1", kStart + 2 * kDay, 508, 508, OdometerUnit::millimeters)});
    f = Forecast(500);
    EXPECT_NEAR(*f.inchesPerDay, 10.0, 1e-9);
    EXPECT_NEAR(*f.daysLeft, 48.0, 1e-6);

    // An idle printer has a rate of zero and no date.
    for (int d = 0; d < 6; ++d)
        m_store->RecordFill({Reading("B1", kStart + d * kDay, 700, d < 3 ? 900 : 901)});
    const PrinterHistory idle = m_store->History(m_store->FindPrinter("B1", "", "")->id);
    f = ForecastWear(idle, 1000, kStart + 6 * kDay);
    EXPECT_EQ(f.inchesPerDay, 0.0);
    EXPECT_EQ(f.spanDays, 5.0);
    EXPECT_FALSE(f.daysLeft);
}

TEST(TheilSen, ThinnedLongSeriesKeepTheSlopeThroughNoiseAndOutliers)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 5);
    std::vector<SlopePoint> points;
    for (int i = 0; i < 20000; ++i)
        points.push_back({double(i), 3.0 * i + noise(random)});
    // A fifth of the points are wild.
    for (int i = 0; i < 20000; i += 5)
        points[std::size_t(i)].y = 1e7;
    EXPECT_NEAR(*TheilSenSlope(points), 3.0, 0.05);
    points.resize(2000);
    EXPECT_NEAR(*TheilSenSlope(points, 0), 3.0, 0.05) << "unthinned";
    EXPECT_FALSE(TheilSenSlope({{1, 1}, {1, 5}}));
    EXPECT_FALSE(TheilSenSlope({}));
}
