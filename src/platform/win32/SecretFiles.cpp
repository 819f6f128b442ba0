// Who may read the files that hold secrets, on Windows. Files carry access lists instead of modes:
// a user's configuration folder below the user's profile (AppData) is that user's by inheritance,
// and the machine folder below ProgramData keeps what ProgramData hands down. There is no machine
// group; the modes below are passed on to TTempFile::Commit, which has no use for them here.
#include "platform/SecretFiles.h"

#include <windows.h>

#include <filesystem>

#include "platform/Paths.h"
#include "platform/SystemParts.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

// Volume and file index of a folder, the identity of the folder whatever path names it.
bool FolderId(const std::string& Dir, BY_HANDLE_FILE_INFORMATION& Info) {
  const win32::THandle Handle(::CreateFileW(win32::Utf8ToWide(Dir).c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return Handle.Valid() && ::GetFileInformationByHandle(Handle.Get(), &Info) &&
         (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& Dir) {
  const DWORD Attributes = ::GetFileAttributesW(win32::Utf8ToWide(Dir).c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool system::SameFolder(const std::string& A, const std::string& B) {
  BY_HANDLE_FILE_INFORMATION InfoA{};
  BY_HANDLE_FILE_INFORMATION InfoB{};
  return FolderId(A, InfoA) && FolderId(B, InfoB) && InfoA.dwVolumeSerialNumber == InfoB.dwVolumeSerialNumber &&
         InfoA.nFileIndexHigh == InfoB.nFileIndexHigh && InfoA.nFileIndexLow == InfoB.nFileIndexLow;
}

// Windows has no machine group: whom the machine folder admits is its access list's matter.
bool FindMachineGroup(unsigned& /*Gid*/) { return false; }

// Prepared means made: the folder takes the access list of the folder it is made in (the user's
// profile for Owner, ProgramData for the machine folder), and an existing list is never widened or
// narrowed here.
bool PrepareSecretFolder(const std::string& Dir, TSecretScope /*Scope*/) {
  if (Dir.empty()) return false;
  std::error_code Ignored;
  std::filesystem::create_directories(std::filesystem::path(win32::Utf8ToWide(WithoutTrailingSlashes(Dir))), Ignored);
  return IsFolder(Dir);
}

// A folder this user may list.
bool CanEnterFolder(const std::string& Dir) {
  if (Dir.empty()) return false;
  const win32::THandle Handle(::CreateFileW(win32::Utf8ToWide(Dir).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION Info{};
  return Handle.Valid() && ::GetFileInformationByHandle(Handle.Get(), &Info) &&
         (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace kelvo::platform
