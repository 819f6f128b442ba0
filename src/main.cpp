// Program entry of the Kelvo restore client.
#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <exception>

#include "core/uAppConfig.h"
#include "windows/frmRestoreMain.h"

int main(int argc, char* argv[]) {
  std::setlocale(LC_ALL, "");
  QApplication App(argc, argv);
  QApplication::setApplicationDisplayName("Kelvo Geri Yukleme");
  try {
    kelvo::TAppConfig::Instance();
    kelvo::TRestoreMainForm MainForm;
    MainForm.show();
    return QApplication::exec();
  } catch (const std::exception& E) {
    QMessageBox::critical(nullptr, "Kelvo Geri Yukleme", QString::fromUtf8(E.what()));
    return 1;
  }
}
