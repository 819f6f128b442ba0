#pragma once
// The program's few options, answered before any window opens or any connection is made.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kelvo {

// The program's version, as the package carries it.
std::string ProgramVersion();

// "--help"/"-h" writes the Turkish usage to Out, "--version"/"-v" the version; either ends the
// program with the returned exit code. Anything else (Qt's own options among it) goes on to the
// windows: nullopt.
std::optional<int> AnswerCommandLine(const std::vector<std::string>& Arguments, std::ostream& Out);

}  // namespace kelvo
