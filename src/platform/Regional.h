#pragma once
// Regional settings of the process locale (setlocale(LC_ALL, "") is done once at program start).
#include <string>

namespace kelvo::platform {

struct TRegionalSettings {
  char DecimalSeparator = '.';
  // strftime/strptime patterns; the short date always carries a four-digit year (%Y).
  std::string ShortDateFormat = "%m/%d/%Y";
  std::string LongTimeFormat = "%H:%M:%S";
};

// Read from the current locale at each call (nl_langinfo), unless replaced for tests.
TRegionalSettings GetRegionalSettings();
// Tests pin the settings; nullptr returns to the locale.
void SetRegionalSettingsForTests(const TRegionalSettings* Settings);

}  // namespace kelvo::platform
