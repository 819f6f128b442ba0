#include "core/DateTimes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/TextRules.h"
#include "platform/Clock.h"
#include "platform/Regional.h"

namespace kelvo {

namespace {

constexpr double SecondsPerDay = 86400.0;
// 1970-01-01 as a date-time value.
constexpr double UnixEpochDays = 25569.0;

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const unsigned Yoe = static_cast<unsigned>(Y - Era * 400);
  const unsigned Doy = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
  const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  return Era * 146097 + static_cast<int64_t>(Doe) - 719468;
}

void CivilFromDays(int64_t Z, int& Y, int& M, int& D) {
  Z += 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const unsigned Doe = static_cast<unsigned>(Z - Era * 146097);
  const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const unsigned Mp = (5 * Doy + 2) / 153;
  D = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
  M = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
  Y = static_cast<int>(static_cast<int64_t>(Yoe) + Era * 400 + (M <= 2));
}

bool IsLeap(int Y) { return (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0; }

int DaysInMonth(int Y, int M) {
  static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (M == 2 && IsLeap(Y)) ? 29 : Days[M - 1];
}

std::tm TmFromDateTime(TDateTime Value) {
  const TDateTimeParts P = DecodeDateTime(Value);
  std::tm T{};
  T.tm_year = P.Year - 1900;
  T.tm_mon = P.Month - 1;
  T.tm_mday = P.Day;
  T.tm_hour = P.Hour;
  T.tm_min = P.Minute;
  T.tm_sec = P.Second;
  T.tm_isdst = -1;
  return T;
}

}  // namespace

bool TryEncodeDateTime(const TDateTimeParts& P, TDateTime& Value) {
  if (P.Year < 1 || P.Year > 9999 || P.Month < 1 || P.Month > 12 || P.Day < 1 || P.Day > DaysInMonth(P.Year, P.Month) ||
      P.Hour < 0 || P.Hour > 23 || P.Minute < 0 || P.Minute > 59 || P.Second < 0 || P.Second > 59 ||
      P.Millisecond < 0 || P.Millisecond > 999)
    return false;
  const double Days = static_cast<double>(DaysFromCivil(P.Year, P.Month, P.Day)) + UnixEpochDays;
  const double Fraction = (P.Hour * 3600.0 + P.Minute * 60.0 + P.Second + P.Millisecond / 1000.0) / SecondsPerDay;
  // Before 1899-12-30 the integer part counts backwards but the fraction still adds the time of day.
  Value = Days >= 0 ? Days + Fraction : Days - Fraction;
  return true;
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int Millisecond) {
  TDateTime Value = 0;
  TryEncodeDateTime({Year, Month, Day, Hour, Minute, Second, Millisecond}, Value);
  return Value;
}

TDateTimeParts DecodeDateTime(TDateTime Value) {
  TDateTimeParts P;
  if (!std::isfinite(Value) || Value >= 2958466.0 || Value <= -693594.0) return P;
  const double DayPart = std::trunc(Value);
  // Round to whole milliseconds so 0.99999999 of a day does not print as 23:59:59.
  int64_t Ms = std::llround(std::fabs(Value - DayPart) * SecondsPerDay * 1000.0);
  int64_t Days = static_cast<int64_t>(DayPart);
  if (Ms >= 86400000) {
    Ms -= 86400000;
    Days += Value >= 0 ? 1 : -1;
  }
  CivilFromDays(Days - static_cast<int64_t>(UnixEpochDays), P.Year, P.Month, P.Day);
  P.Hour = static_cast<int>(Ms / 3600000);
  P.Minute = static_cast<int>(Ms / 60000 % 60);
  P.Second = static_cast<int>(Ms / 1000 % 60);
  P.Millisecond = static_cast<int>(Ms % 1000);
  return P;
}

TDateTime UtcDateTimeFromTimePoint(std::chrono::system_clock::time_point Instant) {
  const double Ms =
      static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(Instant.time_since_epoch()).count());
  return UnixEpochDays + Ms / 1000.0 / SecondsPerDay;
}

std::chrono::system_clock::time_point TimePointFromUtcDateTime(TDateTime Value) {
  // The clock counts nanoseconds in 64 bits (years 1678 to 2262); values beyond are held at the edge.
  constexpr double Earliest = -80000.0;  // 1680-12-17
  constexpr double Latest = 131000.0;    // 2258-08-30
  if (!std::isfinite(Value)) Value = 0;
  Value = std::clamp(Value, Earliest, Latest);
  const auto Ms = std::llround((Value - UnixEpochDays) * SecondsPerDay * 1000.0);
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(Ms));
}

TDateTime LocalDateTimeFromTimePoint(std::chrono::system_clock::time_point Instant) {
  const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(Instant.time_since_epoch()).count();
  const std::time_t Secs = static_cast<std::time_t>(Ms >= 0 ? Ms / 1000 : (Ms - 999) / 1000);
  const std::tm T = platform::LocalCalendarTime(Secs);
  return EncodeDateTime(T.tm_year + 1900, T.tm_mon + 1, T.tm_mday, T.tm_hour, T.tm_min, T.tm_sec,
                        static_cast<int>(Ms - static_cast<int64_t>(Secs) * 1000));
}

std::chrono::system_clock::time_point TimePointFromLocalDateTime(TDateTime Value) {
  std::tm T = TmFromDateTime(Value);
  const std::time_t Secs = mktime(&T);
  const int Ms = DecodeDateTime(Value).Millisecond;
  return std::chrono::system_clock::from_time_t(Secs) + std::chrono::milliseconds(Ms);
}

TDateTime UtcToLocal(TDateTime Utc) { return LocalDateTimeFromTimePoint(TimePointFromUtcDateTime(Utc)); }
TDateTime LocalToUtc(TDateTime Local) { return UtcDateTimeFromTimePoint(TimePointFromLocalDateTime(Local)); }

TDateTime Now() { return LocalDateTimeFromTimePoint(platform::Now()); }

std::string FormatFixedDateTime(TDateTime Value) {
  const TDateTimeParts P = DecodeDateTime(Value);
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d", P.Year, P.Month, P.Day, P.Hour, P.Minute, P.Second);
  return Buf;
}

bool TryParseFixedDateTime(const std::string& Text, TDateTime& Value) {
  // yyyy-mm-dd hh:nn:ss, exactly 19 characters.
  static const char Shape[] = "dddd-dd-dd dd:dd:dd";
  if (Text.size() != 19) return false;
  for (size_t I = 0; I < 19; ++I) {
    const bool Digit = Text[I] >= '0' && Text[I] <= '9';
    if (Shape[I] == 'd' ? !Digit : Text[I] != Shape[I]) return false;
  }
  auto Num = [&](size_t Pos, size_t Len) { return std::stoi(Text.substr(Pos, Len)); };
  return TryEncodeDateTime({Num(0, 4), Num(5, 2), Num(8, 2), Num(11, 2), Num(14, 2), Num(17, 2), 0}, Value);
}

std::string FormatRegionalDateTime(TDateTime Value) {
  const platform::TRegionalSettings R = platform::GetRegionalSettings();
  const std::tm T = TmFromDateTime(Value);
  char Buf[128];
  const std::string Pattern = R.ShortDateFormat + " " + R.LongTimeFormat;
  const size_t N = std::strftime(Buf, sizeof Buf, Pattern.c_str(), &T);
  return std::string(Buf, N);
}

bool TryParseRegionalDateTime(const std::string& Text, TDateTime& Value) {
  const platform::TRegionalSettings R = platform::GetRegionalSettings();
  const std::string Trimmed = Trim(Text);
  auto TryPattern = [&](const std::string& Pattern) {
    std::tm T{};
    if (!platform::ParseByPattern(Trimmed, Pattern, T)) return false;
    return TryEncodeDateTime({T.tm_year + 1900, T.tm_mon + 1, T.tm_mday, T.tm_hour, T.tm_min, T.tm_sec, 0}, Value);
  };
  // A date without a time is midnight.
  return TryPattern(R.ShortDateFormat + " " + R.LongTimeFormat) || TryPattern(R.ShortDateFormat);
}

}  // namespace kelvo
