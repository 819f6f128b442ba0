#pragma once
// The helper program of the platform tests (child/PlatformChild.cpp), started as a process of its
// own so that it does not depend on the unit under test.
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace kelvo::test {

inline std::string PlatformChildProgram() { return KELVO_PLATFORM_CHILD; }

// Runs the helper program to its end and returns its exit code.
inline int RunPlatformChild(const std::vector<std::string>& Args) { return RunProgram(PlatformChildProgram(), Args); }

}  // namespace kelvo::test
