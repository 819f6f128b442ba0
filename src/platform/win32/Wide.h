#pragma once
// Shared by the Windows implementation of the seam: the program speaks UTF-8 everywhere, the system
// speaks UTF-16, and the conversion happens here, at the edge. Included by src/platform/win32 only.
#include <windows.h>
// after windows.h
#include <sddl.h>

#include <string>
#include <vector>

namespace kelvo::platform::win32 {

inline std::wstring Utf8ToWide(const std::string& Text) {
  if (Text.empty()) return {};
  const int Len = ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  if (Len <= 0) return {};
  std::wstring Wide(static_cast<size_t>(Len), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(), Len);
  return Wide;
}

inline std::string WideToUtf8(const wchar_t* Text, size_t Size) {
  if (Size == 0) return {};
  const int Len = ::WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Size), nullptr, 0, nullptr, nullptr);
  if (Len <= 0) return {};
  std::string Narrow(static_cast<size_t>(Len), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Size), Narrow.data(), Len, nullptr, nullptr);
  return Narrow;
}

inline std::string WideToUtf8(const std::wstring& Text) { return WideToUtf8(Text.data(), Text.size()); }

// The system's text for a GetLastError value, without the line break it ends with; the number when
// the system has no text for it.
inline std::string SystemMessage(DWORD Error) {
  wchar_t* Buffer = nullptr;
  const DWORD Len =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, Error, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  std::string Text;
  if (Len > 0 && Buffer) Text = WideToUtf8(Buffer, Len);
  if (Buffer) ::LocalFree(Buffer);
  while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' ' || Text.back() == '.'))
    Text.pop_back();
  return Text.empty() ? "Windows hatasi " + std::to_string(Error) : Text;
}

inline std::string LastErrorMessage() { return SystemMessage(::GetLastError()); }

// Closes a kernel handle when it goes out of scope.
class THandle {
 public:
  THandle() = default;
  explicit THandle(HANDLE Handle) : FHandle(Handle) {}
  ~THandle() { Reset(); }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HANDLE Get() const { return FHandle; }
  bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE Handle = nullptr) {
    if (Valid()) ::CloseHandle(FHandle);
    FHandle = Handle;
  }

 private:
  HANDLE FHandle = nullptr;
};

// The user of this process and the owner it gives to what it creates (the same user, or the
// Administrators group for an elevated administrator), as SIDs.
struct TProcessSids {
  std::vector<BYTE> User;
  std::vector<BYTE> DefaultOwner;
};

inline bool ReadTokenSid(HANDLE Token, TOKEN_INFORMATION_CLASS Class, std::vector<BYTE>& Sid) {
  DWORD Size = 0;
  ::GetTokenInformation(Token, Class, nullptr, 0, &Size);
  std::vector<BYTE> Buffer(Size);
  if (Size == 0 || !::GetTokenInformation(Token, Class, Buffer.data(), Size, &Size)) return false;
  PSID Found = Class == TokenUser ? reinterpret_cast<TOKEN_USER*>(Buffer.data())->User.Sid
                                  : reinterpret_cast<TOKEN_OWNER*>(Buffer.data())->Owner;
  Sid.assign(static_cast<BYTE*>(Found), static_cast<BYTE*>(Found) + ::GetLengthSid(Found));
  return true;
}

inline bool ProcessSids(TProcessSids& Sids) {
  HANDLE Raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &Raw)) return false;
  const THandle Token(Raw);
  return ReadTokenSid(Token.Get(), TokenUser, Sids.User) && ReadTokenSid(Token.Get(), TokenOwner, Sids.DefaultOwner);
}

inline std::wstring SidText(const std::vector<BYTE>& Sid) {
  wchar_t* Text = nullptr;
  std::wstring Result;
  if (::ConvertSidToStringSidW(const_cast<BYTE*>(Sid.data()), &Text)) Result = Text;
  if (Text) ::LocalFree(Text);
  return Result;
}

// The object's owner is this process's user or the default owner of what it creates.
inline bool OwnedByUs(PSID Owner, const TProcessSids& Sids) {
  return Owner && (::EqualSid(Owner, const_cast<BYTE*>(Sids.User.data())) ||
                   ::EqualSid(Owner, const_cast<BYTE*>(Sids.DefaultOwner.data())));
}

}  // namespace kelvo::platform::win32
