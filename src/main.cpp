// Program entry of the Kelvo restore client.
#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <exception>

#include "core/uAppConfig.h"

int main(int argc, char* argv[]) {
  std::setlocale(LC_ALL, "");
  QApplication App(argc, argv);
  QApplication::setApplicationDisplayName("Kelvo Geri Yukleme");
  try {
    const std::string ConfigDir = kelvo::TAppConfig::Instance().GetConfigDir();
    std::printf("Yapilandirma klasoru: %s\n", ConfigDir.c_str());
  } catch (const std::exception& E) {
    QMessageBox::critical(nullptr, "Kelvo Geri Yukleme", QString::fromUtf8(E.what()));
    return 1;
  }
  return 0;
}
