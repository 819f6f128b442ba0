// A full-tree account lookup over a large directory, against a bare JSON parse of the same bytes.
// cloudsim serves the directory in-process on 127.0.0.1. The lookup is an e-mail address whose
// sanitised node does not exist, so every round reads the node, then the whole tree (the account
// list is forgotten between rounds).
//
// Figures, each the median of the rounds:
//   parse      nlohmann::json::parse of the tree's bytes (the reference), and a parse into no
//              document at all (the tokenizer alone, for scale);
//   lookup     reading the accounts out of the same bytes, sorting them and matching the login
//              (no transfer);
//   end to end FindAccountByLogin as the program calls it (node request, tree transfer, lookup),
//              against fetching the tree once and parsing it.
// Peak memory: the high-water mark of a fresh process that reads the same bytes from a file and
// then parses them, or looks the account up in them (this program started again with --peak).
//   bench_account_directory [accounts] [rounds]      (defaults 100000 and 5)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseServiceAuth.h"
#include "cloudsim/CloudSim.h"
#include "core/Endpoints.h"
#include "core/FileIO.h"
#include "core/uAppConfig.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "support/ChildProcess.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

double Ms(Clock::duration D) { return std::chrono::duration<double, std::milli>(D).count(); }

double Median(std::vector<double> Times) {
  std::sort(Times.begin(), Times.end());
  return Times[Times.size() / 2];
}

// kB figure of one line of /proc/self/status ("VmHWM", "VmRSS").
long StatusKb(const char* Name) {
  std::ifstream In("/proc/self/status");
  std::string Line;
  const std::string Prefix = std::string(Name) + ":";
  while (std::getline(In, Line))
    if (Line.rfind(Prefix, 0) == 0) return std::atol(Line.c_str() + Prefix.size());
  return -1;
}

// Runs this program again in the given peak mode and reads back the high-water mark it prints.
long ChildPeakKb(const std::string& Mode, const std::string& File, const std::string& Login) {
  kelvo::test::TChildOptions Piped;
  Piped.PipeOutput = true;
  kelvo::test::ChildProcess Child(kelvo::test::ThisProgram(), {"--peak", Mode, File, Login}, Piped);
  const std::string Output = Child.ReadAll();
  Child.Wait();
  char* End = nullptr;
  const long Kb = std::strtol(Output.c_str(), &End, 10);
  return End == Output.c_str() ? -1 : Kb;
}

// The child's side: read the file, do one thing with it, print VmHWM in kB.
int PeakMode(const std::string& Mode, const std::string& File, const std::string& Login) {
  const std::string Bytes = kelvo::ReadFileBytes(File);
  if (Mode == "bare") {
    const auto Parsed = nlohmann::json::parse(Bytes);
    if (!Parsed.is_object()) return 1;
    std::printf("%ld\n", StatusKb("VmHWM"));
    return 0;
  }
  if (Mode == "lookup") {
    std::vector<kelvo::TFirebaseManagedAccount> Accounts;
    kelvo::TFirebaseManagedAccount Found;
    if (!kelvo::ReadAccountTree(Bytes, Accounts) || !kelvo::FindAccountInList(Accounts, Login, Found)) return 1;
  }
  std::printf("%ld\n", StatusKb("VmHWM"));
  return 0;
}

// A directory as customers have it: most accounts directly under the node, some grouped under
// dealers, each with a few members the program does not read and a nested device list.
Json MakeDirectory(int Count) {
  Json Accounts = Json::object();
  Json Dealers = Json::object();
  auto& Items = Accounts.get_ref<Json::object_t&>();
  for (int I = 0; I < Count; ++I) {
    char Id[16];
    std::snprintf(Id, sizeof Id, "%06d", I);
    Json Account = Json::object();
    auto& Members = Account.get_ref<Json::object_t&>();
    Members.emplace_back("LoginName", std::string("musteri") + Id);
    Members.emplace_back("Email", std::string("yetkili") + Id + "@firma" + std::to_string(I % 977) + ".com.tr");
    Members.emplace_back("Sifre", std::string("S1fre-") + Id);
    Members.emplace_back("Musteri", std::string("Musteri Ticaret A.S. ") + Id);
    Members.emplace_back("Paket", I % 3 == 0 ? "Kurumsal" : "Standart");
    Members.emplace_back("BitisTarihi", "2026-12-31");
    if (I % 4 == 0) {
      Members.emplace_back("TwoFactorEnabled", true);
      Members.emplace_back("TwoFactorSecret", "JBSWY3DPEHPK3PXP");
    }
    if (I % 10 == 0) Members.emplace_back("OAuthClientID", std::string("client-") + Id);
    Json Devices = Json::object();
    Devices.get_ref<Json::object_t&>().emplace_back(
        "PC1", Json::object({{"Ad", std::string("SUNUCU-") + Id}, {"SonYedek", "2025-03-09 23:00:00"}}));
    Members.emplace_back("Cihazlar", std::move(Devices));
    if (I % 10 == 9) {
      const std::string Dealer = "bayi" + std::to_string(I % 50);
      if (!Dealers.contains(Dealer)) Dealers[Dealer] = Json::object();
      Dealers[Dealer].get_ref<Json::object_t&>().emplace_back(std::string("m") + Id, std::move(Account));
    } else {
      Items.emplace_back(std::string("musteri") + Id, std::move(Account));
    }
  }
  Items.emplace_back("bayiler", std::move(Dealers));
  return Json::object({{"Lisanslar", std::move(Accounts)}});
}

// Parser events with no document behind them: the cost of reading the bytes at all.
struct TNullSax {
  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(nlohmann::json::number_integer_t) { return true; }
  bool number_unsigned(nlohmann::json::number_unsigned_t) { return true; }
  bool number_float(nlohmann::json::number_float_t, const std::string&) { return true; }
  bool string(std::string&) { return true; }
  bool binary(nlohmann::json::binary_t&) { return true; }
  bool start_object(std::size_t) { return true; }
  bool key(std::string&) { return true; }
  bool end_object() { return true; }
  bool start_array(std::size_t) { return true; }
  bool end_array() { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  using namespace kelvo;
  if (argc == 5 && std::string(argv[1]) == "--peak") return PeakMode(argv[2], argv[3], argv[4]);
  const int Count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
  const int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

  const std::string Dir = kelvo::test::MakeUniqueTempFolder("kelvo-bench-accounts-");
  if (Dir.empty()) return 1;
  std::filesystem::create_directories(Dir + "/program");
  kelvo::test::SetEnv("PROGRAMDATA", (Dir + "/programdata").c_str());
  kelvo::test::SetEnv("APPDATA", (Dir + "/appdata").c_str());
  platform::SetProgramDirForTests(Dir + "/program");
  TAppConfig::ResetInstanceForTests();
  platform::SetMachineIdentitySource([] { return std::string("kelvo-bench-machine"); });

  const auto BuildStart = Clock::now();
  cloudsim::TCloudSim Sim;
  Sim.SetApiKey(BuiltInFirebaseApiKey());
  Sim.AddUser({BuiltInServiceLogin(), BuiltInServicePassword(), "Kelvo Servis", "", false});
  Sim.SetDatabase(MakeDirectory(Count));
  Sim.Start();
  kelvo::test::SetEnv("FIREBASE_AUTH_EMULATOR_HOST", Sim.HostPort().c_str());
  kelvo::test::SetEnv("FIREBASE_DATABASE_EMULATOR_HOST", Sim.HostPort().c_str());

  // The account the lookups look for: grouped under a dealer, near the end of the document.
  int Target = Count - 1;
  while (Target % 10 != 9) --Target;
  char LastId[16];
  std::snprintf(LastId, sizeof LastId, "%06d", Target);
  const std::string Login = std::string("YETKILI") + LastId + "@firma" + std::to_string(Target % 977) + ".com.tr";

  std::string Bytes;
  {
    std::unique_ptr<TFirebaseManager> Manager;
    std::string Message;
    if (!TFirebaseServiceAuth::GetAuthenticatedManager(Manager, Message)) {
      std::fprintf(stderr, "no service session: %s\n", Message.c_str());
      return 1;
    }
    Bytes = Manager->Client().Get(AccountsNodeName);
  }
  std::printf("directory: %d accounts, %.1f MiB of JSON (prepared in %.1f s)\n", Count, Bytes.size() / 1048576.0,
              Ms(Clock::now() - BuildStart) / 1000.0);

  // Correctness first: the lookup must find the account the benchmark asks for.
  {
    std::vector<TFirebaseManagedAccount> Accounts;
    TFirebaseManagedAccount Found;
    std::string Message;
    ResetAccountCacheForTests();
    if (!ReadAccountTree(Bytes, Accounts) || !FindAccountInList(Accounts, Login, Found) ||
        !FindAccountByLogin(Login, Found, Message) || Found.LoginName != std::string("musteri") + LastId) {
      std::fprintf(stderr, "lookup of %s failed: %s\n", Login.c_str(), Message.c_str());
      return 1;
    }
    std::printf("accounts read: %zu; found %s at %s\n", Accounts.size(), Found.LoginName.c_str(),
                Found.NodePath.c_str());
  }

  // The variants take turns within each round, so all of them see the same machine load.
  std::vector<std::function<void()>> Variants = {
      [&] {  // the reference: a bare parse into a document
        const auto Parsed = nlohmann::json::parse(Bytes);
        if (!Parsed.is_object()) std::abort();
      },
      [&] {  // the tokenizer alone
        TNullSax Sax;
        if (!nlohmann::json::sax_parse(Bytes, &Sax)) std::abort();
      },
      [&] {  // the lookup without the transfer
        std::vector<TFirebaseManagedAccount> Accounts;
        TFirebaseManagedAccount Found;
        if (!ReadAccountTree(Bytes, Accounts) || !FindAccountInList(Accounts, Login, Found)) std::abort();
      },
      [&] {  // the lookup as the program makes it
        ResetAccountCacheForTests();
        TFirebaseManagedAccount Found;
        std::string Message;
        if (!FindAccountByLogin(Login, Found, Message)) std::abort();
      },
      [&] {  // fetching the tree and parsing it
        std::unique_ptr<TFirebaseManager> Manager;
        std::string Message;
        if (!TFirebaseServiceAuth::GetAuthenticatedManager(Manager, Message)) std::abort();
        const auto Parsed = nlohmann::json::parse(Manager->Client().Get(AccountsNodeName));
        if (!Parsed.is_object()) std::abort();
      },
  };
  std::vector<std::vector<double>> Times(Variants.size());
  for (int Round = 0; Round <= Rounds; ++Round)
    for (size_t V = 0; V < Variants.size(); ++V) {
      const auto T0 = Clock::now();
      Variants[V]();
      if (Round > 0) Times[V].push_back(Ms(Clock::now() - T0));  // round 0 warms up
    }
  const double BareMs = Median(Times[0]), TokensMs = Median(Times[1]), LookupMs = Median(Times[2]),
               EndToEndMs = Median(Times[3]), FetchParseMs = Median(Times[4]);

  // Peak memory of each way of reading, each in a fresh process that holds only the bytes.
  const std::string TreeFile = Dir + "/tree.json";
  WriteFileAtomic(TreeFile, Bytes, 0600);
  const long LoadKb = ChildPeakKb("load", TreeFile, Login);
  const long BarePeakKb = ChildPeakKb("bare", TreeFile, Login);
  const long LookupPeakKb = ChildPeakKb("lookup", TreeFile, Login);

  std::printf("\nmedian of %d rounds\n", Rounds);
  std::printf("  bare parse (nlohmann::json::parse)        %9.1f ms   (reference)\n", BareMs);
  std::printf("  tokenizer only (parse into nothing)       %9.1f ms   %.2fx\n", TokensMs, TokensMs / BareMs);
  std::printf("  lookup: read, sort, match (no transfer)   %9.1f ms   %.2fx   <- must be at most 2x\n", LookupMs,
              LookupMs / BareMs);
  std::printf(
      "  end to end: FindAccountByLogin            %9.1f ms   %.2fx of fetch + bare parse (%.1f ms)"
      "   <- must be at most 2x\n",
      EndToEndMs, EndToEndMs / FetchParseMs, FetchParseMs);
  std::printf("\npeak resident memory of a process that reads the %.1f MiB file and then\n", Bytes.size() / 1048576.0);
  std::printf("  does nothing more:  %7.1f MiB\n", LoadKb / 1024.0);
  std::printf("  parses it (bare):   %7.1f MiB\n", BarePeakKb / 1024.0);
  std::printf("  looks up an account:%7.1f MiB\n", LookupPeakKb / 1024.0);
  std::printf("this process (server with its copy of the directory, all of the above): %.1f MiB\n",
              StatusKb("VmHWM") / 1024.0);

  Sim.Stop();
  std::filesystem::remove_all(Dir);
  return LookupMs <= 2 * BareMs && EndToEndMs <= 2 * FetchParseMs ? 0 : 2;
}
