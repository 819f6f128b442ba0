#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "PlatformChild.h"
#include "platform/Paths.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"
#include "support/SystemSkips.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

using test::ReadBytes;
using test::RunPlatformChild;
using test::ScopedEnv;
using test::TempDir;

// What lstat says: a link is not followed.
test::TFileFacts FactsOf(const std::string& Path) { return test::FileFacts(Path, false); }

TEST(PlatformPaths, ProgramDirIsTheFolderOfTheRunningProgram) {
  TempDir Dir;
  ASSERT_EQ(RunPlatformChild({"program-dir", Dir / "dir"}), 0);
  const std::filesystem::path Helper = std::filesystem::canonical(test::PlatformChildProgram());
  EXPECT_EQ(ReadBytes(Dir / "dir"), Helper.parent_path().string());
}

class PlatformTempDir : public ::testing::Test {
 protected:
  // The folder is named by the user id and guarded by its mode.
  void SetUp() override { KELVO_SKIP_WITHOUT_POSIX_MODES(); }
  void ExpectRefused() {
    try {
      PrivateTempDir();
      ADD_FAILURE() << "expected the folder to be refused";
    } catch (const std::runtime_error& E) {
      EXPECT_EQ(std::string(E.what()), "Gecici klasor guvenli degil: " + FExpected);
    }
  }

  TempDir FBase;
  const std::string FExpected = FBase / ("kelvo-" + std::to_string(test::UserId()));
  ScopedEnv FRuntimeDir{"XDG_RUNTIME_DIR", FBase.path().c_str()};
  ScopedEnv FTmpDir{"TMPDIR", std::getenv("TMPDIR")};
};

TEST_F(PlatformTempDir, CreatedPrivateUnderRuntimeDir) {
  const unsigned OldMask = test::SetUmask(0);  // the mode must not depend on the caller's umask
  const std::string Dir = PrivateTempDir();
  test::SetUmask(OldMask);
  EXPECT_EQ(Dir, FExpected);
  EXPECT_TRUE(FactsOf(Dir).IsDir);
  EXPECT_EQ(FactsOf(Dir).Mode, 0700u);
  // A second call accepts the folder it made.
  EXPECT_EQ(PrivateTempDir(), FExpected);
}

TEST_F(PlatformTempDir, FallsBackToTmpdirThenTmp) {
  TempDir Other;
  test::SetEnv("XDG_RUNTIME_DIR", "");
  test::SetEnv("TMPDIR", (Other.path() + "/").c_str());
  EXPECT_EQ(PrivateTempDir(), Other / ("kelvo-" + std::to_string(test::UserId())));

  test::SetEnv("XDG_RUNTIME_DIR", nullptr);
  test::SetEnv("TMPDIR", nullptr);
  const std::string Shared = "/tmp/kelvo-" + std::to_string(test::UserId());
  EXPECT_EQ(PrivateTempDir(), Shared);
  EXPECT_EQ(FactsOf(Shared).Mode & 077, 0u);
}

TEST_F(PlatformTempDir, LooseFolderOfOursIsTightened) {
  ASSERT_TRUE(test::MakeFolder(FExpected, 0700));
  ASSERT_TRUE(test::SetMode(FExpected, 0755));
  EXPECT_EQ(PrivateTempDir(), FExpected);
  EXPECT_EQ(FactsOf(FExpected).Mode, 0700u);
}

TEST_F(PlatformTempDir, SymlinkIsRefused) {
  // Even a link to a private folder of ours: the name could be swapped under us.
  const std::string Real = FBase / "real";
  ASSERT_TRUE(test::MakeFolder(Real, 0700));
  std::filesystem::create_directory_symlink(Real, FExpected);
  ExpectRefused();
}

TEST_F(PlatformTempDir, FileInPlaceIsRefused) {
  test::WriteBytes(FExpected, "not a folder");
  ExpectRefused();
}

TEST_F(PlatformTempDir, FolderOfAnotherUserIsRefused) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to give a folder to another user";
  ASSERT_TRUE(test::MakeFolder(FExpected, 0700));
  ASSERT_TRUE(test::ChangeOwner(FExpected, 65534, 65534));
  ExpectRefused();
  // Refused, not taken over: still theirs.
  const auto St = FactsOf(FExpected);
  ASSERT_TRUE(St.Exists);
  EXPECT_EQ(St.Uid, 65534u);
}

TEST(PlatformPaths, ProgramDataFromEnvironmentElseVarLib) {
  ScopedEnv Env("PROGRAMDATA", "/srv/kelvo data");
  EXPECT_EQ(ProgramDataDir(), "/srv/kelvo data");
  // Else /var/lib; on Windows the known folder, the same whether the variable is empty or unset.
  const std::string Fallback = test::RunningOnWindows() ? std::string() : "/var/lib";
  test::SetEnv("PROGRAMDATA", "");
  const std::string WhenEmpty = ProgramDataDir();
  test::SetEnv("PROGRAMDATA", nullptr);
  EXPECT_EQ(ProgramDataDir(), WhenEmpty);
  EXPECT_NE(WhenEmpty, "/srv/kelvo data");
  EXPECT_FALSE(WhenEmpty.empty());
  if (!Fallback.empty()) {
    EXPECT_EQ(WhenEmpty, Fallback);
  }
}

TEST(PlatformPaths, AppDataFromEnvironmentThenConfigHome) {
  ScopedEnv AppData("APPDATA", "/a/appdata");
  ScopedEnv ConfigHome("XDG_CONFIG_HOME", "/x/config");
  ScopedEnv Home("HOME", "/h/home");
  EXPECT_EQ(AppDataDir(), "/a/appdata");
  KELVO_SKIP_ON_WINDOWS("XDG_CONFIG_HOME and HOME; Windows asks for its known folder");
  test::SetEnv("APPDATA", nullptr);
  EXPECT_EQ(AppDataDir(), "/x/config");
  test::SetEnv("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(AppDataDir(), "/h/home/.config");

  // Without HOME the user database knows the home folder.
  test::SetEnv("HOME", nullptr);
  KELVO_SKIP_WITHOUT_POSIX_MODES();
  const auto Me = test::HomeFromUserDatabase();
  ASSERT_TRUE(Me);
  EXPECT_EQ(AppDataDir(), *Me + "/.config");
}

TEST(PlatformPaths, GetEnvReadsSetAndUnset) {
  ScopedEnv Env("KELVO_PATHS_TEST",
                "de\xC4\x9F"
                "er");
  EXPECT_EQ(GetEnv("KELVO_PATHS_TEST"),
            "de\xC4\x9F"
            "er");
  test::SetEnv("KELVO_PATHS_TEST", nullptr);
  EXPECT_EQ(GetEnv("KELVO_PATHS_TEST"), "");
}

}  // namespace
}  // namespace kelvo::platform
