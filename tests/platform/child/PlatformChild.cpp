// Plays the other process in the platform tests. Exit code 0 on success, 1 when the operation
// itself said no, 2 on a usage or I/O error.
//
//   unprotect <blob-file> <plain-out> <description-out> [uid[:gid]]
//   protect <plain-file> <description> <blob-out> [uid[:gid]]
//             (uid: drop to that user first, its only group gid when given, else none)
//   ensure-key <plain-file> <blob-out>   (makes the machine key when missing, then protects)
//   hold-lock <name> <milliseconds>   (writes one byte to standard output once it holds the lock)
//   report-fds <out>
//   program-dir <out>
//   regional <out>      (takes the locale from the environment, as the program does at start)
//   exit <code>
//   write-args <out> [argument...]   (each argument on a line of its own)
//   write-env-and-folder <out> <variable>   ("<value>|<current folder>")
//   print <text>        (to standard output and standard error)
//
// KELVO_TEST_MACHINE_ID, when set, replaces the machine identity (for machines without one).
#include <locale.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/MachineLock.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"

namespace {

using namespace kelvo::platform;

bool ReadAll(const std::string& Path, std::string& Out) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Out.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}

bool WriteAll(const std::string& Path, const std::string& Data) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Data;
  Out.close();
  return static_cast<bool>(Out);
}

// Becomes the user "uid[:gid]", with gid as its one supplementary group. False when it cannot.
bool DropTo(const std::string& User) {
  const size_t Colon = User.find(':');
  const auto Uid = static_cast<unsigned>(std::stoul(User.substr(0, Colon)));
  std::optional<unsigned> Gid;
  if (Colon != std::string::npos) Gid = static_cast<unsigned>(std::stoul(User.substr(Colon + 1)));
  return kelvo::test::BecomeUser(Uid, Gid);
}

int Unprotect(const std::vector<std::string>& A) {
  if (A.size() != 3 && A.size() != 4) return 2;
  std::string Blob;
  if (!ReadAll(A[0], Blob)) return 2;
  // Outputs are opened before giving up root, so they may live in a folder only root can enter.
  std::ofstream PlainOut(A[1], std::ios::binary | std::ios::trunc);
  std::ofstream DescriptionOut(A[2], std::ios::binary | std::ios::trunc);
  if (!PlainOut || !DescriptionOut) return 2;
  if (A.size() == 4 && !DropTo(A[3])) return 2;
  std::vector<uint8_t> Plain;
  std::string Description;
  if (!UnprotectMachineData(std::vector<uint8_t>(Blob.begin(), Blob.end()), Plain, &Description)) return 1;
  PlainOut << std::string(Plain.begin(), Plain.end());
  DescriptionOut << Description;
  PlainOut.close();
  DescriptionOut.close();
  return PlainOut && DescriptionOut ? 0 : 2;
}

int Protect(const std::vector<std::string>& A) {
  if (A.size() != 3 && A.size() != 4) return 2;
  std::string Plain;
  if (!ReadAll(A[0], Plain)) return 2;
  std::ofstream BlobOut(A[2], std::ios::binary | std::ios::trunc);
  if (!BlobOut || (A.size() == 4 && !DropTo(A[3]))) return 2;
  const std::vector<uint8_t> Blob = ProtectMachineData(std::vector<uint8_t>(Plain.begin(), Plain.end()), A[1]);
  BlobOut << std::string(Blob.begin(), Blob.end());
  BlobOut.close();
  return BlobOut ? 0 : 2;
}

int EnsureKeyAndProtect(const std::vector<std::string>& A) {
  if (A.size() != 2) return 2;
  if (!EnsureMachineKey()) return 1;
  return Protect({A[0], "made after ensure-key", A[1]});
}

int HoldLock(const std::vector<std::string>& A) {
  if (A.size() != 2) return 2;
  MachineLock Lock(A[0]);
  if (!Lock.Acquire(std::chrono::milliseconds(0))) return 1;
  if (!(std::cout << 'R' << std::flush)) return 2;
  std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(A[1])));
  return 0;
}

// One line per open descriptor: "<number> <target>".
int ReportFds(const std::vector<std::string>& A) {
  if (A.size() != 1) return 2;
  const auto Report = kelvo::test::OpenDescriptorsReport();
  return Report && WriteAll(A[0], *Report) ? 0 : 2;
}

int ReportProgramDir(const std::vector<std::string>& A) {
  if (A.size() != 1) return 2;
  return WriteAll(A[0], ProgramDir()) ? 0 : 2;
}

// Three lines: decimal separator, short date format, long time format.
int ReportRegional(const std::vector<std::string>& A) {
  if (A.size() != 1) return 2;
  if (!setlocale(LC_ALL, "")) return 1;
  const TRegionalSettings S = GetRegionalSettings();
  return WriteAll(A[0], std::string(1, S.DecimalSeparator) + "\n" + S.ShortDateFormat + "\n" + S.LongTimeFormat + "\n")
             ? 0
             : 2;
}

int WriteArgs(const std::vector<std::string>& A) {
  if (A.empty()) return 2;
  std::string Lines;
  for (size_t I = 1; I < A.size(); ++I) Lines += A[I] + "\n";
  return WriteAll(A[0], Lines) ? 0 : 2;
}

int WriteEnvAndFolder(const std::vector<std::string>& A) {
  if (A.size() != 2) return 2;
  const char* Value = std::getenv(A[1].c_str());
  return WriteAll(A[0], std::string(Value ? Value : "") + "|" + std::filesystem::current_path().string()) ? 0 : 2;
}

int Print(const std::vector<std::string>& A) {
  if (A.size() != 1) return 2;
  std::cout << A[0] << std::endl;
  std::cerr << A[0] << std::endl;
  return 0;
}

}  // namespace

int main(int Argc, char** Argv) {
  const std::vector<std::string> All = kelvo::test::Utf8Arguments(Argc, Argv);
  if (All.size() < 2) return 2;
  const std::string Mode = All[1];
  const std::vector<std::string> Args(All.begin() + 2, All.end());
  if (const char* Id = std::getenv("KELVO_TEST_MACHINE_ID")) {
    const std::string Identity = Id;
    SetMachineIdentitySource([Identity] { return Identity; });
  }
  try {
    if (Mode == "unprotect") return Unprotect(Args);
    if (Mode == "protect") return Protect(Args);
    if (Mode == "ensure-key") return EnsureKeyAndProtect(Args);
    if (Mode == "hold-lock") return HoldLock(Args);
    if (Mode == "report-fds") return ReportFds(Args);
    if (Mode == "program-dir") return ReportProgramDir(Args);
    if (Mode == "regional") return ReportRegional(Args);
    if (Mode == "exit" && Args.size() == 1) return std::stoi(Args[0]);
    if (Mode == "write-args") return WriteArgs(Args);
    if (Mode == "write-env-and-folder") return WriteEnvAndFolder(Args);
    if (Mode == "print") return Print(Args);
  } catch (...) {
    return 2;
  }
  return 2;
}
