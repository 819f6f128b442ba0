#pragma once
// The product's diagnostic log. Off unless config.ini switches it on ([Log] Enabled=1); while off,
// every call is a single flag test and nothing touches the file system.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "core/TextFormat.h"

namespace kelvo {

enum class TLogLevel : uint8_t { Debug = 0, Info = 1, Warn = 2, Error = 3 };

struct TLogSettings {
  bool Enabled = false;
  TLogLevel MinLevel = TLogLevel::Debug;
  std::string FilePath;     // log.txt
  std::string OldFilePath;  // log.old.txt, the previous file after a rotation
  int64_t SizeLimit = 0;    // rotate when the file has reached this size; 0 = never
};

void ConfigureLog(const TLogSettings& Settings);
bool LogEnabled();
// The five-character label of a level ("INFO " and "WARN " end in a space; "?????" when unknown).
std::string LogLevelLabel(TLogLevel Level);

void Log(TLogLevel Level, const std::string& Text);
inline void LogInfo(const std::string& Text) { Log(TLogLevel::Info, Text); }
inline void LogWarn(const std::string& Text) { Log(TLogLevel::Warn, Text); }

template <typename... Args>
void LogDebugFmt(std::string_view Format, const Args&... Values) {
  if (LogEnabled()) Log(TLogLevel::Debug, Fmt(Format, Values...));
}
template <typename... Args>
void LogInfoFmt(std::string_view Format, const Args&... Values) {
  if (LogEnabled()) Log(TLogLevel::Info, Fmt(Format, Values...));
}
template <typename... Args>
void LogWarnFmt(std::string_view Format, const Args&... Values) {
  if (LogEnabled()) Log(TLogLevel::Warn, Fmt(Format, Values...));
}
template <typename... Args>
void LogErrorFmt(std::string_view Format, const Args&... Values) {
  if (LogEnabled()) Log(TLogLevel::Error, Fmt(Format, Values...));
}

// "text | <type name>: <message>", or the text alone without an error.
std::string ExceptionLogText(const std::string& Text, const std::exception* Error);
void LogException(const std::string& Text, const std::exception* Error = nullptr);
inline void LogException(const std::string& Text, const std::exception& Error) { LogException(Text, &Error); }

}  // namespace kelvo
