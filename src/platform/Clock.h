#pragma once
// The one clock of the program. Tests move it instead of sleeping.
#include <chrono>
#include <ctime>
#include <functional>

namespace kelvo::platform {

using ClockSource = std::function<std::chrono::system_clock::time_point()>;

std::chrono::system_clock::time_point Now();
// Replaces the clock; an empty function restores the system clock.
void SetClock(ClockSource Source);

// The calendar fields of Secs in this computer's time zone: localtime, safe on any thread.
std::tm LocalCalendarTime(std::time_t Secs);

}  // namespace kelvo::platform
