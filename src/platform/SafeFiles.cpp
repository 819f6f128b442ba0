// The parts of the safe files that are the same on every system: a temporary file's ownership.
#include "platform/SafeFiles.h"

#include <utility>

namespace kelvo::platform {

TTempFile::~TTempFile() { Discard(); }

TTempFile::TTempFile(TTempFile&& Other) noexcept
    : FFolder(Other.FFolder),
      FHandle(Other.FHandle),
      FName(std::move(Other.FName)),
      FSize(Other.FSize),
      FFlushed(Other.FFlushed) {
  Other.FHandle = -1;
  Other.FName.clear();
}

TTempFile& TTempFile::operator=(TTempFile&& Other) noexcept {
  if (this != &Other) {
    Discard();
    FFolder = Other.FFolder;
    FHandle = Other.FHandle;
    FName = std::move(Other.FName);
    FSize = Other.FSize;
    FFlushed = Other.FFlushed;
    Other.FHandle = -1;
    Other.FName.clear();
  }
  return *this;
}

}  // namespace kelvo::platform
