// The shell scripts (.sh) and the Windows PowerShell scripts (.ps1) are two sides of one contract with
// the script bridge, and no machine runs both. Their texts are compared instead: the parameters each
// side declares, the modes it handles, the exchange-file members it reads and the result members it
// writes. The test only reads files, so it runs wherever the source folder is reachable.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "restore/uRestoreEngine.h"
#include "support/TempDir.h"

namespace kelvo {
namespace {

using Names = std::set<std::string>;

// Each pattern's first group is searched by the next pattern; the last one's first groups are the names.
using Steps = std::vector<const char*>;

Names Extract(const std::string& Text, const Steps& Patterns, std::regex::flag_type Flags) {
  std::vector<std::string> Parts{Text};
  for (const char* Pattern : Patterns) {
    const std::regex Re(Pattern, std::regex::ECMAScript | Flags);
    std::vector<std::string> Next;
    for (const std::string& Part : Parts)
      for (std::sregex_iterator It(Part.begin(), Part.end(), Re), End; It != End; ++It) Next.push_back((*It)[1]);
    Parts = std::move(Next);
  }
  return Names(Parts.begin(), Parts.end());
}

struct Aspect {
  const char* What;
  Steps Shell;
  Steps PowerShell;  // matched ignoring case, as PowerShell reads its keywords
};

const std::vector<Aspect> kAspects = {
    // ScriptCommon.sh: "-Mode) Mode=$2 ;;"; the .ps1: "param([string]$Mode = '', ...)".
    {"parameters", {R"~(\n[ \t]*-(\w+)\)[ \t]*\w+=\$2)~"}, {R"~(\bparam\s*\(([^)]*)\))~", R"~(\$(\w+))~"}},
    // [ "$Mode" = test ] / if ($Mode -ceq 'test').
    {"modes", {R"~("\$Mode"\s*!?=\s*"?(\w+))~"}, {R"~(\$Mode\s+-c?(?:eq|ne)\s+['"](\w+)['"])~"}},
    // jq's s("server") / b("overwriteExisting"); Get-Text $Config 'server' / Get-Flag $Payload '...'.
    {"exchange-file members", {R"~(\b[sb]\("(\w+)"\))~"}, {R"~(\bGet-(?:Text|Flag)\s+\$\w+\s+['"](\w+)['"])~"}},
    // The objects written by answer() (jq and printf) and by function Answer (a hashtable).
    {"result members",
     {R"~(\nanswer\(\)\s*\{([\s\S]*?)\n\})~", R"~(\{([^{}]*)\})~", R"~("?(\w+)"?\s*:)~"},
     {R"~(\nfunction\s+Answer\b[^{]*\{([\s\S]*?)\n\})~", R"~(@\{([^{}]*)\})~", R"~((\w+)\s*=)~"}},
};

// A script with the file both scripts of its side share; a leading line break lets patterns anchor
// on "\n" at the very start.
std::string SideText(const std::string& Script, const std::string& Extension) {
  const std::string Dir = std::string(KELVO_SQL_SOURCE_DIR) + "/";
  return "\n" + test::ReadBytes(Dir + Script) + "\n" + test::ReadBytes(Dir + "ScriptCommon" + Extension);
}

TEST(ScriptContract, ShellAndPowerShellScriptsAgree) {
  const TScriptHost Posix = ScriptHostFor(TScriptPlatform::Posix);
  const TScriptHost Windows = ScriptHostFor(TScriptPlatform::Windows);
  struct Pair {
    std::string Shell, PowerShell;
    Names Modes;
  };
  const std::vector<Pair> Pairs = {
      {Posix.SqlScript, Windows.SqlScript, {"test", "restore"}},
      {Posix.FirebirdScript, Windows.FirebirdScript, {"restore"}},
  };
  // What the bridge hands every script and what it reads back from the result file.
  const Names Parameters = {"Mode", "ConfigPath", "PayloadPath", "ResultPath"};
  const Names ResultMembers = {"success", "message"};

  for (const Pair& P : Pairs) {
    const std::string Shell = SideText(P.Shell, ".sh");
    const std::string PowerShell = SideText(P.PowerShell, ".ps1");
    for (const Aspect& A : kAspects) {
      SCOPED_TRACE(P.Shell + " / " + P.PowerShell + ": " + A.What);
      const Names FromShell = Extract(Shell, A.Shell, {});
      EXPECT_FALSE(FromShell.empty()) << "the pattern no longer finds anything in the shell script";
      EXPECT_EQ(Extract(PowerShell, A.PowerShell, std::regex::icase), FromShell);
    }
    SCOPED_TRACE(P.Shell);
    EXPECT_EQ(Extract(Shell, kAspects[0].Shell, {}), Parameters);
    EXPECT_EQ(Extract(Shell, kAspects[1].Shell, {}), P.Modes);
    EXPECT_EQ(Extract(Shell, kAspects[3].Shell, {}), ResultMembers);
  }
}

TEST(ScriptContract, WindowsHostIsTheSystemPowerShellWhenPresent) {
  test::TempDir Root;
  const std::string SystemRoot = Root / "Windows";
  // Joined with "\": on Windows a path inside SystemRoot, elsewhere one file name beside it.
  const std::string Installed = SystemRoot + "\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
  const std::vector<std::string> Switches = {"-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass", "-File"};
  struct Case {
    const char* SystemRootValue;
    bool Present;
    std::string Program;
  };
  const std::vector<Case> Cases = {
      {nullptr, false, "powershell.exe"},
      {SystemRoot.c_str(), false, "powershell.exe"},
      {SystemRoot.c_str(), true, Installed},
  };
  for (const Case& C : Cases) {
    if (C.Present) test::WriteBytes(Installed, "");
    test::ScopedEnv Env("SystemRoot", C.SystemRootValue);
    const TScriptHost Host = ScriptHostFor(TScriptPlatform::Windows);
    EXPECT_EQ(Host.Program, C.Program);
    EXPECT_EQ(Host.Switches, Switches) << "the script's path must directly follow -File";
  }
}

}  // namespace
}  // namespace kelvo
