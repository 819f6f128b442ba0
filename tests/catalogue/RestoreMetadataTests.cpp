#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "catalogue/CatalogueJson.h"
#include "catalogue/uRestoreMetadata.h"
#include "core/AsciiJson.h"
#include "core/FileIO.h"
#include "support/FolderWatch.h"
#include "support/TempDir.h"

using namespace kelvo;
namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

TRestoreMetadata SampleRecord() {
  TRestoreMetadata M;
  M.PlanID = "{A1}";
  M.PlanName = "Gunluk";
  M.BackupType = "sql";
  M.DatabaseName =
      "MUHASEBE_\xC5\x9F"
      "ube";
  M.DriveSubFolder = "Yedek/SQL";
  M.Server = "SRV\\SQL";
  M.BackupFileName = "MUHASEBE_FULL_1.bak";
  M.RarEncrypted = true;
  M.DbFiles = {{"L", "D:\\Data\\m.mdf", "D"}};
  M.CreatedAt = EncodeDateTime(2024, 1, 5, 2, 3, 4);
  M.ComputerName = "PC-1\t";
  return M;
}

const char SampleJson[] =
    R"({"PlanID":"{A1}","PlanName":"Gunluk","BackupType":"sql","DatabaseName":"MUHASEBE_\u015Fube",)"
    R"("SourceFolder":"","DriveSubFolder":"Yedek\/SQL","Server":"SRV\\SQL","BackupFileName":"MUHASEBE_FULL_1.bak",)"
    R"("RarEncrypted":true,"UseCompression":false,"CreatedAt":"2024-01-05 02:03:04","ComputerName":"PC-1\t",)"
    R"("DbFiles":[{"LogicalName":"L","PhysicalName":"D:\\Data\\m.mdf","FileType":"D"}]})";

TRestoreMetadata Parsed(const std::string& Text) {
  TRestoreMetadata M;
  EXPECT_TRUE(ParseRestoreMetadata(Text, M)) << Text;
  return M;
}

class RestoreCacheTest : public ::testing::Test {
 protected:
  test::TempDir Base;
  std::string Dir() const { return GetRestoreMetadataDir(Base.path()); }
  void Put(const std::string& Name, const std::string& Bytes) const { test::WriteBytes(JoinPath(Dir(), Name), Bytes); }
  static std::string Record(const std::string& PlanID, const std::string& BackupFileName) {
    return R"({"PlanID":")" + PlanID + R"(","BackupFileName":")" + BackupFileName + R"("})";
  }
};

}  // namespace

TEST(RestoreMetadata, WrittenCompactPureAsciiInKeyOrderAndReadBackUnchanged) {
  EXPECT_EQ(ToAsciiJson(RestoreMetadataToJson(SampleRecord())), SampleJson);
  EXPECT_EQ(Parsed(SampleJson), SampleRecord()) << "Turkish letters come back from their escapes";
  EXPECT_EQ(GetRestoreMetadataFileName("MUHASEBE_"), "MUHASEBE_restoreinfo.json");
  EXPECT_EQ(GetRestoreMetadataFileName(""), "restoreinfo.json");
  EXPECT_EQ(GetRestoreMetadataDir("/etc/kelvo"), "/etc/kelvo/restoremeta");
}

TEST(RestoreMetadata, MissingAndNullKeysGiveTheEmptyRecord) {
  EXPECT_EQ(Parsed("{}"), TRestoreMetadata{});
  EXPECT_EQ(Parsed(R"({"PlanID":null,"RarEncrypted":null,"UseCompression":null,"CreatedAt":null,"DbFiles":null})"),
            TRestoreMetadata{});
  EXPECT_EQ(ReadRestoreMetadata(nullptr), TRestoreMetadata{});
  EXPECT_EQ(ReadRestoreMetadata(Json::array({1})), TRestoreMetadata{});
  // Keys are matched exactly.
  EXPECT_EQ(Parsed(R"({"planid":"x","PLANNAME":"y"})"), TRestoreMetadata{});
}

TEST(RestoreMetadata, CreatedAtOnlyInTheFixedForm) {
  EXPECT_EQ(Parsed(R"({"CreatedAt":"2024-01-05 02:00:00"})").CreatedAt, EncodeDateTime(2024, 1, 5, 2));
  for (const char* Text : {R"({"CreatedAt":""})", R"({"CreatedAt":"2024-01-05T02:00:00"})",
                           R"({"CreatedAt":"2024-02-30 00:00:00"})", R"({"CreatedAt":20240105})"})
    EXPECT_EQ(Parsed(Text).CreatedAt, 0) << Text;
  const TRestoreMetadata DayFirst = Parsed(R"({"PlanName":"P","CreatedAt":"05.01.2024 02:00:00","Server":"S"})");
  EXPECT_EQ(DayFirst.CreatedAt, 0);
  EXPECT_EQ(DayFirst.PlanName, "P");
  EXPECT_EQ(DayFirst.Server, "S");
  // A zero time is written as the start of the calendar.
  EXPECT_EQ(RestoreMetadataToJson(DayFirst)["CreatedAt"], "1899-12-30 00:00:00");
}

TEST(RestoreMetadata, DbFilesOnlyFromAnArrayWithOneEntryPerElement) {
  const TRestoreMetadata M = Parsed(R"({"DbFiles":[{"LogicalName":"Data"},5,null,"x",[]]})");
  ASSERT_EQ(M.DbFiles.size(), 5u);
  EXPECT_EQ(M.DbFiles[0], (TRestoreDbFile{"Data", "", ""}));
  for (size_t I = 1; I < 5; ++I) EXPECT_EQ(M.DbFiles[I], TRestoreDbFile{}) << I;
  for (const char* Text : {R"({"DbFiles":{"LogicalName":"Data"},"PlanID":"P"})", R"({"DbFiles":"Data","PlanID":"P"})",
                           R"({"DbFiles":7,"PlanID":"P"})"}) {
    const TRestoreMetadata Other = Parsed(Text);
    EXPECT_TRUE(Other.DbFiles.empty()) << Text;
    EXPECT_EQ(Other.PlanID, "P") << Text;
  }
}

TEST(RestoreMetadata, ConvertibleKindsAreReadAndFlagsNeedTrue) {
  const TRestoreMetadata M =
      Parsed(R"({"Server":1433,"PlanName":true,"PlanID":-2.5,"RarEncrypted":"TRUE","UseCompression":1,)"
             R"("DbFiles":[{"FileType":0}]})");
  EXPECT_EQ(M.Server, "1433");
  EXPECT_EQ(M.PlanName, "true");
  EXPECT_EQ(M.PlanID, "-2.5");
  EXPECT_TRUE(M.RarEncrypted);
  EXPECT_FALSE(M.UseCompression);
  EXPECT_EQ(M.DbFiles.at(0).FileType, "0");
  // Repeated keys: the last value wins.
  EXPECT_EQ(Parsed(R"({"PlanID":"old","PlanID":"new"})").PlanID, "new");
}

TEST(RestoreMetadata, ContainersInScalarFieldsFailTheRead) {
  for (const char* Text : {R"({"PlanName":{}})", R"({"RarEncrypted":[]})", R"({"CreatedAt":{"a":1}})",
                           R"({"ComputerName":[1]})", R"({"DbFiles":[{"LogicalName":"ok"},{"PhysicalName":["x"]}]})"}) {
    TRestoreMetadata M = SampleRecord();
    EXPECT_THROW(ParseRestoreMetadata(Text, M), std::runtime_error) << Text;
    EXPECT_EQ(M, TRestoreMetadata{}) << "the out parameter stays cleared";
  }
  try {
    ReadRestoreMetadata(Json::parse(R"({"PlanName":{}})"));
    FAIL() << "no error";
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(), "Yedek bilgisi okunamadi: PlanName alaninin turu gecersiz");
  }
}

TEST(RestoreMetadata, TextThatIsNotAnObjectIsFalseWithoutError) {
  std::string Deep;
  for (int I = 0; I < 100000; ++I) Deep += "{\"DbFiles\":[";
  for (const std::string& Text :
       {std::string(""), std::string("[]"), std::string("\"x\""), std::string("null"), std::string(SampleJson, 60),
        std::string("{\"PlanID\":\"\xC0\xAF\"}"), std::string("{\"PlanID\":\"a\"}}"), Deep}) {
    TRestoreMetadata M = SampleRecord();
    bool Ok = true;
    EXPECT_NO_THROW(Ok = ParseRestoreMetadata(Text, M)) << Text.substr(0, 40);
    EXPECT_FALSE(Ok) << Text.substr(0, 40);
    EXPECT_EQ(M, TRestoreMetadata{});
  }
  EXPECT_EQ(Parsed(std::string(Utf8Bom) + SampleJson), SampleRecord());
}

TEST_F(RestoreCacheTest, SaveWritesTheParsedRecordWithBomAndReplacesTheFile) {
  SaveRestoreMetadata(Base.path(), "MUHASEBE_", TRestoreMetadata{});
  // A download with an unknown key and missing keys: the cache holds the record's own form.
  const TRestoreMetadata Download = Parsed(R"({"Extra":{"x":1},"PlanID":"{A1}","DatabaseName":"MUHASEBE_\u015Fube"})");
  SaveRestoreMetadata(Base.path(), "MUHASEBE_", Download);
  const std::string Bytes = test::ReadBytes(JoinPath(Dir(), "MUHASEBE_restoreinfo.json"));
  EXPECT_EQ(Bytes, std::string(Utf8Bom) +
                       R"({"PlanID":"{A1}","PlanName":"","BackupType":"","DatabaseName":"MUHASEBE_\u015Fube",)"
                       R"("SourceFolder":"","DriveSubFolder":"","Server":"","BackupFileName":"","RarEncrypted":false,)"
                       R"("UseCompression":false,"CreatedAt":"1899-12-30 00:00:00","ComputerName":"","DbFiles":[]})");
  EXPECT_EQ(fs::directory_entry(Dir()).exists(), true);
  size_t Files = 0;
  for ([[maybe_unused]] const auto& E : fs::directory_iterator(Dir())) ++Files;
  EXPECT_EQ(Files, 1u) << "no temporary file left behind";
}

TEST_F(RestoreCacheTest, SaveRefusesNamesLeavingTheFolderAndReportsWriteFailures) {
  for (const char* Prefix : {"../", "a/b_", "..\\x_", "sub/../"})
    EXPECT_THROW(SaveRestoreMetadata(Base.path(), Prefix, SampleRecord()), kelvo::ECatalogueDataError) << Prefix;
  EXPECT_THROW(SaveRestoreMetadata(Base.path(), std::string("a\0b", 3), SampleRecord()), kelvo::ECatalogueDataError);
  EXPECT_FALSE(fs::exists(Base / "restoreinfo.json"));
  EXPECT_FALSE(fs::exists(Dir())) << "nothing created for a refused name";

  test::WriteBytes(Base / "blocked", "a file where the base folder should be");
  EXPECT_THROW(SaveRestoreMetadata(Base / "blocked", "x_", SampleRecord()), EFileError);
}

TEST_F(RestoreCacheTest, ListingTakesOnlyGoodRestoreInfoFilesOfTheFolderItself) {
  EXPECT_TRUE(LoadRestoreMetadataList(Base.path()).empty()) << "missing folder";
  SaveRestoreMetadata(Base.path(), "a_", SampleRecord());
  SaveRestoreMetadata(Base.path(), "", Parsed(Record("{EMPTY}", "x.bak")));
  Put("B_RestoreInfo.JSON", Record("{UPPER}", "y.bak"));
  Put("plans.json", "[" + Record("{PLANS}", "p.bak") + "]");
  Put("c_restoreinfo.json.bak", Record("{SUFFIX}", "s.bak"));
  Put("sub/d_restoreinfo.json", Record("{SUB}", "s.bak"));
  fs::create_directories(JoinPath(Dir(), "e_restoreinfo.json"));
  Put("f_restoreinfo.json", "not json");
  Put("g_restoreinfo.json", "[1]");
  Put("h_restoreinfo.json", R"({"PlanID":{}})");
  Put("i_restoreinfo.json", "");
  Put("j_restoreinfo.json", "{\"PlanID\":\"\xFF\"}");

  std::vector<std::string> IDs;
  for (const TRestoreMetadata& M : LoadRestoreMetadataList(Base.path())) IDs.push_back(M.PlanID);
  std::sort(IDs.begin(), IDs.end());
  EXPECT_EQ(IDs, (std::vector<std::string>{"{A1}", "{EMPTY}", "{UPPER}"}));
}

TEST_F(RestoreCacheTest, FindComparesStemsIgnoringCaseAndExtension) {
  SaveRestoreMetadata(Base.path(), "MUHASEBE_", SampleRecord());
  Put("STOK_restoreinfo.json", Record("{STOK}", R"(D:\\Yedek\\STOK_FULL_9.bak)"));
  Put("NOSTEM_restoreinfo.json", Record("{NOSTEM}", ".bak"));
  TRestoreMetadata M;
  EXPECT_TRUE(FindRestoreMetadataForBackup(Base.path(), "  /home/op/indir/muhasebe_full_1.RAR \r\n", M));
  EXPECT_EQ(M, SampleRecord());
  EXPECT_TRUE(FindRestoreMetadataForBackup(Base.path(), "/tmp/STOK_FULL_9", M)) << "folder of a Windows name dropped";
  EXPECT_EQ(M.PlanID, "{STOK}");
  // The cloud keeps only the latest record of a plan: an older backup finds nothing.
  EXPECT_FALSE(FindRestoreMetadataForBackup(Base.path(), "/tmp/MUHASEBE_FULL_0.bak", M));
  EXPECT_EQ(M, TRestoreMetadata{});
  // Records without a stem never match, not even a queued name without one.
  EXPECT_FALSE(FindRestoreMetadataForBackup(Base.path(), "/tmp/.bak", M));
  EXPECT_FALSE(FindRestoreMetadataForBackup(Base.path() + "/missing", "/tmp/STOK_FULL_9.bak", M));
}

TEST_F(RestoreCacheTest, FindTakesTheFirstRecordInListingOrder) {
  Put("one_restoreinfo.json", Record("{ONE}", "SAME.bak"));
  Put("two_restoreinfo.json", Record("{TWO}", "same.rar"));
  std::string First;
  for (const auto& E : fs::directory_iterator(Dir()))
    if (First.empty()) First = E.path().filename().string();
  TRestoreMetadata M;
  ASSERT_TRUE(FindRestoreMetadataForBackup(Base.path(), "/q/Same.bak", M));
  EXPECT_EQ(M.PlanID, First == "one_restoreinfo.json" ? "{ONE}" : "{TWO}");
}

TEST_F(RestoreCacheTest, BlankPathDoesNotOpenTheFolder) {
  if (!test::FolderReadWatch::Applies()) GTEST_SKIP() << test::FolderReadWatch::WhyNot();
  Put("x_restoreinfo.json", Record("{X}", "x.bak"));
  test::FolderReadWatch Watch(Dir());
  ASSERT_TRUE(Watch.Watching());
  TRestoreMetadata M = SampleRecord();
  EXPECT_FALSE(FindRestoreMetadataForBackup(Base.path(), " \t\r\n ", M));
  EXPECT_EQ(M, TRestoreMetadata{});
  EXPECT_FALSE(Watch.SawRead()) << "the folder was read";
  // Control: a real lookup does open it.
  EXPECT_TRUE(FindRestoreMetadataForBackup(Base.path(), "/a/x.bak", M));
  EXPECT_TRUE(Watch.SawRead());
}
