// The lookup the window tests reach controls with: a missing, doubled or mistyped name fails with
// both names instead of handing back a null pointer.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QLineEdit>

#include "GuiTestSupport.h"

namespace kelvo {
namespace {

TEST(ControlLookup, FindsTheWindowsOwnControlOfTheKindAskedFor) {
  QWidget Window;
  Window.setWindowTitle("Pencere");
  auto* Panel = new QWidget(&Window);
  auto* Status = new QLabel(Panel);
  Status->setObjectName("FStatusLabel");
  (new QLabel(&Window))->setObjectName("FTwice");
  (new QLabel(Panel))->setObjectName("FTwice");
  // A window it opened has controls of its own, of the same names.
  auto* Opened = new QDialog(&Window);
  (new QLabel(Opened))->setObjectName("FStatusLabel");
  (new QLabel(Opened))->setObjectName("FOnlyThere");

  EXPECT_EQ(test::Child<QLabel>(Window, "FStatusLabel"), Status);
  EXPECT_EQ(test::WindowControls{Window}.Label("FStatusLabel"), Status);
  const struct {
    const char* Name;
    const char* Message;
  } Fails[] = {
      {"FMissing", "window \"Pencere\": no control named FMissing where a QLineEdit was expected"},
      {"FOnlyThere", "window \"Pencere\": no control named FOnlyThere where a QLineEdit was expected"},
      {"FTwice", "window \"Pencere\": more than one control named FTwice where a QLineEdit was expected"},
      {"FStatusLabel", "window \"Pencere\": a QLabel named FStatusLabel where a QLineEdit was expected"},
  };
  for (const auto& Case : Fails) {
    try {
      test::Child<QLineEdit>(Window, Case.Name);
      ADD_FAILURE() << Case.Name << " was found";
    } catch (const std::logic_error& E) {
      EXPECT_STREQ(E.what(), Case.Message);
    }
  }
}

}  // namespace
}  // namespace kelvo
