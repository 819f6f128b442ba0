// Plain files by path, on Windows.
#include "platform/Files.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void Raise(const char* What, const std::string& Path, DWORD Err) {
  throw EFileError(std::string(What) + ": " + Path + " (" + win32::SystemMessage(Err) + ")");
}

HANDLE AsHandle(intptr_t Handle) { return reinterpret_cast<HANDLE>(Handle); }

}  // namespace

std::string ReadWholeFile(const std::string& Path) {
  const win32::THandle File(::CreateFileW(win32::Utf8ToWide(Path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!File.Valid()) Raise("Dosya acilamadi", Path, ::GetLastError());
  std::string Data;
  char Buf[65536];
  for (;;) {
    DWORD Read = 0;
    if (!::ReadFile(File.Get(), Buf, sizeof Buf, &Read, nullptr)) Raise("Dosya okunamadi", Path, ::GetLastError());
    if (Read == 0) break;
    Data.append(Buf, Read);
  }
  return Data;
}

// Windows files carry access lists, no permission bits.
bool RegularFileMode(const std::string& /*Path*/, unsigned& /*Mode*/) { return false; }

// ---- TWriteFile ----

TWriteFile::~TWriteFile() {
  if (IsOpen()) ::CloseHandle(AsHandle(FHandle));
}

bool TWriteFile::Fail() {
  FError = win32::LastErrorMessage();
  return false;
}

bool TWriteFile::Open(const std::string& Path, TWriteMode Mode) {
  if (IsOpen()) Close();
  // Append: the right to append without the right to write lets the system put every write at the
  // end of the file, in one step with respect to other writers. The file keeps the access list it
  // inherits from its folder.
  const DWORD Access = Mode == TWriteMode::Append ? FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE
                                                  : GENERIC_WRITE | FILE_READ_ATTRIBUTES;
  const HANDLE File = ::CreateFileW(win32::Utf8ToWide(Path).c_str(), Access, kShareAll, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return Fail();
  FHandle = reinterpret_cast<intptr_t>(File);
  return true;
}

bool TWriteFile::Size(int64_t& Bytes) {
  LARGE_INTEGER Value{};
  if (!::GetFileSizeEx(AsHandle(FHandle), &Value)) return Fail();
  Bytes = Value.QuadPart;
  return true;
}

bool TWriteFile::SetSize(int64_t Bytes) {
  FILE_END_OF_FILE_INFO End{};
  End.EndOfFile.QuadPart = Bytes;
  return ::SetFileInformationByHandle(AsHandle(FHandle), FileEndOfFileInfo, &End, sizeof End) || Fail();
}

bool TWriteFile::Seek(int64_t Offset) {
  LARGE_INTEGER Position{};
  Position.QuadPart = Offset;
  return ::SetFilePointerEx(AsHandle(FHandle), Position, nullptr, FILE_BEGIN) || Fail();
}

bool TWriteFile::Write(const char* Data, size_t Size) {
  while (Size > 0) {
    const DWORD Chunk = static_cast<DWORD>(std::min<size_t>(Size, 1u << 30));
    DWORD Written = 0;
    if (!::WriteFile(AsHandle(FHandle), Data, Chunk, &Written, nullptr)) return Fail();
    Data += Written;
    Size -= Written;
  }
  return true;
}

bool TWriteFile::Close() {
  if (!IsOpen()) return true;
  const HANDLE File = AsHandle(FHandle);
  FHandle = InvalidHandle;
  return ::CloseHandle(File) || Fail();
}

}  // namespace kelvo::platform
