#include "catalogue/uLocalPathCheck.h"

#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"

namespace kelvo {

namespace {

bool IsDeviceName(const std::string& Name) {
  const std::string Stem = Name.substr(0, Name.find('.'));
  for (const char* Device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (SameText(Stem, Device)) return true;
  if (Stem.size() == 4 && (StartsText(Stem, "COM") || StartsText(Stem, "LPT")) && Stem[3] >= '1' && Stem[3] <= '9')
    return true;
  return false;
}

}  // namespace

bool IsSafeLocalName(const std::string& Name) {
  if (Name.empty() || Name == "." || Name == ".." || Name.size() > 255) return false;
  for (const unsigned char C : Name) {
    if (C < 32 || C == 127) return false;
    switch (C) {
      case '\\':
      case '/':
      case '<':
      case '>':
      case ':':
      case '"':
      case '|':
      case '?':
      case '*':
        return false;
      default:
        break;
    }
  }
  if (Name.back() == ' ' || Name.back() == '.') return false;
  return !IsDeviceName(Name);
}

bool SplitSafeRelativePath(const std::string& RelativePath, std::vector<std::string>& Parts, std::string& Message) {
  Parts.clear();
  Message.clear();
  const std::string Shown = RelativePath.find('\0') == std::string::npos ? RelativePath : "(NUL)";
  bool Ok = !RelativePath.empty() && RelativePath[0] != '\\' && RelativePath[0] != '/';
  for (size_t Start = 0; Ok;) {
    const size_t End = RelativePath.find_first_of("\\/", Start);
    Parts.push_back(RelativePath.substr(Start, End == std::string::npos ? std::string::npos : End - Start));
    Ok = IsSafeLocalName(Parts.back());
    if (End == std::string::npos) break;
    Start = End + 1;
  }
  if (Ok) return true;
  Parts.clear();
  Message = Fmt("Gecersiz dosya yolu: %s", Shown);
  return false;
}

bool BuildSafeLocalPath(const std::string& BaseFolder, const std::string& RelativePath, std::string& Path,
                        std::string& Message) {
  Path.clear();
  std::vector<std::string> Parts;
  if (!SplitSafeRelativePath(RelativePath, Parts, Message)) return false;
  Path = BaseFolder;
  for (const std::string& Part : Parts) Path = JoinPath(Path, Part);
  return true;
}

}  // namespace kelvo
