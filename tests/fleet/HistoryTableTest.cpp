// Times as text, and the history rows that "Export CSV..." and `history --csv` write.
#include "HistoryTable.h"
#include "CsvReader.h"
#include "FleetTestSupport.h"
#include "UtcTime.h"

TEST(UtcTime, FormatsAndParsesUtcOnly)
{
    EXPECT_EQ(FormatUtc(kStart), "2024-03-01T00:00:00Z");
    EXPECT_EQ(FormatUtc(kStart - 1000), "2024-02-29T23:59:59Z");
    EXPECT_EQ(FormatUtc(-1000), "1969-12-31T23:59:59Z");
    EXPECT_EQ(FormatUtcDate(kStart + 5 * kDay + 13 * kHour), "2024-03-06");

    EXPECT_EQ(ParseUtc("2024-03-01"), kStart);
    EXPECT_EQ(ParseUtc("2024-03-01", true), kStart + kDay - 1);
    EXPECT_EQ(ParseUtc("2024-03-01T13:05"), kStart + 13 * kHour + 5 * 60000);
    EXPECT_EQ(ParseUtc("2024-03-01 13:05:09Z"), kStart + 13 * kHour + 5 * 60000 + 9000);
    EXPECT_EQ(ParseUtc(FormatUtc(kStart + 12345000)), kStart + 12345000);
    EXPECT_EQ(ParseUtc("2024-02-29"), kStart - kDay) << "a leap day";
    for (const char* bad :
         {"2023-02-29", "2024-13-01", "2024-3-1", "2024-03-01T24:00", "2024-03-01T10",
          "2024-03-01X", "yesterday", "", "2024-03-01T10:00:61", "2024-03-01T10:00+02:00"})
        EXPECT_FALSE(ParseUtc(bad)) << bad;
}

TEST_F(StoreTest, CsvRowsReadBackWithTheirChangesAndAwkwardNames)
{
    CReadingStore store(m_path);
    store.Open();
    OdometerReading first = Reading("S,\"1\"", kStart, 500, 900);
    first.name = "Dock, \"north\"\nline";
    store.RecordFill({first});
    OdometerReading replaced = first;
    replaced.time = kStart + kHour;
    replaced.head = 4;
    store.RecordFill({replaced});
    // A reset that no reading shows yet gets a row of its own.
    store.RecordHeadReset(Reading("S,\"1\"", kStart + 2 * kHour, std::nullopt, std::nullopt));

    const PrinterHistory h = store.History(store.Printers()[0].id);
    const auto rows = ReadCsv(HistoryCsv({h}));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], HistoryHeadings());
    // The line break of the name reaches the file as \x0a, never raw.
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Dock, \"north\"\\x0aline", "S,\"1\"", "RX400",
                                                 "COM3", "2024-03-01T00:00:00Z",
                                                 "2024-03-01T00:00:00Z", "500", "900", "in", ""}));
    EXPECT_EQ(rows[2][6], "4");
    EXPECT_EQ(rows[2][9], "lower_value");
    EXPECT_EQ(rows[3][4], "2024-03-01T02:00:00Z");
    EXPECT_EQ(rows[3][6], "");
    EXPECT_EQ(rows[3][9], "reset");
}
