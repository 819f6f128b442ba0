#include "core/uLogger.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <typeinfo>

#include "core/DateTimes.h"
#include "core/FileIO.h"
#include "core/Utf8.h"
#include "platform/Files.h"

namespace kelvo {

namespace {

std::atomic<bool> GEnabled{false};
std::mutex GLock;  // guards GSettings, rotation and append
TLogSettings GSettings;

std::string TypeName(const std::exception& E) {
  const char* Mangled = typeid(E).name();
  int Status = 0;
  std::unique_ptr<char, void (*)(void*)> Demangled(abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status), std::free);
  return Status == 0 && Demangled ? Demangled.get() : Mangled;
}

// Names and messages reach the log as given (file names, server answers): a line break inside one
// could forge a line of its own. Control characters become visible escapes; so do the Unicode ones
// some viewers break lines at (NEL, line and paragraph separators).
std::string OneLine(const std::string& Text) {
  constexpr char Hex[] = "0123456789ABCDEF";
  const auto Escape = [&](const char* Prefix, unsigned Code, int Digits, std::string& Out) {
    Out += Prefix;
    for (int Shift = (Digits - 1) * 4; Shift >= 0; Shift -= 4) Out += Hex[(Code >> Shift) & 0xF];
  };
  std::string Out;
  Out.reserve(Text.size());
  for (size_t I = 0; I < Text.size(); ++I) {
    const auto C = static_cast<unsigned char>(Text[I]);
    char32_t Code = 0;
    const size_t Length = C >= 0x80 ? DecodeUtf8(Text, I, Code, TUtf8Rule::Form) : 0;
    if (C == '\r') {
      Out += "\\r";
    } else if (C == '\n') {
      Out += "\\n";
    } else if ((C < 0x20 && C != '\t') || C == 0x7F) {
      Escape("\\x", C, 2, Out);
    } else if (Length > 0 && ((Code >= 0x80 && Code <= 0x9F) || Code == 0x2028 || Code == 0x2029)) {
      Escape("\\u", static_cast<unsigned>(Code), 4, Out);
      I += Length - 1;
    } else {
      Out += static_cast<char>(C);
    }
  }
  return Out;
}

void RotateIfDue(const TLogSettings& S) {
  namespace fs = std::filesystem;
  std::error_code Ec;
  const auto Size = fs::file_size(S.FilePath, Ec);
  if (S.SizeLimit <= 0 || Ec || Size < static_cast<uintmax_t>(S.SizeLimit)) return;
  fs::remove(S.OldFilePath, Ec);
  fs::rename(S.FilePath, S.OldFilePath, Ec);
}

void Append(const std::string& Path, const std::string& Line) {
  platform::TWriteFile File;
  if (!File.Open(Path, platform::TWriteFile::TWriteMode::Append)) return;
  int64_t Size = -1;
  std::string Data;
  if (File.Size(Size) && Size == 0) Data = Utf8Bom;
  Data += Line;
  // Errors of the append are ignored: logging must never disturb the program.
  File.Write(Data.data(), Data.size());
}

}  // namespace

void ConfigureLog(const TLogSettings& Settings) {
  std::lock_guard<std::mutex> Guard(GLock);
  GSettings = Settings;
  GEnabled.store(Settings.Enabled && !Settings.FilePath.empty());
}

bool LogEnabled() { return GEnabled.load(std::memory_order_relaxed); }

std::string LogLevelLabel(TLogLevel Level) {
  switch (Level) {
    case TLogLevel::Debug:
      return "DEBUG";
    case TLogLevel::Info:
      return "INFO ";
    case TLogLevel::Warn:
      return "WARN ";
    case TLogLevel::Error:
      return "ERROR";
  }
  return "?????";
}

void Log(TLogLevel Level, const std::string& Text) {
  if (!LogEnabled()) return;
  std::lock_guard<std::mutex> Guard(GLock);
  if (!GSettings.Enabled || Level < GSettings.MinLevel) return;
  const std::string Line = Fmt("%s [%s] %s\r\n", FormatFixedDateTime(Now()), LogLevelLabel(Level), OneLine(Text));
  RotateIfDue(GSettings);
  Append(GSettings.FilePath, Line);
}

std::string ExceptionLogText(const std::string& Text, const std::exception* Error) {
  if (Error == nullptr) return Text;
  return Fmt("%s | %s: %s", Text, TypeName(*Error), Error->what());
}

void LogException(const std::string& Text, const std::exception* Error) {
  if (LogEnabled()) Log(TLogLevel::Error, ExceptionLogText(Text, Error));
}

}  // namespace kelvo
