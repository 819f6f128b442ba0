#pragma once
// POSIX permission bits, owners and user ids of files and of this process. They have no meaning on
// Windows: there PosixModesApply() is false, every query answers "nothing" and every change fails,
// and a test that checks them skips with the reason (KELVO_SKIP_WITHOUT_POSIX_MODES).
#include <cstdint>
#include <optional>
#include <string>

namespace kelvo::test {

bool PosixModesApply();
const char* NoPosixModesReason();

struct TFileFacts {
  bool Exists = false;
  bool IsDir = false;
  bool IsFile = false;
  bool IsLink = false;  // only when links are not followed
  unsigned Mode = 0;    // permission bits with set-id and sticky (07777)
  unsigned Uid = 0;
  unsigned Gid = 0;
  int64_t Size = 0;
};

// What stat (FollowLinks) or lstat says of Path; Exists false when it fails.
TFileFacts FileFacts(const std::string& Path, bool FollowLinks = true);
// Permission bits (07777) of Path, following links; 0 when it cannot be read.
unsigned ModeOf(const std::string& Path);
bool SetMode(const std::string& Path, unsigned Mode);
// mkdir: a new folder with Mode less the umask; false when it exists already or cannot be made.
bool MakeFolder(const std::string& Path, unsigned Mode);
bool ChangeOwner(const std::string& Path, unsigned Uid, unsigned Gid);
// Sets this process's umask; returns the old one.
unsigned SetUmask(unsigned Mask);

// A umask for the life of the object, whatever the test runner was given.
class ScopedUmask {
 public:
  explicit ScopedUmask(unsigned Mask) : FOld(SetUmask(Mask)) {}
  ~ScopedUmask() { SetUmask(FOld); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  unsigned FOld;
};

// Lets the owner and everyone run Path (0755). On Windows any file may be started: true.
bool MakeExecutable(const std::string& Path);

// Writes what is cached of the file at Path through to the disk; false when it cannot.
bool FlushToDisk(const std::string& Path);

// Has the system write every cached file to its disk (sync), so that no write-back runs beside a
// measurement. Windows flushes volumes only for administrators: there it does nothing.
void SettleDisks();

// A new, empty folder of this user's in the temporary folder (TMPDIR, TEMP), named Prefix plus a
// random suffix; empty when it could not be made.
std::string MakeUniqueTempFolder(const std::string& Prefix);

unsigned UserId();  // real
unsigned EffectiveUserId();
// Home folder of the user running this process, from the user database (not HOME).
std::optional<std::string> HomeFromUserDatabase();
bool IsRoot();
std::optional<unsigned> UserIdByName(const std::string& Name);
std::optional<unsigned> GroupIdByName(const std::string& Name);
bool UserIdInUse(unsigned Uid);
// Becomes the user Uid with Gid as its one group (or with no groups and Uid as group id when Gid is
// absent). Only root can; false when it fails.
bool BecomeUser(unsigned Uid, std::optional<unsigned> Gid);

}  // namespace kelvo::test

#define KELVO_SKIP_WITHOUT_POSIX_MODES() \
  if (!::kelvo::test::PosixModesApply()) GTEST_SKIP() << ::kelvo::test::NoPosixModesReason()
