#include <gtest/gtest.h>

#include <cstdlib>

#include "PlatformChild.h"
#include "platform/Regional.h"
#include "support/ProcessFacts.h"
#include "support/ProcessState.h"
#include "support/SystemSkips.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

using test::ScopedEnv;
using test::TempDir;

class PlatformRegional : public ::testing::Test {
 protected:
  test::IsolatedProcessState Process;
};

TEST_F(PlatformRegional, CLocaleGetsFourDigitYear) {
  KELVO_SKIP_ON_WINDOWS("the regional settings come from the user's locale there, not from the C library");
  test::ScopedCLocale Scope;
  ASSERT_TRUE(Scope.Active());
  const TRegionalSettings S = GetRegionalSettings();
  EXPECT_EQ(S.DecimalSeparator, '.');
  EXPECT_EQ(S.ShortDateFormat, "%m/%d/%Y");  // the locale says %m/%d/%y
  EXPECT_EQ(S.LongTimeFormat, "%H:%M:%S");
}

TEST_F(PlatformRegional, ReadsTheLocaleOfTheEnvironment) {
  // Dutch: decimal comma, short date "%d-%m-%y", time "%T". Compiled from the system's locale
  // sources into a folder of our own, since a fresh machine may have none installed; read by the
  // helper program, which takes its locale from the environment as the program does at start.
  TempDir Dir;
  const std::string Command = "localedef -i nl_NL -f UTF-8 '" + (Dir / "nl_NL.UTF-8") + "' >/dev/null 2>&1";
  if (std::system(Command.c_str()) != 0) GTEST_SKIP() << "localedef or the nl_NL locale source is missing";
  ScopedEnv LocalePath("LOCPATH", Dir.path().c_str());
  ScopedEnv All("LC_ALL", "nl_NL.UTF-8");
  ASSERT_EQ(test::RunPlatformChild({"regional", Dir / "settings"}), 0);
  EXPECT_EQ(test::ReadBytes(Dir / "settings"), ",\n%d-%m-%Y\n%T\n");

  // The same helper in the C locale, for contrast.
  ScopedEnv C("LC_ALL", "C");
  ASSERT_EQ(test::RunPlatformChild({"regional", Dir / "settings"}), 0);
  EXPECT_EQ(test::ReadBytes(Dir / "settings"), ".\n%m/%d/%Y\n%H:%M:%S\n");
}

TEST_F(PlatformRegional, PinnedSettingsWinUntilReleased) {
  test::ScopedCLocale Scope;
  const TRegionalSettings Unpinned = GetRegionalSettings();
  TRegionalSettings Turkish;
  Turkish.DecimalSeparator = ',';
  Turkish.ShortDateFormat = "%d.%m.%Y";
  Turkish.LongTimeFormat = "%H:%M";
  SetRegionalSettingsForTests(&Turkish);
  // The pin is a copy: the caller's object may change or go away.
  Turkish.DecimalSeparator = '?';
  Turkish.ShortDateFormat = "changed";

  TRegionalSettings S = GetRegionalSettings();
  EXPECT_EQ(S.DecimalSeparator, ',');
  EXPECT_EQ(S.ShortDateFormat, "%d.%m.%Y");
  EXPECT_EQ(S.LongTimeFormat, "%H:%M");

  SetRegionalSettingsForTests(nullptr);
  S = GetRegionalSettings();
  EXPECT_EQ(S.DecimalSeparator, Unpinned.DecimalSeparator);
  EXPECT_EQ(S.ShortDateFormat, Unpinned.ShortDateFormat);
  EXPECT_EQ(S.LongTimeFormat, Unpinned.LongTimeFormat);
}

}  // namespace
}  // namespace kelvo::platform
