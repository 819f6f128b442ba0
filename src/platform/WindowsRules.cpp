// Rules of the Windows side that are pure text: built on every system, so their tests run on Linux
// as well.
#include "platform/Process.h"
#include "platform/Regional.h"

namespace kelvo::platform {

std::string QuoteWindowsArgument(const std::string& Arg) {
  if (!Arg.empty() && Arg.find_first_of(" \t\n\v\"") == std::string::npos) return Arg;
  std::string Out = "\"";
  size_t Backslashes = 0;
  for (const char C : Arg) {
    if (C == '\\') {
      ++Backslashes;
      continue;
    }
    // Backslashes count as escapes only before a quote: there they are doubled, and one more
    // escapes the quote itself.
    Out.append(C == '"' ? Backslashes * 2 + 1 : Backslashes, '\\');
    Backslashes = 0;
    Out += C;
  }
  Out.append(Backslashes * 2, '\\');  // before the closing quote
  Out += '"';
  return Out;
}

std::string WindowsCommandLine(const std::string& Program, const std::vector<std::string>& Args) {
  std::string Line = QuoteWindowsArgument(Program);
  for (const std::string& Arg : Args) {
    Line += ' ';
    Line += QuoteWindowsArgument(Arg);
  }
  return Line;
}

std::string WindowsPictureToFormat(const std::string& Picture) {
  std::string Out;
  for (size_t I = 0; I < Picture.size();) {
    const char C = Picture[I];
    if (C == '\'') {
      // Quoted text; two quotes in a row stand for one.
      ++I;
      while (I < Picture.size()) {
        if (Picture[I] == '\'') {
          if (I + 1 < Picture.size() && Picture[I + 1] == '\'') {
            Out += '\'';
            I += 2;
            continue;
          }
          ++I;
          break;
        }
        Out += Picture[I] == '%' ? std::string("%%") : std::string(1, Picture[I]);
        ++I;
      }
      continue;
    }
    size_t Run = 1;
    while (I + Run < Picture.size() && Picture[I + Run] == C) ++Run;
    switch (C) {
      case 'd':
        Out += Run == 1 || Run == 2 ? "%d" : Run == 3 ? "%a" : "%A";
        break;
      case 'M':
        Out += Run == 1 || Run == 2 ? "%m" : Run == 3 ? "%b" : "%B";
        break;
      case 'y':
        Out += "%Y";
        break;
      case 'h':
        Out += "%I";
        break;
      case 'H':
        Out += "%H";
        break;
      case 'm':
        Out += "%M";
        break;
      case 's':
        Out += "%S";
        break;
      case 't':
        Out += "%p";
        break;
      case 'g':
        break;
      case '%':
        for (size_t K = 0; K < Run; ++K) Out += "%%";
        break;
      default:
        Out.append(Run, C);
    }
    I += Run;
  }
  return Out;
}

}  // namespace kelvo::platform
