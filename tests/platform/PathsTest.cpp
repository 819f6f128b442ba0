#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "ChildProcess.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

using test::ReadBytes;
using test::RunPlatformChild;
using test::ScopedEnv;
using test::TempDir;

mode_t ModeOf(const std::string& Path) {
  struct stat St;
  return lstat(Path.c_str(), &St) == 0 ? St.st_mode : 0;
}

TEST(PlatformPaths, ProgramDirIsTheFolderOfTheRunningProgram) {
  TempDir Dir;
  ASSERT_EQ(RunPlatformChild({"program-dir", Dir / "dir"}), 0);
  const std::filesystem::path Helper = std::filesystem::canonical(test::PlatformChildProgram());
  EXPECT_EQ(ReadBytes(Dir / "dir"), Helper.parent_path().string());
}

class PlatformTempDir : public ::testing::Test {
 protected:
  void ExpectRefused() {
    try {
      PrivateTempDir();
      ADD_FAILURE() << "expected the folder to be refused";
    } catch (const std::runtime_error& E) {
      EXPECT_EQ(std::string(E.what()), "Gecici klasor guvenli degil: " + FExpected);
    }
  }

  TempDir FBase;
  const std::string FExpected = FBase / ("kelvo-" + std::to_string(getuid()));
  ScopedEnv FRuntimeDir{"XDG_RUNTIME_DIR", FBase.path().c_str()};
  ScopedEnv FTmpDir{"TMPDIR", std::getenv("TMPDIR")};
};

TEST_F(PlatformTempDir, CreatedPrivateUnderRuntimeDir) {
  const mode_t OldMask = umask(0);  // the mode must not depend on the caller's umask
  const std::string Dir = PrivateTempDir();
  umask(OldMask);
  EXPECT_EQ(Dir, FExpected);
  EXPECT_TRUE(S_ISDIR(ModeOf(Dir)));
  EXPECT_EQ(ModeOf(Dir) & 07777, 0700u);
  // A second call accepts the folder it made.
  EXPECT_EQ(PrivateTempDir(), FExpected);
}

TEST_F(PlatformTempDir, FallsBackToTmpdirThenTmp) {
  TempDir Other;
  setenv("XDG_RUNTIME_DIR", "", 1);
  setenv("TMPDIR", (Other.path() + "/").c_str(), 1);
  EXPECT_EQ(PrivateTempDir(), Other / ("kelvo-" + std::to_string(getuid())));

  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("TMPDIR");
  const std::string Shared = "/tmp/kelvo-" + std::to_string(getuid());
  EXPECT_EQ(PrivateTempDir(), Shared);
  EXPECT_EQ(ModeOf(Shared) & 077, 0u);
}

TEST_F(PlatformTempDir, LooseFolderOfOursIsTightened) {
  ASSERT_EQ(mkdir(FExpected.c_str(), 0700), 0);
  ASSERT_EQ(chmod(FExpected.c_str(), 0755), 0);
  EXPECT_EQ(PrivateTempDir(), FExpected);
  EXPECT_EQ(ModeOf(FExpected) & 07777, 0700u);
}

TEST_F(PlatformTempDir, SymlinkIsRefused) {
  // Even a link to a private folder of ours: the name could be swapped under us.
  const std::string Real = FBase / "real";
  ASSERT_EQ(mkdir(Real.c_str(), 0700), 0);
  ASSERT_EQ(symlink(Real.c_str(), FExpected.c_str()), 0);
  ExpectRefused();
}

TEST_F(PlatformTempDir, FileInPlaceIsRefused) {
  test::WriteBytes(FExpected, "not a folder");
  ExpectRefused();
}

TEST_F(PlatformTempDir, FolderOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  ASSERT_EQ(mkdir(FExpected.c_str(), 0700), 0);
  ASSERT_EQ(chown(FExpected.c_str(), 65534, 65534), 0);
  ExpectRefused();
  // Refused, not taken over: still theirs.
  struct stat St;
  ASSERT_EQ(lstat(FExpected.c_str(), &St), 0);
  EXPECT_EQ(St.st_uid, 65534u);
}

TEST(PlatformPaths, ProgramDataFromEnvironmentElseVarLib) {
  ScopedEnv Env("PROGRAMDATA", "/srv/kelvo data");
  EXPECT_EQ(ProgramDataDir(), "/srv/kelvo data");
  setenv("PROGRAMDATA", "", 1);
  EXPECT_EQ(ProgramDataDir(), "/var/lib");
  unsetenv("PROGRAMDATA");
  EXPECT_EQ(ProgramDataDir(), "/var/lib");
}

TEST(PlatformPaths, AppDataFromEnvironmentThenConfigHome) {
  ScopedEnv AppData("APPDATA", "/a/appdata");
  ScopedEnv ConfigHome("XDG_CONFIG_HOME", "/x/config");
  ScopedEnv Home("HOME", "/h/home");
  EXPECT_EQ(AppDataDir(), "/a/appdata");
  unsetenv("APPDATA");
  EXPECT_EQ(AppDataDir(), "/x/config");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(AppDataDir(), "/h/home/.config");

  // Without HOME the user database knows the home folder.
  unsetenv("HOME");
  const passwd* Me = getpwuid(getuid());
  ASSERT_NE(Me, nullptr);
  EXPECT_EQ(AppDataDir(), std::string(Me->pw_dir) + "/.config");
}

TEST(PlatformPaths, GetEnvReadsSetAndUnset) {
  ScopedEnv Env("KELVO_PATHS_TEST",
                "de\xC4\x9F"
                "er");
  EXPECT_EQ(GetEnv("KELVO_PATHS_TEST"),
            "de\xC4\x9F"
            "er");
  unsetenv("KELVO_PATHS_TEST");
  EXPECT_EQ(GetEnv("KELVO_PATHS_TEST"), "");
}

}  // namespace
}  // namespace kelvo::platform
