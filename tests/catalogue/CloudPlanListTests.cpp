#include <gtest/gtest.h>

#include <filesystem>

#include "catalogue/uBackupPlans.h"
#include "catalogue/uRestoreMetadata.h"
#include "core/FileIO.h"
#include "platform/MachineProtection.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

std::vector<TBackupPlan> ParseOk(const std::string& Text) {
  std::vector<TBackupPlan> Plans;
  EXPECT_TRUE(ParseCloudPlanList(Text, Plans)) << Text;
  return Plans;
}

std::vector<std::string> Names(const std::vector<TBackupPlan>& Plans) {
  std::vector<std::string> Result;
  for (const TBackupPlan& P : Plans) Result.push_back(P.Name);
  return Result;
}

class CloudPlanCacheTest : public ::testing::Test {
 protected:
  test::TempDir Base;
  test::IsolatedProcessState Process;
  std::string CloudFile() const { return JoinPath(GetRestoreMetadataDir(Base.path()), "plans.json"); }
  void SetUp() override {
    platform::SetMachineIdentitySource([] { return std::string("machine-a-0123456789"); });
  }
};

}  // namespace

TEST(CloudPlanList, ReadsTheListedKeysOnlyWithTheirDefaults) {
  const std::vector<TBackupPlan> Plans =
      ParseOk(R"([{"ID":"{F}","Name":"Belgeler","Description":"d","BackupType":"FOLDER","DatabaseName":"",)"
              R"("SourceFolder":"D:\\Belgeler\\","TempDirectory":"t","DriveSubFolder":"Sub","UseCompression":false,)"
              R"("UseRarEncryption":true,"Enabled":true,"IntervalMinutes":5,"ScheduleType":"weekly"},)"
              R"({"ID":"{S}","DatabaseName":"MUHASEBE"}])");
  ASSERT_EQ(Plans.size(), 2u);
  TBackupPlan E;
  E.ID = "{F}";
  E.Name = "Belgeler";
  E.Description = "d";
  E.BackupType = "folder";
  E.SourceFolder = "D:\\Belgeler\\";
  E.TempDirectory = "t";
  E.DriveSubFolder = "Sub";
  E.UseRarEncryption = true;
  EXPECT_EQ(Plans[0], E) << "schedule keys of the cloud list are not read, no schedule defaults";
  EXPECT_EQ(Plans[1].BackupType, "sql");
  EXPECT_EQ(Plans[1].Name, "MUHASEBE") << "derived";
  EXPECT_TRUE(Plans[1].UseCompression);
  EXPECT_EQ(Plans[1].IntervalMinutes, 0);
}

TEST(CloudPlanList, NullsAndOtherElements) {
  const std::vector<TBackupPlan> Plans =
      ParseOk(R"([null,5,"x",[],{"Name":null,"BackupType":null,"DatabaseName":"A;B","UseCompression":null}])");
  ASSERT_EQ(Plans.size(), 5u);
  for (size_t I = 0; I < 4; ++I) EXPECT_EQ(Plans[I], TBackupPlan{}) << I;
  EXPECT_EQ(BackupTypeLabel(Plans[0]), "SQL") << "an empty plan counts as a SQL plan";
  EXPECT_EQ(Plans[4].Name, "A, B");
  EXPECT_EQ(Plans[4].BackupType, "sql");
  EXPECT_TRUE(Plans[4].UseCompression);
  EXPECT_TRUE(ParseOk("[]").empty());
}

TEST(CloudPlanList, ConvertibleValuesAndWrongKinds) {
  const std::vector<TBackupPlan> Plans =
      ParseOk(R"([{"ID":7,"Name":true,"UseRarEncryption":"True","UseCompression":0,"ID":"{LAST}"}])");
  EXPECT_EQ(Plans.at(0).ID, "{LAST}");
  EXPECT_EQ(Plans.at(0).Name, "true");
  EXPECT_TRUE(Plans.at(0).UseRarEncryption);
  EXPECT_FALSE(Plans.at(0).UseCompression);

  std::string Deep;
  for (int I = 0; I < 100000; ++I) Deep += "[{\"ID\":";
  for (const std::string& Bad : {std::string(R"([{"ID":"a"},{"Name":{}}])"), std::string(R"([{"UseCompression":[]}])"),
                                 std::string(R"({"ID":"a"})"), std::string("null"), std::string("[{\"ID\":\"a\"}"),
                                 std::string("[\"\xC3\"]"), std::string(), Deep}) {
    std::vector<TBackupPlan> Out(1);
    EXPECT_FALSE(ParseCloudPlanList(Bad, Out)) << Bad.substr(0, 30);
    EXPECT_TRUE(Out.empty());
  }
}

TEST_F(CloudPlanCacheTest, SavedAsGivenAndLoadedBack) {
  EXPECT_TRUE(LoadCloudPlanList(Base.path()).empty());
  const std::string Text = R"([{"ID":"{A}","Name":"\u015Eube","BackupType":"sql"}])";
  SaveCloudPlanList(Base.path(), Text);
  EXPECT_EQ(test::ReadBytes(CloudFile()), std::string(Utf8Bom) + Text);
  const std::vector<TBackupPlan> Plans = LoadCloudPlanList(Base.path());
  ASSERT_EQ(Plans.size(), 1u);
  EXPECT_EQ(Plans[0].Name, "\xC5\x9Eube");

  SaveCloudPlanList(Base.path(), std::string(Utf8Bom) + "[]");
  EXPECT_EQ(test::ReadBytes(CloudFile()), std::string(Utf8Bom) + "[]") << "one byte-order mark, file replaced";

  for (const char* Bad : {"{}", "[{\"Name\":[1]}]", "garbage"}) {
    SaveCloudPlanList(Base.path(), Bad);
    EXPECT_TRUE(LoadCloudPlanList(Base.path()).empty()) << Bad;
  }
  fs::remove(CloudFile());
  fs::create_directories(CloudFile());
  EXPECT_TRUE(LoadCloudPlanList(Base.path()).empty()) << "a folder in place of the file";

  test::WriteBytes(Base / "blocked", "x");
  EXPECT_THROW(SaveCloudPlanList(Base / "blocked", "[]"), EFileError);
}

TEST_F(CloudPlanCacheTest, AvailablePlansPutLocalPlansFirstAndSkipKnownIds) {
  test::WriteBytes(Base / "backupplans.json",
                   R"([{"ID":"{abc}","Name":"L1"},{"ID":"","Name":"L2"},{"ID":" {pad} ","Name":"L3"}])");
  SaveCloudPlanList(
      Base.path(), R"([{"ID":"{ABC}","Name":"dup of local"},{"ID":" {new} ","Name":"C1"},{"ID":"{NEW}","Name":"dup"},)"
                   R"({"ID":"","Name":"C2"},{"ID":"  ","Name":"C3"},{"ID":"","Name":"C2"},{"ID":"{PAD}","Name":"dup"},)"
                   R"(null])");
  const std::vector<TBackupPlan> Plans = LoadAvailablePlans(Base.path());
  EXPECT_EQ(Names(Plans), (std::vector<std::string>{"L1", "L2", "L3", "C1", "C2", "C3", "C2", ""}));
  EXPECT_EQ(Plans[3].ID, " {new} ") << "the plan is kept as read";

  test::WriteBytes(Base / "backupplans.json", "[1]");
  EXPECT_THROW(LoadAvailablePlans(Base.path()), std::runtime_error) << "local errors reach the caller";
  fs::remove(Base / "backupplans.json");
  EXPECT_EQ(LoadAvailablePlans(Base.path()).size(), 7u) << "cloud plans alone";
}
