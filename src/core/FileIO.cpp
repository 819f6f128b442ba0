#include "core/FileIO.h"

#include <filesystem>

#include "platform/Files.h"
#include "platform/SafeFiles.h"

namespace kelvo {

namespace fs = std::filesystem;

bool FileExists(const std::string& Path) {
  std::error_code Ec;
  return !Path.empty() && fs::is_regular_file(Path, Ec);
}

bool DirectoryExists(const std::string& Path) {
  std::error_code Ec;
  return !Path.empty() && fs::is_directory(Path, Ec);
}

bool ForceDirectories(const std::string& Path) {
  if (Path.empty()) return false;
  std::error_code Ec;
  fs::create_directories(Path, Ec);
  return DirectoryExists(Path);
}

std::string JoinPath(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return Name;
  if (Folder.back() == '/') return Folder + Name;
  return Folder + "/" + Name;
}

std::string FolderOf(const std::string& Path) {
  const size_t Slash = Path.find_last_of(platform::LocalPathSeparators);
  if (Slash == std::string::npos) return {};
  const bool Root = Slash == 0 || Path[Slash - 1] == ':';
  return Path.substr(0, Root ? Slash + 1 : Slash);
}

TFolderAndName SplitFilePath(const std::string& Path) {
  const size_t Slash = Path.find_last_of(platform::LocalPathSeparators);
  if (Slash == std::string::npos) return {".", Path};
  return {FolderOf(Path), Path.substr(Slash + 1)};
}

std::string FileNameOf(const std::string& Path) {
  const size_t Sep = Path.find_last_of("/\\");
  return Sep == std::string::npos ? Path : Path.substr(Sep + 1);
}

std::string ReadFileBytes(const std::string& Path) { return platform::ReadWholeFile(Path); }

std::string StripUtf8Bom(std::string Text) {
  if (Text.compare(0, 3, Utf8Bom) == 0) Text.erase(0, 3);
  return Text;
}

std::string ReadTextFile(const std::string& Path) { return StripUtf8Bom(ReadFileBytes(Path)); }

void WriteFileAtomic(const std::string& Path, const std::string& Bytes, unsigned Mode, bool ForceMode) {
  unsigned Old = 0;
  if (!ForceMode && platform::RegularFileMode(Path, Old)) Mode &= Old;
  const TFolderAndName Parts = SplitFilePath(Path);
  try {
    const platform::TFolder Dir = platform::TFolder::Open(Parts.Folder, false);
    platform::TTempFile Temp = platform::TTempFile::Create(Dir, Parts.Name);
    Temp.Write(Bytes.data(), Bytes.size());
    Temp.Commit(Parts.Name, true, Mode);
  } catch (const EFileError& E) {
    throw EFileError("Dosya yazilamadi: " + Path + " (" + E.what() + ")");
  }
}

void WriteTextFileWithBom(const std::string& Path, const std::string& Text, unsigned Mode, bool ForceMode) {
  WriteFileAtomic(Path, std::string(Utf8Bom) + Text, Mode, ForceMode);
}

}  // namespace kelvo
