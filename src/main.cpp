// Program entry of the Kelvo restore client: sign-in, then the restore queue window until it closes.
#include <QApplication>
#include <clocale>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/CommandLine.h"
#include "core/uAppConfig.h"
#include "platform/MachineProtection.h"
#include "platform/Process.h"
#include "platform/SafeFiles.h"
#include "windows/Dialogs.h"
#include "windows/StartupSequence.h"
#include "windows/frmRestoreLogin.h"
#include "windows/frmRestoreMain.h"

int main(int argc, char* argv[]) {
  // --help and --version answer before any window, display or connection is needed.
  if (const auto Code = kelvo::AnswerCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout))
    return *Code;
  kelvo::platform::KeepSecretsOutOfCoreDumps();
  std::setlocale(LC_ALL, "");
  kelvo::platform::ReportFileSizeLimitAsError();
  QApplication App(argc, argv);
  kelvo::SetUpApplication();
  auto Dialogs = std::make_shared<kelvo::TQtDialogs>();
  try {
    // Before the configuration protects its values: at the first start with the rights to do so,
    // the machine key is made; without it secrets are protected the older way.
    kelvo::platform::EnsureMachineKey();
    kelvo::TAppConfig::Instance();
    if (!kelvo::PrepareSignIn([&](const std::string& Login, const std::string& Reason) {
          return kelvo::TRestoreLoginForm::Execute(Dialogs, Login, Reason);
        }))
      return 0;
  } catch (const std::exception& E) {
    // A saved sign-in that cannot be read, or a configuration that cannot be prepared.
    Dialogs->ShowException(nullptr, E.what());
    return 1;
  }
  kelvo::TRestoreMainForm MainForm(nullptr, Dialogs);
  MainForm.show();
  return QApplication::exec();
}
