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

// The same MD5, computed on a thread of its own while the caller goes on: a download's bytes are
// hashed while the next ones arrive and are written. Update copies the bytes and waits only when
// the hasher is a few megabytes behind, so memory stays bounded.
class TMd5Pipeline {
 public:
  TMd5Pipeline();
  ~TMd5Pipeline();
  TMd5Pipeline(const TMd5Pipeline&) = delete;
  TMd5Pipeline& operator=(const TMd5Pipeline&) = delete;

  void Update(const void* Data, size_t Size);
  // Drops everything fed so far.
  void Reset();
  // Lower-case hex of everything fed since the last Reset, once the hasher has caught up.
  std::string HexDigest();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace kelvo
