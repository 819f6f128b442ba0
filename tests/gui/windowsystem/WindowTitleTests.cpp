// The window titles as the X server holds them, which is what a window manager shows: exactly the
// titles the program sets, nothing appended (Qt appends the application's display name when one is
// set). Runs on Qt's xcb platform under Xvfb, with the application set up as the program sets it up.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../../catalogue/CloudCatalogueFixture.h"
#include "../GuiTestSupport.h"
#include "support/ProcessFacts.h"
#include "windows/Dialogs.h"
#include "windows/frmRestoreDrivePicker.h"
#include "windows/frmRestoreFolder.h"
#include "windows/frmRestoreLogin.h"
#include "windows/frmRestoreMain.h"

using namespace kelvo;

namespace {

xcb_connection_t* Connection() { return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection(); }

xcb_atom_t Atom(const char* Name) {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> Reply(
      xcb_intern_atom_reply(Connection(), xcb_intern_atom(Connection(), 0, std::strlen(Name), Name), nullptr),
      &std::free);
  return Reply ? Reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// A text property of a top-level window as the X server holds it (any encoding; the titles are ASCII).
std::string TextProperty(QWidget& Window, const char* Property) {
  const auto Cookie = xcb_get_property(Connection(), 0, static_cast<xcb_window_t>(Window.winId()), Atom(Property),
                                       XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> Reply(
      xcb_get_property_reply(Connection(), Cookie, nullptr), &std::free);
  if (!Reply) return "<no reply>";
  return std::string(static_cast<const char*>(xcb_get_property_value(Reply.get())),
                     static_cast<size_t>(xcb_get_property_value_length(Reply.get())));
}

class WindowTitles : public test::CloudCatalogueFixture {
 protected:
  std::shared_ptr<test::ScriptedDialogs> Dialogs = std::make_shared<test::ScriptedDialogs>();

  static void ExpectOnScreen(QWidget& Window, const std::string& Title) {
    Window.show();
    // The EWMH name a window manager shows, and the ICCCM one older ones do.
    EXPECT_EQ(TextProperty(Window, "_NET_WM_NAME"), Title);
    EXPECT_EQ(TextProperty(Window, "WM_NAME"), Title);
  }
};

TEST_F(WindowTitles, EveryWindowAndMessageBoxShowsExactlyItsOwnTitle) {
  TRestoreLoginForm Login(nullptr, Dialogs);
  ExpectOnScreen(Login, "Kelvo Geri Yukleme - Hesap Girisi");
  TRestoreMainForm Main(nullptr, Dialogs);
  ExpectOnScreen(Main, "Kelvo Geri Yukleme");
  TRestoreDrivePickerForm Picker(nullptr, Dialogs);
  ExpectOnScreen(Picker, "Buluttan Yedek Indir");
  TRestoreFolderForm Folder(nullptr, Dialogs);
  ExpectOnScreen(Folder, "Klasor Yedegi Geri Yukle");

  // A real message box: read while it is up, then closed.
  std::string BoxTitle;
  QTimer Poll;
  QObject::connect(&Poll, &QTimer::timeout, [&] {
    if (QWidget* Box = QApplication::activeModalWidget(); Box && Box->isVisible()) {
      BoxTitle = TextProperty(*Box, "_NET_WM_NAME");
      Box->close();
    }
  });
  Poll.start(10);
  TQtDialogs().Information(&Main, "Bilgi");
  EXPECT_EQ(BoxTitle, "Kelvo Geri Yukleme");
}

}  // namespace

int main(int argc, char** argv) {
  kelvo::test::SetEnv("QT_QPA_PLATFORM", "xcb");
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "An X server is needed: run under xvfb-run.\n");
    return 1;
  }
  std::setlocale(LC_ALL, "");
  QApplication App(argc, argv);
  kelvo::SetUpApplication();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
