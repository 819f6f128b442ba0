#pragma once
// Folders of this user that chosen other users (a database service) may read, by POSIX access
// control lists: the owner keeps everything, each reader gets the entry named below, the owning group
// and everybody else get nothing. On Windows by the folders' access lists: the user's full control
// and an entry per reader account (LookupAccountNameW); Warning also names the accounts that could
// not be found. The folders made here have protected lists (nothing inherited from above);
// GrantReadBelow adds an inheritable reader entry to Dir, and the system hands it down to what lies
// below. FreeDiskSpace is GetDiskFreeSpaceExW; CurrentUserIdText is the user's SID.
#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::platform {

// What the access lists came to. Readers that are no user of this machine are left out; a file
// system without access lists leaves the folders to their owner alone, and Warning says so.
struct TFolderGrant {
  std::vector<std::string> Readers;
  std::string Warning;
};

// Dir, created with mode 0700 when missing (its parent must exist), as a folder of this user that the
// readers may pass through but not list (--x). A link, a non-folder or a folder of another user
// raises EFileError. Any earlier access list of the folder is replaced.
TFolderGrant PrepareTraverseOnlyDir(const std::string& Dir, const std::vector<std::string>& Readers);

// A new folder inside Base, named Prefix plus six random characters and made exclusively (mkdtemp),
// that the readers may list and read (r-x); its default access list hands the same to whatever is
// made inside it. Raises EFileError when it cannot be made.
std::string MakeReadableRunDir(const std::string& Base, const std::string& Prefix,
                               const std::vector<std::string>& Readers, TFolderGrant& Grant);

// Everything below Dir, links not followed: files readable (r--) and folders readable and passable
// (r-x) by the readers, nothing for anybody else. Unpackers give files the modes the archive stored,
// which would otherwise shut the readers out again.
TFolderGrant GrantReadBelow(const std::string& Dir, const std::vector<std::string>& Readers);

// Bytes an unprivileged writer may still put on the file system of Path; false when unknown.
bool FreeDiskSpace(const std::string& Path, uint64_t& Bytes);

// Numeric id of the user running the program, as text (for per-user folder names).
std::string CurrentUserIdText();

}  // namespace kelvo::platform
