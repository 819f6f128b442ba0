#pragma once
// config.ini as the product reads and writes it: single keys looked up the way the backup side
// writes them, and a writer that replaces single keys in place.
#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

// Lines split at CR LF, LF or CR.
std::vector<std::string> SplitLines(const std::string& Text);

// The raw value of Key in Section. The key must stand at the very start of its line followed
// directly by "="; key and section names are compared ignoring ASCII case; within the section the
// first occurrence wins. Following lines that are not empty, not a section line and hold no "="
// continue the value (trimmed, joined without separator). Empty when not found.
std::string ReadIniRawValue(const std::vector<std::string>& Lines, const std::string& Section, const std::string& Key);

// Collects key writes and stores them in one atomic replacement of the file at Flush.
class TIniWriter {
 public:
  // Mode as for WriteFileAtomic: for a new file, and the most a replaced file may keep.
  explicit TIniWriter(std::string Path, uint32_t Mode = 0644);
  // Replaces the key's value (and any continuation lines) in its section, or adds the key at the end
  // of the section, or the section at the end of the file.
  void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
  // Writes the file when something changed; raises EFileError naming the file when it cannot.
  void Flush();

 private:
  void Load();
  std::string FPath;
  uint32_t FMode;
  std::vector<std::string> FLines;
  std::string FBom;
  std::string FLineBreak = "\r\n";
  bool FLoaded = false;
  bool FDirty = false;
};

}  // namespace kelvo
