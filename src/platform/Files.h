#pragma once
// Plain files by path: a whole-file read, a file held open for writing (a download resumed at an
// offset, the log appended to), and the permission bits where the system keeps them. Writing below
// a folder that must not be trusted goes through SafeFiles instead. On Windows an appending file is
// opened with the right to append but not to write, so the system puts every write at the end.
#include <cstdint>
#include <string>

#include "platform/Errors.h"

namespace kelvo::platform {

// The characters that separate folders in a local path of this system.
#ifdef _WIN32
inline constexpr char LocalPathSeparators[] = "/\\";
#else
inline constexpr char LocalPathSeparators[] = "/";
#endif

// The whole file as bytes. Raises EFileError "Dosya acilamadi: <path> (<reason>)" or
// "Dosya okunamadi: <path> (<reason>)".
std::string ReadWholeFile(const std::string& Path);

// The permission bits of an existing regular file. False when Path is missing or not a regular
// file, and on systems whose files carry access lists instead of bits.
bool RegularFileMode(const std::string& Path, unsigned& Mode);

// A file opened for writing, created when missing (readable by everyone who may read the folder),
// its content kept. Every call that fails returns false and leaves the system's reason in Error().
class TWriteFile {
 public:
  enum class TWriteMode {
    At,      // writes go to the position set by Seek (the start at first)
    Append,  // every write goes to the end, also when another process appends at the same time
  };

  TWriteFile() = default;
  ~TWriteFile();
  TWriteFile(const TWriteFile&) = delete;
  TWriteFile& operator=(const TWriteFile&) = delete;

  bool Open(const std::string& Path, TWriteMode Mode);
  bool IsOpen() const { return FHandle != InvalidHandle; }
  bool Size(int64_t& Bytes);
  // Cuts the file to Bytes (or extends it with zeros).
  bool SetSize(int64_t Bytes);
  bool Seek(int64_t Offset);
  // Writes all of Data.
  bool Write(const char* Data, size_t Size);
  // Closes the file; false when the last writes could not be completed.
  bool Close();
  const std::string& Error() const { return FError; }

 private:
  static constexpr intptr_t InvalidHandle = -1;  // a descriptor or a handle, both -1 when absent
  bool Fail();
  intptr_t FHandle = InvalidHandle;
  std::string FError;
};

}  // namespace kelvo::platform
