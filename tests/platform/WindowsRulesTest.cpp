// The text rules of the Windows side, checked on every system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/Regional.h"

namespace kelvo::platform {
namespace {

struct TTextCase {
  std::string In;
  std::string Out;
};

// Expected forms follow the parsing rules of CommandLineToArgvW and the Microsoft C runtime:
// 2n backslashes before a quote give n and the quote opens or closes, 2n+1 give n and a literal quote,
// backslashes anywhere else are literal.
TEST(WindowsRules, QuotesArgumentsSoTheRuntimeGivesThemBack) {
  const std::vector<TTextCase> Cases = {
      {"plain", "plain"},
      {"", "\"\""},
      {"two words", "\"two words\""},
      {"tab\there", "\"tab\there\""},
      {"C:\\Program Files\\Kelvo\\", "\"C:\\Program Files\\Kelvo\\\\\""},  // trailing backslash doubled
      {"C:\\dir\\file.txt", "C:\\dir\\file.txt"},                          // no quoting, backslashes kept
      {"a\\\\b", "a\\\\b"},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\"b", "\"a\\\"b\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},  // one backslash before a quote: 3 backslashes and the quote
      {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
      {"end\\\\", "end\\\\"},  // nothing to quote: trailing backslashes stay single
      {"sp ace\\\\", "\"sp ace\\\\\\\\\""},
      {"\"", "\"\\\"\""},
      {"-p\xc5\x9fifre", "-p\xc5\x9fifre"},  // UTF-8 passes through
  };
  for (const TTextCase& Case : Cases) EXPECT_EQ(QuoteWindowsArgument(Case.In), Case.Out) << Case.In;
}

TEST(WindowsRules, CommandLineJoinsProgramAndArgumentsWithSpaces) {
  EXPECT_EQ(WindowsCommandLine("C:\\Tools\\unrar.exe", {"x", "", "my file.rar", "C:\\out dir\\"}),
            "C:\\Tools\\unrar.exe x \"\" \"my file.rar\" \"C:\\out dir\\\\\"");
  EXPECT_EQ(WindowsCommandLine("C:\\Program Files\\WinRAR\\rar.exe", {}), "\"C:\\Program Files\\WinRAR\\rar.exe\"");
}

TEST(WindowsRules, ConvertsLocalePicturesToStrftimePatterns) {
  const std::vector<TTextCase> Cases = {
      {"dd.MM.yyyy", "%d.%m.%Y"},  // Turkish, German
      {"d/M/yyyy", "%d/%m/%Y"},    // no leading zeros on Windows, %d/%m read both
      {"M/d/yy", "%m/%d/%Y"},      // two-digit year widened
      {"yyyy-MM-dd", "%Y-%m-%d"},
      {"yyyy. MM. dd.", "%Y. %m. %d."},  // Hungarian: literal dots and spaces
      {"dddd, d MMMM yyyy", "%A, %d %B %Y"},
      {"ddd dd MMM yyyy", "%a %d %b %Y"},
      {"HH:mm:ss", "%H:%M:%S"},
      {"h:mm:ss tt", "%I:%M:%S %p"},
      {"tt hh:mm:ss", "%p %I:%M:%S"},
      {"H.mm.ss", "%H.%M.%S"},
      {"HH'h'mm", "%Hh%M"},            // quoted literal
      {"'Saat' HH:mm", "Saat %H:%M"},  // quoted word with tokens letters inside
      {"'it''s' HH", "it's %H"},       // doubled quote inside quotes
      {"dd'%'MM", "%d%%%m"},           // a literal percent stays literal
      {"gg yyyy/MM/dd", " %Y/%m/%d"},  // era dropped
      {"dd/MM/yyyy 'unterminated", "%d/%m/%Y unterminated"},
      {"", ""},
  };
  for (const TTextCase& Case : Cases) EXPECT_EQ(WindowsPictureToFormat(Case.In), Case.Out) << Case.In;
}

}  // namespace
}  // namespace kelvo::platform
