#pragma once
// File helpers: UTF-8 text read with a byte-order mark skipped; whole-file writes that replace the old
// file atomically (temporary file in the same folder, then rename), optionally with a byte-order mark.
#include <string>

#include "platform/Errors.h"

namespace kelvo {

inline constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

bool FileExists(const std::string& Path);
bool DirectoryExists(const std::string& Path);
// Creates the folder with all missing parents; false when it does not exist afterwards.
bool ForceDirectories(const std::string& Path);
// Joins two path parts with exactly one "/".
std::string JoinPath(const std::string& Folder, const std::string& Name);
// The folder part of a local path (before its last folder separator; the root keeps its separator,
// "/" or "C:\"); empty when there is none.
std::string FolderOf(const std::string& Path);
// A local file's path as the folder to open (FolderOf, "." when the path names none) and the name
// of the file in it.
struct TFolderAndName {
  std::string Folder;
  std::string Name;
};
TFolderAndName SplitFilePath(const std::string& Path);
// The name after the last folder separator, "/" or "\" (paths also come from Windows machines).
std::string FileNameOf(const std::string& Path);

// Whole file as bytes; raises EFileError.
std::string ReadFileBytes(const std::string& Path);
// Whole file as UTF-8 text without a leading byte-order mark; raises EFileError.
std::string ReadTextFile(const std::string& Path);
// Removes a leading UTF-8 byte-order mark.
std::string StripUtf8Bom(std::string Text);

// Replaces Path as a whole with Bytes: a temporary file in the same folder, flushed, then renamed over
// it. Mode (permission bits, where files carry them) applies to a new file; a file replaced gets the narrower
// of its old mode and Mode (bitwise and), so rights an administrator took away stay away and a file
// left too open by an older version is tightened. ForceMode sets Mode as it is. Raises EFileError.
void WriteFileAtomic(const std::string& Path, const std::string& Bytes, unsigned Mode = 0644, bool ForceMode = false);
// Same, with the UTF-8 byte-order mark in front of Text.
void WriteTextFileWithBom(const std::string& Path, const std::string& Text, unsigned Mode = 0644,
                          bool ForceMode = false);

}  // namespace kelvo
