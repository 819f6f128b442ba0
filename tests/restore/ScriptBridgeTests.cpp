// The script bridge against small stand-in scripts: what a script is handed, how its result is read,
// and that no exchange file outlives a run.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>

#include "RestoreTestSupport.h"
#include "core/FileIO.h"
#include "platform/Process.h"
#include "restore/RestoreResult.h"
#include "support/SystemSkips.h"

namespace kelvo {
namespace {

using json = nlohmann::ordered_json;
using test::Contains;
using test::ReadBytes;
using test::ScopedEnv;
using test::WriteBytes;

const std::string kBom = "\xEF\xBB\xBF";

// A stand-in that records what it was given into $KELVO_CAPTURE, then runs Tail with $cfg, $pl and
// $res set to the three exchange paths.
std::string Recorder(const std::string& Tail) {
  return "#!/bin/sh\n"
         "cap=$KELVO_CAPTURE\n"
         "printf '%s\\0' \"$0\" \"$@\" >\"$cap/args\"\n"
         "while [ $# -ge 2 ]; do case $1 in -ConfigPath) cfg=$2;; -PayloadPath) pl=$2;; -ResultPath) res=$2;; esac;"
         " shift 2; done\n"
         "cp \"$cfg\" \"$cap/config\"; cp \"$pl\" \"$cap/payload\"\n"
         "stat -c %a \"$cfg\" >\"$cap/config_mode\"; stat -c %a \"$pl\" >\"$cap/payload_mode\"\n" +
         Tail + "\n";
}

class ScriptBridgeTest : public test::RestoreTest {
 protected:
  std::string Capture = Root / "capture";
  ScopedEnv CaptureEnv{"KELVO_CAPTURE", Capture.c_str()};
  std::string Script = ProgramDir + "/sql/stand-in.sh";

  void SetUp() override {
    RestoreTest::SetUp();
    KELVO_SKIP_WITHOUT_SHELL_STAND_INS();
    std::filesystem::create_directories(Capture);
  }
  void UseScript(const std::string& Tail) { WriteBytes(Script, Recorder(Tail)); }
  bool Run(json Config, std::optional<json> Payload, std::string& Message, json* ResultOut = nullptr) {
    json Result = json::array();  // must come back replaced
    const bool Ok =
        TRestoreEngine::RunRestoreScript(Script, std::move(Config), "restore", std::move(Payload), Result, Message);
    if (ResultOut) *ResultOut = Result;
    return Ok;
  }
  // The error text of a run that must raise, or "" when it did not.
  std::string RunError() {
    std::string Message = "stale";
    try {
      Run(json::object(), json::object(), Message);
    } catch (const std::exception& E) {
      EXPECT_EQ(Message, "") << "the message is cleared before anything can fail";
      return E.what();
    }
    return "";
  }
};

TEST_F(ScriptBridgeTest, HandsTheScriptItsArgumentsAndPrivateFilesAndRemovesThem) {
  UseScript("printf '\\357\\273\\277{\"success\":true,\"message\":\"tamam\",\"extra\":[1]}' >\"$res\"");
  json Config = json::object();
  Config["server"] = "SRV\\SQL";
  Config["port"] = 1433;
  Config["backupFilePath"] = "C:\\Yedek\\Muhasebe 2024\\db.bak";
  Config["name"] = "Kasa \xC5\x9F/1";
  Config["flag"] = true;
  std::string Message = "stale";
  json Result;
  EXPECT_TRUE(Run(Config, std::nullopt, Message, &Result));
  EXPECT_EQ(Message, "tamam");
  EXPECT_EQ(Result.dump(), R"({"success":true,"message":"tamam","extra":[1]})");

  const std::vector<std::string> Args = test::SplitNul(ReadBytes(Capture + "/args"));
  ASSERT_EQ(Args.size(), 9u);
  EXPECT_EQ(Args[0], Script);
  const std::string Work = GetRestoreWorkDir();
  EXPECT_EQ(Work, Root / "run/kelvo-" + std::to_string(test::UserId()) + "/KorvessaRestore");
  ASSERT_EQ(Args[1], "-Mode");
  EXPECT_EQ(Args[2], "restore");
  ASSERT_EQ(Args[3], "-ConfigPath");
  ASSERT_EQ(Args[5], "-PayloadPath");
  ASSERT_EQ(Args[7], "-ResultPath");
  const std::string Prefix = Work + "/config_";
  ASSERT_EQ(Args[4].rfind(Prefix, 0), 0u) << Args[4];
  const std::string Token = Args[4].substr(Prefix.size(), 11);
  EXPECT_EQ(Args[4], Prefix + Token + ".json");
  EXPECT_EQ(Args[6], Work + "/payload_" + Token + ".json");
  EXPECT_EQ(Args[8], Work + "/result_" + Token + ".json");

  // Byte-order mark, compact pure ASCII: backslashes doubled, "/" escaped, the Turkish letter as \u.
  EXPECT_EQ(ReadBytes(Capture + "/config"),
            kBom + R"({"server":"SRV\\SQL","port":1433,"backupFilePath":"C:\\Yedek\\Muhasebe 2024\\db.bak",)"
                   R"("name":"Kasa \u015F\/1","flag":true})");
  EXPECT_EQ(ReadBytes(Capture + "/payload"), kBom + "{}");
  EXPECT_EQ(ReadBytes(Capture + "/config_mode"), "600\n");
  EXPECT_EQ(ReadBytes(Capture + "/payload_mode"), "600\n");
  EXPECT_TRUE(WorkDirEntries().empty());

  // The next run draws a new token.
  EXPECT_TRUE(Run(Config, json::object(), Message));
  EXPECT_NE(test::SplitNul(ReadBytes(Capture + "/args"))[4], Args[4]);
}

TEST_F(ScriptBridgeTest, TheResultFileDecidesNotTheExitCode) {
  std::string Message;
  UseScript("printf '{\"success\":true}' >\"$res\"; exit 1");
  EXPECT_TRUE(Run(json::object(), json::object(), Message));
  EXPECT_EQ(Message, "");

  UseScript("printf '{\"success\":\"TRUE\",\"message\":\"ok\"}' >\"$res\"");
  EXPECT_TRUE(Run(json::object(), json::object(), Message));
  EXPECT_EQ(Message, "ok");

  UseScript("printf '{\"success\":1}' >\"$res\"");
  EXPECT_FALSE(Run(json::object(), json::object(), Message));
  EXPECT_EQ(Message, "Restore script basarisiz oldu.");

  UseScript("printf '{\"success\":false,\"message\":\"Yedek bozuk\"}' >\"$res\"");
  EXPECT_FALSE(Run(json::object(), json::object(), Message));
  EXPECT_EQ(Message, "Yedek bozuk");

  UseScript("exit 0");
  EXPECT_EQ(RunError(), "Restore script sonucu uretmedi. Cikis kodu: 0");
  UseScript("exit 7");
  EXPECT_EQ(RunError(), "Restore script sonucu uretmedi. Cikis kodu: 7");
  UseScript("kill -KILL $$");
  EXPECT_EQ(RunError(), "Restore script sonucu uretmedi. Cikis kodu: -1");
  // A folder where the result should be is no result either, and goes with the run.
  UseScript("mkdir \"$res\"");
  EXPECT_EQ(RunError(), "Restore script sonucu uretmedi. Cikis kodu: 0");
  EXPECT_TRUE(WorkDirEntries().empty());
}

TEST_F(ScriptBridgeTest, UnusableResultFilesRaiseAndLeaveNothingBehind) {
  const std::string Source = Root / "result-source";
  ScopedEnv SourceEnv("KELVO_RESULT_SOURCE", Source.c_str());
  UseScript("cat \"$KELVO_RESULT_SOURCE\" >\"$res\"");
  const std::vector<std::string> Bad = {
      "",
      kBom,
      "garbage \x01\x02 and more",
      "[{\"success\":true}]",
      "\"success\"",
      "{\"success\":true",
      "{\"success\":true,\"message\":\"bozuk \xFF\xFE\"}",
      "{\"success\":true}{\"success\":false}",
      "{\"success\":true,\"message\":\"" + std::string(5 * 1024 * 1024, 'x') + "\"}",
  };
  for (const std::string& Text : Bad) {
    WriteBytes(Source, Text);
    EXPECT_EQ(RunError(), "Restore script sonucu okunamadi.") << Text.substr(0, 60);
    EXPECT_TRUE(WorkDirEntries().empty());
  }
}

TEST_F(ScriptBridgeTest, AHostThatCannotStartRaisesWithTheSystemText) {
  UseScript("printf '{\"success\":true}' >\"$res\"");
  SetScriptHostForTests(Root / "no-such-shell");
  try {
    std::string Message;
    Run(json::object(), json::object(), Message);
    ADD_FAILURE() << "expected a start failure";
  } catch (const platform::EProcessStartError& E) {
    EXPECT_EQ(std::string(E.what()), std::string("PowerShell baslatilamadi: ") + std::strerror(ENOENT));
  }
  EXPECT_TRUE(WorkDirEntries().empty());
}

TEST_F(ScriptBridgeTest, AWorkingFolderThatCannotBeMadeRaisesAFileError) {
  UseScript("printf '{\"success\":true}' >\"$res\"");
  std::filesystem::create_directories(platform::PrivateTempDir());
  WriteBytes(GetRestoreWorkDir(), "a file where the folder belongs");
  std::string Message;
  EXPECT_THROW(Run(json::object(), json::object(), Message), EFileError);
}

TEST_F(ScriptBridgeTest, ARelativeScriptNamedLikeASwitchStaysAFileName) {
  const std::string Odd = ProgramDir + "/sql/-s.sh";
  WriteBytes(Odd, "printf '{\"success\":true,\"message\":\"%s\"}' \"$1\" >\"$8\"\n");
  const std::string OldDir = std::filesystem::current_path().string();
  std::filesystem::current_path(ProgramDir + "/sql");
  json Result;
  std::string Message;
  bool Ok = false;
  EXPECT_NO_THROW(Ok =
                      TRestoreEngine::RunRestoreScript("-s.sh", json::object(), "test", std::nullopt, Result, Message));
  std::filesystem::current_path(OldDir);
  EXPECT_TRUE(Ok);
  EXPECT_EQ(Message, "-Mode");
}

TEST_F(ScriptBridgeTest, RunsOnTwoThreadsKeepTheirFilesApart) {
  // The script answers with the id it finds in its own payload.
  WriteBytes(Script,
             "while [ $# -ge 2 ]; do case $1 in -PayloadPath) pl=$2;; -ResultPath) res=$2;; esac; shift 2; done\n"
             "id=$(sed -n 's/.*\"id\":\"\\([^\"]*\\)\".*/\\1/p' \"$pl\")\n"
             "printf '{\"success\":true,\"message\":\"%s\"}' \"$id\" >\"$res\"\n");
  std::vector<std::string> Mismatches[2];
  auto Worker = [&](int Index) {
    for (int I = 0; I < 15; ++I) {
      json Payload = json::object();
      const std::string Id = "t" + std::to_string(Index) + "-" + std::to_string(I);
      Payload["id"] = Id;
      json Result;
      std::string Message;
      TRestoreEngine::RunRestoreScript(Script, json::object(), "restore", std::move(Payload), Result, Message);
      if (Message != Id) Mismatches[Index].push_back(Id + " got " + Message);
    }
  };
  std::thread A(Worker, 0);
  std::thread B(Worker, 1);
  A.join();
  B.join();
  EXPECT_TRUE(Mismatches[0].empty() && Mismatches[1].empty());
  EXPECT_TRUE(WorkDirEntries().empty());
}

TEST(RestoreToken, ElevenCharactersWithTheThreeRangesEquallyLikely) {
  std::set<std::string> Seen;
  size_t Digits = 0, Capitals = 0, Smalls = 0;
  const int Count = 3000;
  for (int I = 0; I < Count; ++I) {
    const std::string Token = MakeRestoreToken();
    ASSERT_EQ(Token.size(), 11u);
    Seen.insert(Token);
    for (char C : Token) {
      if (C >= '0' && C <= '9')
        ++Digits;
      else if (C >= 'A' && C <= 'Z')
        ++Capitals;
      else if (C >= 'a' && C <= 'z')
        ++Smalls;
      else
        FAIL() << "unexpected character in " << Token;
    }
  }
  EXPECT_EQ(Seen.size(), static_cast<size_t>(Count));
  // A range is picked first, so digits are a third of all characters (not 10 in 62).
  const double Total = Count * 11.0;
  for (size_t N : {Digits, Capitals, Smalls}) EXPECT_NEAR(N / Total, 1.0 / 3, 0.02);
}

TEST(RestoreResult, SuccessAndMessageFromTheMembersOfAnyType) {
  struct Case {
    std::string Text;
    bool Success;
    std::string Message;
  };
  const std::vector<Case> Cases = {
      {R"({"success":true,"message":"Geri yuklendi"})", true, "Geri yuklendi"},
      {kBom + R"({"message":"\u015Fema","success":"tRuE"})", true,
       "\xC5\x9F"
       "ema"},
      {R"({"success":true})", true, ""},
      {R"({"success":"true ","message":"bosluklu"})", false, "bosluklu"},
      {R"({"success":1,"message":null})", false, "Restore script basarisiz oldu."},
      {R"({"success":[true],"message":{"a":1}})", false, "Restore script basarisiz oldu."},
      {R"({"success":false,"message":42})", false, "42"},
      {R"({"Success":true,"Message":"x"})", false, "Restore script basarisiz oldu."},
      {R"({})", false, "Restore script basarisiz oldu."},
  };
  for (const Case& C : Cases) {
    json Result;
    std::string Message = "stale";
    EXPECT_EQ(ReadRestoreResult(C.Text, Result, Message), C.Success) << C.Text;
    EXPECT_EQ(Message, C.Message) << C.Text;
    EXPECT_TRUE(Result.is_object());
  }
  // Nesting as deep as a real result could need is read; far deeper is refused before it can
  // exhaust the stack (copying a parsed value recurses).
  json Nested;
  std::string Text;
  const std::string Some = std::string(100, '[') + "\"[{\\\"\"" + std::string(100, ']');
  EXPECT_TRUE(ReadRestoreResult(R"({"extra":)" + Some + R"(,"success":true})", Nested, Text));
  const std::string Deep = std::string(200000, '[') + std::string(200000, ']');
  json Result = json::object();
  std::string Message = "stale";
  EXPECT_THROW(ReadRestoreResult(R"({"extra":)" + Deep + R"(,"success":true})", Result, Message), ERestoreScriptError);
  EXPECT_THROW(ReadRestoreResult(Deep, Result, Message), ERestoreScriptError);
  EXPECT_THROW(ReadRestoreResult("[]", Result, Message), ERestoreScriptError);
  EXPECT_TRUE(Result.is_null());
  EXPECT_EQ(Message, "");
}

}  // namespace
}  // namespace kelvo
