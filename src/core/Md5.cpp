#include "core/Md5.h"

#include <openssl/evp.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace kelvo {

struct TMd5::TState {
  EVP_MD_CTX* Context = EVP_MD_CTX_new();
  ~TState() { EVP_MD_CTX_free(Context); }
};

TMd5::TMd5() : FState(std::make_unique<TState>()) {
  if (!FState->Context) throw std::bad_alloc();
  Reset();
}

TMd5::~TMd5() = default;

void TMd5::Reset() { EVP_DigestInit_ex(FState->Context, EVP_md5(), nullptr); }

void TMd5::Update(const void* Data, size_t Size) { EVP_DigestUpdate(FState->Context, Data, Size); }

std::string TMd5::HexDigest() const {
  EVP_MD_CTX* Copy = EVP_MD_CTX_new();
  if (!Copy) throw std::bad_alloc();
  unsigned char Digest[EVP_MAX_MD_SIZE];
  unsigned int Length = 0;
  EVP_MD_CTX_copy_ex(Copy, FState->Context);
  EVP_DigestFinal_ex(Copy, Digest, &Length);
  EVP_MD_CTX_free(Copy);
  static const char Hex[] = "0123456789abcdef";
  std::string Out;
  for (unsigned int I = 0; I < Length; ++I) {
    Out += Hex[Digest[I] >> 4];
    Out += Hex[Digest[I] & 15];
  }
  return Out;
}

// ---- TMd5Pipeline ----

namespace {

constexpr size_t PieceSize = 1 << 20;  // bytes copied into one queued piece
constexpr size_t MaxPieces = 8;        // queued pieces before Update waits

}  // namespace

struct TMd5Pipeline::TState {
  TMd5 Hash;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::vector<char>> Queue;  // filled pieces, oldest first
  std::vector<std::vector<char>> Spare;  // emptied pieces for reuse
  std::vector<char> Filling;             // the piece Update is filling
  bool Busy = false;                     // the hasher holds a piece
  bool Stopping = false;
  std::thread Worker;

  void Run() {
    std::unique_lock Lock(Mutex);
    while (true) {
      Changed.wait(Lock, [this] { return Stopping || !Queue.empty(); });
      if (Queue.empty()) return;
      std::vector<char> Piece = std::move(Queue.front());
      Queue.pop_front();
      Busy = true;
      Lock.unlock();
      Hash.Update(Piece.data(), Piece.size());
      Lock.lock();
      Busy = false;
      Piece.clear();
      Spare.push_back(std::move(Piece));
      Changed.notify_all();
    }
  }

  // Queues the piece being filled; waits while the queue is full. Called with Lock held.
  void Push(std::unique_lock<std::mutex>& Lock) {
    Changed.wait(Lock, [this] { return Queue.size() < MaxPieces; });
    Queue.push_back(std::move(Filling));
    if (!Spare.empty()) {
      Filling = std::move(Spare.back());
      Spare.pop_back();
    } else {
      Filling = {};
    }
    Filling.reserve(PieceSize);
    Changed.notify_all();
  }

  // Everything fed so far has been hashed. Called with Lock held.
  void Drain(std::unique_lock<std::mutex>& Lock) {
    if (!Filling.empty()) Push(Lock);
    Changed.wait(Lock, [this] { return Queue.empty() && !Busy; });
  }
};

TMd5Pipeline::TMd5Pipeline() : FState(std::make_unique<TState>()) {
  FState->Filling.reserve(PieceSize);
  FState->Worker = std::thread([State = FState.get()] { State->Run(); });
}

TMd5Pipeline::~TMd5Pipeline() {
  {
    std::lock_guard Lock(FState->Mutex);
    FState->Stopping = true;
    FState->Queue.clear();
  }
  FState->Changed.notify_all();
  FState->Worker.join();
}

void TMd5Pipeline::Update(const void* Data, size_t Size) {
  const char* Bytes = static_cast<const char*>(Data);
  std::unique_lock Lock(FState->Mutex);
  while (Size > 0) {
    const size_t Part = std::min(Size, PieceSize - FState->Filling.size());
    FState->Filling.insert(FState->Filling.end(), Bytes, Bytes + Part);
    Bytes += Part;
    Size -= Part;
    if (FState->Filling.size() == PieceSize) FState->Push(Lock);
  }
}

void TMd5Pipeline::Reset() {
  std::unique_lock Lock(FState->Mutex);
  FState->Drain(Lock);
  FState->Hash.Reset();
}

std::string TMd5Pipeline::HexDigest() {
  std::unique_lock Lock(FState->Mutex);
  FState->Drain(Lock);
  return FState->Hash.HexDigest();
}

}  // namespace kelvo
