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
    ResetAccountCacheForTests();
    ResetSavedSignInCacheForTests();
    SetSavedSignInSleepForTests([](std::chrono::milliseconds) {});
    Sim.SetDatabase(nlohmann::json::parse(std::string(R"({"Lisanslar":{
      "acme":{"LoginName":"acme","Email":"info@acme.test","Sifre":"acme-1","Musteri":"Acme Ltd"},
      "kodlu":{"LoginName":"kodlu","Sifre":"k-2","Musteri":"Kodlu AS","TwoFactorEnabled":true,
               "TwoFactorSecret":")") + Secret +
                                          R"("}}})"));
  }
  void TearDown() override {
    SetSavedSignInSleepForTests(nullptr);
    ResetSavedSignInCacheForTests();
    ResetAccountCacheForTests();
    CloudFixture::TearDown();
  }
  std::string CurrentCode() {
    return GenerateTotpCode(
        Secret, std::chrono::duration_cast<std::chrono::seconds>(ClockNow.load().time_since_epoch()).count());
  }
  static QColor StatusColour(TRestoreLoginForm& F) { return F.FStatusLabel->palette().color(QPalette::WindowText); }
};

}  // namespace

TEST_F(SignInTest, LayoutAndFirstStep) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  Form.show();
  EXPECT_EQ(Form.windowTitle(), "Kelvo Geri Yukleme - Hesap Girisi");
  EXPECT_EQ(Form.FPassEdit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, Form.FPassEdit), '*');
  EXPECT_EQ(Form.FPassEdit->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Form.minimumSize(), Form.maximumSize()) << "fixed dialog border";
  EXPECT_EQ(Form.FHeaderPanel->height(), 78);
  EXPECT_EQ(Form.FTitleLabel->text(), "Hesap Girisi");
  EXPECT_EQ(Form.FSubtitleLabel->text(), "Geri yukleme icin Kelvo hesabinizla giris yapin.");
  EXPECT_EQ(Form.FUserLabel->text(), "Kullanici adi / e-posta:");
  EXPECT_EQ(Form.FUserEdit->geometry(), QRect(28, 120, 390, 26));
  EXPECT_EQ(Form.FPassEdit->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Form.FLoginButton->geometry(), QRect(198, 322, 130, 34));
  EXPECT_EQ(Form.FLoginButton->text(), "Giris Yap");
  EXPECT_EQ(Form.FCancelButton->text(), "Vazgec");
  EXPECT_TRUE(Form.FLoginButton->isDefault());
  EXPECT_FALSE(Form.FTotpPanel->isVisible());
  EXPECT_EQ(Form.FTotpEdit->maxLength(), 6);
  QTest::keyClicks(Form.FTotpEdit, "12a3-4567");
  EXPECT_EQ(Form.FTotpEdit->text(), "123456") << "digits only, at most six";
  test::SaveScreenshot(&Form, "sign_in");
}

TEST_F(SignInTest, AConnectionFailureStaysReadableInFull) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  Form.show();
  Sim.Stop();  // the longest real message: the connection failure with curl's own text
  Form.FUserEdit->setText("acme");
  Form.FPassEdit->setText("acme-1");
  Form.FLoginButton->click();
  const QString Message = Form.FStatusLabel->text();
  ASSERT_GT(Message.size(), 100) << Message.toStdString();
  Form.grab();  // paints the label
  test::SaveScreenshot(&Form, "sign_in_connection_failure");
  const QFontMetrics Metrics(Form.FStatusLabel->font());
  const QRect Needed = Metrics.boundingRect(Form.FStatusLabel->contentsRect(), Qt::TextWordWrap, Message);
  if (Needed.height() > Form.FStatusLabel->height())
    EXPECT_EQ(Form.FStatusLabel->toolTip(), Message) << "cut short: the whole text is one hover away";
  else
    EXPECT_TRUE(Form.FStatusLabel->toolTip().isEmpty());
  Form.FStatusLabel->setText("Hatali sifre.");
  Form.FStatusLabel->grab();
  EXPECT_TRUE(Form.FStatusLabel->toolTip().isEmpty()) << "a text that fits needs no tooltip";
}

TEST_F(SignInTest, MissingFieldsAndWrongPasswordKeepTheWindowOpen) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  Form.show();
  Form.FUserEdit->setText("   ");
  Form.FLoginButton->click();
  EXPECT_EQ(Form.FStatusLabel->text(), "Kullanici adi/e-posta zorunlu.");
  EXPECT_EQ(StatusColour(Form), QColor(255, 0, 0));
  Form.FUserEdit->setText("acme");
  Form.FLoginButton->click();
  EXPECT_EQ(Form.FStatusLabel->text(), "Sifre zorunlu.");
  Form.FPassEdit->setText("ACME-1");
  Form.FLoginButton->click();
  EXPECT_EQ(Form.FStatusLabel->text(), "Hatali sifre.");
  EXPECT_TRUE(Form.FLoginButton->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_NE(Form.result(), QDialog::Accepted);
  EXPECT_FALSE(HasSavedSignIn());
}

TEST_F(SignInTest, AccountWithoutCodesSignsInWithOneClickAndIsRemembered) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  Form.show();
  Form.FUserEdit->setText("  info@acme.test ");
  Form.FPassEdit->setText("acme-1");
  // Enter in a field is the sign-in button.
  QTest::keyClick(Form.FPassEdit, Qt::Key_Return);
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_EQ(Form.FStatusLabel->text(), "Giris basarili, hesap bilgileri hazirlaniyor...");
  ResetSavedSignInCacheForTests();
  TSavedSignIn Saved;
  ASSERT_TRUE(LoadSavedSignIn(Saved));
  EXPECT_EQ(Saved.LoginName, "info@acme.test");
  EXPECT_EQ(Saved.Password, "acme-1");
  EXPECT_EQ(Saved.DisplayName, "Acme Ltd");
}

TEST_F(SignInTest, AccountWithCodesAsksForTheCodeAndChecksItEveryTime) {
  TRestoreLoginForm Form(nullptr, Dialogs);
  Form.show();
  Form.FUserEdit->setText("kodlu");
  Form.FPassEdit->setText("k-2");
  Form.FLoginButton->click();
  ASSERT_TRUE(Form.TotpRequired());
  EXPECT_TRUE(Form.FTotpPanel->isVisible());
  EXPECT_EQ(Form.FLoginButton->text(), "Dogrula");
  EXPECT_FALSE(Form.FUserEdit->isEnabled());
  EXPECT_FALSE(Form.FPassEdit->isEnabled());
  EXPECT_EQ(Form.FStatusLabel->text(), "Bu hesapta Google Authenticator aktif. Uygulamadaki 6 haneli kodu girin.");
  EXPECT_EQ(StatusColour(Form), QColor(0x22, 0x8B, 0x22));
  EXPECT_NE(Form.result(), QDialog::Accepted);
  test::SaveScreenshot(&Form, "sign_in_code_step");

  const std::string Right = CurrentCode();
  Form.FTotpEdit->setText(Right == "000000" ? "111111" : "000000");
  Form.FLoginButton->click();
  EXPECT_EQ(Form.FStatusLabel->text(), "Dogrulama kodu hatali veya suresi gecmis. Tekrar deneyin.");
  EXPECT_EQ(StatusColour(Form), QColor(255, 0, 0));
  EXPECT_EQ(Form.FTotpEdit->selectedText(), Form.FTotpEdit->text());
  EXPECT_FALSE(HasSavedSignIn());

  // Each click checks the password again with a fresh lookup before the code.
  const int64_t Before = Sim.TotalRequests();
  Form.FTotpEdit->setText(QString::fromStdString(Right));
  QTest::keyClick(Form.FTotpEdit, Qt::Key_Enter);
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
  Form.show();
  Form.FUserEdit->setText("acme");
  Form.FPassEdit->setText("acme-1");
  Form.FLoginButton->click();
  ASSERT_EQ(Dialogs->OfKind("exception").size(), 1u);
  EXPECT_NE(Form.result(), QDialog::Accepted);
  EXPECT_TRUE(Form.FLoginButton->isEnabled());
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
  Form.Prefill("silinen", "Hesap bulunamadi: silinen");
  EXPECT_EQ(Form.FUserEdit->text(), "silinen");
  EXPECT_EQ(Form.FStatusLabel->text(), "Hesap bulunamadi: silinen");
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
