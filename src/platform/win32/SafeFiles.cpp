// Safe writing below an untrusted folder, on Windows. Names below an opened folder are opened
// relative to the folder's handle (NtCreateFile with a root directory), never by a path that could be
// changed under us, and never through a reparse point: FILE_OPEN_REPARSE_POINT opens a symbolic link
// or junction itself, which is then refused. A temporary file is renamed by its handle.
#include <windows.h>
// after windows.h
#include <bcrypt.h>
#include <winternl.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/SafeFiles.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

using win32::Utf8ToWide;

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
#ifndef FILE_OPEN
constexpr ULONG FILE_OPEN = 1;
#endif

HANDLE AsHandle(intptr_t Handle) { return reinterpret_cast<HANDLE>(Handle); }
intptr_t FromHandle(HANDLE Handle) { return reinterpret_cast<intptr_t>(Handle); }

[[noreturn]] void Raise(const char* What, const std::string& Path, DWORD Err) {
  throw EFileError(std::string(What) + ": " + Path + ": " + win32::SystemMessage(Err));
}

[[noreturn]] void RaiseStatus(const char* What, const std::string& Path, NTSTATUS Status) {
  Raise(What, Path, ::RtlNtStatusToDosError(Status));
}

std::string Join(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return Name;
  return Folder.back() == '/' || Folder.back() == '\\' ? Folder + Name : Folder + "\\" + Name;
}

// One plain component: no separator, no stream (":"), not "." or "..".
bool IsPlainName(const std::string& Name) {
  return !Name.empty() && Name != "." && Name != ".." && Name.find_first_of("/\\:") == std::string::npos;
}

constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035L);     // STATUS_OBJECT_NAME_COLLISION
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022L);      // STATUS_ACCESS_DENIED
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043L);  // STATUS_SHARING_VIOLATION
constexpr auto kFileRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;

// Renames the open file File to Name in the folder Folder (relative to the folder's handle, so the
// file stays in the folder we hold). A replace uses POSIX semantics where the system has them
// (Windows 10 1809 and later on NTFS): the old file goes at once even while others hold it open,
// as a rename does on Linux. Without them an old file that someone holds open cannot be replaced;
// that is retried for about a second (a reader of the settings, a virus scanner) before it fails.
NTSTATUS RenameBelow(HANDLE File, HANDLE Folder, const std::string& Name, bool Replace) {
  const std::wstring WideName = Utf8ToWide(Name);
  // FILE_RENAME_INFORMATION and its Ex form share one layout: a flag word (a BOOLEAN in the old
  // form), the root folder, the name.
  std::vector<unsigned char> Buffer(sizeof(FILE_RENAME_INFORMATION) + WideName.size() * sizeof(wchar_t));
  auto* Rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(Buffer.data());
  Rename->RootDirectory = Folder;
  Rename->FileNameLength = static_cast<ULONG>(WideName.size() * sizeof(wchar_t));
  std::copy(WideName.begin(), WideName.end(), Rename->FileName);
  const auto Size = static_cast<ULONG>(Buffer.size());
  IO_STATUS_BLOCK Io{};
  if (Replace) {
    const ULONG Flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    std::memcpy(Buffer.data(), &Flags, sizeof Flags);
    // Older systems, other file systems and Wine answer that they do not know it; the old form
    // then gives the answer that counts.
    if (NT_SUCCESS(::NtSetInformationFile(File, &Io, Rename, Size, kFileRenameInformationEx))) return 0;
    std::memset(Buffer.data(), 0, sizeof Flags);
  }
  Rename->ReplaceIfExists = Replace ? TRUE : FALSE;
  NTSTATUS Status = ::NtSetInformationFile(File, &Io, Rename, Size, FileRenameInformation);
  for (int Attempt = 0; Replace && Attempt < 20 && (Status == kStatusAccessDenied || Status == kStatusSharingViolation);
       ++Attempt) {
    ::Sleep(50);
    Status = ::NtSetInformationFile(File, &Io, Rename, Size, FileRenameInformation);
  }
  return Status;
}

// Opens Name relative to the folder handle Root.
NTSTATUS OpenBelow(HANDLE Root, const std::string& Name, ACCESS_MASK Access, ULONG Share, ULONG Disposition,
                   ULONG Options, HANDLE& Opened) {
  std::wstring WideName = Utf8ToWide(Name);
  UNICODE_STRING Text;
  Text.Buffer = WideName.data();
  Text.Length = static_cast<USHORT>(WideName.size() * sizeof(wchar_t));
  Text.MaximumLength = Text.Length;
  OBJECT_ATTRIBUTES Attributes;
  InitializeObjectAttributes(&Attributes, &Text, OBJ_CASE_INSENSITIVE, Root, nullptr);
  IO_STATUS_BLOCK Io{};
  Opened = nullptr;
  return ::NtCreateFile(&Opened, Access | SYNCHRONIZE, &Attributes, &Io, nullptr, FILE_ATTRIBUTE_NORMAL, Share,
                        Disposition, Options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

DWORD AttributesOf(HANDLE Handle) {
  BY_HANDLE_FILE_INFORMATION Info{};
  return ::GetFileInformationByHandle(Handle, &Info) ? Info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

std::string RandomSuffix() {
  unsigned char Bytes[6];
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, Bytes, sizeof Bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw EFileError("Rastgele ad uretilemedi");
  static const char Hex[] = "0123456789abcdef";
  std::string Out;
  for (unsigned char B : Bytes) {
    Out += Hex[B >> 4];
    Out += Hex[B & 15];
  }
  return Out;
}

void CloseHandleOf(intptr_t& Handle) {
  if (Handle != -1) ::CloseHandle(AsHandle(Handle));
  Handle = -1;
}

}  // namespace

// Windows has no signal for a file grown past a limit: a failed write already reports as an error.
void ReportFileSizeLimitAsError() {}

// ---- TFolder ----

TFolder::~TFolder() { CloseHandleOf(FHandle); }

TFolder::TFolder(TFolder&& Other) noexcept : FHandle(Other.FHandle), FPath(std::move(Other.FPath)) {
  Other.FHandle = InvalidHandle;
}

TFolder& TFolder::operator=(TFolder&& Other) noexcept {
  if (this != &Other) {
    CloseHandleOf(FHandle);
    FHandle = Other.FHandle;
    FPath = std::move(Other.FPath);
    Other.FHandle = InvalidHandle;
  }
  return *this;
}

TFolder TFolder::Open(const std::string& Path, bool Create) {
  const std::wstring WidePath = Utf8ToWide(Path);
  if (Create) {
    std::error_code Ignored;
    std::filesystem::create_directories(std::filesystem::path(WidePath), Ignored);
  }
  const HANDLE Handle = ::CreateFileW(WidePath.c_str(), kFolderAccess, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) Raise("Klasor acilamadi", Path, ::GetLastError());
  const DWORD Attributes = AttributesOf(Handle);
  if (Attributes == INVALID_FILE_ATTRIBUTES || !(Attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(Handle);
    Raise("Klasor acilamadi", Path, ERROR_DIRECTORY);
  }
  return TFolder(FromHandle(Handle), Path);
}

TFolder TFolder::Child(const std::string& Name, bool Create) const {
  const std::string ChildPath = Join(FPath, Name);
  if (!IsPlainName(Name)) Raise("Gecersiz klasor adi", ChildPath, ERROR_INVALID_NAME);
  HANDLE Handle = nullptr;
  const NTSTATUS Status =
      OpenBelow(AsHandle(FHandle), Name, kFolderAccess, kShareAll, Create ? FILE_OPEN_IF : FILE_OPEN,
                FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, Handle);
  if (!NT_SUCCESS(Status)) {
    if (KindOf(Name) == TEntryKind::Link) throw EFileError("Hedefte sembolik baglanti var, izlenmedi: " + ChildPath);
    RaiseStatus(Create ? "Klasor olusturulamadi" : "Klasor acilamadi", ChildPath, Status);
  }
  // A junction or a link to a folder opens as a folder; its reparse point gives it away.
  if (AttributesOf(Handle) & FILE_ATTRIBUTE_REPARSE_POINT) {
    ::CloseHandle(Handle);
    throw EFileError("Hedefte sembolik baglanti var, izlenmedi: " + ChildPath);
  }
  return TFolder(FromHandle(Handle), ChildPath);
}

TEntryKind TFolder::KindOf(const std::string& Name) const {
  if (!IsPlainName(Name)) return TEntryKind::None;
  HANDLE Handle = nullptr;
  if (!NT_SUCCESS(OpenBelow(AsHandle(FHandle), Name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                            FILE_OPEN_REPARSE_POINT, Handle)))
    return TEntryKind::None;
  const DWORD Attributes = AttributesOf(Handle);
  const DWORD Type = ::GetFileType(Handle);
  ::CloseHandle(Handle);
  if (Attributes == INVALID_FILE_ATTRIBUTES) return TEntryKind::Other;
  if (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TEntryKind::Link;
  if (Attributes & FILE_ATTRIBUTE_DIRECTORY) return TEntryKind::Folder;
  return Type == FILE_TYPE_DISK ? TEntryKind::File : TEntryKind::Other;
}

// ---- TTempFile ----

TTempFile TTempFile::Create(const TFolder& Folder, const std::string& Stem) {
  TTempFile File;
  File.FFolder = &Folder;
  for (int Attempt = 0; Attempt < 16; ++Attempt) {
    const std::string Name = Stem + "." + RandomSuffix() + ".part";
    // Created new or not at all (FILE_CREATE), and shared with nobody but a delete or rename until
    // it is closed. DELETE access lets the handle rename and delete the file.
    HANDLE Handle = nullptr;
    const NTSTATUS Status =
        OpenBelow(AsHandle(Folder.Handle()), Name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                  FILE_CREATE, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, Handle);
    if (NT_SUCCESS(Status)) {
      File.FHandle = FromHandle(Handle);
      File.FName = Name;
      return File;
    }
    if (Status != kStatusNameCollision) RaiseStatus("Dosya olusturulamadi", Join(Folder.Path(), Name), Status);
  }
  Raise("Dosya olusturulamadi", Join(Folder.Path(), Stem + ".part"), ERROR_FILE_EXISTS);
}

void TTempFile::Write(const char* Data, size_t Size) {
  while (Size > 0) {
    const DWORD Chunk = static_cast<DWORD>(std::min<size_t>(Size, 1u << 30));
    DWORD Written = 0;
    if (!::WriteFile(AsHandle(FHandle), Data, Chunk, &Written, nullptr))
      Raise("Dosyaya yazilamadi", Join(FFolder->Path(), FName), ::GetLastError());
    Data += Written;
    Size -= Written;
    FSize += Written;
  }
}

void TTempFile::Truncate(int64_t Size) {
  FILE_END_OF_FILE_INFO End{};
  End.EndOfFile.QuadPart = Size;
  LARGE_INTEGER Position{};
  Position.QuadPart = Size;
  if (!::SetFileInformationByHandle(AsHandle(FHandle), FileEndOfFileInfo, &End, sizeof End) ||
      !::SetFilePointerEx(AsHandle(FHandle), Position, nullptr, FILE_BEGIN))
    Raise("Dosyaya yazilamadi", Join(FFolder->Path(), FName), ::GetLastError());
  FSize = Size;
  FFlushed = std::min(FFlushed, Size);
}

// Mode has no meaning here: the file keeps the access list it inherited from its folder. The folder
// entry needs no flush of its own: NTFS writes the rename to its journal.
bool TTempFile::Commit(const std::string& Name, bool Replace, unsigned /*Mode*/) {
  const std::string Target = Join(FFolder->Path(), Name);
  if (!::FlushFileBuffers(AsHandle(FHandle))) Raise("Dosyaya yazilamadi", Target, ::GetLastError());
  const NTSTATUS Status = RenameBelow(AsHandle(FHandle), AsHandle(FFolder->Handle()), Name, Replace);
  if (!NT_SUCCESS(Status)) {
    if (!Replace && Status == kStatusNameCollision) return false;
    RaiseStatus("Dosya tasinamadi", Target, Status);
  }
  FName.clear();
  CloseHandleOf(FHandle);
  return true;
}

void TTempFile::Discard() {
  if (FHandle != -1 && !FName.empty()) {
    // Deleted by its handle: whatever has taken the name since is not touched.
    FILE_DISPOSITION_INFO Delete{};
    Delete.DeleteFile = TRUE;
    ::SetFileInformationByHandle(AsHandle(FHandle), FileDispositionInfo, &Delete, sizeof Delete);
  }
  FName.clear();
  CloseHandleOf(FHandle);
}

}  // namespace kelvo::platform
