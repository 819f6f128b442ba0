#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Paths.h"
#include "platform/SecretFiles.h"
#include "support/FileModes.h"
#include "support/SystemSkips.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

using test::ModeOf;

TEST(PlatformSecretFiles, FoldersAreMadePrivateOrGroupSharedAndOnlyEverNarrowed) {
  KELVO_SKIP_WITHOUT_POSIX_MODES();
  TempDir Dir;
  test::ScopedUmask Umask(022);  // the usual one
  struct TCase {
    const char* Name;
    TSecretScope Scope;
    int Existing;  // mode of a folder already there, -1 for none
    unsigned Expected;
  };
  const TCase Cases[] = {
      {"new private", TSecretScope::Owner, -1, 0700},
      {"private left open by an older version", TSecretScope::Owner, 0755, 0700},
      {"private narrowed by the administrator", TSecretScope::Owner, 0500, 0500},
      {"new shared", TSecretScope::MachineGroup, -1, 02770},
      {"shared open to others", TSecretScope::MachineGroup, 02775, 02770},
      {"shared narrowed by the administrator", TSecretScope::MachineGroup, 0750, 0750},
  };
  int Index = 0;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    // Missing parents are made too.
    const std::string Path = Dir / ("case" + std::to_string(Index++)) + "/parent/Korvessa";
    if (Case.Existing >= 0) {
      fs::create_directories(Path);
      ASSERT_TRUE(test::SetMode(Path, static_cast<unsigned>(Case.Existing)));
    }
    EXPECT_TRUE(PrepareSecretFolder(Path, Case.Scope));
    EXPECT_EQ(ModeOf(Path), Case.Expected);
  }
  // Something that is not a folder stays what it is.
  test::WriteBytes(Dir / "file", "x");
  EXPECT_FALSE(PrepareSecretFolder(Dir / "file", TSecretScope::Owner));
  EXPECT_EQ(ModeOf(Dir / "file") & 0777, 0644u);
}

TEST(PlatformSecretFiles, OnlyTheMachineFolderIsShared) {
  TempDir Dir;
  ScopedEnv ProgramData("PROGRAMDATA", (Dir.path() + "/").c_str());
  EXPECT_EQ(test::NativePath(MachineDataDir()), test::NativePath(Dir / "Korvessa"));
  EXPECT_EQ(SecretScopeOf(Dir / "Korvessa"), TSecretScope::MachineGroup);
  EXPECT_EQ(SecretScopeOf(Dir / "Korvessa/"), TSecretScope::MachineGroup);
  EXPECT_EQ(SecretScopeOf(Dir / "Korvessa/sub"), TSecretScope::Owner);
  EXPECT_EQ(SecretScopeOf(Dir / "appdata/Korvessa"), TSecretScope::Owner);
  EXPECT_EQ(SecretFileMode(SecretScopeOf(Dir / "Korvessa")), 0660u);
  // The same folder under another name is still the machine folder.
  KELVO_SKIP_UNDER_WINE(test::kNoLinksUnderWine);
  fs::create_directories(Dir / "Korvessa");
  fs::create_directory_symlink(Dir / "Korvessa", Dir / "alias");
  EXPECT_EQ(SecretScopeOf(Dir / "alias"), TSecretScope::MachineGroup);
  EXPECT_EQ(SecretFileMode(SecretScopeOf(Dir / "alias/sub")), 0600u);
}

}  // namespace
}  // namespace kelvo::platform
