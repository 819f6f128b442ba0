// RAR extraction: the program lookup, a stand-in "unrar" that behaves like RARLAB's (arguments,
// exit codes, files, listing), the unar fallback against real archives, the free-space check, and
// the work folder a database service user may read.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#include "RestoreTestSupport.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "platform/Process.h"
#include "platform/SharedFolders.h"
#include "support/FileModes.h"
#include "support/Fixtures.h"
#include "support/ProcessFacts.h"
#include "support/SystemSkips.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScopedEnv;
using test::WriteBytes;
using test::WriteExecutable;

const std::string kWrongPassword = "RAR parolasi hatali.";
const std::string kCrc = "RAR arsivi bozuk veya parola hatali (CRC hatasi).";
const std::string kNothing = "RAR arsivi acildi ancak icinden dosya cikmadi.";
const std::string kNoProgram = "RAR/UnRAR bulunamadi. WinRAR kurulu olmali veya rar.exe uygulama klasorunde bulunmali.";

// Records its arguments, creates the files named in $KELVO_RAR_FILES (one a line) below its last
// argument, a link for $KELVO_RAR_LINK, and exits with $KELVO_RAR_EXIT ("kill": ends by a signal).
// Asked for a technical listing ("lt"), it records those arguments apart and prints
// $KELVO_RAR_LISTING, exiting with $KELVO_RAR_LIST_EXIT.
const char kStandInRar[] = R"SH(#!/bin/sh
if [ "$1" = lt ]; then
  printf '%s\0' "$@" >"$KELVO_CAPTURE/list_args"
  printf '%s\n' "${KELVO_RAR_LISTING-}"
  exit "${KELVO_RAR_LIST_EXIT:-0}"
fi
printf '%s\0' "$@" >"$KELVO_CAPTURE/rar_args"
for dest; do :; done
if [ -n "${KELVO_RAR_FILES-}" ]; then
  printf '%s\n' "$KELVO_RAR_FILES" | while IFS= read -r f; do
    mkdir -p "$dest$(dirname "$f")" && printf 'icerik' >"$dest$f"
  done
fi
[ -z "${KELVO_RAR_LINK-}" ] || ln -s /etc/hostname "$dest$KELVO_RAR_LINK"
[ "${KELVO_RAR_EXIT-}" != kill ] || kill -KILL $$
exit "${KELVO_RAR_EXIT:-0}"
)SH";

class RarStandInTest : public test::RestoreTest {
 protected:
  std::string Capture = Root / "capture";
  ScopedEnv CaptureEnv{"KELVO_CAPTURE", Capture.c_str()};
  std::string Archive = Root / "in/yedek.rar";
  std::string Dest = Root / "work/item";

  void SetUp() override {
    RestoreTest::SetUp();
    KELVO_SKIP_ON_WINDOWS("the stand-in RAR console program is a /bin/sh script");
    fs::create_directories(Capture);
    WriteBytes(Archive, "Rar!\x1A\x07\x01");
    WriteExecutable(ProgramDir + "/unrar", kStandInRar);
  }
  std::vector<std::string> RarArgs() { return test::SplitNul(ReadBytes(Capture + "/rar_args")); }
  // One extraction into a fresh destination; the error text, or "" with File set.
  std::string Extract(const std::string& Files, std::string& File, const std::string& Password = "") {
    fs::remove_all(Dest);
    ScopedEnv FilesEnv("KELVO_RAR_FILES", Files.c_str());
    std::string Error = "stale";
    File = "stale";
    const bool Ok = TRestoreEngine::ExtractRarArchive(Archive, Password, Dest, File, Error);
    EXPECT_EQ(Ok, Error.empty());
    EXPECT_EQ(Ok, !File.empty());
    return Error;
  }
};

TEST_F(RarStandInTest, ArgumentVectorWithPasswordSwitchAndFolderDestination) {
  std::string File;
  for (const std::string Blank : {"", "   ", "\t "}) {
    EXPECT_EQ(Extract("db.bak", File, Blank), "");
    EXPECT_EQ(RarArgs(), (std::vector<std::string>{"x", "-y", "-idq", "-p-", Archive, Dest + "/"}));
  }
  // The password travels untrimmed, quote included, as part of one argument.
  EXPECT_EQ(Extract("db.bak", File, " pa\"ss 'w\xC5\x9F "), "");
  EXPECT_EQ(RarArgs()[3], "-p pa\"ss 'w\xC5\x9F ");
  EXPECT_EQ(Extract("db.bak", File, "-rf"), "");
  EXPECT_EQ(RarArgs()[3], "-p-rf");

  // A destination given with its separator does not get a second one.
  std::string Error;
  ASSERT_TRUE(TRestoreEngine::ExtractRarArchive(Archive, "", Dest + "/", File, Error)) << Error;
  EXPECT_EQ(RarArgs()[5], Dest + "/");
  EXPECT_EQ(File, Dest + "/db.bak");
}

TEST_F(RarStandInTest, PathsNamedLikeSwitchesAreHandedOverAbsolute) {
  const std::string Odd = Root / "in/-rf yedek \xC5\x9F.rar";
  WriteBytes(Odd, "Rar!");
  const std::string OldDir = fs::current_path().string();
  fs::current_path(Root / "in");
  ScopedEnv Files("KELVO_RAR_FILES", "db.bak");
  std::string File, Error;
  const bool Ok = TRestoreEngine::ExtractRarArchive("-rf yedek \xC5\x9F.rar", "", "-out dir", File, Error);
  fs::current_path(OldDir);
  ASSERT_TRUE(Ok) << Error;
  const std::vector<std::string> Args = RarArgs();
  EXPECT_EQ(Args[4], Odd);
  EXPECT_EQ(Args[5], Root / "in/-out dir/");
  EXPECT_EQ(File, Root / "in/-out dir/db.bak");
}

TEST_F(RarStandInTest, PicksTheFirstBackupElseTheFirstFile) {
  std::string File;
  // Whatever order the folder lists them in, the backup wins over the text file.
  EXPECT_EQ(Extract("notes.txt\nyedek.bak", File), "");
  EXPECT_EQ(File, Dest + "/yedek.bak");
  EXPECT_EQ(Extract("a.bak\nb.txt\nc.txt", File), "");
  EXPECT_EQ(File, Dest + "/a.bak");
  EXPECT_EQ(Extract("readme.txt\nYedek/2024/firma.FBK", File), "");
  EXPECT_EQ(File, Dest + "/Yedek/2024/firma.FBK");
  EXPECT_EQ(Extract("only.txt", File), "");
  EXPECT_EQ(File, Dest + "/only.txt");
  EXPECT_EQ(Extract("", File), kNothing);
  EXPECT_EQ(File, "");
  ScopedEnv Link("KELVO_RAR_LINK", "evil.bak");
  EXPECT_EQ(Extract("", File), kNothing) << "a link is not a file the archive held";
  EXPECT_EQ(Extract("real.txt", File), "");
  EXPECT_EQ(File, Dest + "/real.txt");
}

TEST_F(RarStandInTest, ExitCodesHaveTheirTexts) {
  std::string File;
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"11", kWrongPassword},
      {"3", kCrc},
      {"2", "RAR cikartma basarisiz. Cikis kodu: 2"},
      {"10", "RAR cikartma basarisiz. Cikis kodu: 10"},
      {"255", "RAR cikartma basarisiz. Cikis kodu: 255"},
      {"kill", "RAR cikartma basarisiz. Cikis kodu: -1"},
  };
  for (const auto& [Code, Text] : Cases) {
    ScopedEnv Exit("KELVO_RAR_EXIT", Code.c_str());
    // Files the program left behind do not make a failure a success.
    EXPECT_EQ(Extract("db.bak", File), Text) << Code;
    EXPECT_EQ(File, "");
  }
}

TEST_F(RarStandInTest, MissingArchiveOrProgramIsReportedWithoutRunningAnything) {
  std::string File = "stale", Error;
  EXPECT_FALSE(TRestoreEngine::ExtractRarArchive(Root / "in/none.rar", "", Dest, File, Error));
  EXPECT_EQ(Error, "RAR arsivi bulunamadi: " + Root / "in/none.rar");
  EXPECT_EQ(File, "");
  EXPECT_FALSE(fs::exists(Capture + "/rar_args"));

  fs::remove(ProgramDir + "/unrar");
  SetRarSystemFoldersForTests(std::vector<std::string>{});
  ScopedEnv Path("PATH", (Root / "empty").c_str());
  EXPECT_FALSE(TRestoreEngine::ExtractRarArchive(Archive, "", Dest, File, Error));
  EXPECT_EQ(Error, kNoProgram);

  // Found but not startable.
  WriteExecutable(ProgramDir + "/rar", "#!/nonexistent/interpreter\n");
  EXPECT_FALSE(TRestoreEngine::ExtractRarArchive(Archive, "", Dest, File, Error));
  EXPECT_EQ(Error, std::string("RAR baslatilamadi: ") + std::strerror(ENOENT));
}

TEST_F(RarStandInTest, LookupOrderProgramFolderSystemFoldersThenPath) {
  const std::string Sys = Root / "sys";
  const std::string OnPath = Root / "onpath";
  SetRarSystemFoldersForTests(std::vector<std::string>{Sys});
  ScopedEnv Path("PATH", ("relative:" + OnPath).c_str());
  std::string Found = "stale";

  WriteExecutable(ProgramDir + "/rar", "#!/bin/sh\n");
  WriteExecutable(Sys + "/rar", "#!/bin/sh\n");
  ASSERT_TRUE(TRestoreEngine::FindRarExecutable(Found));
  EXPECT_EQ(Found, ProgramDir + "/rar") << "rar before unrar, the program folder before all";
  fs::remove(ProgramDir + "/rar");
  ASSERT_TRUE(TRestoreEngine::FindRarExecutable(Found));
  EXPECT_EQ(Found, ProgramDir + "/unrar");
  fs::remove(ProgramDir + "/unrar");
  ASSERT_TRUE(TRestoreEngine::FindRarExecutable(Found));
  EXPECT_EQ(Found, Sys + "/rar");

  // A file that may not be run is no program; PATH is searched next, but never relative entries.
  test::SetMode(Sys + "/rar", 0644);
  WriteExecutable(Root / "relative/rar", "#!/bin/sh\n");
  WriteExecutable(OnPath + "/unrar", "#!/bin/sh\n");
  const std::string OldDir = fs::current_path().string();
  fs::current_path(Root.path());
  const bool Ok = TRestoreEngine::FindRarExecutable(Found);
  fs::current_path(OldDir);
  ASSERT_TRUE(Ok);
  EXPECT_EQ(Found, OnPath + "/unrar");

  fs::remove(OnPath + "/unrar");
  EXPECT_FALSE(TRestoreEngine::FindRarExecutable(Found));
  EXPECT_EQ(Found, "");
}

// Stand-ins for unar (writes db.bak below its -o folder) and lsar (records its arguments, prints
// $KELVO_RAR_LISTING, exits with $KELVO_RAR_LIST_EXIT).
const char kStandInUnar[] = R"SH(#!/bin/sh
printf '%s\0' "$@" >"$KELVO_CAPTURE/rar_args"
while [ $# -gt 0 ]; do [ "$1" != -o ] || dest=$2; shift; done
/bin/mkdir -p "$dest" && printf 'icerik' >"$dest/db.bak"
)SH";
const char kStandInLsar[] = R"SH(#!/bin/sh
printf '%s\0' "$@" >"$KELVO_CAPTURE/list_args"
printf '%s\n' "${KELVO_RAR_LISTING-}"
echo "lsar: on stderr, kept out of the listing" >&2
exit "${KELVO_RAR_LIST_EXIT:-0}"
)SH";

struct SpaceCase {
  std::string Listing;
  std::string ListExit;
  uint64_t RefusedFor;  // the size named in the refusal; 0: unpacked
  const char* Why;
};

class RarFreeSpaceTest : public RarStandInTest {
 protected:
  uint64_t Free = 0;
  // Each alone would fit, both together not: catches a check that looks at one entry only.
  uint64_t Big = 0;
  const std::string Huge = "18000000000000000000";

  void SetUp() override {
    RarStandInTest::SetUp();
    ASSERT_TRUE(platform::FreeDiskSpace(Root.path(), Free));
    Big = Free / 10 * 6;
  }
  void Check(const std::vector<SpaceCase>& Cases) {
    for (const SpaceCase& C : Cases) {
      fs::remove(Capture + "/rar_args");
      fs::remove(Capture + "/list_args");
      ScopedEnv Listing("KELVO_RAR_LISTING", C.Listing.c_str());
      ScopedEnv ListExit("KELVO_RAR_LIST_EXIT", C.ListExit.c_str());
      std::string File;
      const std::string Error = Extract("db.bak", File);
      EXPECT_TRUE(fs::exists(Capture + "/list_args")) << C.Why;
      if (C.RefusedFor == 0) {
        EXPECT_EQ(Error, "") << C.Why;
        continue;
      }
      const std::string Prefix =
          "RAR arsivi icin yeterli bos alan yok: " + FormatFileSize(static_cast<int64_t>(C.RefusedFor)) + " gerekli, ";
      EXPECT_EQ(Error.substr(0, Prefix.size()), Prefix) << C.Why;
      EXPECT_TRUE(Error.ends_with(" bos (" + Dest + ").")) << Error;
      EXPECT_FALSE(fs::exists(Capture + "/rar_args")) << C.Why << ": nothing is unpacked";
    }
  }
};

TEST_F(RarFreeSpaceTest, RarListingSizesAreAddedUpAndComparedWithTheFreeSpace) {
  const std::string B = std::to_string(Big);
  Check({
      {"Archive: yedek.rar\nDetails: RAR 5\n\n        Name: db.bak\n        Type: File\n        Size: 1200\n"
       " Packed size: " +
           Huge + "\n       Ratio: 1%\n",
       "0", 0, "the packed size is not what unpacking needs"},
      {"        Name: a.bak\n        Size: " + B + "\n        Name: b.bak\n        Size: " + B + "\n", "0", 2 * Big,
       "all entries together"},
      {"        Size: 9000000000000000000\n", "0", 9000000000000000000u, "one huge entry"},
      {"        Size: 5\n        Size: ?\n", "0", 0, "a size the program does not know: unknown, go on"},
      {"        Size: " + Huge + "\n", "11", 0, "a listing that failed (a wrong password) says nothing"},
      {"", "0", 0, "nothing listed: unknown, go on"},
  });
  EXPECT_EQ(test::SplitNul(ReadBytes(Capture + "/list_args")), (std::vector<std::string>{"lt", "-p-", Archive}));
  std::string File;
  EXPECT_EQ(Extract("db.bak", File, "-gizli"), "");
  EXPECT_EQ(test::SplitNul(ReadBytes(Capture + "/list_args")), (std::vector<std::string>{"lt", "-p-gizli", Archive}));
}

TEST_F(RarFreeSpaceTest, LsarListingsAreReadForTheUnarFallback) {
  fs::remove(ProgramDir + "/unrar");
  SetRarSystemFoldersForTests(std::vector<std::string>{});
  ScopedEnv Path("PATH", (Root / "empty").c_str());
  WriteExecutable(ProgramDir + "/unar", kStandInUnar);
  WriteExecutable(ProgramDir + "/lsar", kStandInLsar);
  const std::string B = std::to_string(Big);
  Check({
      {R"({"lsarFormatVersion":2,"lsarContents":[{"XADFileName":"a.bak","XADFileSize":)" + B +
           R"(},{"XADFileName":"b.bak","XADFileSize":)" + B + "}]}",
       "0", 2 * Big, "all entries together"},
      {R"({"lsarContents":[{"XADFileName":"d","XADIsDirectory":1,"XADFileSize":)" + Huge +
           R"(},{"XADFileName":"d/a.bak","XADFileSize":3}]})",
       "0", 0, "a folder entry takes no room of its own"},
      {R"({"lsarFormatVersion":2,"lsarContents":[],"lsarError":15})", "0", 0, "lsar could not read it: go on"},
      {"{\"lsarContents\":[{\"XADFileSize\":" + Huge + "}]}", "2", 0, "lsar failed: go on"},
      {"not json", "0", 0, "an unreadable answer: go on"},
  });
  std::string File;
  EXPECT_EQ(Extract("db.bak", File, "-gizli"), "");
  const std::vector<std::string> Args = test::SplitNul(ReadBytes(Capture + "/list_args"));
  ASSERT_EQ(Args.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(Args.begin(), Args.begin() + 4),
            (std::vector<std::string>{"-j", "-nr", "-p", "-gizli"}));
  EXPECT_TRUE(Args[4].ends_with("/archive.rar")) << "a link to the archive alone, not the archive beside its siblings";
}

TEST(RarQuoteArgument, QuotesAndEscapesInnerQuotes) {
  EXPECT_EQ(TRestoreEngine::QuoteArgument("C:\\Yedek\\a b.rar"), "\"C:\\Yedek\\a b.rar\"");
  EXPECT_EQ(TRestoreEngine::QuoteArgument("pa\"ss"), "\"pa\\\"ss\"");
  EXPECT_EQ(TRestoreEngine::QuoteArgument(""), "\"\"");
}

// The fallback on machines without RARLAB's programs, against real archives.
class UnarTest : public test::RestoreTest {
 protected:
  std::string Dest = Root / "work/item";

  void SetUp() override {
    RestoreTest::SetUp();
    KELVO_SKIP_ON_WINDOWS("unar, the fallback RAR console program, is a Linux program");
    std::string Rar;
    if (TRestoreEngine::FindRarExecutable(Rar))
      GTEST_SKIP() << "a RAR program is installed (" << Rar << "); unar is not used";
    if (!fs::exists("/usr/bin/unar") && !fs::exists("/usr/local/bin/unar"))
      GTEST_SKIP() << "unar is not installed (scripts/setup installs it)";
  }
  // Copies a fixture to Name (so its siblings are ours) and extracts it.
  std::string Extract(const std::string& Fixture, const std::string& Password, std::string& File,
                      const std::string& Name = "archive.rar") {
    fs::create_directories(fs::path(Root / "in/" + Name).parent_path());
    fs::copy_file(Fixture, Root / "in/" + Name, fs::copy_options::overwrite_existing);
    fs::remove_all(Dest);
    std::string Error = "stale";
    File = "stale";
    const bool Ok = TRestoreEngine::ExtractRarArchive(Root / "in/" + Name, Password, Dest, File, Error);
    EXPECT_EQ(Ok, Error.empty());
    // The private folder of the run is gone, whatever happened.
    for (const std::string& Entry : WorkDirEntries()) EXPECT_NE(Entry.rfind("unar_", 0), 0u) << Entry;
    return Error;
  }
};

TEST_F(UnarTest, PlainRar5Archives) {
  KELVO_REQUIRE_FIXTURE(Stored, "rar/rar5/test_read_format_rar5_stored.rar");
  KELVO_REQUIRE_FIXTURE(Compressed, "rar/rar5/test_read_format_rar5_compressed.rar");
  KELVO_REQUIRE_FIXTURE(Multiple, "rar/rar5/test_read_format_rar5_multiple_files.rar");
  std::string File;
  ASSERT_EQ(Extract(Stored, "", File), "");
  EXPECT_EQ(File, Dest + "/helloworld.txt");
  EXPECT_EQ(ReadBytes(File), "hello libarchive test suite!\n");
  // A password given for a plain archive does no harm.
  ASSERT_EQ(Extract(Compressed, "gereksiz", File), "");
  EXPECT_EQ(File, Dest + "/test.bin");
  EXPECT_EQ(fs::file_size(File), 1200u);
  ASSERT_EQ(Extract(Multiple, "", File), "");
  for (const char* Name : {"test1.bin", "test2.bin", "test3.bin", "test4.bin"})
    EXPECT_EQ(fs::file_size(Dest + "/" + Name), 4096u) << "no containing folder is made";
}

TEST_F(UnarTest, UnpackedSizesOfRealArchives) {
  KELVO_REQUIRE_FIXTURE(Stored, "rar/rar5/test_read_format_rar5_stored.rar");
  KELVO_REQUIRE_FIXTURE(Multiple, "rar/rar5/test_read_format_rar5_multiple_files.rar");
  KELVO_REQUIRE_FIXTURE(Data, "rar/rar5/rar5-psw.rar");
  KELVO_REQUIRE_FIXTURE(Headers, "rar/rar5/rar5-hpsw.rar");
  struct Case {
    std::string Archive;
    std::string Password;
    std::optional<uint64_t> Size;
  };
  const std::vector<Case> Cases = {
      {Stored, "", 29u},           {Multiple, "", 4 * 4096u},
      {Data, "", 2 * 2048u},       {Headers, "password", 2 * 2048u},
      {Headers, "", std::nullopt}, {Headers, "WRONG", std::nullopt},
  };
  for (const Case& C : Cases) {
    uint64_t Size = 0;
    const bool Known = TRestoreEngine::ReadRarUnpackedSize(C.Archive, C.Password, Size);
    EXPECT_EQ(Known ? std::optional<uint64_t>(Size) : std::nullopt, C.Size) << C.Archive << " / " << C.Password;
  }
}

TEST_F(UnarTest, EncryptedRar5Archives) {
  KELVO_REQUIRE_FIXTURE(Data, "rar/rar5/rar5-psw.rar");
  KELVO_REQUIRE_FIXTURE(Headers, "rar/rar5/rar5-hpsw.rar");
  KELVO_REQUIRE_FIXTURE(Solid, "rar/rar5/test_read_format_rar5_solid_encrypted_filenames.rar");
  std::string File;
  ASSERT_EQ(Extract(Data, "password", File), "");
  EXPECT_EQ(fs::file_size(Dest + "/stest1.txt"), 2048u);
  EXPECT_EQ(fs::file_size(Dest + "/stest2.txt"), 2048u);
  EXPECT_EQ(Extract(Data, "wrong-password", File), kWrongPassword);
  EXPECT_EQ(Extract(Data, "-rf", File), kWrongPassword) << "a password that looks like a switch stays a password";
  EXPECT_EQ(Extract(Data, "   ", File), kWrongPassword) << "no password for an encrypted archive";

  ASSERT_EQ(Extract(Headers, "password", File), "");
  EXPECT_EQ(fs::file_size(File), 2048u);
  EXPECT_EQ(Extract(Headers, "WRONG", File), kWrongPassword);
  EXPECT_EQ(Extract(Headers, "", File), kWrongPassword);

  ASSERT_EQ(Extract(Solid, "password", File), "");
  for (const char* Name : {"a.txt", "b.txt", "c.txt", "d.txt"}) EXPECT_EQ(fs::file_size(Dest + "/" + Name), 18u);
}

TEST_F(UnarTest, DamagedArchives) {
  KELVO_REQUIRE_FIXTURE(Crc5, "rar/damaged/derived-crcerr-from-libarchive-stored.rar");
  KELVO_REQUIRE_FIXTURE(Crc4, "rar/damaged/derived-crcerr-from-libarchive-basic.rar");
  KELVO_REQUIRE_FIXTURE(Header, "rar/damaged/corrupt-header.rar");
  KELVO_REQUIRE_FIXTURE(Truncated, "rar/damaged/derived-truncated300-from-libarchive-compressed.rar");
  std::string File;
  EXPECT_EQ(Extract(Crc5, "", File), kCrc);
  EXPECT_EQ(Extract(Crc4, "", File), kCrc);
  EXPECT_EQ(Extract(Header, "", File), "RAR cikartma basarisiz. Cikis kodu: 1");
  EXPECT_EQ(Extract(Truncated, "", File), "RAR cikartma basarisiz. Cikis kodu: 1");
  EXPECT_EQ(File, "");
}

TEST_F(UnarTest, SiblingsWithNumberedNamesAreNotTakenForVolumes) {
  KELVO_REQUIRE_FIXTURE(Stored, "rar/rar5/test_read_format_rar5_stored.rar");
  KELVO_REQUIRE_FIXTURE(Compressed, "rar/rar5/test_read_format_rar5_compressed.rar");
  // Beside "backup1.rar", unar would read "backup2.rar" as the second volume of backup1's set and
  // unpack backup1's files instead.
  fs::create_directories(Root / "in");
  fs::copy_file(Stored, Root / "in/backup1.rar");
  std::string File;
  ASSERT_EQ(Extract(Compressed, "", File, "backup2.rar"), "");
  EXPECT_EQ(File, Dest + "/test.bin");
  EXPECT_FALSE(fs::exists(Dest + "/helloworld.txt"));
}

TEST_F(UnarTest, NamesWithBlanksQuotesTurkishLettersAndLeadingDashes) {
  KELVO_REQUIRE_FIXTURE(Data, "rar/rar5/rar5-psw.rar");
  std::string File;
  const std::string Name = "yedek \xC5\x9F 'x\"/-rf -p yedek.rar";
  Dest = Root / "work/-o \xC3\xA7\xC4\xB1kt\xC4\xB1";
  ASSERT_EQ(Extract(Data, "password", File, Name), "");
  EXPECT_EQ(fs::file_size(Dest + "/stest1.txt"), 2048u);
  EXPECT_TRUE(fs::exists(Root / "in/" + Name)) << "the archive itself is left alone";
}

// A system user of the test's own, for a database service or a stranger; removed with the object.
class StandInUser {
 public:
  explicit StandInUser(const std::string& Role)
      : FName("kelvot" + std::to_string(test::ProcessId()) + Role),
        FMade(platform::RunHiddenProcess("/usr/sbin/useradd",
                                         {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", FName},
                                         "useradd: ") == 0) {}
  ~StandInUser() {
    if (FMade) platform::RunHiddenProcess("/usr/sbin/userdel", {FName}, "userdel: ");
  }
  StandInUser(const StandInUser&) = delete;
  StandInUser& operator=(const StandInUser&) = delete;
  bool Made() const { return FMade; }
  const std::string& Name() const { return FName; }
  // Whether this user can read the whole file (cat running as the user).
  bool CanRead(const std::string& Path) const {
    return platform::RunHiddenProcess("/usr/sbin/runuser", {"-u", FName, "--", "/bin/cat", Path}, "runuser: ") == 0;
  }

 private:
  std::string FName;
  bool FMade;
};

// The RAR road of the restore queue: the work folder from config.ini, readable by a stand-in server
// user named in WorkFolderReaders and by nobody else.
class RarWorkFolderTest : public test::RestoreTest {
 protected:
  std::string WorkParent = Root / "var";
  std::string Base = WorkParent + "/kelvo-restore-" + std::to_string(test::EffectiveUserId());
  std::string Archive = Root / "in/yedek.rar";
  std::optional<StandInUser> Server, Stranger;

  void SetUp() override {
    RestoreTest::SetUp();
    KELVO_SKIP_ON_WINDOWS("the stand-in server user is made with useradd and runs the RAR console program via runuser");
    KELVO_SKIP_WITHOUT_POSIX_MODES();
    if (!test::IsRoot()) GTEST_SKIP() << "making stand-in users needs root";
    for (const char* Tool : {"/usr/sbin/useradd", "/usr/sbin/userdel", "/usr/sbin/runuser"})
      if (!fs::exists(Tool)) GTEST_SKIP() << Tool << " is missing (package passwd / util-linux)";
    Server.emplace("s");
    Stranger.emplace("o");
    if (!Server->Made() || !Stranger->Made()) GTEST_SKIP() << "useradd could not make the stand-in users";
    // Like /var/tmp, the folders above the work folder may be passed by everybody; a file there shows
    // that the stranger is kept out by the work folder and not by the test's own folders.
    fs::create_directories(WorkParent);
    fs::permissions(Root.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::group_read |
                                     fs::perms::others_exec | fs::perms::others_read);
    fs::permissions(WorkParent, fs::perms::owner_all | fs::perms::others_exec | fs::perms::others_read);
    WriteBytes(WorkParent + "/control.txt", "acik");
    test::SetMode(WorkParent + "/control.txt", 0644);
    WriteConfigIni("[Restore]\r\nWorkFolder=" + WorkParent + "/\r\nWorkFolderReaders=kelvo-no-such-user, " +
                   Server->Name() + "\r\n");
    WriteBytes(Archive, "Rar!\x1A\x07\x01");
  }
  void TearDown() override {
    Server.reset();
    Stranger.reset();
    RestoreTest::TearDown();
  }
};

// Unpacks as RARLAB's program does for an archive made on Unix: the stored modes, here private ones.
const char kStandInRarWithStoredModes[] = R"SH(#!/bin/sh
[ "$1" != lt ] || exit 1
for dest; do :; done
umask 077
mkdir -p "${dest}Yedek" && printf 'yedek' >"${dest}Yedek/db.bak" && chmod 600 "${dest}Yedek/db.bak" &&
  chmod 700 "${dest}Yedek"
)SH";

TEST_F(RarWorkFolderTest, TheServerUserCanReadTheUnpackedBackupAndNobodyElseCan) {
  ASSERT_TRUE(Stranger->CanRead(WorkParent + "/control.txt"));
  struct Case {
    const char* Unpacker;
    std::string Fixture;  // empty: the stand-in RAR program
  };
  std::vector<Case> Cases = {{"a RAR program restoring private modes", ""}};
  std::string Rar;
  const std::string Real = test::FixturePath("rar/rar5/test_read_format_rar5_stored.rar");
  fs::remove(ProgramDir + "/unrar");
  if (fs::exists("/usr/bin/unar") && !TRestoreEngine::FindRarExecutable(Rar) && !Real.empty())
    Cases.push_back({"unar with a real archive", Real});
  else
    std::cout << "[ INFO ] unar with a real archive not tried (no unar, a RAR program installed, or no fixture)\n";

  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Unpacker);
    fs::remove(ProgramDir + "/unrar");
    if (C.Fixture.empty())
      WriteExecutable(ProgramDir + "/unrar", kStandInRarWithStoredModes);
    else
      fs::copy_file(C.Fixture, Archive, fs::copy_options::overwrite_existing);
    std::string Folder, File, Error;
    ASSERT_TRUE(TRestoreEngine::UnpackRarForRestore(Archive, "", Folder, File, Error)) << Error;
    EXPECT_EQ(Folder.rfind(Base + "/rar_", 0), 0u) << Folder;
    EXPECT_EQ(File.rfind(Folder + "/", 0), 0u) << File;
    EXPECT_TRUE(Server->CanRead(File)) << File;
    EXPECT_FALSE(Stranger->CanRead(File)) << File;
    const auto St = test::FileFacts(Base);
    ASSERT_TRUE(St.Exists);
    EXPECT_EQ(St.Mode & 07, 0u) << "others get nothing in the work folder";
    EXPECT_EQ(St.Uid, test::EffectiveUserId());
    fs::remove_all(Folder);
  }
  EXPECT_TRUE(fs::is_empty(Base));
}

TEST_F(RarWorkFolderTest, AWorkFolderThatIsNotOursOrMissingIsRefused) {
  WriteExecutable(ProgramDir + "/unrar", kStandInRarWithStoredModes);
  std::string Folder = "stale", File, Error;
  const auto Unpack = [&] { return TRestoreEngine::UnpackRarForRestore(Archive, "", Folder, File, Error); };

  fs::create_directories(Root / "elsewhere");
  fs::create_directory_symlink(Root / "elsewhere", Base);
  EXPECT_FALSE(Unpack());
  EXPECT_EQ(Error, "Gecici klasor guvenli degil: " + Base) << "a link is not followed";
  EXPECT_EQ(Folder, "");
  EXPECT_TRUE(fs::is_empty(Root / "elsewhere"));

  fs::remove(Base);
  fs::create_directory(Base);
  ASSERT_TRUE(test::ChangeOwner(Base, *test::UserIdByName(Stranger->Name()), 0));
  EXPECT_FALSE(Unpack());
  EXPECT_EQ(Error, "Gecici klasor guvenli degil: " + Base) << "a folder of another user";

  WriteConfigIni("[Restore]\r\nWorkFolder=" + Root / "none" + "\r\n");
  EXPECT_FALSE(Unpack());
  EXPECT_EQ(Error, "RAR calisma klasoru bulunamadi: " + Root / "none" + " ([Restore] WorkFolder)");
  EXPECT_FALSE(fs::exists(Root / "none"));
}

}  // namespace
}  // namespace kelvo
