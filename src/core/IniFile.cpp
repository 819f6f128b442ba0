#include "core/IniFile.h"

#include "core/FileIO.h"
#include "core/TextRules.h"

namespace kelvo {

namespace {

bool IsSectionLine(const std::string& Trimmed) {
  return !Trimmed.empty() && Trimmed.front() == '[' && Trimmed.back() == ']';
}

std::string SectionName(const std::string& Trimmed) { return Trimmed.substr(1, Trimmed.size() - 2); }

bool IsContinuation(const std::string& Line) {
  const std::string T = Trim(Line);
  return !T.empty() && !IsSectionLine(T) && T.find('=') == std::string::npos;
}

// Index of the key line the reader would return, or npos. LastLineOfSection receives the last
// non-empty line of the first matching section (npos when the section is absent).
size_t FindKeyLine(const std::vector<std::string>& Lines, const std::string& Section, const std::string& Key,
                   size_t* LastLineOfSection = nullptr) {
  const std::string Prefix = Key + "=";
  bool Inside = false;
  int SectionsSeen = 0;
  if (LastLineOfSection) *LastLineOfSection = std::string::npos;
  for (size_t I = 0; I < Lines.size(); ++I) {
    const std::string T = Trim(Lines[I]);
    if (IsSectionLine(T)) {
      Inside = SameText(SectionName(T), Section);
      if (Inside) ++SectionsSeen;
      if (Inside && SectionsSeen == 1 && LastLineOfSection) *LastLineOfSection = I;
      continue;
    }
    if (!Inside) continue;
    if (SectionsSeen == 1 && LastLineOfSection && !T.empty()) *LastLineOfSection = I;
    if (StartsText(Lines[I], Prefix)) return I;
  }
  return std::string::npos;
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> Lines;
  std::string Current;
  for (size_t I = 0; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C == '\r' || C == '\n') {
      Lines.push_back(std::move(Current));
      Current.clear();
      if (C == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n') ++I;
    } else {
      Current += C;
    }
  }
  if (!Current.empty()) Lines.push_back(std::move(Current));
  return Lines;
}

std::string ReadIniRawValue(const std::vector<std::string>& Lines, const std::string& Section, const std::string& Key) {
  const size_t At = FindKeyLine(Lines, Section, Key);
  if (At == std::string::npos) return {};
  std::string Value = Lines[At].substr(Key.size() + 1);
  for (size_t I = At + 1; I < Lines.size() && IsContinuation(Lines[I]); ++I) Value += Trim(Lines[I]);
  return Value;
}

TIniWriter::TIniWriter(std::string Path, uint32_t Mode) : FPath(std::move(Path)), FMode(Mode) {}

void TIniWriter::Load() {
  if (FLoaded) return;
  FLoaded = true;
  if (!FileExists(FPath)) return;
  std::string Text = ReadFileBytes(FPath);
  if (Text.compare(0, 3, Utf8Bom) == 0) {
    FBom = Utf8Bom;
    Text.erase(0, 3);
  }
  if (Text.find("\r\n") == std::string::npos && Text.find('\n') != std::string::npos) FLineBreak = "\n";
  FLines = SplitLines(Text);
}

void TIniWriter::WriteString(const std::string& Section, const std::string& Key, const std::string& Value) {
  Load();
  const std::string Line = Key + "=" + Value;
  size_t SectionEnd = std::string::npos;
  const size_t At = FindKeyLine(FLines, Section, Key, &SectionEnd);
  if (At != std::string::npos) {
    // The old value's continuation lines belong to it; left behind they would be glued to the new one.
    size_t End = At + 1;
    while (End < FLines.size() && IsContinuation(FLines[End])) ++End;
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(At) + 1,
                 FLines.begin() + static_cast<std::ptrdiff_t>(End));
    FLines[At] = Line;
  } else if (SectionEnd != std::string::npos) {
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(SectionEnd) + 1, Line);
  } else {
    FLines.push_back("[" + Section + "]");
    FLines.push_back(Line);
  }
  FDirty = true;
}

void TIniWriter::Flush() {
  if (!FDirty) return;
  std::string Text = FBom;
  for (const std::string& L : FLines) Text += L + FLineBreak;
  WriteFileAtomic(FPath, Text, FMode);
  FDirty = false;
}

}  // namespace kelvo
