// Folders of this user that named other accounts (a database service) may read, on Windows: access
// lists with an entry for each reader account, the user keeping full control, nothing inherited
// from above for the folders made here.
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <bcrypt.h>

#include <memory>

#include "platform/Errors.h"
#include "platform/SharedFolders.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

using win32::THandle;
using win32::TProcessSids;
using win32::Utf8ToWide;

constexpr DWORD kTraverseOnly = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kReadAndList = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

constexpr char kNoAclWarning[] =
    "Dosya sistemi erisim listelerini (ACL) desteklemiyor; klasoru yalnizca sahibi okuyabilir: ";
constexpr char kUnknownAccounts[] = "Hesap bulunamadi, okuma izni verilmedi: ";

struct TReaders {
  std::vector<std::vector<BYTE>> Sids;
  std::vector<std::string> Names;
  std::string Warning;  // names no account of this machine or domain answers to
};

TProcessSids OurSids() {
  TProcessSids Sids;
  if (!win32::ProcessSids(Sids)) throw EFileError("Kullanici kimligi okunamadi: " + win32::LastErrorMessage());
  return Sids;
}

TReaders ResolveReaders(const std::vector<std::string>& Names, const TProcessSids& Us) {
  TReaders Found;
  std::string Unknown;
  for (const std::string& Name : Names) {
    if (Name.empty()) continue;
    const std::wstring WideName = Utf8ToWide(Name);
    DWORD SidSize = 0;
    DWORD DomainSize = 0;
    SID_NAME_USE Use;
    ::LookupAccountNameW(nullptr, WideName.c_str(), nullptr, &SidSize, nullptr, &DomainSize, &Use);
    std::vector<BYTE> Sid(SidSize);
    std::wstring Domain(DomainSize, L'\0');
    if (SidSize == 0 ||
        !::LookupAccountNameW(nullptr, WideName.c_str(), Sid.data(), &SidSize, Domain.data(), &DomainSize, &Use)) {
      Unknown += (Unknown.empty() ? "" : ", ") + Name;
      continue;
    }
    // The user's own entry already says everything about the user.
    if (::EqualSid(Sid.data(), const_cast<BYTE*>(Us.User.data()))) continue;
    bool Seen = false;
    for (auto& Known : Found.Sids) Seen = Seen || ::EqualSid(Known.data(), Sid.data());
    if (Seen) continue;
    Found.Sids.push_back(std::move(Sid));
    Found.Names.push_back(Name);
  }
  if (!Unknown.empty()) Found.Warning = kUnknownAccounts + Unknown;
  return Found;
}

EXPLICIT_ACCESS_W Entry(const std::vector<BYTE>& Sid, DWORD Rights, DWORD Inheritance) {
  EXPLICIT_ACCESS_W Access{};
  Access.grfAccessPermissions = Rights;
  Access.grfAccessMode = GRANT_ACCESS;
  Access.grfInheritance = Inheritance;
  Access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  Access.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
  Access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(const_cast<BYTE*>(Sid.data()));
  return Access;
}

using TAcl = std::unique_ptr<ACL, decltype(&::LocalFree)>;

// The user: full control, handed down; each reader: ReaderRights with ReaderInheritance; merged into
// Base when given (its other entries stay), else the whole list.
TAcl MakeAcl(const TProcessSids& Us, const TReaders& Readers, DWORD ReaderRights, DWORD ReaderInheritance, PACL Base,
             const std::string& Path) {
  std::vector<EXPLICIT_ACCESS_W> Entries;
  if (!Base) Entries.push_back(Entry(Us.User, FILE_ALL_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT));
  for (const auto& Sid : Readers.Sids) Entries.push_back(Entry(Sid, ReaderRights, ReaderInheritance));
  PACL Acl = nullptr;
  const DWORD Err = ::SetEntriesInAclW(static_cast<ULONG>(Entries.size()), Entries.data(), Base, &Acl);
  if (Err != ERROR_SUCCESS)
    throw EFileError("Klasor erisim izinleri ayarlanamadi: " + Path + ": " + win32::SystemMessage(Err));
  return TAcl(Acl, &::LocalFree);
}

bool AclsUnsupported(DWORD Err) { return Err == ERROR_NOT_SUPPORTED || Err == ERROR_INVALID_FUNCTION; }

// Sets Acl as the whole, protected list of the open folder; a volume without access lists (FAT)
// leaves the folder as it is and notes a warning.
void SetProtectedAcl(HANDLE Folder, PACL Acl, const std::string& Path, TFolderGrant& Grant) {
  const DWORD Err =
      ::SetSecurityInfo(Folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, Acl, nullptr);
  if (Err == ERROR_SUCCESS) return;
  if (!AclsUnsupported(Err))
    throw EFileError("Klasor erisim izinleri ayarlanamadi: " + Path + ": " + win32::SystemMessage(Err));
  if (Grant.Warning.empty()) Grant.Warning = kNoAclWarning + Path;
}

void AddWarning(TFolderGrant& Grant, const std::string& Text) {
  if (Text.empty()) return;
  Grant.Warning += (Grant.Warning.empty() ? "" : "; ") + Text;
}

std::string RandomName(size_t Length) {
  static const char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char Bytes[16];
  if (Length > sizeof Bytes ||
      !BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, Bytes, static_cast<ULONG>(Length), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw EFileError("Rastgele ad uretilemedi");
  std::string Out;
  for (size_t I = 0; I < Length; ++I) Out += Alphabet[Bytes[I] % (sizeof Alphabet - 1)];
  return Out;
}

}  // namespace

TFolderGrant PrepareTraverseOnlyDir(const std::string& Dir, const std::vector<std::string>& Readers) {
  const std::wstring WideDir = Utf8ToWide(Dir);
  if (!::CreateDirectoryW(WideDir.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    throw EFileError("Klasor olusturulamadi: " + Dir + ": " + win32::LastErrorMessage());
  // Checked through a handle of the folder itself: a link or junction in its place is refused, and
  // what is checked is what gets the list.
  const THandle Folder(::CreateFileW(WideDir.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const TProcessSids Us = OurSids();
  BY_HANDLE_FILE_INFORMATION Info{};
  PSID Owner = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  const bool Folderish = Folder.Valid() && ::GetFileInformationByHandle(Folder.Get(), &Info) &&
                         (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                         !(Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  const bool Ours = Folderish &&
                    ::GetSecurityInfo(Folder.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &Owner, nullptr,
                                      nullptr, nullptr, &Descriptor) == ERROR_SUCCESS &&
                    win32::OwnedByUs(Owner, Us);
  if (Descriptor) ::LocalFree(Descriptor);
  if (!Ours) throw EFileError("Gecici klasor guvenli degil: " + Dir);

  // Readers may pass through (FILE_TRAVERSE) but not list; nothing of theirs is handed down.
  const TReaders Found = ResolveReaders(Readers, Us);
  TFolderGrant Grant;
  Grant.Readers = Found.Names;
  const TAcl Acl = MakeAcl(Us, Found, kTraverseOnly, NO_INHERITANCE, nullptr, Dir);
  SetProtectedAcl(Folder.Get(), Acl.get(), Dir, Grant);
  AddWarning(Grant, Found.Warning);
  return Grant;
}

std::string MakeReadableRunDir(const std::string& Base, const std::string& Prefix,
                               const std::vector<std::string>& Readers, TFolderGrant& Grant) {
  const TProcessSids Us = OurSids();
  const TReaders Found = ResolveReaders(Readers, Us);
  Grant.Readers = Found.Names;
  // Made with its list in one step: the readers may list and read it, and what is made inside
  // inherits the same.
  const TAcl Acl = MakeAcl(Us, Found, kReadAndList, SUB_CONTAINERS_AND_OBJECTS_INHERIT, nullptr, Base);
  SECURITY_DESCRIPTOR Descriptor;
  if (!::InitializeSecurityDescriptor(&Descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&Descriptor, TRUE, Acl.get(), FALSE) ||
      !::SetSecurityDescriptorControl(&Descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    throw EFileError("Klasor erisim izinleri ayarlanamadi: " + Base + ": " + win32::LastErrorMessage());
  SECURITY_ATTRIBUTES Attributes{sizeof(SECURITY_ATTRIBUTES), &Descriptor, FALSE};
  for (int Attempt = 0; Attempt < 16; ++Attempt) {
    const std::string Dir = Base + "\\" + Prefix + RandomName(6);
    if (::CreateDirectoryW(Utf8ToWide(Dir).c_str(), &Attributes)) {
      AddWarning(Grant, Found.Warning);
      return Dir;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
      throw EFileError("Klasor olusturulamadi: " + Dir + ": " + win32::LastErrorMessage());
  }
  throw EFileError("Klasor olusturulamadi: " + Base + "\\" + Prefix + ": " +
                   win32::SystemMessage(ERROR_ALREADY_EXISTS));
}

// The readers' entry is added to Dir's list as an inheritable one, and the system hands it down to
// everything below that inherits from its folder (which is what an unpacker makes: it gives files no
// list of their own). Entries already there stay.
TFolderGrant GrantReadBelow(const std::string& Dir, const std::vector<std::string>& Readers) {
  const TProcessSids Us = OurSids();
  const TReaders Found = ResolveReaders(Readers, Us);
  TFolderGrant Grant;
  Grant.Readers = Found.Names;
  const std::wstring WideDir = Utf8ToWide(Dir);
  PACL Current = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  DWORD Err = ::GetNamedSecurityInfoW(WideDir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &Current, nullptr, &Descriptor);
  if (Err != ERROR_SUCCESS) throw EFileError("Klasor okunamadi: " + Dir + ": " + win32::SystemMessage(Err));
  const std::unique_ptr<void, decltype(&::LocalFree)> FreeDescriptor(Descriptor, &::LocalFree);
  if (!Found.Sids.empty()) {
    const TAcl Acl = MakeAcl(Us, Found, kReadAndList, SUB_CONTAINERS_AND_OBJECTS_INHERIT, Current, Dir);
    Err = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(WideDir.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, Acl.get(), nullptr);
    if (AclsUnsupported(Err))
      Grant.Warning = kNoAclWarning + Dir;
    else if (Err != ERROR_SUCCESS)
      throw EFileError("Dosya erisim izinleri ayarlanamadi: " + Dir + ": " + win32::SystemMessage(Err));
  }
  AddWarning(Grant, Found.Warning);
  return Grant;
}

bool FreeDiskSpace(const std::string& Path, uint64_t& Bytes) {
  ULARGE_INTEGER Available{};
  if (!::GetDiskFreeSpaceExW(Utf8ToWide(Path).c_str(), &Available, nullptr, nullptr)) return false;
  Bytes = Available.QuadPart;
  return true;
}

// The user's SID ("S-1-5-21-..."): unique on the machine as the numeric id is on Linux.
std::string CurrentUserIdText() {
  const TProcessSids Us = OurSids();
  return win32::WideToUtf8(win32::SidText(Us.User));
}

}  // namespace kelvo::platform
