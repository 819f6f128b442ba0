// The HTTP client over real sockets to cloudsim: requests, time-outs, transport errors, downloads.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "cloudsim/CloudSim.h"
#include "core/FileIO.h"
#include "core/HttpClient.h"
#include "support/TempDir.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using cloudsim::TFault;
using cloudsim::TFaultKind;

class HttpClientTest : public ::testing::Test {
 protected:
  cloudsim::TCloudSim Sim;
  THttpClient Http;
  test::TempDir Dir;
  std::string Token;
  std::string Content;  // the body of /blob.json: a JSON string of 300 000 bytes

  void SetUp() override {
    THttpTimeouts T;
    T.ConnectMs = 2000;
    T.TotalMs = 1500;
    T.LowSpeedSeconds = 1;
    Http.SetTimeouts(T);
    Sim.AddUser({"u@kelvo.test", "pw", "", "", false});
    std::string Blob;
    for (int I = 0; I < 300000 - 2; ++I) Blob += static_cast<char>('a' + I % 26);
    Content = "\"" + Blob + "\"";
    Sim.SetDatabase({{"blob", Blob}, {"n", 1}});
    Sim.Start();
    Token = Sim.IssueIdToken("u@kelvo.test");
  }
  std::string Url(const std::string& Node) { return Sim.BaseUrl() + Node + ".json?auth=" + Token; }
  void Canned(const std::string& Prefix, int Status, const std::string& Body, const std::string& Type) {
    TFault F;
    F.PathPrefix = Prefix;
    F.Status = Status;
    F.Body = Body;
    F.ContentType = Type;
    Sim.AddFault(F);
  }
};

TEST_F(HttpClientTest, SendsMethodHeadersAndBodyAndReadsTheReply) {
  const auto R =
      Http.Post(Sim.BaseUrl() + "/v1/accounts:signInWithPassword?key=k", R"({"email":"u@kelvo.test","password":"pw"})",
                {{"Content-Type", "application/json"}, {"X-Extra", "1"}});
  EXPECT_EQ(R.Status, 200);
  EXPECT_EQ(R.ContentType, "application/json; charset=UTF-8");
  EXPECT_EQ(R.HeaderValue("content-type"), R.ContentType);
  EXPECT_NE(R.Body.find("idToken"), std::string::npos);
  const auto Seen = Sim.LastRequest("/v1/accounts:signInWithPassword");
  ASSERT_TRUE(Seen);
  EXPECT_EQ(Seen->Method, "POST");
  EXPECT_EQ(Seen->Body, R"({"email":"u@kelvo.test","password":"pw"})");
  bool Extra = false, Expect = false;
  for (const auto& [Name, Value] : Seen->Headers) {
    Extra = Extra || (Name == "X-Extra" && Value == "1");
    Expect = Expect || Name == "Expect";
  }
  EXPECT_TRUE(Extra);
  EXPECT_FALSE(Expect);

  // Error statuses are replies, not failures; the same handle serves the next request.
  EXPECT_EQ(Http.Get(Url("/n") + "x").Status, 401);
  EXPECT_EQ(Http.Get(Url("/n")).Body, "1");
  EXPECT_EQ(Http.Send("DELETE", Url("/n"), "", {}).Status, 404);
  EXPECT_EQ(Sim.LastRequest("/n.json")->Method, "DELETE");
}

TEST_F(HttpClientTest, TextFollowsTheDeclaredCharacterSet) {
  Canned("/latin", 200, "\xE7\x61", "text/plain; charset=ISO-8859-1");
  Canned("/utf8", 200, "\xC3\xA7", "text/plain; charset=utf-8");
  EXPECT_EQ(Http.Get(Sim.BaseUrl() + "/latin").Text(), "\xC3\xA7\x61");
  EXPECT_EQ(Http.Get(Sim.BaseUrl() + "/utf8").Text(), "\xC3\xA7");
}

TEST_F(HttpClientTest, TransportFailuresRaiseTurkishMessagesWithCurlsText) {
  TFault Hold;
  Hold.Kind = TFaultKind::NoAnswer;
  Hold.Delay = 30s;
  Hold.Times = 1;
  Sim.AddFault(Hold);
  const auto Start = std::chrono::steady_clock::now();
  try {
    Http.Get(Url("/n"));
    ADD_FAILURE() << "no time-out";
  } catch (const EHttpError& E) {
    EXPECT_TRUE(E.IsTimeout());
    const std::string Text = E.what();
    EXPECT_EQ(Text.rfind("HTTP istegi zaman asimina ugradi (127.0.0.1:" + std::to_string(Sim.Port()) + "): ", 0), 0u)
        << Text;
    EXPECT_NE(Text.find("timed out"), std::string::npos) << Text;
    EXPECT_EQ(Text.find(Token), std::string::npos);  // never the URL's secrets
  }
  const auto Elapsed = std::chrono::steady_clock::now() - Start;
  EXPECT_GE(Elapsed, 1400ms);
  EXPECT_LT(Elapsed, 5s);

  const int Port = Sim.Port();
  Sim.Stop();
  try {
    Http.Get("http://127.0.0.1:" + std::to_string(Port) + "/n.json");
    ADD_FAILURE() << "no error";
  } catch (const EHttpError& E) {
    EXPECT_FALSE(E.IsTimeout());
    EXPECT_EQ(std::string(E.what()).rfind("Sunucuya baglanilamadi (127.0.0.1:", 0), 0u) << E.what();
  }
  EXPECT_THROW(Http.Get("ftp://127.0.0.1/x"), EHttpError);
  EXPECT_THROW(Http.Get("not a url"), EHttpError);
}

TEST_F(HttpClientTest, DownloadStreamsIntoTheFileAndReportsProgress) {
  const std::string Path = Dir / "out.bin";
  std::vector<std::pair<int64_t, int64_t>> Calls;
  const auto R =
      Http.GetToFile(Url("/blob"), {}, Path, [&](int64_t Sent, int64_t Total) { Calls.emplace_back(Sent, Total); });
  EXPECT_EQ(R.Status, 200);
  EXPECT_EQ(R.Body, "");
  EXPECT_EQ(R.BytesWritten, 300000);
  EXPECT_TRUE(test::ReadBytes(Path) == Content);
  ASSERT_FALSE(Calls.empty());
  EXPECT_EQ(Calls.back(), (std::pair<int64_t, int64_t>{300000, 300000}));
  for (size_t I = 1; I < Calls.size(); ++I) EXPECT_LE(Calls[I - 1].first, Calls[I].first);

  // An error reply leaves an existing file as it was and hands over its body.
  test::WriteBytes(Path, "keep me");
  const auto Denied = Http.GetToFile(Url("/blob") + "x", {}, Path);
  EXPECT_EQ(Denied.Status, 401);
  EXPECT_NE(Denied.Body.find("Permission denied"), std::string::npos);
  EXPECT_EQ(test::ReadBytes(Path), "keep me");
  EXPECT_EQ(Http.GetToFile(Url("/blob") + "x", {}, Dir / "never.bin").Status, 401);
  EXPECT_FALSE(FileExists(Dir / "never.bin"));

  // An empty 2xx body still makes the (empty) file.
  Canned("/empty", 200, "", "application/octet-stream");
  EXPECT_EQ(Http.GetToFile(Sim.BaseUrl() + "/empty", {}, Dir / "empty.bin").Status, 200);
  EXPECT_TRUE(FileExists(Dir / "empty.bin"));
  EXPECT_EQ(test::ReadBytes(Dir / "empty.bin"), "");
}

TEST_F(HttpClientTest, RangeResumesAPartialFileOrReplacesItWhenTheServerSendsItAll) {
  const std::string Path = Dir / "part.bin";
  // Beyond the resume point the old file holds junk: it must not survive.
  test::WriteBytes(Path, Content.substr(0, 1000) + "JUNKJUNK");
  std::vector<std::pair<int64_t, int64_t>> Calls;
  auto R = Http.GetToFile(
      Url("/blob"), {}, Path, [&](int64_t Sent, int64_t Total) { Calls.emplace_back(Sent, Total); }, 1000);
  EXPECT_EQ(R.Status, 206);
  EXPECT_EQ(R.BytesWritten, 299000);
  EXPECT_TRUE(test::ReadBytes(Path) == Content);
  EXPECT_EQ(Calls.back(), (std::pair<int64_t, int64_t>{300000, 300000}));
  bool RangeSent = false;
  const auto Seen = Sim.LastRequest("/blob.json");
  ASSERT_TRUE(Seen);
  for (const auto& [Name, Value] : Seen->Headers) RangeSent = RangeSent || (Name == "Range" && Value == "bytes=1000-");
  EXPECT_TRUE(RangeSent);

  Canned("/whole", 200, "complete", "application/octet-stream");
  test::WriteBytes(Path, "0123456789");
  R = Http.GetToFile(Sim.BaseUrl() + "/whole", {}, Path, {}, 5);
  EXPECT_EQ(R.Status, 200);
  EXPECT_EQ(test::ReadBytes(Path), "complete");

  // A 206 for another range than the one asked for is refused rather than spliced in.
  TFault Wrong;
  Wrong.PathPrefix = "/wrong";
  Wrong.Status = 206;
  Wrong.Body = "xyz";
  Wrong.Headers = {{"Content-Range", "bytes 3-5/6"}};
  Sim.AddFault(Wrong);
  test::WriteBytes(Path, "0123456789");
  EXPECT_THROW(Http.GetToFile(Sim.BaseUrl() + "/wrong", {}, Path, {}, 5), EHttpError);
}

TEST_F(HttpClientTest, DownloadFailuresRaiseAndStopTheTransfer) {
  // Low speed instead of an overall limit: a silent server ends the download after LowSpeedSeconds.
  TFault Hold;
  Hold.Kind = TFaultKind::NoAnswer;
  Hold.Delay = 30s;
  Hold.Times = 1;
  Sim.AddFault(Hold);
  THttpTimeouts T = Http.Timeouts();
  T.TotalMs = 100;  // not used by downloads
  Http.SetTimeouts(T);
  const auto Start = std::chrono::steady_clock::now();
  try {
    Http.GetToFile(Url("/blob"), {}, Dir / "slow.bin");
    ADD_FAILURE() << "no time-out";
  } catch (const EHttpError& E) {
    EXPECT_TRUE(E.IsTimeout()) << E.what();
  }
  EXPECT_GE(std::chrono::steady_clock::now() - Start, 900ms);
  EXPECT_FALSE(FileExists(Dir / "slow.bin"));

  // An exception from the progress callback ends the transfer and comes out as it is.
  EXPECT_THROW(
      Http.GetToFile(Url("/blob"), {}, Dir / "p.bin", [](int64_t, int64_t) { throw std::logic_error("stop"); }),
      std::logic_error);
  // A file that cannot be written.
  EXPECT_THROW(Http.GetToFile(Url("/blob"), {}, Dir / "missing-folder/x.bin"), EFileError);
  // The handle is still good.
  EXPECT_EQ(Http.Get(Url("/n")).Body, "1");
}

TEST(UrlEncoding, ComponentsAndUnsafeBytes) {
  EXPECT_EQ(UrlEncode("aZ09-._~"), "aZ09-._~");
  EXPECT_EQ(UrlEncode("a b/c?d&e=f%g@ş"), "a%20b%2Fc%3Fd%26e%3Df%25g%40%C5%9F");
  EXPECT_EQ(EscapeUnsafeUrlBytes("http://h/a b/ş.json?x=\"1\"&y=%41#z"),
            "http://h/a%20b/%C5%9F.json?x=%221%22&y=%41%23z");
  EXPECT_EQ(EscapeUnsafeUrlBytes(std::string("a\0b\x7F", 4)), "a%00b%7F");
}

}  // namespace
}  // namespace kelvo
