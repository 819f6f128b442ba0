#pragma once
// Sees whether anything opened or read a folder or the files in it (inotify). Windows reports
// changes to a folder, never reads of it: there Applies() is false and the test skips with WhyNot().
#include <string>

namespace kelvo::test {

class FolderReadWatch {
 public:
  static bool Applies();
  static const char* WhyNot();

  explicit FolderReadWatch(const std::string& Dir);
  ~FolderReadWatch();
  FolderReadWatch(const FolderReadWatch&) = delete;
  FolderReadWatch& operator=(const FolderReadWatch&) = delete;

  bool Watching() const { return FWatch >= 0; }
  // Whether the folder or a file in it was opened or read since the last call (or the start).
  bool SawRead();

 private:
  int FFd = -1;
  int FWatch = -1;
};

}  // namespace kelvo::test
