#include "platform/MachineProtection.h"

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/Paths.h"
#include "platform/SecretFiles.h"
#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {

// Blob: magic | version | description length (uint16, big-endian) | description | nonce |
// ciphertext | tag. Everything before the nonce is authenticated as additional data, so neither the
// description nor the version (which names the key) can be swapped without failing the tag.
constexpr std::array<uint8_t, 4> kMagic = {'K', 'V', 'P', '1'};
constexpr uint8_t kVersionMachineId = 1;
constexpr uint8_t kVersionMachineKey = 2;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;
constexpr size_t kKeySize = 32;
constexpr size_t kHeaderFixedSize = kMagic.size() + 1 + 2;

// Fixed per product, so a key made for us is useless to anything else that hashes the machine id.
constexpr char kSaltMachineId[] = "Kelvo.MachineProtection.v1";
constexpr char kSaltMachineKey[] = "Kelvo.MachineProtection.v2";
constexpr char kInfo[] = "AES-256-GCM machine-scope key";

constexpr char kKeyFileName[] = "machine.key";
constexpr size_t kMachineKeySize = 32;

// First line of the file, without surrounding blanks; empty when unreadable.
std::string ReadIdentityFile(const char* Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return {};
  std::string Line;
  std::getline(In, Line);
  size_t Begin = 0;
  size_t End = Line.size();
  while (Begin < End && static_cast<unsigned char>(Line[Begin]) <= 32) ++Begin;
  while (End > Begin && static_cast<unsigned char>(Line[End - 1]) <= 32) --End;
  return Line.substr(Begin, End - Begin);
}

std::string SystemMachineIdentity() {
  std::string Id = ReadIdentityFile("/etc/machine-id");
  if (Id.empty()) Id = ReadIdentityFile("/var/lib/dbus/machine-id");
  return Id;
}

// Empty when no identity is available.
std::string MachineIdentity() {
  const MachineIdentitySource Source = system::ReplacedMachineIdentity();
  return Source ? Source() : SystemMachineIdentity();
}

std::string OpenSslErrorText(const char* What) {
  std::string Text = What;
  unsigned long Code = ERR_get_error();
  if (Code != 0) {
    char Buffer[256];
    ERR_error_string_n(Code, Buffer, sizeof(Buffer));
    Text += ": ";
    Text += Buffer;
  }
  ERR_clear_error();
  return Text;
}

// Wipes the key when it goes out of scope, whichever way that happens.
struct KeyBuffer {
  std::array<uint8_t, kKeySize> Bytes{};
  ~KeyBuffer() { OPENSSL_cleanse(Bytes.data(), Bytes.size()); }
};

// Input is the machine identity (version 1) or the machine key (version 2), each with its own salt.
bool DeriveKey(const uint8_t* Input, size_t InputSize, const char* Salt, KeyBuffer& Key) {
  std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> Kdf(EVP_KDF_fetch(nullptr, OSSL_KDF_NAME_HKDF, nullptr),
                                                        &EVP_KDF_free);
  if (!Kdf) return false;
  std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> Ctx(EVP_KDF_CTX_new(Kdf.get()), &EVP_KDF_CTX_free);
  if (!Ctx) return false;
  char Digest[] = "SHA256";
  OSSL_PARAM Params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, Digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<uint8_t*>(Input), InputSize),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(Salt), std::strlen(Salt)),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(kInfo), sizeof(kInfo) - 1),
      OSSL_PARAM_construct_end(),
  };
  return EVP_KDF_derive(Ctx.get(), Key.Bytes.data(), Key.Bytes.size(), Params) == 1;
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

void Warn(const std::string& Text) { system::WarnProtection(Text); }

// Reads the machine key into Key. False with the reason in Why when there is no usable key.
bool ReadMachineKey(KeyBuffer& Key, std::string& Why) {
  const std::string Path = MachineKeyPath();
  // O_NONBLOCK: a FIFO put in its place must not stop the program.
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) {
    Why = Path + ": " + std::strerror(errno);
    return false;
  }
  struct stat St {};
  bool Ok = ::fstat(Fd, &St) == 0;
  if (!Ok) {
    Why = Path + ": " + std::strerror(errno);
  } else if (!S_ISREG(St.st_mode) || St.st_size != static_cast<off_t>(kMachineKeySize)) {
    Why = Path + ": 32 baytlik bir dosya degil";
    Ok = false;
  } else if ((St.st_uid != 0 && St.st_uid != ::geteuid()) || (St.st_mode & 022) != 0) {
    Why = Path + ": sahibi veya izinleri guvenli degil";
    Ok = false;
  }
  std::array<uint8_t, kMachineKeySize> Raw{};
  if (Ok) {
    size_t Done = 0;
    while (Done < Raw.size()) {
      const ssize_t N = ::read(Fd, Raw.data() + Done, Raw.size() - Done);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) break;
      Done += static_cast<size_t>(N);
    }
    Ok = Done == Raw.size();
    if (!Ok) Why = Path + ": okunamadi";
  }
  ::close(Fd);
  if (Ok && !DeriveKey(Raw.data(), Raw.size(), kSaltMachineKey, Key)) {
    Why = OpenSslErrorText("anahtar turetilemedi");
    Ok = false;
  }
  OPENSSL_cleanse(Raw.data(), Raw.size());
  return Ok;
}

bool DeriveIdentityKey(const std::string& Identity, KeyBuffer& Key) {
  return !Identity.empty() &&
         DeriveKey(reinterpret_cast<const uint8_t*>(Identity.data()), Identity.size(), kSaltMachineId, Key);
}

}  // namespace

std::vector<uint8_t> ProtectMachineData(const std::vector<uint8_t>& Plain, const std::string& Description) {
  system::CheckProtectable(Plain, Description);

  KeyBuffer Key;
  uint8_t Version = kVersionMachineKey;
  std::string Why;
  if (!ReadMachineKey(Key, Why)) {
    // Every local user can read the machine identity: worse than the key, but a secret kept this
    // way is still bound to this computer, and the operator can work on.
    Warn("Makine anahtari kullanilamadi, makine kimligi kullaniliyor: " + Why);
    Version = kVersionMachineId;
    const std::string Identity = MachineIdentity();
    if (Identity.empty()) throw EProtectionError(system::kNoMachineIdentity);
    if (!DeriveIdentityKey(Identity, Key)) throw EProtectionError(OpenSslErrorText("anahtar turetilemedi"));
  }

  const size_t HeaderSize = kHeaderFixedSize + Description.size();
  std::vector<uint8_t> Blob(HeaderSize + kNonceSize + Plain.size() + kTagSize);
  uint8_t* Out = Blob.data();
  std::memcpy(Out, kMagic.data(), kMagic.size());
  Out[kMagic.size()] = Version;
  Out[kMagic.size() + 1] = static_cast<uint8_t>(Description.size() >> 8);
  Out[kMagic.size() + 2] = static_cast<uint8_t>(Description.size() & 0xFF);
  if (!Description.empty()) std::memcpy(Out + kHeaderFixedSize, Description.data(), Description.size());

  uint8_t* Nonce = Out + HeaderSize;
  uint8_t* Cipher = Nonce + kNonceSize;
  uint8_t* Tag = Cipher + Plain.size();
  if (RAND_bytes(Nonce, static_cast<int>(kNonceSize)) != 1)
    throw EProtectionError(OpenSslErrorText("rastgele sayi uretilemedi"));

  CipherCtx Ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  int Len = 0;
  bool Ok = Ctx && EVP_EncryptInit_ex(Ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(Ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceSize), nullptr) == 1 &&
            EVP_EncryptInit_ex(Ctx.get(), nullptr, nullptr, Key.Bytes.data(), Nonce) == 1 &&
            EVP_EncryptUpdate(Ctx.get(), nullptr, &Len, Out, static_cast<int>(HeaderSize)) == 1;
  if (Ok && !Plain.empty())
    Ok = EVP_EncryptUpdate(Ctx.get(), Cipher, &Len, Plain.data(), static_cast<int>(Plain.size())) == 1;
  Ok = Ok && EVP_EncryptFinal_ex(Ctx.get(), Cipher + Plain.size(), &Len) == 1 &&
       EVP_CIPHER_CTX_ctrl(Ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize), Tag) == 1;
  if (!Ok) throw EProtectionError(OpenSslErrorText("sifreleme basarisiz"));
  return Blob;
}

bool UnprotectMachineData(const std::vector<uint8_t>& Blob, std::vector<uint8_t>& Plain, std::string* Description) {
  Plain.clear();
  if (Description) Description->clear();
  try {
    if (Blob.size() < kHeaderFixedSize + kNonceSize + kTagSize) return false;
    const uint8_t* In = Blob.data();
    const uint8_t Version = In[kMagic.size()];
    if (std::memcmp(In, kMagic.data(), kMagic.size()) != 0 ||
        (Version != kVersionMachineId && Version != kVersionMachineKey))
      return false;
    const size_t DescriptionSize = (size_t{In[kMagic.size() + 1]} << 8) | In[kMagic.size() + 2];
    const size_t HeaderSize = kHeaderFixedSize + DescriptionSize;
    if (Blob.size() < HeaderSize + kNonceSize + kTagSize) return false;
    const size_t CipherSize = Blob.size() - HeaderSize - kNonceSize - kTagSize;
    if (CipherSize > static_cast<size_t>(INT32_MAX)) return false;
    const uint8_t* Nonce = In + HeaderSize;
    const uint8_t* Cipher = Nonce + kNonceSize;
    const uint8_t* Tag = Cipher + CipherSize;

    KeyBuffer Key;
    std::string Why;
    if (!(Version == kVersionMachineKey ? ReadMachineKey(Key, Why) : DeriveIdentityKey(MachineIdentity(), Key))) {
      ERR_clear_error();
      return false;
    }

    std::vector<uint8_t> Out(CipherSize);
    CipherCtx Ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int Len = 0;
    // OpenSSL's tag argument is not const, although it only reads it.
    std::array<uint8_t, kTagSize> TagCopy;
    std::memcpy(TagCopy.data(), Tag, kTagSize);
    bool Ok = Ctx && EVP_DecryptInit_ex(Ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(Ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceSize), nullptr) == 1 &&
              EVP_DecryptInit_ex(Ctx.get(), nullptr, nullptr, Key.Bytes.data(), Nonce) == 1 &&
              EVP_DecryptUpdate(Ctx.get(), nullptr, &Len, In, static_cast<int>(HeaderSize)) == 1;
    if (Ok && CipherSize > 0)
      Ok = EVP_DecryptUpdate(Ctx.get(), Out.data(), &Len, Cipher, static_cast<int>(CipherSize)) == 1;
    Ok = Ok && EVP_CIPHER_CTX_ctrl(Ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), TagCopy.data()) == 1 &&
         EVP_DecryptFinal_ex(Ctx.get(), Out.data() + CipherSize, &Len) == 1;
    if (!Ok) {
      // Nothing of an unauthenticated plaintext may stay in memory.
      if (!Out.empty()) OPENSSL_cleanse(Out.data(), Out.size());
      ERR_clear_error();
      return false;
    }
    if (Description) Description->assign(reinterpret_cast<const char*>(In + kHeaderFixedSize), DescriptionSize);
    Plain = std::move(Out);
    return true;
  } catch (const std::exception& E) {
    // Reading the machine identity or the key failed in a way the reader did not expect (memory,
    // a failing identity source): the blob does not open, and the reason is not lost.
    Plain.clear();
    if (Description) Description->clear();
    Warn(std::string("Korunan veri acilamadi: ") + E.what());
    return false;
  }
}

std::string MachineKeyPath() { return MachineDataDir() + "/" + kKeyFileName; }

bool EnsureMachineKey() {
  KeyBuffer Key;
  std::string Why;
  if (ReadMachineKey(Key, Why)) return true;
  const std::string Path = MachineKeyPath();
  struct stat St {};
  // A key that is there but not usable is the administrator's to mend, never ours to replace. One
  // that a racing process linked since the read above is read again.
  if (::lstat(Path.c_str(), &St) == 0 || errno != ENOENT) {
    if (ReadMachineKey(Key, Why)) return true;
    Warn("Makine anahtari kullanilamadi: " + Why);
    return false;
  }
  const std::string Folder = MachineDataDir();
  if (!PrepareSecretFolder(Folder, TSecretScope::MachineGroup)) return false;

  // The key is written under a name of its own and linked to its final name, which fails when the
  // name is taken: readers see a complete key or none, and the first process to link wins.
  std::array<uint8_t, 8> Suffix{};
  if (RAND_bytes(Suffix.data(), static_cast<int>(Suffix.size())) != 1) {
    ERR_clear_error();
    return false;
  }
  std::string Temp = Path + ".";
  for (uint8_t B : Suffix) {
    Temp += "0123456789abcdef"[B >> 4];
    Temp += "0123456789abcdef"[B & 15];
  }
  Temp += ".tmp";
  const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (Fd < 0) return false;
  // Without the machine group its members could not read the key: then rather no key than ours alone.
  unsigned MachineGid = 0;
  const bool HasGroup = FindMachineGroup(MachineGid);
  bool Ok = !HasGroup || ::fchown(Fd, static_cast<uid_t>(-1), static_cast<gid_t>(MachineGid)) == 0;
  // 0640 only where the group is the machine group or root's own; any other group is kept out.
  Ok = Ok && ::fstat(Fd, &St) == 0;
  const bool SharedGroup = Ok && (St.st_gid == 0 || (HasGroup && St.st_gid == MachineGid));
  std::array<uint8_t, kMachineKeySize> Raw{};
  Ok = Ok && RAND_bytes(Raw.data(), static_cast<int>(Raw.size())) == 1;
  ERR_clear_error();
  Ok = Ok && ::write(Fd, Raw.data(), Raw.size()) == static_cast<ssize_t>(Raw.size());
  OPENSSL_cleanse(Raw.data(), Raw.size());
  Ok = Ok && ::fchmod(Fd, SharedGroup ? 0640 : 0600) == 0 && ::fsync(Fd) == 0;
  Ok = (::close(Fd) == 0) && Ok;
  if (Ok && ::link(Temp.c_str(), Path.c_str()) != 0 && errno != EEXIST) Ok = false;
  ::unlink(Temp.c_str());
  if (!Ok) return false;
  if (!ReadMachineKey(Key, Why)) {
    Warn("Makine anahtari kullanilamadi: " + Why);
    return false;
  }
  return true;
}

}  // namespace kelvo::platform
