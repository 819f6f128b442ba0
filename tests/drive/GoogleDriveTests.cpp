// The Drive client against cloudsim's Drive: listings over several pages and replies of every wrong
// shape, folder search and creation, folder paths and their cache, downloads with progress and
// faults, Drive times.
#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "DriveFixture.h"
#include "core/FileIO.h"
#include "core/TextRules.h"
#include "drive/uGoogleDrive.h"
#include "support/Fixtures.h"
#include "support/SystemSkips.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using cloudsim::TFault;
using cloudsim::TFaultKind;
using ::testing::HasSubstr;

std::string Percent(const std::string& Target) {
  std::string Out;
  for (size_t I = 0; I < Target.size(); ++I) {
    if (Target[I] == '%' && I + 2 < Target.size()) {
      Out += static_cast<char>(std::stoi(Target.substr(I + 1, 2), nullptr, 16));
      I += 2;
    } else {
      Out += Target[I] == '+' ? ' ' : Target[I];
    }
  }
  return Out;
}

class GoogleDriveTest : public test::DriveFixture {
 protected:
  std::optional<TGoogleAuth> Auth;
  std::unique_ptr<TGoogleDrive> Drive;

  void SetUp() override {
    DriveFixture::SetUp();
    Auth.emplace(LiveAuth());
    Drive = std::make_unique<TGoogleDrive>(*Auth);
  }
  void TearDown() override {
    Drive.reset();
    DriveFixture::TearDown();
  }

  std::string DriveRoot() const { return Sim.DriveRootId(); }
  // A folder holding Count small files named f0000, f0001, ...
  std::string FolderWithFiles(const std::string& Name, int Count) {
    const std::string Folder = Sim.AddDriveFolder(DriveRoot(), Name);
    char FileName[16];
    for (int I = 0; I < Count; ++I) {
      std::snprintf(FileName, sizeof FileName, "f%04d", I);
      Sim.AddDriveFile(Folder, FileName, "x");
    }
    return Folder;
  }
  std::vector<std::string> Names(const std::vector<TDriveFileInfo>& Files) {
    std::vector<std::string> Out;
    for (const auto& F : Files) Out.push_back(F.Name);
    return Out;
  }
  std::vector<cloudsim::TSimRequest> DriveRequests() {
    std::vector<cloudsim::TSimRequest> Out;
    for (auto& R : Sim.Requests())
      if (StartsText(R.Path, cloudsim::DriveFilesPath)) Out.push_back(R);
    return Out;
  }
  TFault Canned(int Status, const std::string& Body, int Skip = 0) {
    TFault F;
    F.PathPrefix = cloudsim::DriveFilesPath;
    F.Status = Status;
    F.Body = Body;
    F.Skip = Skip;
    F.Times = 1;
    return F;
  }
};

TEST_F(GoogleDriveTest, ListsEveryPageInReplyOrderWithTheFieldsItNeeds) {
  const std::string Folder = FolderWithFiles("Yedekler", 2500);
  Sim.AddDriveFile(DriveRoot(), "elsewhere", "x");
  Sim.SetDriveTrashed(Sim.AddDriveFile(Folder, "trashed", "x"), true);
  Sim.ResetCounts();

  const auto Files = Drive->ListFiles(Folder);
  ASSERT_EQ(Files.size(), 2500u);
  for (size_t I = 0; I < Files.size(); I += 499) {
    char Expected[32];
    std::snprintf(Expected, sizeof Expected, "f%04d", static_cast<int>(I));
    EXPECT_EQ(Files[I].Name, Expected);
  }
  EXPECT_EQ(Files.back().Name, "f2499");
  const auto Requests = DriveRequests();
  ASSERT_EQ(Requests.size(), 3u);
  for (size_t I = 0; I < 3; ++I) {
    const std::string Target = Percent(Requests[I].Target);
    EXPECT_THAT(Target, ::testing::StartsWith(
                            "/drive/v3/files?pageSize=1000&fields=nextPageToken,files(id,name,size,md5Checksum,"
                            "mimeType,modifiedTime)&supportsAllDrives=true&includeItemsFromAllDrives=true&q='" +
                            Folder + "' in parents and trashed=false"));
    EXPECT_EQ(Target.find("pageToken=") != std::string::npos, I > 0) << Target;
  }
}

TEST_F(GoogleDriveTest, WithoutAParentEverythingIsListedTrashedIncluded) {
  const std::string Folder = FolderWithFiles("A", 2);
  Sim.SetDriveTrashed(Sim.AddDriveFile(Folder, "gone", "x"), true);
  EXPECT_EQ(Names(Drive->ListFiles(Folder)), (std::vector<std::string>{"f0000", "f0001"}));
  EXPECT_EQ(Names(Drive->ListFiles("")), (std::vector<std::string>{"A", "f0000", "f0001", "gone"}));
  EXPECT_EQ(Sim.LastRequest(cloudsim::DriveFilesPath)->Target.find("q="), std::string::npos);
}

TEST_F(GoogleDriveTest, EntriesCarrySizeMd5TypeAndLocalModifiedTime) {
  const std::string Tree = Root / "tree";
  test::WriteBytes(Tree + "/Yedekler/db.bak", "hello\n");
  std::filesystem::create_directories(Tree + "/Yedekler/Alt");
  // 2025-01-31T22:15:00.250Z
  const std::chrono::sys_time<std::chrono::nanoseconds> Modified{std::chrono::nanoseconds(1738361700250000000)};
  std::filesystem::last_write_time(Tree + "/Yedekler/db.bak",
                                   std::filesystem::file_time_type::clock::from_sys(Modified));
  Sim.SetDriveRoot(Tree, "kok");

  test::ScopedTimeZone Zone("<+03>-3");
  const auto Files = Drive->ListFiles(Sim.DriveFileId("Yedekler"));
  ASSERT_EQ(Files.size(), 2u);
  const TDriveFileInfo& Folder = Files[0];
  EXPECT_EQ(Folder.Name, "Alt");
  EXPECT_EQ(Folder.MimeType, DriveFolderMimeType);
  EXPECT_EQ(Folder.Size, 0);
  EXPECT_EQ(Folder.MD5, "");
  const TDriveFileInfo& File = Files[1];
  EXPECT_EQ(File.FileID, Sim.DriveFileId("Yedekler/db.bak"));
  EXPECT_EQ(File.Name, "db.bak");
  EXPECT_EQ(File.RelativePath, "");
  EXPECT_EQ(File.MimeType, "application/octet-stream");
  EXPECT_EQ(File.Size, 6);
  EXPECT_EQ(File.MD5, "b1946ac92492d2347c6235b4d2611184");
  EXPECT_EQ(FormatFixedDateTime(File.ModifiedTime), "2025-02-01 01:15:00");
  // The C++ library of the Windows build sets and reads file times in whole seconds.
  if (!test::RunningOnWindows()) {
    EXPECT_EQ(DecodeDateTime(File.ModifiedTime).Millisecond, 250);
  }
}

TEST_F(GoogleDriveTest, DriveTimesAreConvertedFromUtcWithFallbacks) {
  test::ScopedTimeZone Zone("<+03>-3");
  const std::pair<std::string, std::string> Cases[] = {
      {"2025-01-31T22:15:00.000Z", "2025-02-01 01:15:00"},
      {"  2025-01-31T22:15:00Z ", "2025-02-01 01:15:00"},
      {"2025-01-31T22:15:00.123456789Z", "2025-02-01 01:15:00"},
      {"2025-01-31T22:15:00+02:00", "2025-01-31 23:15:00"},
      {"2025-01-31T22:15:00-0130", "2025-02-01 02:45:00"},
      {"2025-01-31T22:15", "2025-02-01 01:15:00"},
      {"2025-01-31", "2025-01-31 03:00:00"},
      // Fallbacks: a broken fraction or zone is cut off, the rest read as UTC...
      {"2025-01-31T22:15:00.12x4Z", "2025-02-01 01:15:00"},
      // ...and a regional text is taken as local time.
      {"31.01.2025 22:15:00", "2025-01-31 22:15:00"},
  };
  for (const auto& [Text, Local] : Cases) EXPECT_EQ(FormatFixedDateTime(DriveTimeToLocal(Text)), Local) << Text;
  for (const std::string Bad : {"", "   ", "yesterday", "2025-13-01T00:00:00Z", "2025-02-30", "2025-01-31T25:00:00Z",
                                "2025-01-31T22:15:00+24:00", "T", "Z", "4050-01-31T22:15:00Z", "0001-01-01T00:00:00Z"})
    EXPECT_EQ(DriveTimeToLocal(Bad), 0) << Bad;
}

TEST_F(GoogleDriveTest, AFailedPageFailsTheWholeListingAndPassingFailuresAreRepeated) {
  const std::string Folder = FolderWithFiles("A", 2500);
  KELVO_REQUIRE_FIXTURE(Html, "drive/gargle_drive_429_automated_queries.html");
  TFault HtmlPage = Canned(429, test::ReadBytes(Html), 1);
  HtmlPage.ContentType = "text/html; charset=UTF-8";
  TFault Cut;
  Cut.Kind = TFaultKind::CutMidBody;
  Cut.PathPrefix = cloudsim::DriveFilesPath;
  Cut.Skip = 1;
  TFault Hang;
  Hang.Kind = TFaultKind::NoAnswer;
  Hang.PathPrefix = cloudsim::DriveFilesPath;
  Hang.Skip = 1;
  struct TCase {
    const char* What;
    TFault Fault;
    int Skip;             // pages let through first
    int Times;            // -1: for good
    std::string Message;  // empty: the listing succeeds
    int Requests;         // page requests in all
  } Cases[] = {
      {"rate limit on page 2, for good", cloudsim::DriveRateLimitFault(), 1, -1,
       "Drive listesi alinamadi (403 userRateLimitExceeded)", 1 + 5},
      {"server error on page 3, for good", cloudsim::DriveServerErrorFault(), 2, -1,
       "Drive listesi alinamadi (500 backendError)", 2 + 5},
      {"HTML 429 page on page 2, for good", HtmlPage, 1, -1, "Drive listesi alinamadi (429)", 1 + 5},
      {"not found on page 2: not repeated", Canned(404, cloudsim::DriveErrorBody(404, "notFound", "File not found")), 1,
       -1, "Drive listesi alinamadi (404 notFound)", 2},
      {"garbage page 2: not repeated", Canned(200, "<html>"), 1, -1, "Drive listesi alinamadi: yanit okunamadi.", 2},
      {"an entry that is not an object", Canned(200, R"({"files":[{"id":"a"},7]})"), 0, -1, "Drive listesi okunamadi",
       1},
      {"connection cut on page 2, for good", Cut, 1, -1, "Drive listesi alinamadi: HTTP istegi basarisiz", 1 + 5},
      {"rate limit twice", cloudsim::DriveRateLimitFault(), 1, 2, "", 3 + 2},
      {"server error three times", cloudsim::DriveServerErrorFault(), 2, 3, "", 3 + 3},
      {"connection cut once", Cut, 1, 1, "", 3 + 1},
      {"no answer once (a time-out)", Hang, 1, 1, "", 3 + 1},
  };
  for (TCase& C : Cases) {
    C.Fault.Skip = C.Skip;
    C.Fault.Times = C.Times;
    Sim.ClearFaults();
    Sim.AddFault(C.Fault);
    Sim.ResetCounts();
    std::string Message;
    size_t Count = 0;
    try {
      Count = Drive->ListFolder(Folder).size();
    } catch (const EDriveError& E) {
      Message = E.what();
    }
    if (C.Message.empty()) {
      EXPECT_EQ(Count, 2500u) << C.What;
      EXPECT_EQ(Message, "") << C.What;
    } else {
      EXPECT_THAT(Message, ::testing::StartsWith(C.Message)) << C.What;
      EXPECT_EQ(Count, 0u) << C.What;
    }
    EXPECT_EQ(Sim.RequestCount("GET", cloudsim::DriveFilesPath), C.Requests) << C.What;
  }
  Sim.ClearFaults();
  Sim.AddFault(cloudsim::DriveRateLimitFault());
  EXPECT_TRUE(Drive->ListFiles(Folder).empty()) << "never a partial list";
  EXPECT_THROW(Drive->ListFolder(""), EDriveError) << "nothing is listed without a parent";
}

TEST_F(GoogleDriveTest, RetriesWaitWithJitterHonourRetryAfterAndEndOnACancel) {
  std::vector<int64_t> Waits;
  TRetryPolicy Policy;
  Policy.Wait = [&](std::chrono::milliseconds Delay, const TCancelToken&) {
    Waits.push_back(Delay.count());
    return true;
  };
  Drive->SetRetryPolicy(Policy);
  const std::string Folder = FolderWithFiles("A", 3);
  TFault Busy = Canned(429, cloudsim::DriveErrorBody(429, "rateLimitExceeded", "Rate Limit Exceeded"));
  Busy.Headers = {{"Retry-After", "7"}};
  Sim.AddFault(Busy);
  Sim.AddFault(cloudsim::DriveServerErrorFault(3));
  EXPECT_EQ(Drive->ListFolder(Folder).size(), 3u);
  ASSERT_EQ(Waits.size(), 4u);
  EXPECT_EQ(Waits[0], 7000) << "Retry-After decides";
  // Full jitter: the n-th repeat waits at most 1 s * 2^(n-1).
  for (size_t I = 1; I < Waits.size(); ++I) EXPECT_LE(Waits[I], 1000 << I) << I;

  // A cancel during a wait ends the listing at once.
  auto Cancel = std::make_shared<TCancelToken>();
  Drive->SetCancelToken(Cancel);
  Policy.Wait = {};
  Policy.FirstDelay = std::chrono::seconds(30);
  Drive->SetRetryPolicy(Policy);
  Sim.AddFault(cloudsim::DriveServerErrorFault());
  std::thread Canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Cancel->Cancel();
  });
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_THROW(Drive->ListFolder(Folder), EOperationCancelled);
  Canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(2));
  EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2015 07:28:00 GMT"), std::chrono::milliseconds(0)) << "a date in the past";
  EXPECT_EQ(ParseRetryAfter("soon"), std::nullopt);
}

TEST_F(GoogleDriveTest, RepliesOfTheWrongShapeAreReadAsFarAsTheyGo) {
  struct TCase {
    std::string Body;
    std::vector<std::string> Ids;
  };
  const TCase Cases[] = {
      {"[]", {}},
      {"\"files\"", {}},
      {"null", {}},
      {"{\"files\":", {}},
      {R"({"files":{"id":"a"}})", {}},
      {R"({"files":"a"})", {}},
      {R"({"error":{"code":401,"message":"Invalid Credentials"}})", {}},
      {R"({"files":[]})", {}},
      {R"({"files":[{}]})", {""}},
      {R"({"files":[{"id":5,"name":null,"size":"12x","mimeType":[],"md5Checksum":{},"modifiedTime":7}]})", {""}},
      {R"({"files":[{"id":"a"}],"nextPageToken":7})", {"a"}},
      {R"({"files":[{"id":"a"}],"nextPageToken":""})", {"a"}},
  };
  for (const auto& Case : Cases) {
    Sim.AddFault(Canned(200, Case.Body));
    std::vector<std::string> Ids;
    const auto Files = Drive->ListFiles("p");
    for (const auto& F : Files) {
      Ids.push_back(F.FileID);
      EXPECT_EQ(F.Size, 0);
      EXPECT_EQ(F.Name, "");
      EXPECT_EQ(F.ModifiedTime, 0);
    }
    EXPECT_EQ(Ids, Case.Ids) << Case.Body;
  }
  // Sizes: decimal text or a JSON number; anything else is 0.
  Sim.AddFault(Canned(200, R"({"files":[{"size":"1099511627776"},{"size":12},{"size":"-3"},{"size":1.5},)"
                           R"({"size":"99999999999999999999"},{"size":true}]})"));
  std::vector<int64_t> Sizes;
  for (const auto& F : Drive->ListFiles("p")) Sizes.push_back(F.Size);
  EXPECT_EQ(Sizes, (std::vector<int64_t>{1099511627776, 12, 0, 0, 0, 0}));
}

TEST_F(GoogleDriveTest, APageTokenHandedOutTwiceEndsTheListing) {
  TFault Loop = Canned(200, R"({"nextPageToken":"again","files":[{"id":"a"}]})");
  Loop.Times = -1;
  Sim.AddFault(Loop);
  EXPECT_EQ(Drive->ListFiles("p").size(), 2u);
  EXPECT_EQ(Sim.RequestCount("GET", cloudsim::DriveFilesPath), 2);
}

TEST_F(GoogleDriveTest, HugePagesAreReadWhole) {
  std::string Body = R"({"files":[)";
  for (int I = 0; I < 50000; ++I)
    Body += (I ? "," : "") + std::string(R"({"id":"id)") + std::to_string(I) + R"(","name":"n","size":"1"})";
  Body += "]}";
  Sim.AddFault(Canned(200, Body));
  const auto Files = Drive->ListFiles("p");
  ASSERT_EQ(Files.size(), 50000u);
  EXPECT_EQ(Files.back().FileID, "id49999");
}

TEST_F(GoogleDriveTest, FindSubFolderEscapesQuotesAndTakesTheFirstFolder) {
  const std::string Parent = Sim.AddDriveFolder(DriveRoot(), "P");
  const std::string Apostrophe = Sim.AddDriveFolder(Parent, "O'Brien");
  const std::string Backslash = Sim.AddDriveFolder(Parent, "a\\b'");
  const std::string First = Sim.AddDriveFolder(Parent, "Twice");
  Sim.AddDriveFolder(Parent, "Twice");
  Sim.AddDriveFile(Parent, "plain", "x");
  Sim.SetDriveTrashed(Sim.AddDriveFolder(Parent, "binned"), true);

  EXPECT_EQ(Drive->FindSubFolder(Parent, "O'Brien"), Apostrophe);
  EXPECT_THAT(Percent(Sim.LastRequest(cloudsim::DriveFilesPath)->Target),
              HasSubstr("?fields=files(id,name)&supportsAllDrives=true&includeItemsFromAllDrives=true&q='" + Parent +
                        "' in parents and name='O\\'Brien' and mimeType='application/vnd.google-apps.folder' and "
                        "trashed=false"));
  EXPECT_EQ(Drive->FindSubFolder(Parent, "a\\b'"), Backslash);
  EXPECT_EQ(Drive->FindSubFolder(Parent, "Twice"), First);
  EXPECT_EQ(Drive->FindSubFolder(Parent, "plain"), "") << "files are not folders";
  EXPECT_EQ(Drive->FindSubFolder(Parent, "binned"), "");
  EXPECT_EQ(Drive->FindSubFolder(Parent, "none"), "");
  EXPECT_EQ(Drive->FindSubFolder("x' or name='O\\'Brien", "O'Brien"), "") << "a parent ID cannot widen the query";

  Sim.AddFault(Canned(200, R"({"files":[7]})"));
  EXPECT_EQ(Drive->FindSubFolder(Parent, "O'Brien"), "");
  Sim.AddFault(Canned(200, R"({"files":[{"name":"no id"}]})"));
  EXPECT_EQ(Drive->FindSubFolder(Parent, "O'Brien"), "");
}

TEST_F(GoogleDriveTest, EnsureFolderPathWalksCreatesAndRemembersEachLevel) {
  const std::string A = Sim.AddDriveFolder(DriveRoot(), "A");
  Sim.ResetCounts();
  const std::string B = Drive->EnsureFolderPath(DriveRoot(), "\\A\\\\B\\");
  ASSERT_FALSE(B.empty());
  const auto Requests = DriveRequests();
  ASSERT_EQ(Requests.size(), 3u);
  EXPECT_THAT(Percent(Requests[0].Target), HasSubstr("'" + DriveRoot() + "' in parents and name='A'"));
  EXPECT_THAT(Percent(Requests[1].Target), HasSubstr("'" + A + "' in parents and name='B'"));
  EXPECT_EQ(Requests[2].Method, "POST");
  bool Found = false;
  for (const auto& E : Sim.DriveEntries())
    if (E.Id == B) Found = E.Name == "B" && E.ParentId == A && E.MimeType == DriveFolderMimeType;
  EXPECT_TRUE(Found);

  Sim.ResetCounts();
  EXPECT_EQ(Drive->EnsureFolderPath(DriveRoot(), "A/B"), B);
  EXPECT_EQ(Drive->EnsureFolderPath(DriveRoot(), ""), DriveRoot());
  EXPECT_EQ(Drive->EnsureFolderPath(DriveRoot(), "\\//\\"), DriveRoot());
  EXPECT_EQ(Sim.TotalRequests(), 0);
  // The cache is per root: the same path below another root is walked again.
  EXPECT_EQ(Drive->EnsureFolderPath(A, "B"), B);
  EXPECT_EQ(Sim.TotalRequests(), 1);
}

TEST_F(GoogleDriveTest, EnsureFolderPathStopsWhereALevelCannotBeFoundOrMade) {
  Sim.AddDriveFolder(DriveRoot(), "A");
  // A refused search creates nothing: a second folder of the same name would stand beside the first.
  Sim.AddFault(cloudsim::DriveRateLimitFault(5));
  EXPECT_EQ(Drive->EnsureFolderPath(DriveRoot(), "A"), "");
  EXPECT_EQ(Sim.RequestCount("POST", cloudsim::DriveFilesPath), 0);
  Sim.AddFault(Canned(200, "<html>busy</html>"));
  EXPECT_EQ(Drive->EnsureFolderPath(DriveRoot(), "A"), "");
  EXPECT_EQ(Sim.RequestCount("POST", cloudsim::DriveFilesPath), 0);

  // A refused creation: the level above stays remembered.
  TFault Refuse = cloudsim::DriveRateLimitFault(5);
  Refuse.Method = "POST";
  Sim.AddFault(Refuse);
  EXPECT_EQ(Drive->EnsureFolderPath(DriveRoot(), "A/New"), "");
  Sim.ResetCounts();
  const std::string New = Drive->EnsureFolderPath(DriveRoot(), "A/New");
  EXPECT_FALSE(New.empty());
  EXPECT_EQ(Sim.RequestCount("GET", cloudsim::DriveFilesPath), 1) << "A came from the cache";
  EXPECT_EQ(Sim.RequestCount("POST", cloudsim::DriveFilesPath), 1);

  // A transport failure of the creation reaches the caller.
  TFault Hang;
  Hang.Kind = TFaultKind::NoAnswer;
  Hang.PathPrefix = cloudsim::DriveFilesPath;
  Hang.Method = "POST";
  Hang.Times = 1;
  Sim.AddFault(Hang);
  EXPECT_THROW(Drive->EnsureFolderPath(DriveRoot(), "A/Other"), EHttpError);
}

TEST_F(GoogleDriveTest, CreateFolderSendsAsciiJsonAndReadsTheNewId) {
  const std::string Parent = Sim.AddDriveFolder(DriveRoot(), "P");
  const std::string Id = Drive->CreateFolder("Yedek \xC5\x9F/1 \"x\"", Parent);
  ASSERT_FALSE(Id.empty());
  const auto Request = Sim.LastRequest(cloudsim::DriveFilesPath);
  EXPECT_EQ(Request->Target, "/drive/v3/files?fields=id,name&supportsAllDrives=true");
  EXPECT_EQ(Request->Body,
            "{\"name\":\"Yedek \\u015F\\/1 \\\"x\\\"\",\"mimeType\":\"application\\/vnd.google-apps.folder\","
            "\"parents\":[\"" +
                Parent + "\"]}");
  EXPECT_EQ(Drive->FindSubFolder(Parent, "Yedek \xC5\x9F/1 \"x\""), Id);

  const std::string Top = Drive->CreateFolder("Top", "");
  EXPECT_EQ(Sim.LastRequest(cloudsim::DriveFilesPath)->Body.find("parents"), std::string::npos);
  EXPECT_EQ(Drive->FindSubFolder(DriveRoot(), "Top"), Top);

  EXPECT_EQ(Drive->CreateFolder("X", "no-such-parent"), "") << "404";
  TFault Error;
  Error.PathPrefix = cloudsim::DriveFilesPath;
  Error.Method = "POST";
  Error.Status = 200;
  Error.Body = cloudsim::DriveErrorBody(403, "insufficientPermissions", "Insufficient Permission");
  Error.Times = 1;
  Sim.AddFault(Error);
  EXPECT_EQ(Drive->CreateFolder("X", Parent), "") << "an error member in a 200 reply";
  for (const std::string Body : {"[]", "not json", R"({"id":5})", "{}"}) {
    Error.Body = Body;
    Sim.AddFault(Error);
    EXPECT_EQ(Drive->CreateFolder("X", Parent), "") << Body;
  }
}

class DriveDownloadTest : public GoogleDriveTest {
 protected:
  std::string Dest;
  std::string Content;
  std::string FileId;

  void SetUp() override {
    GoogleDriveTest::SetUp();
    Dest = Root / "downloads/db.bak";
    test::WriteBytes(Dest, "old content");
    Content.resize(3 << 20);
    uint32_t X = 12345;
    for (auto& C : Content) C = static_cast<char>((X = X * 1103515245 + 12345) >> 24);
    test::WriteBytes(Root / "tree/db.bak", Content);
    Sim.SetDriveRoot(Root / "tree");
    FileId = Sim.DriveFileId("db.bak");
  }
  bool PartLeft() const { return !test::PartFilesBelow(Root.path()).empty(); }
};

TEST_F(DriveDownloadTest, ProgressArrivesWhileBytesComeAndTheOldFileStaysUntilTheEnd) {
  TFault Slow;
  Slow.Kind = TFaultKind::Throttle;
  Slow.PathPrefix = cloudsim::DriveFilesPath;
  Slow.BytesPerSecond = 3 << 20;
  Sim.AddFault(Slow);
  std::vector<std::pair<int64_t, int64_t>> Calls;
  bool OldKept = true;
  ASSERT_TRUE(Drive->DownloadFile(FileId, Dest, [&](int64_t Done, int64_t Total) {
    Calls.emplace_back(Done, Total);
    OldKept = OldKept && test::ReadBytes(Dest) == "old content" && PartLeft();
  }));
  EXPECT_TRUE(test::ReadBytes(Dest) == Content);
  EXPECT_FALSE(PartLeft());
  const int64_t Size = static_cast<int64_t>(Content.size());
  ASSERT_GE(Calls.size(), 4u) << "a few calls a second during a one-second transfer, then the final one";
  EXPECT_EQ(Calls.back(), std::make_pair(Size, Size));
  for (size_t I = 0; I + 1 < Calls.size(); ++I) {
    EXPECT_EQ(Calls[I].second, Size);
    EXPECT_LT(Calls[I].first, Size);
    if (I > 0) {
      EXPECT_GT(Calls[I].first, Calls[I - 1].first);
    }
  }
  EXPECT_TRUE(OldKept) << "the destination is replaced only when the content is complete";
  // The request is the plain media download.
  EXPECT_EQ(Sim.LastRequest(std::string(cloudsim::DriveFilesPath) + "/" + FileId)->Target,
            "/drive/v3/files/" + FileId + "?alt=media&supportsAllDrives=true");
}

TEST_F(DriveDownloadTest, FailuresLeaveTheOldFileAndNoPartFile) {
  auto Expect = [this](const char* What, const std::string& Id, const TUploadProgress& Progress = {}) {
    EXPECT_FALSE(Drive->DownloadFile(Id, Dest, Progress)) << What;
    EXPECT_EQ(test::ReadBytes(Dest), "old content") << What;
    EXPECT_FALSE(PartLeft()) << What;
    Sim.ClearFaults();
  };
  Expect("unknown file", "1nope");
  Expect("folder", DriveRoot());
  for (const TFaultKind Kind : {TFaultKind::CutMidBody, TFaultKind::ShortBody}) {
    TFault Cut;
    Cut.Kind = Kind;
    Cut.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/";
    Cut.CutAfter = 1 << 20;
    Sim.AddFault(Cut);
    Expect(Kind == TFaultKind::ShortBody ? "body shorter than announced, every time" : "connection cut every time",
           FileId);
  }
  Sim.AddFault(cloudsim::DriveRateLimitFault());
  Expect("rate limit for good", FileId);
  Sim.AddFault(cloudsim::DriveServerErrorFault());
  Expect("server error for good", FileId);
  Sim.AddFault(Canned(206, "partial"));
  Expect("a part that is not the file", FileId);
  Expect("progress handler raising", FileId, [](int64_t, int64_t) { throw std::runtime_error("iptal"); });
  Sim.RevokeAccessTokens();
  Sim.RemoveRefreshToken(test::TestRefreshToken);
  Expect("refused token that cannot be renewed", FileId);
}

TEST_F(GoogleDriveTest, ARefusedTokenIsRenewedOnceAndARefusedRenewalEndsEverything) {
  const std::string Folder = FolderWithFiles("A", 2);
  Sim.RevokeAccessTokens();
  Sim.ResetCounts();
  EXPECT_EQ(Drive->ListFolder(Folder).size(), 2u);
  EXPECT_EQ(Refreshes(), 1);
  EXPECT_EQ(Sim.RequestCount("GET", cloudsim::DriveFilesPath), 2) << "refused, then repeated once";

  Sim.RevokeAccessTokens();
  Sim.RemoveRefreshToken(test::TestRefreshToken);
  Sim.ResetCounts();
  EXPECT_THROW(
      {
        try {
          Drive->ListFolder(Folder);
        } catch (const EGoogleLinkError& E) {
          EXPECT_THAT(E.what(), HasSubstr("yeniden yapilmali"));
          throw;
        }
      },
      EGoogleLinkError);
  EXPECT_THROW(Drive->FindSubFolder(Folder, "x"), EGoogleLinkError) << "nothing else is tried";
  EXPECT_EQ(Sim.TotalRequests(), 2) << "one refused listing, one refused renewal";
}

TEST_F(DriveDownloadTest, CreatesTheFolderTakesEmptyFilesAndEncodesTheId) {
  const std::string Empty = Sim.AddDriveFile(DriveRoot(), "empty.json", "");
  const std::string Deep = Root / "new/deeper/empty.json";
  std::vector<std::pair<int64_t, int64_t>> Calls;
  ASSERT_TRUE(Drive->DownloadFile(Empty, Deep, [&](int64_t Done, int64_t Total) { Calls.emplace_back(Done, Total); }));
  EXPECT_EQ(test::ReadBytes(Deep), "");
  EXPECT_EQ(Calls, (std::vector<std::pair<int64_t, int64_t>>{{0, 0}}));
  EXPECT_TRUE(Drive->DownloadFile(FileId, Root / "plain.bak", {})) << "without a progress handler";

  EXPECT_FALSE(Drive->DownloadFile("../" + FileId + "?alt=json#", Dest, {}));
  EXPECT_EQ(
      Sim.Requests().back().Target,
      "/drive/v3/files/..%2F" + FileId + "%3Falt%3Djson%23?fields=id,name,size,md5Checksum&supportsAllDrives=true");
  EXPECT_EQ(test::ReadBytes(Dest), "old content");

  // A destination that is a folder cannot be replaced.
  std::filesystem::create_directories(Root / "folder.bak");
  EXPECT_FALSE(Drive->DownloadFile(FileId, Root / "folder.bak", {}));
  EXPECT_FALSE(PartLeft());
}

TEST_F(GoogleDriveTest, EveryRequestAsksTheHolderForAValidToken) {
  TGoogleAuth Expired(test::TestClientId, test::TestClientSecret, 0, false);
  Expired.SetTokenData({"ya29.long-gone", test::TestRefreshToken, Now() - 1});
  TGoogleDrive Client(Expired);
  FolderWithFiles("A", 1);
  EXPECT_EQ(Client.ListFiles("").size(), 2u);
  EXPECT_EQ(Refreshes(), 1);
  EXPECT_EQ(Client.ListFiles("").size(), 2u);
  EXPECT_EQ(Refreshes(), 1) << "the renewed token is kept";

  // Without a token the header goes out empty and the Drive refuses.
  TGoogleAuth None("x", "y", 0, false);
  TGoogleDrive Anonymous(None);
  EXPECT_TRUE(Anonymous.ListFiles("").empty());
  TGoogleDrive NoHolder(nullptr);
  EXPECT_EQ(NoHolder.FindSubFolder(DriveRoot(), "A"), "");
  std::string Header;
  const cloudsim::TSimRequest Last = Sim.Requests().back();
  for (const auto& [Name, Value] : Last.Headers)
    if (SameText(Name, "Authorization")) Header = Value;
  EXPECT_EQ(Trim(Header), "Bearer");
}

}  // namespace
}  // namespace kelvo
