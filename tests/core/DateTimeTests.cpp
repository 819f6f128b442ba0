#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/DateTimes.h"
#include "platform/Clock.h"
#include "platform/Regional.h"
#include "support/TempDir.h"

using namespace kelvo;

TEST(DateTimes, CalendarValuesMatchTheProductsDayCount) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1), 25569.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 3, 1, 12), 45352.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 12), -1.5);
  const TDateTimeParts P = DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999));
  EXPECT_EQ(P.Year, 2024);
  EXPECT_EQ(P.Month, 2);
  EXPECT_EQ(P.Day, 29);
  EXPECT_EQ(P.Hour, 23);
  EXPECT_EQ(P.Second, 59);
  EXPECT_EQ(P.Millisecond, 999);
  // The first and last representable days keep their time of day.
  EXPECT_EQ(FormatFixedDateTime(EncodeDateTime(1, 1, 1, 12, 30)), "0001-01-01 12:30:00");
  EXPECT_EQ(FormatFixedDateTime(EncodeDateTime(9999, 12, 31, 23, 59, 59)), "9999-12-31 23:59:59");
  TDateTime V;
  EXPECT_FALSE(TryEncodeDateTime({2023, 2, 29, 0, 0, 0, 0}, V));
  EXPECT_FALSE(TryEncodeDateTime({2023, 13, 1, 0, 0, 0, 0}, V));
  EXPECT_FALSE(TryEncodeDateTime({2023, 1, 1, 24, 0, 0, 0}, V));
}

TEST(DateTimes, FixedFormOnly) {
  EXPECT_EQ(FormatFixedDateTime(0), "1899-12-30 00:00:00");
  EXPECT_EQ(FormatFixedDateTime(EncodeDateTime(2025, 1, 7, 8, 5, 9)), "2025-01-07 08:05:09");
  TDateTime V = 0;
  ASSERT_TRUE(TryParseFixedDateTime("2025-01-07 08:05:09", V));
  EXPECT_EQ(FormatFixedDateTime(V), "2025-01-07 08:05:09");
  for (const char* Bad : {"07.01.2025 08:05:09", "2025-1-7 8:5:9", "2025-01-07T08:05:09", "2025-02-30 00:00:00",
                          "2025-01-07 08:05:09 ", "", "abcd-ef-gh ij:kl:mn"})
    EXPECT_FALSE(TryParseFixedDateTime(Bad, V)) << Bad;
}

TEST(DateTimes, LocalAndUtcFollowTheTimeZone) {
  test::ScopedTimeZone Tz("<+03>-3");  // UTC+3, no zone database needed
  const TDateTime Utc = EncodeDateTime(2024, 6, 1, 21, 30);
  EXPECT_EQ(FormatFixedDateTime(UtcToLocal(Utc)), "2024-06-02 00:30:00");
  EXPECT_EQ(FormatFixedDateTime(LocalToUtc(UtcToLocal(Utc))), "2024-06-01 21:30:00");
  // Far dates do not overflow the nanosecond clock; they are held at its edge.
  EXPECT_LT(UtcToLocal(EncodeDateTime(4050, 1, 1)), EncodeDateTime(2300, 1, 1));
  EXPECT_GT(UtcToLocal(EncodeDateTime(1, 1, 1)), EncodeDateTime(1600, 1, 1));
  // The program clock can be moved by tests.
  platform::SetClock([] { return std::chrono::system_clock::from_time_t(1717277400); });
  EXPECT_EQ(FormatFixedDateTime(Now()), "2024-06-02 00:30:00");
  platform::SetClock(nullptr);
  EXPECT_GT(Now(), EncodeDateTime(2020, 1, 1));
}

TEST(DateTimes, RegionalFormRoundTrips) {
  platform::TRegionalSettings Tr;
  Tr.ShortDateFormat = "%d.%m.%Y";
  Tr.LongTimeFormat = "%H:%M:%S";
  Tr.DecimalSeparator = ',';
  platform::SetRegionalSettingsForTests(&Tr);
  const TDateTime V = EncodeDateTime(2025, 11, 3, 14, 7, 30);
  EXPECT_EQ(FormatRegionalDateTime(V), "03.11.2025 14:07:30");
  TDateTime Back = 0;
  ASSERT_TRUE(TryParseRegionalDateTime("03.11.2025 14:07:30", Back));
  EXPECT_DOUBLE_EQ(Back, V);
  ASSERT_TRUE(TryParseRegionalDateTime("03.11.2025", Back));
  EXPECT_DOUBLE_EQ(Back, EncodeDateTime(2025, 11, 3));
  EXPECT_FALSE(TryParseRegionalDateTime("2025-11-03T14:07:30Z", Back));
  EXPECT_FALSE(TryParseRegionalDateTime("31.02.2025 10:00:00", Back));
  platform::SetRegionalSettingsForTests(nullptr);
}
