#pragma once
// Date-time values as the rest of the product stores them: days since 1899-12-30, the time of day as
// the fraction, local time unless a name says UTC.
#include <chrono>
#include <cstdint>
#include <string>

namespace kelvo {

using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Calendar arithmetic only, no time zone. False for an impossible date or time.
bool TryEncodeDateTime(const TDateTimeParts& Parts, TDateTime& Value);
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour = 0, int Minute = 0, int Second = 0,
                         int Millisecond = 0);
TDateTimeParts DecodeDateTime(TDateTime Value);

// Local time of the program clock.
TDateTime Now();
// Conversions between instants and local date-time values (C library time zone, honours TZ).
TDateTime LocalDateTimeFromTimePoint(std::chrono::system_clock::time_point Instant);
std::chrono::system_clock::time_point TimePointFromLocalDateTime(TDateTime Value);
// Same for UTC date-time values (no zone applied).
TDateTime UtcDateTimeFromTimePoint(std::chrono::system_clock::time_point Instant);
std::chrono::system_clock::time_point TimePointFromUtcDateTime(TDateTime Value);
TDateTime UtcToLocal(TDateTime Utc);
TDateTime LocalToUtc(TDateTime Local);

// The fixed form "yyyy-mm-dd hh:nn:ss" (the zero value prints as 1899-12-30 00:00:00).
std::string FormatFixedDateTime(TDateTime Value);
// Reads exactly the fixed form; anything else is false.
bool TryParseFixedDateTime(const std::string& Text, TDateTime& Value);

// Regional short date + long time of the process locale, and its reverse.
std::string FormatRegionalDateTime(TDateTime Value);
bool TryParseRegionalDateTime(const std::string& Text, TDateTime& Value);

}  // namespace kelvo
