#pragma once
// The sign-in window: login and password, then, for accounts that require it, the six-digit code of
// the authenticator app. A completed sign-in is remembered on this computer.
#include <QDialog>
#include <memory>
#include <string>

#include "windows/Dialogs.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvo {

class TRestoreLoginForm : public QDialog {
 public:
  // Shows the window modally; true exactly when it closed with a completed sign-in.
  // Login and Reason (may be empty) come from a remembered sign-in the directory rejected: the login
  // is filled in and the reason shown as an error.
  // The login box filled in and a reason shown as an error (either may be empty).
  void Prefill(const std::string& Login, const std::string& Reason);
  static bool Execute(std::shared_ptr<IDialogs> Dialogs = nullptr, const std::string& Login = {},
                      const std::string& Reason = {});

  explicit TRestoreLoginForm(QWidget* Owner = nullptr, std::shared_ptr<IDialogs> Dialogs = nullptr);

  bool TotpRequired() const { return FTotpRequired; }

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void BuildLayout();
  void SetStatus(const std::string& Text, bool IsError);
  void ShowTotpStep();
  void LoginButtonClick();

  std::shared_ptr<IDialogs> FDialogs;

  // Controls, each named after its member.
  QFrame* FHeaderPanel = nullptr;
  QLabel* FTitleLabel = nullptr;
  QLabel* FSubtitleLabel = nullptr;
  QLabel* FUserLabel = nullptr;
  QLineEdit* FUserEdit = nullptr;
  QLabel* FPassLabel = nullptr;
  QLineEdit* FPassEdit = nullptr;
  QFrame* FTotpPanel = nullptr;
  QLabel* FTotpLabel = nullptr;
  QLineEdit* FTotpEdit = nullptr;
  QLabel* FStatusLabel = nullptr;
  QPushButton* FLoginButton = nullptr;
  QPushButton* FCancelButton = nullptr;

  bool FTotpRequired = false;
};

}  // namespace kelvo
