#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "core/FileIO.h"
#include "core/uLogger.h"
#include "support/FileModes.h"
#include "support/TempDir.h"

using namespace kelvo;

TEST(FileIO, TextFilesSkipTheBomAndAtomicWritesKeepTheMode) {
  test::TempDir Dir;
  test::WriteBytes(Dir / "a.json", "\xEF\xBB\xBF{\"a\":1}");
  EXPECT_EQ(ReadTextFile(Dir / "a.json"), "{\"a\":1}");
  test::WriteBytes(Dir / "b.json", "\xEF\xBB");
  EXPECT_EQ(ReadTextFile(Dir / "b.json"), "\xEF\xBB");

  const std::string Path = Dir / "secret.dat";
  WriteTextFileWithBom(Path, "x", 0600, true);
  WriteTextFileWithBom(Path, "yz");
  EXPECT_EQ(test::ReadBytes(Path), "\xEF\xBB\xBFyz");
  ASSERT_TRUE(std::filesystem::exists(Path));
  if (test::PosixModesApply()) {
    EXPECT_EQ(test::ModeOf(Path) & 0777, 0600u);
  }
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.path()), {}), 3);

  EXPECT_THROW(ReadTextFile(Dir / "none"), EFileError);
  EXPECT_THROW(WriteFileAtomic(Dir / "no/such/dir/f", "x"), EFileError);
  EXPECT_TRUE(ForceDirectories(Dir / "p/q/r"));
  EXPECT_TRUE(DirectoryExists(Dir / "p/q/r"));
  EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
}

TEST(FileIO, PathsSplitIntoTheFolderToOpenAndTheName) {
  struct TCase {
    const char* Path;
    const char* Folder;  // FolderOf
    const char* Open;    // SplitFilePath's folder
    const char* Name;
  };
  const TCase Cases[] = {
      {"a/b/c.bak", "a/b", "a/b", "c.bak"},
      {"c.bak", "", ".", "c.bak"},
      {"/c.bak", "/", "/", "c.bak"},  // the root, not the current folder
      {"a/", "a", "a", ""},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Path);
    EXPECT_EQ(FolderOf(C.Path), C.Folder);
    const TFolderAndName Parts = SplitFilePath(C.Path);
    EXPECT_EQ(Parts.Folder, C.Open);
    EXPECT_EQ(Parts.Name, C.Name);
  }
}

TEST(FileIO, AtomicReplaceTakesTheNarrowerOfTheOldAndTheNewMode) {
  KELVO_SKIP_WITHOUT_POSIX_MODES();
  test::TempDir Dir;
  struct TCase {
    const char* Name;
    int Old;  // mode of the file replaced, -1 for a new file
    unsigned Mode;
    bool Force;
    unsigned Expected;
  };
  const TCase Cases[] = {
      {"new file", -1, 0600, false, 0600},
      {"left open by an older version", 0644, 0600, false, 0600},
      {"narrowed by the administrator", 0600, 0660, false, 0600},
      {"group may read but not write", 0640, 0660, false, 0640},
      {"never widened", 0400, 0644, false, 0400},
      {"forced", 0644, 0600, true, 0600},
      {"forced wider", 0600, 0644, true, 0644},
  };
  int Index = 0;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const std::string Path = Dir / ("f" + std::to_string(Index++));
    if (Case.Old >= 0) {
      test::WriteBytes(Path, "old");
      ASSERT_TRUE(test::SetMode(Path, static_cast<unsigned>(Case.Old)));
    }
    WriteFileAtomic(Path, "new", Case.Mode, Case.Force);
    EXPECT_EQ(test::ReadBytes(Path), "new");
    EXPECT_EQ(test::ModeOf(Path), Case.Expected);
  }
}

TEST(Logger, OffByDefaultAndSilent) {
  test::TempDir Dir;
  ConfigureLog({});
  ASSERT_FALSE(LogEnabled());
  for (int I = 0; I < 100; ++I) {
    LogInfo("olay");
    LogWarnFmt("uyari %s %d", "x", I);
    LogException("hata");
  }
  EXPECT_FALSE(std::filesystem::exists(Dir / "log.txt"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "log.old.txt"));
}

TEST(Logger, WhenSwitchedOnWritesLinesRotatesAndFiltersLevels) {
  test::TempDir Dir;
  TLogSettings S;
  S.Enabled = true;
  S.MinLevel = TLogLevel::Info;
  S.FilePath = Dir / "log.txt";
  S.OldFilePath = Dir / "log.old.txt";
  S.SizeLimit = 200;
  ConfigureLog(S);
  LogDebugFmt("gorunmez %s", "x");
  LogInfoFmt("Geri yukleme: %s", "db.bak");
  LogWarn("dikkat");
  const std::runtime_error Err("bozuk");
  LogException("Silinemedi", Err);
  const std::string Text = test::ReadBytes(S.FilePath);
  EXPECT_EQ(Text.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_EQ(Text.find("gorunmez"), std::string::npos);
  EXPECT_NE(Text.find(" [INFO ] Geri yukleme: db.bak\r\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find(" [WARN ] dikkat\r\n"), std::string::npos);
  EXPECT_NE(Text.find(" [ERROR] Silinemedi | std::runtime_error: bozuk\r\n"), std::string::npos) << Text;
  // A name or message cannot forge a line: breaks and other control characters come out escaped.
  LogWarnFmt("Dosya: %s", "a.bak\r\n2026-12-09 10:00:00 [ERROR] sahte\t\x1b[2J\xC2\x85\xE2\x80\xA8son");
  EXPECT_NE(test::ReadBytes(S.FilePath)
                .find(" [WARN ] Dosya: a.bak\\r\\n2026-12-09 10:00:00 [ERROR] sahte\t\\x1B[2J\\u0085\\u2028son\r\n"),
            std::string::npos)
      << test::ReadBytes(S.FilePath);
  // Lines start with the fixed date-time form.
  EXPECT_EQ(Text[3 + 4], '-');
  EXPECT_EQ(Text[3 + 19], ' ');
  // Past the size limit the file moves to the old name and a new one starts.
  LogInfo(std::string(200, 'z'));
  LogInfo("yeni dosya");
  EXPECT_TRUE(std::filesystem::exists(S.OldFilePath));
  const std::string Fresh = test::ReadBytes(S.FilePath);
  EXPECT_NE(Fresh.find("yeni dosya"), std::string::npos);
  EXPECT_EQ(Fresh.find("Geri yukleme"), std::string::npos);
  ConfigureLog({});
}

TEST(Logger, LabelsAndExceptionText) {
  EXPECT_EQ(LogLevelLabel(TLogLevel::Debug), "DEBUG");
  EXPECT_EQ(LogLevelLabel(TLogLevel::Info), "INFO ");
  EXPECT_EQ(LogLevelLabel(TLogLevel::Warn), "WARN ");
  EXPECT_EQ(LogLevelLabel(TLogLevel::Error), "ERROR");
  EXPECT_EQ(LogLevelLabel(static_cast<TLogLevel>(9)), "?????");
  EXPECT_EQ(ExceptionLogText("metin", nullptr), "metin");
  const std::invalid_argument E("X");
  EXPECT_EQ(ExceptionLogText("T", &E), "T | std::invalid_argument: X");
}
