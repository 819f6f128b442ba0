#pragma once
// What the system under the tests can show, decided here and nowhere else: a test states the reason
// it needs and the skip happens only where that reason holds, with the reason in the test's output.
//
// Under Wine the Windows build runs, but a few Windows facilities are stand-ins there: data
// protection is not bound to a machine (a blob from one Wine prefix opens in another), PowerShell is a
// stub that exits 0 without running anything, Schannel's default certificate checking is not
// Windows's, and the regional formats are not the strings Windows shows. Tests that rest on those
// skip under Wine and run on Windows.
//
// The restore scripts for Linux (sh, jq, Firebird) and the RAR console programs exist on Linux only:
// their tests skip on Windows, Wine included.

namespace kelvo::test {

// True in a Windows program that Wine is running (its ntdll exports wine_get_version); checked when
// the test runs, so the same executable answers differently on Windows.
bool RunningUnderWine();
// True in the Windows build.
bool RunningOnWindows();

// The reason of the tests that damage protected data: Wine's data protection authenticates the
// decrypted data only, not the rest of the blob (key id, salt, lengths, bytes added at the end).
inline constexpr char kWineProtectionChecksOnlyTheData[] =
    "its data protection checks the decrypted data only, not the rest of the blob; Windows checks it all";

// The reason of the tests that stop a program with Ctrl+Break: Wine hands no console control event
// to a program started without a console.
inline constexpr char kNoConsoleEventsUnderWine[] = "Ctrl+Break to a program without a console";

// The reason of the tests that make symbolic links or junctions: Wine makes none.
inline constexpr char kNoLinksUnderWine[] = "symbolic links and junctions (it makes none)";

}  // namespace kelvo::test

// Skips the current test under Wine; Reason says which Windows facility Wine cannot stand in for.
#define KELVO_SKIP_UNDER_WINE(Reason) \
  if (::kelvo::test::RunningUnderWine()) GTEST_SKIP() << "Wine cannot show this: " << Reason

// Skips the current test in the Windows build; Reason names what exists on Linux only.
#define KELVO_SKIP_ON_WINDOWS(Reason) \
  if (::kelvo::test::RunningOnWindows()) GTEST_SKIP() << "Linux only: " << Reason
