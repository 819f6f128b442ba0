// Folders of the system on Windows. PROGRAMDATA and APPDATA are read from the environment first, as
// on Linux, so that tests can move them; the known folders are asked only when they are unset.
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <knownfolders.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>
#include <random>
#include <vector>

#include "platform/Errors.h"
#include "platform/Paths.h"
#include "platform/SystemParts.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

using win32::ProcessSids;
using win32::SidText;
using win32::THandle;
using win32::TProcessSids;
using win32::Utf8ToWide;
using win32::WideToUtf8;

// Fixed sub-folder of the user's temporary folder.
constexpr char kTempFolderName[] = "Kelvo";

std::string KnownFolder(REFKNOWNFOLDERID Id) {
  wchar_t* Path = nullptr;
  std::string Result;
  if (SUCCEEDED(::SHGetKnownFolderPath(Id, 0, nullptr, &Path)) && Path) Result = WideToUtf8(Path, ::wcslen(Path));
  ::CoTaskMemFree(Path);
  return Result;
}

bool IsSeparator(char C) { return C == '/' || C == '\\'; }

[[noreturn]] void RefuseTempDir(const std::string& Dir) { throw EFileError("Gecici klasor guvenli degil: " + Dir); }

// Full control for the user alone, handed down to everything inside, nothing inherited from above.
std::wstring OwnerOnlyDescriptor(const std::wstring& UserSid) { return L"D:P(A;OICI;FA;;;" + UserSid + L")"; }

}  // namespace

std::string system::ProgramDir() {
  std::vector<wchar_t> Buffer(MAX_PATH);
  for (;;) {
    const DWORD Len = ::GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Len == 0) throw EFileError("Program klasoru bulunamadi: " + win32::LastErrorMessage());
    if (Len < Buffer.size()) {
      const std::string Exe = WideToUtf8(Buffer.data(), Len);
      const size_t Slash = Exe.find_last_of("\\/");
      if (Slash == std::string::npos) throw EFileError("Program klasoru bulunamadi: " + Exe);
      return WithoutTrailingSlashes(Exe.substr(0, Slash + 1));
    }
    Buffer.resize(Buffer.size() * 2);
  }
}

std::string PrivateTempDir() {
  std::vector<wchar_t> Buffer(MAX_PATH + 2);
  const DWORD Len = ::GetTempPathW(static_cast<DWORD>(Buffer.size()), Buffer.data());
  if (Len == 0 || Len >= Buffer.size()) throw EFileError("Gecici klasor bulunamadi: " + win32::LastErrorMessage());
  const std::string Dir = WithoutTrailingSlashes(WideToUtf8(Buffer.data(), Len)) + "\\" + kTempFolderName;
  const std::wstring WideDir = Utf8ToWide(Dir);

  TProcessSids Sids;
  if (!ProcessSids(Sids)) RefuseTempDir(Dir);
  const std::wstring Sddl = OwnerOnlyDescriptor(SidText(Sids.User));
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl.c_str(), SDDL_REVISION_1, &Descriptor, nullptr))
    RefuseTempDir(Dir);
  const std::unique_ptr<void, decltype(&::LocalFree)> FreeDescriptor(Descriptor, &::LocalFree);
  SECURITY_ATTRIBUTES Attributes{sizeof(SECURITY_ATTRIBUTES), Descriptor, FALSE};
  if (!::CreateDirectoryW(WideDir.c_str(), &Attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    throw EFileError("Gecici klasor olusturulamadi: " + Dir + ": " + win32::LastErrorMessage());

  // Checked through a handle of the folder itself, so what is checked is what gets tightened, and a
  // link or junction put in its place is refused rather than followed.
  const THandle Folder(::CreateFileW(WideDir.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION Info{};
  if (!Folder.Valid() || !::GetFileInformationByHandle(Folder.Get(), &Info) ||
      !(Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    RefuseTempDir(Dir);
  PSID Owner = nullptr;
  PSECURITY_DESCRIPTOR Current = nullptr;
  if (::GetSecurityInfo(Folder.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &Owner, nullptr, nullptr, nullptr,
                        &Current) != ERROR_SUCCESS)
    RefuseTempDir(Dir);
  const bool Ours = win32::OwnedByUs(Owner, Sids);
  ::LocalFree(Current);
  if (!Ours) RefuseTempDir(Dir);
  // A folder of ours that someone opened wider is made private again.
  BOOL Present = FALSE;
  BOOL Defaulted = FALSE;
  PACL Dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(Descriptor, &Present, &Dacl, &Defaulted) ||
      ::SetSecurityInfo(Folder.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, Dacl, nullptr) != ERROR_SUCCESS)
    RefuseTempDir(Dir);
  return Dir;
}

// Trailing separators go; a root ("\", "C:\", "/") stays as it is.
std::string WithoutTrailingSlashes(std::string Path) {
  while (Path.size() > 1 && IsSeparator(Path.back()) && !(Path.size() == 3 && Path[1] == ':')) Path.pop_back();
  return Path;
}

std::string ProgramDataDir() {
  std::string Dir = GetEnv("PROGRAMDATA");
  if (Dir.empty()) Dir = KnownFolder(FOLDERID_ProgramData);
  return Dir.empty() ? std::string("C:\\ProgramData") : Dir;
}

std::string MachineDataDir() {
  const std::string Base = WithoutTrailingSlashes(ProgramDataDir());
  return Base + (IsSeparator(Base.back()) ? "" : "\\") + "Korvessa";
}

std::string AppDataDir() {
  const std::string Dir = GetEnv("APPDATA");
  return Dir.empty() ? KnownFolder(FOLDERID_RoamingAppData) : Dir;
}

std::string GetEnv(const std::string& Name) {
  const std::wstring WideName = Utf8ToWide(Name);
  std::vector<wchar_t> Buffer(256);
  for (;;) {
    const DWORD Len = ::GetEnvironmentVariableW(WideName.c_str(), Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Len == 0) return {};
    if (Len < Buffer.size()) return WideToUtf8(Buffer.data(), Len);
    Buffer.resize(Len);
  }
}

std::string MakeUniqueFolder(const std::string& Base, const std::string& Prefix) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device Random;
  for (int Attempt = 0; Attempt < 100; ++Attempt) {
    std::string Path = Base + "\\" + Prefix;
    for (int I = 0; I < 6; ++I) Path += kLetters[Random() % (sizeof kLetters - 1)];
    if (::CreateDirectoryW(Utf8ToWide(Path).c_str(), nullptr)) return Path;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return {};
}

}  // namespace kelvo::platform
