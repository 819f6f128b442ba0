// GUI tests run offscreen with one application object for the whole executable.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "support/ProcessFacts.h"
#include "windows/Dialogs.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) kelvo::test::SetEnv("QT_QPA_PLATFORM", "offscreen");
  std::setlocale(LC_ALL, "");
  QApplication App(argc, argv);
  kelvo::SetUpApplication();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
