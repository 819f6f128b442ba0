// RAR extraction with RARLAB's console programs, or with unar where those are not installed.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "core/FileIO.h"
#include "core/IniFile.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/SharedFolders.h"
#include "restore/uRestoreEngine.h"

namespace kelvo {

namespace fs = std::filesystem;

namespace {

constexpr char kNoRarProgram[] =
    "RAR/UnRAR bulunamadi. WinRAR kurulu olmali veya rar.exe uygulama klasorunde bulunmali.";
constexpr char kWrongPassword[] = "RAR parolasi hatali.";
constexpr char kCrcError[] = "RAR arsivi bozuk veya parola hatali (CRC hatasi).";
constexpr char kFailedWithCode[] = "RAR cikartma basarisiz. Cikis kodu: %d";
constexpr char kNothingExtracted[] = "RAR arsivi acildi ancak icinden dosya cikmadi.";
constexpr char kStartPrefix[] = "RAR baslatilamadi: ";
constexpr char kNoSpace[] = "RAR arsivi icin yeterli bos alan yok: %s gerekli, %s bos (%s).";
constexpr char kNoWorkParent[] = "RAR calisma klasoru bulunamadi: %s ([Restore] WorkFolder)";

// On disk, unlike the runtime folder (often a small tmpfs), and reachable by other users.
constexpr char kDefaultWorkParent[] = "/var/tmp";
constexpr char kWorkDirPrefix[] = "kelvo-restore-";
constexpr char kRunDirPrefix[] = "rar_";

std::mutex GFoldersLock;
std::optional<std::vector<std::string>> GFoldersOverride;

std::vector<std::string> SystemFolders() {
  std::lock_guard<std::mutex> Guard(GFoldersLock);
  if (GFoldersOverride) return *GFoldersOverride;
  return {"/usr/local/bin", "/usr/bin"};
}

// Absolute folders of PATH, read at each call; empty and relative entries would search the
// current folder, which is not a place to pick up programs from.
std::vector<std::string> PathFolders() {
  std::vector<std::string> Folders;
  const std::string Path = platform::GetEnv("PATH");
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find(':', Start);
    if (End == std::string::npos) End = Path.size();
    std::string Folder = Path.substr(Start, End - Start);
    if (!Folder.empty() && Folder[0] == '/') Folders.push_back(std::move(Folder));
    Start = End + 1;
  }
  return Folders;
}

bool IsProgramFile(const std::string& Path) { return platform::IsRunnableFile(Path); }

// The program folder first, then the system folders, then PATH; within each folder the names in order.
bool FindProgram(std::initializer_list<const char*> Names, std::string& Found) {
  std::vector<std::string> Folders{platform::ProgramDir()};
  for (std::string& F : SystemFolders()) Folders.push_back(std::move(F));
  for (std::string& F : PathFolders()) Folders.push_back(std::move(F));
  for (const std::string& Folder : Folders) {
    if (Trim(Folder).empty()) continue;
    for (const char* Name : Names) {
      const std::string Candidate = JoinPath(Folder, Name);
      if (IsProgramFile(Candidate)) {
        Found = Candidate;
        return true;
      }
    }
  }
  return false;
}

// Absolute, so that no path we pass can be read as a switch (think of a file named "-rf.bak").
std::string AbsolutePath(const std::string& Path) {
  if (!Path.empty() && Path[0] == '/') return Path;
  return fs::absolute(Path).string();
}

// A private folder below the working folder, removed when the object goes.
class PrivateFolder {
 public:
  PrivateFolder() {
    const std::string Base = GetRestoreWorkDir();
    ForceDirectories(Base);
    FPath = platform::MakeUniqueFolder(Base, "unar_");
    if (FPath.empty()) throw EFileError("Klasor olusturulamadi: " + JoinPath(Base, "unar_XXXXXX"));
  }
  ~PrivateFolder() {
    std::error_code Ec;
    fs::remove_all(FPath, Ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// What unar said, reduced to the three cases the messages distinguish.
struct UnarFindings {
  bool Password = false;
  bool Checksum = false;
};

UnarFindings ScanUnarOutput(const std::string& LogPath) {
  UnarFindings Found;
  std::ifstream In(LogPath, std::ios::binary);
  std::string Line;
  while (std::getline(In, Line)) {
    if (FindText(Line, "wrong password") != std::string::npos ||
        FindText(Line, "requires a password") != std::string::npos)
      Found.Password = true;
    if (FindText(Line, "wrong checksum") != std::string::npos) Found.Checksum = true;
  }
  return Found;
}

// unar and lsar take siblings whose names differ only by a number for volumes of one set, so they
// are shown a link to the archive alone, in a private folder.
std::string LinkArchive(const PrivateFolder& Folder, const std::string& Archive) {
  const std::string Link = JoinPath(Folder.Path(), "archive.rar");
  std::error_code Ec;
  fs::create_symlink(Archive, Link, Ec);
  if (Ec) throw EFileError("Baglanti olusturulamadi: " + Link);
  return Link;
}

// Runs Program with Args, its output into OutPath; error messages too when WithErrors, else dropped
// (a listing must stay machine-readable). The shell only redirects: every value is a positional
// parameter, never parsed as shell text.
int RunIntoFile(const std::string& Program, const std::vector<std::string>& ProgramArgs, const std::string& OutPath,
                bool WithErrors) {
  std::vector<std::string> Args{
      "-c",
      WithErrors ? "out=$1; shift; exec \"$@\" >\"$out\" 2>&1" : "out=$1; shift; exec \"$@\" >\"$out\" 2>/dev/null",
      "sh", OutPath, Program};
  Args.insert(Args.end(), ProgramArgs.begin(), ProgramArgs.end());
  return platform::RunHiddenProcess("/bin/sh", Args, kStartPrefix);
}

// unar's output goes to a file: the messages tell a wrong password from a damaged archive, which its
// exit code does not.
std::string RunUnar(const std::string& Unar, const std::string& Archive, const std::string& Password,
                    const std::string& Dest) {
  const PrivateFolder Folder;
  const std::string Link = LinkArchive(Folder, Archive);
  const std::string LogPath = JoinPath(Folder.Path(), "output.txt");
  std::vector<std::string> Args{"-o", Dest, "-f", "-D", "-nr"};
  if (!Trim(Password).empty()) {
    Args.push_back("-p");
    Args.push_back(Password);
  }
  Args.push_back(Link);
  const int ExitCode = RunIntoFile(Unar, Args, LogPath, true);
  if (ExitCode == 0) return {};
  const UnarFindings Found = ScanUnarOutput(LogPath);
  if (Found.Password) return kWrongPassword;
  if (Found.Checksum) return kCrcError;
  return Fmt(kFailedWithCode, ExitCode);
}

// "-p-" keeps RAR from asking for a password nobody could type.
std::string RarPasswordSwitch(const std::string& Password) {
  return Trim(Password).empty() ? std::string("-p-") : "-p" + Password;
}

std::string RunRar(const std::string& Rar, const std::string& Archive, const std::string& Password,
                   const std::string& Dest) {
  const int ExitCode =
      platform::RunHiddenProcess(Rar, {"x", "-y", "-idq", RarPasswordSwitch(Password), Archive, Dest}, kStartPrefix);
  switch (ExitCode) {
    case 0:
      return {};
    case 11:
      return kWrongPassword;
    case 3:
      return kCrcError;
    default:
      return Fmt(kFailedWithCode, ExitCode);
  }
}

// Sizes are added without wrapping round: a sum too large for the counter stays the largest size.
uint64_t AddSizes(uint64_t A, uint64_t B) { return B > UINT64_MAX - A ? UINT64_MAX : A + B; }

bool ParseSize(const std::string& Text, uint64_t& Value) {
  const char* End = Text.data() + Text.size();
  const auto [Stop, Ec] = std::from_chars(Text.data(), End, Value);
  return !Text.empty() && Ec == std::errc() && Stop == End;
}

// The technical listing ("lt") has one "Size:" line per entry, the unpacked size in plain digits, or
// "?" when unknown; "Packed size:" is a line of its own.
bool SumRarListing(const std::string& Text, uint64_t& Size) {
  uint64_t Sum = 0;
  bool Any = false;
  for (const std::string& Line : SplitLines(Text)) {
    const std::string T = Trim(Line);
    if (T.rfind("Size:", 0) != 0) continue;
    uint64_t One = 0;
    if (!ParseSize(Trim(T.substr(5)), One)) return false;
    Sum = AddSizes(Sum, One);
    Any = true;
  }
  if (!Any) return false;
  Size = Sum;
  return true;
}

// lsar -j: an "lsarContents" array of entries with "XADFileSize"; a listing it could not finish
// (a wrong password among others) carries "lsarError".
bool SumLsarListing(const std::string& Text, uint64_t& Size) {
  const nlohmann::json Listing = nlohmann::json::parse(Text, nullptr, false);
  if (Listing.is_discarded() || !Listing.is_object() || Listing.contains("lsarError")) return false;
  const auto Contents = Listing.find("lsarContents");
  if (Contents == Listing.end() || !Contents->is_array() || Contents->empty()) return false;
  uint64_t Sum = 0;
  for (const nlohmann::json& Entry : *Contents) {
    if (!Entry.is_object()) return false;
    const auto IsFolder = Entry.find("XADIsDirectory");
    if (IsFolder != Entry.end() && IsFolder->is_number() && IsFolder->get<int64_t>() != 0) continue;
    const auto One = Entry.find("XADFileSize");
    if (One == Entry.end() || !One->is_number_unsigned()) return false;
    Sum = AddSizes(Sum, One->get<uint64_t>());
  }
  Size = Sum;
  return true;
}

// RarProgram: RARLAB's program found for the unpacking, empty when unar does it (lsar then lists).
bool UnpackedSize(const std::string& RarProgram, const std::string& Archive, const std::string& Password,
                  uint64_t& Size) {
  const PrivateFolder Folder;
  const std::string OutPath = JoinPath(Folder.Path(), "listing.txt");
  if (!RarProgram.empty()) {
    if (RunIntoFile(RarProgram, {"lt", RarPasswordSwitch(Password), Archive}, OutPath, false) != 0) return false;
    return SumRarListing(ReadFileBytes(OutPath), Size);
  }
  std::string Lsar;
  if (!FindProgram({"lsar"}, Lsar)) return false;
  std::vector<std::string> Args{"-j", "-nr"};
  if (!Trim(Password).empty()) {
    Args.push_back("-p");
    Args.push_back(Password);
  }
  Args.push_back(LinkArchive(Folder, Archive));
  if (RunIntoFile(Lsar, Args, OutPath, false) != 0) return false;
  return SumLsarListing(ReadFileBytes(OutPath), Size);
}

// An archive larger than the free space would fail halfway through, after filling the disk the
// database server writes to; refused beforehand when its size can be learnt.
std::string CheckFreeSpace(const std::string& RarProgram, const std::string& Archive, const std::string& Password,
                           const std::string& Folder) {
  uint64_t Need = 0, Free = 0;
  bool Known = false;
  try {
    Known = UnpackedSize(RarProgram, Archive, Password, Need);
  } catch (const std::exception& E) {
    LogException("RAR arsivinin boyutu okunamadi", E);
  }
  if (!Known) {
    LogWarnFmt("RAR arsivinin acilmis boyutu bilinmiyor, bos alan denetlenmedi: %s", Archive);
    return {};
  }
  if (!platform::FreeDiskSpace(Folder, Free)) {
    LogWarnFmt("Bos alan okunamadi, denetlenmedi: %s", Folder);
    return {};
  }
  if (Need <= Free) return {};
  const auto Shown = [](uint64_t Size) {
    return FormatFileSize(static_cast<int64_t>(std::min<uint64_t>(Size, INT64_MAX)));
  };
  return Fmt(kNoSpace, Shown(Need), Shown(Free), Folder);
}

std::string JoinReaders(const std::vector<std::string>& Names) {
  std::string Text;
  for (const std::string& Name : Names) Text += (Text.empty() ? "" : ",") + Name;
  return Text.empty() ? std::string("-") : Text;
}

// The first backup file in enumeration order, else the first file. Links are not files the archive
// held: a link named "x.bak" pointing anywhere on the disk must not be handed to a restore.
std::string PickExtractedFile(const std::string& Folder) {
  std::string First;
  std::error_code Ec;
  for (auto It = fs::recursive_directory_iterator(Folder, fs::directory_options::skip_permission_denied, Ec);
       !Ec && It != fs::recursive_directory_iterator(); It.increment(Ec)) {
    std::error_code StatusEc;
    const fs::file_status Status = It->symlink_status(StatusEc);
    if (StatusEc || !fs::is_regular_file(Status)) continue;
    const std::string Path = It->path().string();
    const TBackupFileKind Kind = TRestoreEngine::DetectFileKind(Path);
    if (Kind == bfkSqlBak || Kind == bfkFirebird) return Path;
    if (First.empty()) First = Path;
  }
  return First;
}

}  // namespace

void SetRarSystemFoldersForTests(std::optional<std::vector<std::string>> Folders) {
  std::lock_guard<std::mutex> Guard(GFoldersLock);
  GFoldersOverride = std::move(Folders);
}

std::string GetRarWorkDir() {
  std::string Parent = TAppConfig::Instance().GetRestoreWorkFolder();
  if (Parent.empty()) Parent = kDefaultWorkParent;
  return JoinPath(Parent, kWorkDirPrefix + platform::CurrentUserIdText());
}

std::string TRestoreEngine::QuoteArgument(const std::string& Text) {
  std::string Quoted = "\"";
  for (char C : Text) {
    if (C == '"') Quoted += '\\';
    Quoted += C;
  }
  return Quoted + "\"";
}

bool TRestoreEngine::FindRarExecutable(std::string& RarPath) {
  RarPath.clear();
  return FindProgram({"rar", "unrar"}, RarPath);
}

bool TRestoreEngine::ExtractRarArchive(const std::string& ArchivePath, const std::string& Password,
                                       const std::string& DestDir, std::string& ExtractedFile,
                                       std::string& ErrorMessage) {
  ExtractedFile.clear();
  ErrorMessage.clear();
  try {
    if (!FileExists(ArchivePath)) {
      ErrorMessage = "RAR arsivi bulunamadi: " + ArchivePath;
      return false;
    }
    std::string Program;
    bool UseUnar = false;
    if (!FindRarExecutable(Program)) {
      UseUnar = FindProgram({"unar"}, Program);
      if (!UseUnar) {
        ErrorMessage = kNoRarProgram;
        return false;
      }
    }

    ForceDirectories(DestDir);
    const std::string Archive = AbsolutePath(ArchivePath);
    std::string Dest = AbsolutePath(DestDir);
    const std::string Folder = Dest;
    // A trailing separator tells RAR the destination is a folder.
    if (Dest.empty() || Dest.back() != '/') Dest += '/';

    ErrorMessage = CheckFreeSpace(UseUnar ? std::string() : Program, Archive, Password, Folder);
    if (!ErrorMessage.empty()) return false;

    ErrorMessage = UseUnar ? RunUnar(Program, Archive, Password, Dest) : RunRar(Program, Archive, Password, Dest);
    if (!ErrorMessage.empty()) return false;

    ExtractedFile = PickExtractedFile(Folder);
    if (ExtractedFile.empty()) {
      ErrorMessage = kNothingExtracted;
      return false;
    }
    return true;
  } catch (const std::exception& E) {
    // Start failures carry their own text; anything else (no private folder) is reported the same way.
    ExtractedFile.clear();
    ErrorMessage = E.what();
    return false;
  }
}

bool TRestoreEngine::ReadRarUnpackedSize(const std::string& ArchivePath, const std::string& Password, uint64_t& Size) {
  try {
    if (!FileExists(ArchivePath)) return false;
    std::string Rar;
    if (!FindRarExecutable(Rar)) Rar.clear();
    return UnpackedSize(Rar, AbsolutePath(ArchivePath), Password, Size);
  } catch (const std::exception& E) {
    LogException("RAR arsivinin acilmis boyutu okunamadi: " + ArchivePath, E);
    return false;
  }
}

bool TRestoreEngine::UnpackRarForRestore(const std::string& ArchivePath, const std::string& Password,
                                         std::string& Folder, std::string& ExtractedFile, std::string& ErrorMessage) {
  Folder.clear();
  ExtractedFile.clear();
  ErrorMessage.clear();
  try {
    const std::vector<std::string> Readers = TAppConfig::Instance().GetRestoreWorkFolderReaders();
    const std::string Base = GetRarWorkDir();
    const std::string Parent = fs::path(Base).parent_path().string();
    if (!DirectoryExists(Parent)) {
      ErrorMessage = Fmt(kNoWorkParent, Parent);
      return false;
    }
    // The base folder lets the readers pass but not look around; each run's folder lets them read.
    platform::TFolderGrant Grant = platform::PrepareTraverseOnlyDir(Base, Readers);
    Folder = platform::MakeReadableRunDir(Base, kRunDirPrefix, Readers, Grant);
    if (!Grant.Warning.empty()) LogWarn(Grant.Warning);
    LogInfoFmt("RAR calisma klasoru: %s (okuyabilen kullanicilar: %s)", Folder, JoinReaders(Grant.Readers));

    if (!ExtractRarArchive(ArchivePath, Password, Folder, ExtractedFile, ErrorMessage)) return false;
    const platform::TFolderGrant Opened = platform::GrantReadBelow(Folder, Readers);
    if (!Opened.Warning.empty()) LogWarn(Opened.Warning);
    return true;
  } catch (const std::exception& E) {
    ExtractedFile.clear();
    ErrorMessage = E.what();
    return false;
  }
}

}  // namespace kelvo
