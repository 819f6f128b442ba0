#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <filesystem>

#include "../account/CloudFixture.h"
#include "GuiTestSupport.h"
#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "account/uTotp.h"
#include "windows/StartupSequence.h"
#include "windows/frmRestoreLogin.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

constexpr char Secret[] = "JBSWY3DPEHPK3PXP";

// The sign-in window and the start-up decision against a directory served by cloudsim.
class SignInTest : public test::CloudFixture {
 protected:
  std::shared_ptr<test::ScriptedDialogs> Dialogs = std::make_shared<test::ScriptedDialogs>();

  void SetUp() override {
    CloudFixture::SetUp();
    SetSavedSignInSleepForTests([](std::chrono::milliseconds) {});
    Sim.SetDatabase(nlohmann::json::parse(std::string(R"({"Lisanslar":{
      "acme":{"LoginName":"acme","Email":"info@acme.test","Sifre":"acme-1","Musteri":"Acme Ltd"},
      "kodlu":{"LoginName":"kodlu","Sifre":"k-2","Musteri":"Kodlu AS","TwoFactorEnabled":true,
               "TwoFactorSecret":")") + Secret +
                                          R"("}}})"));
  }
  std::string CurrentCode() {
    return GenerateTotpCode(
        Secret, std::chrono::duration_cast<std::chrono::seconds>(ClockNow.load().time_since_epoch()).count());
  }
  static QColor StatusColour(TRestoreLoginForm& F) {
    return test::Child<QLabel>(F, "FStatusLabel")->palette().color(QPalette::WindowText);
  }
};

}  // namespace

TEST_F(SignInTest, LayoutAndFirstStep) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.show();
  EXPECT_EQ(Form.windowTitle(), "Kelvo Geri Yukleme - Hesap Girisi");
  QLineEdit* Pass = Ui.Edit("FPassEdit");
  EXPECT_EQ(Pass->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, Pass), '*');
  EXPECT_EQ(Pass->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Form.minimumSize(), Form.maximumSize()) << "fixed dialog border";
  EXPECT_EQ(Ui.Panel("FHeaderPanel")->height(), 78);
  EXPECT_EQ(Ui.Label("FTitleLabel")->text(), "Hesap Girisi");
  EXPECT_EQ(Ui.Label("FSubtitleLabel")->text(), "Geri yukleme icin Kelvo hesabinizla giris yapin.");
  EXPECT_EQ(Ui.Label("FUserLabel")->text(), "Kullanici adi / e-posta:");
  EXPECT_EQ(Ui.Edit("FUserEdit")->geometry(), QRect(28, 120, 390, 26));
  EXPECT_EQ(Ui.Edit("FPassEdit")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Ui.Button("FLoginButton")->geometry(), QRect(198, 322, 130, 34));
  EXPECT_EQ(Ui.Button("FLoginButton")->text(), "Giris Yap");
  EXPECT_EQ(Ui.Button("FCancelButton")->text(), "Vazgec");
  EXPECT_TRUE(Ui.Button("FLoginButton")->isDefault());
  EXPECT_FALSE(Ui.Panel("FTotpPanel")->isVisible());
  EXPECT_EQ(Ui.Edit("FTotpEdit")->maxLength(), 6);
  QTest::keyClicks(Ui.Edit("FTotpEdit"), "12a3-4567");
  EXPECT_EQ(Ui.Edit("FTotpEdit")->text(), "123456") << "digits only, at most six";
  test::SaveScreenshot(&Form, "sign_in");
}

TEST_F(SignInTest, AConnectionFailureStaysReadableInFull) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.show();
  Sim.Stop();  // the longest real message: the connection failure with curl's own text
  Ui.Edit("FUserEdit")->setText("acme");
  Ui.Edit("FPassEdit")->setText("acme-1");
  Ui.Button("FLoginButton")->click();
  const QString Message = Ui.Label("FStatusLabel")->text();
  ASSERT_GT(Message.size(), 100) << Message.toStdString();
  Form.grab();  // paints the label
  test::SaveScreenshot(&Form, "sign_in_connection_failure");
  const QFontMetrics Metrics(Ui.Label("FStatusLabel")->font());
  const QRect Needed = Metrics.boundingRect(Ui.Label("FStatusLabel")->contentsRect(), Qt::TextWordWrap, Message);
  if (Needed.height() > Ui.Label("FStatusLabel")->height())
    EXPECT_EQ(Ui.Label("FStatusLabel")->toolTip(), Message) << "cut short: the whole text is one hover away";
  else
    EXPECT_TRUE(Ui.Label("FStatusLabel")->toolTip().isEmpty());
  Ui.Label("FStatusLabel")->setText("Hatali sifre.");
  Ui.Label("FStatusLabel")->grab();
  EXPECT_TRUE(Ui.Label("FStatusLabel")->toolTip().isEmpty()) << "a text that fits needs no tooltip";
}

TEST_F(SignInTest, MissingFieldsAndWrongPasswordKeepTheWindowOpen) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.show();
  Ui.Edit("FUserEdit")->setText("   ");
  Ui.Button("FLoginButton")->click();
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Kullanici adi/e-posta zorunlu.");
  EXPECT_EQ(StatusColour(Form), QColor(255, 0, 0));
  Ui.Edit("FUserEdit")->setText("acme");
  Ui.Button("FLoginButton")->click();
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Sifre zorunlu.");
  Ui.Edit("FPassEdit")->setText("ACME-1");
  Ui.Button("FLoginButton")->click();
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Hatali sifre.");
  EXPECT_TRUE(Ui.Button("FLoginButton")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_NE(Form.result(), QDialog::Accepted);
  EXPECT_FALSE(HasSavedSignIn());
}

TEST_F(SignInTest, AccountWithoutCodesSignsInWithOneClickAndIsRemembered) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.show();
  Ui.Edit("FUserEdit")->setText("  info@acme.test ");
  Ui.Edit("FPassEdit")->setText("acme-1");
  // Enter in a field is the sign-in button.
  QTest::keyClick(Ui.Edit("FPassEdit"), Qt::Key_Return);
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Giris basarili, hesap bilgileri hazirlaniyor...");
  ResetSavedSignInCacheForTests();
  TSavedSignIn Saved;
  ASSERT_TRUE(LoadSavedSignIn(Saved));
  EXPECT_EQ(Saved.LoginName, "info@acme.test");
  EXPECT_EQ(Saved.Password, "acme-1");
  EXPECT_EQ(Saved.DisplayName, "Acme Ltd");
}

TEST_F(SignInTest, AccountWithCodesAsksForTheCodeAndChecksItEveryTime) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.show();
  Ui.Edit("FUserEdit")->setText("kodlu");
  Ui.Edit("FPassEdit")->setText("k-2");
  Ui.Button("FLoginButton")->click();
  ASSERT_TRUE(Form.TotpRequired());
  EXPECT_TRUE(Ui.Panel("FTotpPanel")->isVisible());
  EXPECT_EQ(Ui.Button("FLoginButton")->text(), "Dogrula");
  EXPECT_FALSE(Ui.Edit("FUserEdit")->isEnabled());
  EXPECT_FALSE(Ui.Edit("FPassEdit")->isEnabled());
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(),
            "Bu hesapta Google Authenticator aktif. Uygulamadaki 6 haneli kodu girin.");
  EXPECT_EQ(StatusColour(Form), QColor(0x22, 0x8B, 0x22));
  EXPECT_NE(Form.result(), QDialog::Accepted);
  test::SaveScreenshot(&Form, "sign_in_code_step");

  const std::string Right = CurrentCode();
  Ui.Edit("FTotpEdit")->setText(Right == "000000" ? "111111" : "000000");
  Ui.Button("FLoginButton")->click();
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Dogrulama kodu hatali veya suresi gecmis. Tekrar deneyin.");
  EXPECT_EQ(StatusColour(Form), QColor(255, 0, 0));
  EXPECT_EQ(Ui.Edit("FTotpEdit")->selectedText(), Ui.Edit("FTotpEdit")->text());
  EXPECT_FALSE(HasSavedSignIn());

  // Each click checks the password again with a fresh lookup before the code.
  const int64_t Before = Sim.TotalRequests();
  Ui.Edit("FTotpEdit")->setText(QString::fromStdString(Right));
  QTest::keyClick(Ui.Edit("FTotpEdit"), Qt::Key_Enter);
  EXPECT_GT(Sim.TotalRequests(), Before);
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_TRUE(HasSavedSignIn());
}

TEST_F(SignInTest, EscapeCancelsAndAFailedSaveIsShownWithTheWindowKeptOpen) {
  {
    TRestoreLoginForm Form(nullptr, Dialogs);
    Form.show();
    QTest::keyClick(&Form, Qt::Key_Escape);
    EXPECT_EQ(Form.result(), QDialog::Rejected);
  }
  // A folder where the saved sign-in belongs: every write attempt fails.
  fs::create_directories(ConfigDir() + "/saved_signin.dat/blocked");
  TRestoreLoginForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.show();
  Ui.Edit("FUserEdit")->setText("acme");
  Ui.Edit("FPassEdit")->setText("acme-1");
  Ui.Button("FLoginButton")->click();
  ASSERT_EQ(Dialogs->OfKind("exception").size(), 1u);
  EXPECT_NE(Form.result(), QDialog::Accepted);
  EXPECT_TRUE(Ui.Button("FLoginButton")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SignInTest, StartUpAsksWhenNothingIsRememberedOrTheDirectoryRejectsIt) {
  int Shown = 0;
  std::string Asked;
  const TShowSignInWindow Cancel = [&](const std::string& Login, const std::string& Reason) {
    ++Shown;
    Asked = Login + "|" + Reason;
    return false;
  };
  const TShowSignInWindow Complete = [&](const std::string&, const std::string&) {
    ++Shown;
    return true;
  };
  EXPECT_FALSE(PrepareSignIn(Cancel)) << "cancel ends the program";
  EXPECT_EQ(Asked, "|");
  EXPECT_TRUE(PrepareSignIn(Complete));
  EXPECT_EQ(Shown, 2);

  SaveSavedSignIn({"acme", "acme-1", ""});
  EXPECT_TRUE(PrepareSignIn(Cancel));
  EXPECT_EQ(Shown, 2) << "a remembered sign-in the directory confirms never shows the window";
  ResetSavedSignInCacheForTests();
  TSavedSignIn Saved;
  ASSERT_TRUE(LoadSavedSignIn(Saved));
  EXPECT_EQ(Saved.DisplayName, "Acme Ltd") << "re-validation refreshes the display name";

  // The password was changed, or the account removed: the window opens with the reason.
  SaveSavedSignIn({"acme", "eski-sifre", ""});
  EXPECT_FALSE(PrepareSignIn(Cancel));
  EXPECT_EQ(Asked, "acme|Hatali sifre.");
  SaveSavedSignIn({"silinen", "x", ""});
  EXPECT_FALSE(PrepareSignIn(Cancel));
  EXPECT_EQ(Asked, "silinen|Hesap bulunamadi: silinen");
  EXPECT_EQ(Shown, 4);
  TRestoreLoginForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.Prefill("silinen", "Hesap bulunamadi: silinen");
  EXPECT_EQ(Ui.Edit("FUserEdit")->text(), "silinen");
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Hesap bulunamadi: silinen");
  SaveSavedSignIn({"acme", "acme-1", ""});

  // No network: the start goes on with the remembered sign-in.
  Sim.Stop();
  ResetAccountCacheForTests();
  ResetServiceTokenCacheForTests();
  EXPECT_TRUE(PrepareSignIn(Cancel)) << "a check that cannot be made does not ask";
  EXPECT_EQ(Shown, 4);

  // A file that cannot be opened on this computer stops the start with its message.
  ResetSavedSignInCacheForTests();
  platform::SetMachineIdentitySource([] { return std::string("another-computer"); });
  EXPECT_THROW(PrepareSignIn(Complete), std::exception);
}
