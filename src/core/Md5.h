#pragma once
// MD5 of a byte stream fed piece by piece (Drive reports every file's "md5Checksum").
#include <cstddef>
#include <memory>
#include <string>

namespace kelvo {

class TMd5 {
 public:
  TMd5();
  ~TMd5();
  TMd5(const TMd5&) = delete;
  TMd5& operator=(const TMd5&) = delete;

  void Reset();
  void Update(const void* Data, size_t Size);
  // Lower-case hex of everything fed since the last Reset; the stream can go on afterwards.
  std::string HexDigest() const;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace kelvo
