// The Drive client's ListFiles of a folder of 10,000 entries (10 pages of 1,000) from cloudsim in
// this process (its server thread), against fetching the same pages with the same HTTP client and
// only parsing them as JSON. A second pair compares the page reader with a bare parse of the page
// bodies, without the network. Runs alternate so both see the same machine load.
//   bench_drive_listing [runs]      (default 10)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cloudsim/CloudSim.h"
#include "core/FileIO.h"
#include "core/HttpClient.h"
#include "drive/FormUrlEncoding.h"
#include "drive/uGoogleAuth.h"
#include "drive/uGoogleDrive.h"
#include "platform/Paths.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Entries = 10000;

double Ms(Clock::duration D) { return std::chrono::duration<double, std::milli>(D).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const std::string Dir = kelvo::test::MakeUniqueTempFolder("kelvo-bench-listing-");
  if (Dir.empty()) return 1;

  kelvo::cloudsim::TCloudSim Sim;
  Sim.AddRefreshToken("1//bench");
  const std::string Folder = Sim.AddDriveFolder(Sim.DriveRootId(), "Yedekler");
  // Names, sizes and times like a backup folder's.
  const auto Base = std::chrono::system_clock::time_point(std::chrono::seconds(1735689600));
  char Name[64];
  for (int I = 0; I < Entries; ++I) {
    std::snprintf(Name, sizeof Name, "Muhasebe_%05d_FULL_20250101_0300.rar", I);
    Sim.AddDriveFile(Folder, Name, std::string(static_cast<size_t>(I % 97), 'x'), Base + std::chrono::minutes(I));
  }
  Sim.Start();

  kelvo::test::SetEnv("PROGRAMDATA", (Dir + "/programdata").c_str());
  kelvo::test::SetEnv("APPDATA", (Dir + "/appdata").c_str());
  std::filesystem::create_directories(Dir + "/program/config");
  kelvo::platform::SetProgramDirForTests(Dir + "/program");
  kelvo::WriteFileAtomic(Dir + "/program/config/config.ini", "[Endpoints]\r\nGoogleTokenUrl=" + Sim.TokenUrl() +
                                                                 "\r\nGoogleDriveUrl=" + Sim.DriveUrl() + "\r\n");
  kelvo::TGoogleAuth Auth("bench", "bench", 0, false);
  Auth.SetTokenData({"expired", "1//bench", 0});
  const std::string Token = Auth.GetValidToken();
  kelvo::TGoogleDrive Drive(Auth);

  // The reference: the client's own requests, page after page, each body only parsed.
  kelvo::THttpClient Http;
  std::vector<std::string> Pages;
  auto FetchAndParse = [&] {
    Pages.clear();
    std::string PageToken;
    size_t Count = 0;
    do {
      std::string Url = Sim.DriveUrl() +
                        "?pageSize=1000&fields=nextPageToken,files(id,name,size,md5Checksum,mimeType,modifiedTime)&q=" +
                        kelvo::FormUrlEncode("'" + Folder + "' in parents and trashed=false");
      if (!PageToken.empty()) Url += "&pageToken=" + kelvo::FormUrlEncode(PageToken);
      Pages.push_back(Http.Get(Url, {{"Authorization", "Bearer " + Token}}).Body);
      const auto Page = nlohmann::ordered_json::parse(Pages.back());
      Count += Page["files"].size();
      PageToken = Page.value("nextPageToken", "");
    } while (!PageToken.empty());
    return Count;
  };

  if (Token.empty() || Drive.ListFiles(Folder).size() != Entries || FetchAndParse() != Entries || Pages.size() != 10) {
    std::fprintf(stderr, "cloudsim did not list %d entries in 10 pages\n", Entries);
    return 1;
  }
  Clock::duration ClientTime{}, ReferenceTime{}, ReaderTime{}, ParseTime{};
  for (int I = 0; I < Runs; ++I) {
    auto T0 = Clock::now();
    const size_t Listed = Drive.ListFiles(Folder).size();
    auto T1 = Clock::now();
    const size_t Fetched = FetchAndParse();
    auto T2 = Clock::now();
    std::vector<kelvo::TDriveFileInfo> Files;
    std::string Next;
    for (const auto& Page : Pages) kelvo::ReadDriveListPage(Page, Files, Next);
    auto T3 = Clock::now();
    size_t Parsed = 0;
    for (const auto& Page : Pages) Parsed += nlohmann::ordered_json::parse(Page)["files"].size();
    auto T4 = Clock::now();
    if (Listed != Entries || Fetched != Entries || Files.size() != Entries || Parsed != Entries) {
      std::fprintf(stderr, "run %d listed %zu/%zu/%zu/%zu entries\n", I, Listed, Fetched, Files.size(), Parsed);
      return 1;
    }
    ClientTime += T1 - T0;
    ReferenceTime += T2 - T1;
    ReaderTime += T3 - T2;
    ParseTime += T4 - T3;
  }
  Sim.Stop();
  std::filesystem::remove_all(Dir);

  size_t Bytes = 0;
  for (const auto& Page : Pages) Bytes += Page.size();
  const long PeakKiB = kelvo::test::PeakResidentKiB();
  const double Client = Ms(ClientTime) / Runs, Reference = Ms(ReferenceTime) / Runs;
  const double Reader = Ms(ReaderTime) / Runs, Parse = Ms(ParseTime) / Runs;
  std::printf("server: cloudsim in this process (server thread); %d entries, 10 pages, %.1f MiB of replies; %d runs\n",
              Entries, Bytes / 1048576.0, Runs);
  std::printf("fetch + bare JSON parse:      %8.2f ms/listing (reference)\n", Reference);
  std::printf("ListFiles:                    %8.2f ms/listing\n", Client);
  std::printf("ratio ListFiles/reference:    %8.3f\n", Client / Reference);
  std::printf("bare parse of the 10 pages:   %8.2f ms (reference)\n", Parse);
  std::printf("page reader on the same:      %8.2f ms\n", Reader);
  std::printf("ratio reader/bare parse:      %8.3f\n", Reader / Parse);
  std::printf("peak RSS (server included):   %ld KiB\n", PeakKiB);
  return 0;
}
