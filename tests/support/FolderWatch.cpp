#include "support/FolderWatch.h"

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace kelvo::test {

#ifdef __linux__

bool FolderReadWatch::Applies() { return true; }
const char* FolderReadWatch::WhyNot() { return ""; }

FolderReadWatch::FolderReadWatch(const std::string& Dir) : FFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (FFd >= 0) FWatch = inotify_add_watch(FFd, Dir.c_str(), IN_OPEN | IN_ACCESS);
}

FolderReadWatch::~FolderReadWatch() {
  if (FFd >= 0) ::close(FFd);
}

bool FolderReadWatch::SawRead() {
  char Events[4096];
  bool Saw = false;
  while (FFd >= 0 && ::read(FFd, Events, sizeof Events) > 0) Saw = true;
  return Saw;
}

#else

bool FolderReadWatch::Applies() { return false; }
const char* FolderReadWatch::WhyNot() {
  return "only Linux (inotify) reports that a folder was opened or read; Windows reports changes only";
}
FolderReadWatch::FolderReadWatch(const std::string&) {}
FolderReadWatch::~FolderReadWatch() = default;
bool FolderReadWatch::SawRead() { return false; }

#endif

}  // namespace kelvo::test
