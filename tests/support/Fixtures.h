#pragma once
// Third-party test data kept outside the repository. Tests that need it skip when it is absent.
#include <string>

namespace kelvo::test {

// $KELVO_FIXTURES, else the folder configured at build time.
std::string FixturesDir();
// Path of a fixture file, or empty when it does not exist.
std::string FixturePath(const std::string& Relative);

}  // namespace kelvo::test

// Skips the current test with a clear message when the fixture is missing; else binds Var to its path.
#define KELVO_REQUIRE_FIXTURE(Var, Relative)                                                      \
  const std::string Var = ::kelvo::test::FixturePath(Relative);                                   \
  if (Var.empty())                                                                                \
  GTEST_SKIP() << "fixture " << (Relative) << " not found under " << ::kelvo::test::FixturesDir() \
               << " (set KELVO_FIXTURES to run this test)"
