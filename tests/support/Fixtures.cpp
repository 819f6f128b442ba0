#include "support/Fixtures.h"

#include <cstdlib>
#include <filesystem>

namespace kelvo::test {

std::string FixturesDir() {
  if (const char* Env = std::getenv("KELVO_FIXTURES"); Env && *Env) return Env;
  return KELVO_DEFAULT_FIXTURES;
}

std::string FixturePath(const std::string& Relative) {
  const std::filesystem::path P = std::filesystem::path(FixturesDir()) / Relative;
  std::error_code Ec;
  return std::filesystem::is_regular_file(P, Ec) ? P.string() : std::string();
}

}  // namespace kelvo::test
