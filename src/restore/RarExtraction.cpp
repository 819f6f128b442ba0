// RAR extraction with RARLAB's console programs, or with unar where those are not installed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "platform/Paths.h"
#include "platform/Process.h"
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

bool IsProgramFile(const std::string& Path) { return FileExists(Path) && ::access(Path.c_str(), X_OK) == 0; }

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
    std::string Pattern = JoinPath(Base, "unar_XXXXXX");
    if (::mkdtemp(Pattern.data()) == nullptr) throw EFileError("Klasor olusturulamadi: " + Pattern);
    FPath = Pattern;
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

// unar takes siblings whose names differ only by a number for volumes of one set, so it is shown a
// link to the archive alone, in a private folder. Its output goes to a file there: the messages tell
// a wrong password from a damaged archive, which its exit code does not.
std::string RunUnar(const std::string& Unar, const std::string& Archive, const std::string& Password,
                    const std::string& Dest) {
  const PrivateFolder Folder;
  const std::string Link = JoinPath(Folder.Path(), "archive.rar");
  const std::string LogPath = JoinPath(Folder.Path(), "output.txt");
  if (::symlink(Archive.c_str(), Link.c_str()) != 0) throw EFileError("Baglanti olusturulamadi: " + Link);

  // The shell only redirects: every value is a positional parameter, never parsed as shell text.
  std::vector<std::string> Args{
      "-c", "out=$1; shift; exec \"$@\" >\"$out\" 2>&1", "sh", LogPath, Unar, "-o", Dest, "-f", "-D", "-nr"};
  if (!Trim(Password).empty()) {
    Args.push_back("-p");
    Args.push_back(Password);
  }
  Args.push_back(Link);
  const int ExitCode = platform::RunHiddenProcess("/bin/sh", Args, kStartPrefix);
  if (ExitCode == 0) return {};
  const UnarFindings Found = ScanUnarOutput(LogPath);
  if (Found.Password) return kWrongPassword;
  if (Found.Checksum) return kCrcError;
  return Fmt(kFailedWithCode, ExitCode);
}

std::string RunRar(const std::string& Rar, const std::string& Archive, const std::string& Password,
                   const std::string& Dest) {
  // "-p-" keeps RAR from asking for a password nobody could type.
  const std::string PasswordSwitch = Trim(Password).empty() ? std::string("-p-") : "-p" + Password;
  const int ExitCode =
      platform::RunHiddenProcess(Rar, {"x", "-y", "-idq", PasswordSwitch, Archive, Dest}, kStartPrefix);
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

}  // namespace kelvo
