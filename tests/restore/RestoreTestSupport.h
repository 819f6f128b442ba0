#pragma once
// Shared set-up of the restore tests: the program's process-wide state and folders of the test's own
// (program, private temporary and configuration folders), and helpers for stand-in programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/uAppConfig.h"
#include "platform/Paths.h"
#include "restore/uRestoreEngine.h"
#include "support/FileModes.h"
#include "support/ProcessState.h"
#include "support/SystemSkips.h"
#include "support/TempDir.h"

// Skips a test whose stand-in scripts for the bridge are /bin/sh scripts (the Windows bridge runs
// PowerShell scripts, and Wine's PowerShell is a stub that runs nothing).
#define KELVO_SKIP_WITHOUT_SHELL_STAND_INS()                                                 \
  KELVO_SKIP_UNDER_WINE("its PowerShell is a stub that exits 0 without running the script"); \
  KELVO_SKIP_ON_WINDOWS("the stand-in scripts are /bin/sh scripts")

namespace kelvo::test {

// Writes a stand-in program (a shell script) and makes it executable.
inline void WriteExecutable(const std::string& Path, const std::string& Text) {
  WriteBytes(Path, Text);
  MakeExecutable(Path);
}

// Arguments recorded NUL-separated by a stand-in (printf '%s\0' "$@").
inline std::vector<std::string> SplitNul(const std::string& Bytes) {
  std::vector<std::string> Parts;
  size_t Start = 0;
  for (size_t Nul; (Nul = Bytes.find('\0', Start)) != std::string::npos; Start = Nul + 1)
    Parts.push_back(Bytes.substr(Start, Nul - Start));
  return Parts;
}

inline bool Contains(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

class RestoreTest : public ::testing::Test {
 protected:
  TempDir Root;
  IsolatedProcessState Process{Root};
  const std::string& ProgramDir = Process.ProgramDir;

  void SetUp() override { std::filesystem::create_directories(ProgramDir + "/sql"); }

  // Copies one of the shipped restore scripts, with the part both scripts share, into the program folder.
  void InstallShippedScript(const std::string& Name) {
    for (const std::string& File : {Name, std::string("ScriptCommon.sh")})
      std::filesystem::copy_file(std::string(KELVO_SQL_SOURCE_DIR) + "/" + File, ProgramDir + "/sql/" + File,
                                 std::filesystem::copy_options::overwrite_existing);
  }
  void WriteConfigIni(const std::string& Text) { WriteBytes(ProgramDir + "/config/config.ini", Text); }

  // What is left in the working folder; folders end in "/".
  std::vector<std::string> WorkDirEntries() const {
    std::vector<std::string> Names;
    std::error_code Ec;
    for (const auto& Entry : std::filesystem::directory_iterator(GetRestoreWorkDir(), Ec))
      Names.push_back(Entry.path().filename().string() + (Entry.is_directory() ? "/" : ""));
    std::sort(Names.begin(), Names.end());
    return Names;
  }
};

}  // namespace kelvo::test
