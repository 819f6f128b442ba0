#include <gtest/gtest.h>

#include "core/FileIO.h"
#include "core/IniFile.h"
#include "support/TempDir.h"

using namespace kelvo;

namespace {
std::string Raw(const std::string& Text, const std::string& Section, const std::string& Key) {
  return ReadIniRawValue(SplitLines(Text), Section, Key);
}
}  // namespace

TEST(IniReader, KeyMustStartTheLineAndNamesIgnoreCase) {
  const std::string Ini = "[mssqlbackup]\r\n Server=spaced\r\nUSERNAME=sa\r\nPassword==x=\r\n";
  EXPECT_EQ(Raw(Ini, "MSSQLBackup", "Server"), "");
  EXPECT_EQ(Raw(Ini, "MSSQLBackup", "UserName"), "sa");
  EXPECT_EQ(Raw(Ini, "MSSQLBackup", "Password"), "=x=");
  EXPECT_EQ(Raw(Ini, "Other", "UserName"), "");
  // "Key =" is not "Key=".
  EXPECT_EQ(Raw("[S]\nKey =v\n", "S", "Key"), "");
  // The value keeps its own spaces; only continuation lines are trimmed.
  EXPECT_EQ(Raw("[S]\nKey= v \n", "S", "Key"), " v ");
}

TEST(IniReader, ContinuationLinesAndSections) {
  EXPECT_EQ(Raw("[S]\nKey=abc\n  def  \nghi\n\nmore\n", "S", "Key"), "abcdefghi");
  EXPECT_EQ(Raw("[S]\nKey=abc\nNext=1\n", "S", "Key"), "abc");
  EXPECT_EQ(Raw("[S]\nKey=abc\n[T]\nx\n", "S", "Key"), "abc");
  // Same key in two sections, and twice in one section.
  const std::string Two = "[A]\nKey=a1\nKey=a2\n[B]\nKey=b\n";
  EXPECT_EQ(Raw(Two, "A", "Key"), "a1");
  EXPECT_EQ(Raw(Two, "B", "Key"), "b");
  // A repeated section is entered again.
  EXPECT_EQ(Raw("[A]\nX=1\n[B]\nY=2\n[a]\nKey=late\n", "A", "Key"), "late");
  // A bracket line with spaces around still counts as a section line.
  EXPECT_EQ(Raw("  [A]  \nKey=v\n", "A", "Key"), "v");
}

TEST(IniReader, BadInputNeverBreaksTheReader) {
  EXPECT_EQ(Raw("", "S", "K"), "");
  EXPECT_EQ(Raw("\xEF\xBB\xBF", "S", "K"), "");
  EXPECT_EQ(Raw("[S]\r\nK=crlf\nL=lf\rM=cr", "S", "M"), "cr");
  EXPECT_EQ(Raw("[S]\r\nK=crlf\nL=lf\rM=cr", "S", "L"), "lf");
  EXPECT_EQ(Raw("[S]\nK=no final newline", "S", "K"), "no final newline");
  std::string Garbage;
  for (int I = 0; I < 4096; ++I) Garbage += static_cast<char>((I * 131) % 256);
  EXPECT_NO_THROW(Raw(Garbage, "S", "K"));
  const std::string Long(1 << 20, 'x');
  EXPECT_EQ(Raw("[S]\nK=" + Long + "\n", "S", "K"), Long);
  EXPECT_EQ(Raw("[\n]\n[]\nK=1\n", "", "K"), "1");
  EXPECT_EQ(Raw("[S]\n=\nK=\n", "S", "K"), "");
}

TEST(IniWriter, ReplacesInPlaceAddsAndCreates) {
  test::TempDir Dir;
  const std::string Path = Dir / "config.ini";
  test::WriteBytes(
      Path, "\xEF\xBB\xBF; comment\r\n[Google]\r\nClientID=abc\r\n  def\r\nAuthPort=1\r\n\r\n[Other]\r\nX=1\r\n");
  TIniWriter W(Path);
  W.WriteString("google", "clientid", "new");
  W.WriteString("Google", "RootFolderID", "root");
  W.WriteString("FirebirdBackup", "Port", "3050");
  W.WriteString("Other", "X", "");
  W.Flush();
  EXPECT_EQ(
      test::ReadBytes(Path),
      "\xEF\xBB\xBF; comment\r\n[Google]\r\nclientid=new\r\nAuthPort=1\r\nRootFolderID=root\r\n\r\n[Other]\r\nX=\r\n"
      "[FirebirdBackup]\r\nPort=3050\r\n");
  // The reader finds what the writer wrote, without the old continuation line glued on.
  EXPECT_EQ(Raw(ReadTextFile(Path), "Google", "ClientID"), "new");

  const std::string Fresh = Dir / "fresh.ini";
  TIniWriter N(Fresh);
  N.Flush();
  EXPECT_FALSE(FileExists(Fresh)) << "nothing written, nothing created";
  N.WriteString("S", "K", "v");
  N.Flush();
  EXPECT_EQ(test::ReadBytes(Fresh), "[S]\r\nK=v\r\n");
}

TEST(IniWriter, KeepsLfFilesLfAndReportsTheFileWhenItCannotWrite) {
  test::TempDir Dir;
  const std::string Path = Dir / "lf.ini";
  test::WriteBytes(Path, "[S]\nK=1\n");
  TIniWriter W(Path);
  W.WriteString("S", "K", "2");
  W.Flush();
  EXPECT_EQ(test::ReadBytes(Path), "[S]\nK=2\n");

  TIniWriter Bad(Dir / "missing-folder/config.ini");
  Bad.WriteString("S", "K", "v");
  try {
    Bad.Flush();
    FAIL() << "expected an error";
  } catch (const EFileError& E) {
    EXPECT_NE(std::string(E.what()).find("missing-folder/config.ini"), std::string::npos) << E.what();
  }
}
