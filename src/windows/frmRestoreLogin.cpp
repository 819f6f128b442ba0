#include "windows/frmRestoreLogin.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "account/uTotp.h"
#include "core/TextRules.h"
#include "core/uLogger.h"
#include "drive/uFirebaseAccountAuth.h"
#include "windows/BackgroundWork.h"
#include "windows/FormStyle.h"

namespace kelvo {

namespace {

QLabel* PlacedLabel(QWidget* Parent, const char* Text, int Left, int Top, int Width, int Height) {
  auto* L = new QLabel(QString::fromUtf8(Text), Parent);
  L->setGeometry(Left, Top, Width, Height);
  return L;
}

QLineEdit* PlacedEdit(QWidget* Parent, int Left, int Top, int Width, int Height) {
  auto* E = new QLineEdit(Parent);
  E->setGeometry(Left, Top, Width, Height);
  return E;
}

}  // namespace

bool TRestoreLoginForm::Execute(std::shared_ptr<IDialogs> Dialogs, const std::string& Login,
                                const std::string& Reason) {
  TRestoreLoginForm Form(nullptr, std::move(Dialogs));
  Form.Prefill(Login, Reason);
  return Form.exec() == QDialog::Accepted;
}

void TRestoreLoginForm::Prefill(const std::string& Login, const std::string& Reason) {
  if (!Login.empty()) {
    FUserEdit->setText(QString::fromStdString(Login));
    FPassEdit->setFocus();
  }
  if (!Reason.empty()) SetStatus(Reason, true);
}

TRestoreLoginForm::TRestoreLoginForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs)
    : QDialog(Owner), FDialogs(Dialogs ? std::move(Dialogs) : std::make_shared<TQtDialogs>()) {
  BuildLayout();
}

void TRestoreLoginForm::BuildLayout() {
  setWindowTitle("Kelvo Geri Yukleme - Hesap Girisi");
  // 460 x 400 outside; the frame and title bar take 16 x 39 of it.
  setFixedSize(444, 361);
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  SetFormAppearance(this, QColor(0xF8, 0xF5, 0xF3));
  CentreOnScreen(this);

  FHeaderPanel = MakePanel(this, QColor(0x22, 0x2F, 0x3E));
  FHeaderPanel->setGeometry(0, 0, width(), 78);
  FTitleLabel = MakeLabel(FHeaderPanel, "Hesap Girisi", 20, 14, SemiboldFont(22), Qt::white);
  FSubtitleLabel = MakeLabel(FHeaderPanel, "Geri yukleme icin Kelvo hesabinizla giris yapin.", 22, 46, UiFont(13),
                             QColor(0xD1, 0xD8, 0xE1));

  FUserLabel = PlacedLabel(this, "Kullanici adi / e-posta:", 28, 98, 380, 20);
  FUserEdit = PlacedEdit(this, 28, 120, 390, 26);
  FPassLabel = PlacedLabel(this, "Sifre:", 28, 156, 380, 20);
  FPassEdit = PlacedEdit(this, 28, 178, 390, 26);
  MaskWithStars(FPassEdit);

  FTotpPanel = MakePanel(this, QColor());
  FTotpPanel->setGeometry(20, 212, 406, 66);
  FTotpLabel = PlacedLabel(FTotpPanel, "Google Authenticator kodu (6 hane):", 8, 4, 390, 20);
  FTotpLabel->setFont(BoldFont(13));
  FTotpEdit = PlacedEdit(FTotpPanel, 8, 26, 160, 26);
  FTotpEdit->setMaxLength(6);
  FTotpEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,6}"), FTotpEdit));
  FTotpEdit->setFont(UiFont(16));
  FTotpPanel->hide();

  FStatusLabel = new TFittedLabel(this);
  FStatusLabel->setGeometry(28, 284, 390, 36);
  FStatusLabel->setWordWrap(true);

  FLoginButton = new QPushButton("Giris Yap", this);
  FLoginButton->setGeometry(198, 322, 130, 34);
  FLoginButton->setFont(BoldFont(13));
  FLoginButton->setDefault(true);
  FCancelButton = new QPushButton("Vazgec", this);
  FCancelButton->setGeometry(338, 322, 80, 34);
  NameControls({KELVO_CONTROL(FHeaderPanel), KELVO_CONTROL(FTitleLabel), KELVO_CONTROL(FSubtitleLabel),
                KELVO_CONTROL(FUserLabel), KELVO_CONTROL(FUserEdit), KELVO_CONTROL(FPassLabel),
                KELVO_CONTROL(FPassEdit), KELVO_CONTROL(FTotpPanel), KELVO_CONTROL(FTotpLabel),
                KELVO_CONTROL(FTotpEdit), KELVO_CONTROL(FStatusLabel), KELVO_CONTROL(FLoginButton),
                KELVO_CONTROL(FCancelButton)});

  for (QLineEdit* Edit : {FUserEdit, FPassEdit, FTotpEdit}) Edit->installEventFilter(this);
  connect(FLoginButton, &QPushButton::clicked, this, [this] { LoginButtonClick(); });
  connect(FCancelButton, &QPushButton::clicked, this, [this] { reject(); });
}

bool TRestoreLoginForm::eventFilter(QObject* Watched, QEvent* Event) {
  // Enter in any of the three fields is the sign-in button; the key goes no further.
  if (Event->type() == QEvent::KeyPress) {
    const int Key = static_cast<QKeyEvent*>(Event)->key();
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
      if (FLoginButton->isEnabled()) LoginButtonClick();
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

void TRestoreLoginForm::SetStatus(const std::string& Text, bool IsError) {
  SetTextColour(FStatusLabel, IsError ? ErrorColour() : SuccessColour());
  FStatusLabel->setText(QString::fromStdString(Text));
  // Visible before the network calls that follow block the window.
  FStatusLabel->repaint();
}

void TRestoreLoginForm::ShowTotpStep() {
  FTotpRequired = true;
  FTotpPanel->show();
  FUserEdit->setEnabled(false);
  FPassEdit->setEnabled(false);
  FLoginButton->setText("Dogrula");
  FTotpEdit->setFocus();
  SetStatus("Bu hesapta Google Authenticator aktif. Uygulamadaki 6 haneli kodu girin.", false);
}

void TRestoreLoginForm::LoginButtonClick() {
  bool Completed = false;
  RunHandler(*FDialogs, this, [&] {
    const TBusyButton Busy(FLoginButton);
    SetStatus("Hesap dogrulaniyor...", false);
    const std::string Login = Trim(FUserEdit->text().toStdString());
    const std::string Password = FPassEdit->text().toStdString();
    TFirebaseManagedAccount Account;
    TAccountAuthResult Result;
    RunOffGuiThread([&] { AuthenticateAccount(Login, Password, Account, Result); });
    if (!Result.Success) {
      SetStatus(Result.MessageText, true);
      return;
    }
    if (IsTotpEnabled(Account)) {
      if (!FTotpRequired) {
        ShowTotpStep();
        return;
      }
      if (!VerifyTotpCode(Account.TotpSecret, FTotpEdit->text().toStdString(), 1)) {
        SetStatus("Dogrulama kodu hatali veya suresi gecmis. Tekrar deneyin.", true);
        FTotpEdit->selectAll();
        FTotpEdit->setFocus();
        return;
      }
    }
    SetStatus("Giris basarili, hesap bilgileri hazirlaniyor...", false);
    RunOffGuiThread([&] { CompleteSignIn(Login, Password, Result); });
    LogInfoFmt("Geri yukleme uygulamasi hesap girisi: %s", Login);
    Completed = true;
  });
  if (Completed) accept();
}

}  // namespace kelvo
