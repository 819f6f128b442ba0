#include "core/Md5.h"

#include <openssl/evp.h>

#include <new>

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

}  // namespace kelvo
