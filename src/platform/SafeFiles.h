#pragma once
// Writing files below a folder the operator chose, without trusting what stands inside it: folders
// are held open by descriptor and walked one level at a time without following links, a download
// goes into a temporary file of our own (created exclusively, never through a link, readable only
// by us until it is complete), and that file takes its final name in one rename, after its data
// and the folder entry are on disk. A temporary file that is not committed is removed.
// On Windows a folder is a handle opened with FILE_FLAG_BACKUP_SEMANTICS, a link is any reparse
// point (symbolic link, junction), and names are opened relative to the folder's handle.
#include <cstdint>
#include <string>
#include <utility>

#include "platform/Errors.h"

namespace kelvo::platform {

// A write past the process's file size limit fails (the file counts as failed) instead of ending
// the program with SIGXFSZ. Called once at start. Nothing to do on Windows, which has no such signal.
void ReportFileSizeLimitAsError();

enum class TEntryKind { None, File, Folder, Link, Other };

class TFolder {
 public:
  TFolder() = default;
  ~TFolder();
  TFolder(TFolder&& Other) noexcept;
  TFolder& operator=(TFolder&& Other) noexcept;
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;

  // Opens the folder at Path; links along Path are followed (the operator named it). With Create,
  // missing folders are made first. Raises EFileError.
  static TFolder Open(const std::string& Path, bool Create);
  // The sub-folder Name, never reached through a link; with Create it is made when missing. Raises
  // EFileError when Name is a link, not a folder, or cannot be opened or made.
  TFolder Child(const std::string& Name, bool Create) const;
  // What stands at Name in this folder; a link is reported as a link, not followed.
  TEntryKind KindOf(const std::string& Name) const;

  bool Valid() const { return FHandle != InvalidHandle; }
  // The descriptor (POSIX) or handle (Windows) of the folder, for the platform layer itself.
  intptr_t Handle() const { return FHandle; }
  // The path it was opened by, for messages.
  const std::string& Path() const { return FPath; }

 private:
  static constexpr intptr_t InvalidHandle = -1;  // a descriptor or a handle, both -1 when absent
  TFolder(intptr_t Handle, std::string Path) : FHandle(Handle), FPath(std::move(Path)) {}
  intptr_t FHandle = InvalidHandle;
  std::string FPath;
};

class TTempFile {
 public:
  TTempFile() = default;
  ~TTempFile();  // removes the file unless it was committed
  TTempFile(TTempFile&& Other) noexcept;
  TTempFile& operator=(TTempFile&& Other) noexcept;
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  // A new file "<Stem>.<random>.part" in Folder, mode 0600, created with O_EXCL and O_NOFOLLOW so
  // it is ours alone. Folder must outlive the file. Raises EFileError. On Windows it is created new
  // (never opened when the name exists), with the folder's inherited access list, and shared with
  // nobody but a rename or delete until it is closed.
  static TTempFile Create(const TFolder& Folder, const std::string& Stem);

  // Appends at the end of what was written; raises EFileError (a full disk, the file size limit).
  void Write(const char* Data, size_t Size);
  // Cuts the file to Size bytes and writes on from there.
  void Truncate(int64_t Size);
  int64_t Size() const { return FSize; }
  const std::string& Name() const { return FName; }

  // Makes the file Name of its folder: data flushed, permission bits set to Mode (where files carry
  // them), renamed, the folder flushed. With Replace an existing entry of that name is replaced in
  // the same step; without it nothing is replaced and the result is false when Name is taken (the
  // file stays temporary). Raises EFileError. Windows files carry no permission bits: Mode has no
  // effect there, the file keeps the access list it inherited from the folder.
  bool Commit(const std::string& Name, bool Replace, unsigned Mode = 0644);
  // Removes the file now (also done by the destructor).
  void Discard();

 private:
  const TFolder* FFolder = nullptr;
  intptr_t FHandle = -1;  // a descriptor or a handle, both -1 when absent
  std::string FName;
  int64_t FSize = 0;
  int64_t FFlushed = 0;  // bytes already handed to the disk for write-back
};

}  // namespace kelvo::platform
