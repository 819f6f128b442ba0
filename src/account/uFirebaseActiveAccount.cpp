#include "account/uFirebaseActiveAccount.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "core/AsciiJson.h"
#include "core/FileIO.h"
#include "core/TimedCache.h"
#include "core/uAppConfig.h"
#include "platform/Clock.h"
#include "platform/MachineLock.h"
#include "platform/MachineProtection.h"

namespace kelvo {

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;
using TimePoint = std::chrono::system_clock::time_point;

constexpr char SavedSignInFileName[] = "saved_signin.dat";
constexpr char SignInLockName[] = "Kelvo.SavedSignIn";
constexpr char SignInDescription[] = "KelvoSavedSignIn";

constexpr auto LockWait = 5000ms;
constexpr int FileAttempts = 10;
constexpr auto AttemptPause = 150ms;
constexpr auto CacheLifetime = 60s;

constexpr char EncryptFailedPrefix[] = "Oturum bilgisi sifrelenemedi: ";
constexpr char DecryptFailedPrefix[] = "Oturum bilgisi okunamadi: ";
// What the platform has to say about a blob it cannot open: it gives no reason of its own.
constexpr char InvalidDataText[] = "Veri gecersiz";
constexpr char NotAnObjectText[] = "Kayit bicimi gecersiz";

TTimedCache<TSavedSignIn> GCache(CacheLifetime);
std::function<void(std::chrono::milliseconds)> GSleep;
std::function<std::string(const std::string&)> GReader;

using TLockHandle = std::unique_ptr<platform::MachineLock>;

bool IsComplete(const TSavedSignIn& SignIn) { return !SignIn.LoginName.empty() && !SignIn.Password.empty(); }

void Pause(std::chrono::milliseconds Duration) {
  if (GSleep)
    GSleep(Duration);
  else
    std::this_thread::sleep_for(Duration);
}

std::string GetSavedSignInPath() { return JoinPath(TAppConfig::Instance().GetConfigDir(), SavedSignInFileName); }

// Best effort: without the lock within the bounded wait, the caller goes ahead unguarded.
bool AcquireSignInLock(TLockHandle& Handle) {
  Handle.reset();
  auto Lock = std::make_unique<platform::MachineLock>(SignInLockName);
  if (!Lock->Acquire(LockWait)) return false;
  Handle = std::move(Lock);
  return true;
}

void ReleaseSignInLock(TLockHandle& Handle) {
  if (!Handle) return;
  Handle->Release();
  Handle.reset();
}

// Holds the lock for one file access and lets it go on every path out.
class TSignInLockScope {
 public:
  TSignInLockScope() { AcquireSignInLock(FHandle); }
  ~TSignInLockScope() { ReleaseSignInLock(FHandle); }
  TSignInLockScope(const TSignInLockScope&) = delete;
  TSignInLockScope& operator=(const TSignInLockScope&) = delete;

 private:
  TLockHandle FHandle;
};

// Another process (or a virus scanner) may briefly hold the file; the last failure goes to the caller.
template <typename TAttempt>
auto WithRetry(TAttempt Attempt) {
  for (int Number = 1;; ++Number) {
    try {
      return Attempt();
    } catch (const std::exception&) {
      if (Number >= FileAttempts) throw;
    }
    Pause(AttemptPause);
  }
}

std::string ReadAllBytesWithRetry(const std::string& Path) {
  return WithRetry([&] { return GReader ? GReader(Path) : ReadFileBytes(Path); });
}

// Replaced as a whole, so a crash or a full disk never leaves half a record. In the machine folder the
// saved sign-in belongs to the computer: every member of its group may read and replace it under the
// lock. In a user's own folder it is that user's alone. A mode an administrator narrowed is kept.
void WriteAllBytesWithRetry(const std::string& Path, const std::string& Bytes) {
  WithRetry([&] { WriteFileAtomic(Path, Bytes, SecretFileModeFor(Path)); });
}

std::string ProtectSignInData(const std::string& Plain) {
  if (Plain.empty()) return {};
  std::vector<uint8_t> Blob;
  try {
    Blob = platform::ProtectMachineData(std::vector<uint8_t>(Plain.begin(), Plain.end()), SignInDescription);
  } catch (const std::exception& E) {
    throw platform::EProtectionError(std::string(EncryptFailedPrefix) + E.what());
  }
  return std::string(Blob.begin(), Blob.end());
}

std::string UnprotectSignInData(const std::string& Blob) {
  if (Blob.empty()) return {};
  std::vector<uint8_t> Plain;
  if (!platform::UnprotectMachineData(std::vector<uint8_t>(Blob.begin(), Blob.end()), Plain))
    throw platform::EProtectionError(std::string(DecryptFailedPrefix) + InvalidDataText);
  return std::string(Plain.begin(), Plain.end());
}

// A missing, null or non-text member reads as the empty text.
std::string StringMember(const Json& Object, const char* Name) {
  const auto It = Object.find(Name);
  if (It == Object.end() || !It->is_string()) return {};
  return It->get<std::string>();
}

std::string SavedSignInToJson(const TSavedSignIn& SignIn) {
  Json Object = Json::object();
  Object["Email"] = SignIn.LoginName;
  Object["Sifre"] = SignIn.Password;
  Object["Musteri"] = SignIn.DisplayName;
  return ToAsciiJson(Object);
}

}  // namespace

bool ParseSavedSignIn(const std::string& Text, TSavedSignIn& SignIn) {
  SignIn = {};
  const Json Value = Json::parse(Text, nullptr, /*allow_exceptions=*/false);
  if (Value.is_discarded()) return false;
  if (!Value.is_object()) throw platform::EProtectionError(std::string(DecryptFailedPrefix) + NotAnObjectText);
  SignIn.LoginName = StringMember(Value, "Email");
  SignIn.Password = StringMember(Value, "Sifre");
  SignIn.DisplayName = StringMember(Value, "Musteri");
  return IsComplete(SignIn);
}

bool HasSavedSignIn() { return FileExists(GetSavedSignInPath()); }

bool LoadSavedSignIn(TSavedSignIn& SignIn) {
  SignIn = {};
  if (auto Cached = GCache.Get()) {
    SignIn = std::move(*Cached);
    // A record saved without a password is no sign-in, from the cache as from the file.
    return IsComplete(SignIn);
  }
  const std::string Path = GetSavedSignInPath();
  if (!FileExists(Path)) return false;
  std::string Blob;
  {
    TSignInLockScope Lock;
    Blob = ReadAllBytesWithRetry(Path);
  }
  if (!ParseSavedSignIn(UnprotectSignInData(Blob), SignIn)) return false;
  GCache.Store(SignIn);
  return true;
}

void SaveSavedSignIn(const TSavedSignIn& SignIn) {
  const std::string Blob = ProtectSignInData(SavedSignInToJson(SignIn));
  {
    TSignInLockScope Lock;
    WriteAllBytesWithRetry(GetSavedSignInPath(), Blob);
  }
  GCache.Store(SignIn);
}

bool GetActiveAccount(TFirebaseManagedAccount& Account, std::string& Message) {
  Account = {};
  Message.clear();
  TSavedSignIn SignIn;
  if (!LoadSavedSignIn(SignIn)) {
    Message = NoSavedSignInMessage;
    return false;
  }
  return FindAccountByLogin(SignIn.LoginName, Account, Message);
}

void ResetSavedSignInCacheForTests() { GCache.Clear(); }

void SetSavedSignInSleepForTests(std::function<void(std::chrono::milliseconds)> Sleep) { GSleep = std::move(Sleep); }

void SetSavedSignInReaderForTests(std::function<std::string(const std::string&)> Reader) {
  GReader = std::move(Reader);
}

}  // namespace kelvo
