#include "windows/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include "windows/FormStyle.h"

namespace kelvo {

namespace {

QString Title() { return QString::fromUtf8(ApplicationTitle); }

void Box(QWidget* Parent, QMessageBox::Icon Icon, const std::string& Text) {
  QMessageBox Box(Icon, Title(), Q(Text), QMessageBox::Ok, Parent);
  Box.exec();
}

}  // namespace

bool InstallTurkishQtTranslations() {
  // Lives as long as the application object it serves.
  auto* Translator = new QTranslator(QCoreApplication::instance());
  if (!Translator->load(QLocale(QLocale::Turkish, QLocale::Turkey), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete Translator;
    return false;
  }
  return QCoreApplication::installTranslator(Translator);
}

void SetUpApplication() { InstallTurkishQtTranslations(); }

std::vector<std::string> ConvertFileFilter(const std::string& Filter) {
  std::vector<std::string> Parts;
  size_t Start = 0;
  for (;;) {
    const size_t Bar = Filter.find('|', Start);
    Parts.push_back(Filter.substr(Start, Bar == std::string::npos ? std::string::npos : Bar - Start));
    if (Bar == std::string::npos) break;
    Start = Bar + 1;
  }
  std::vector<std::string> Result;
  for (size_t I = 0; I + 1 < Parts.size(); I += 2) {
    std::string Patterns;
    size_t P = 0;
    const std::string& Masks = Parts[I + 1];
    while (P <= Masks.size()) {
      const size_t Semi = Masks.find(';', P);
      std::string Mask = Masks.substr(P, Semi == std::string::npos ? std::string::npos : Semi - P);
      if (Mask == "*.*") Mask = "*";  // every file, also those without an extension
      if (!Mask.empty()) Patterns += (Patterns.empty() ? "" : " ") + Mask;
      if (Semi == std::string::npos) break;
      P = Semi + 1;
    }
    Result.push_back(Parts[I] + " (" + Patterns + ")");
  }
  return Result;
}

void TQtDialogs::Information(QWidget* Parent, const std::string& Text) { Box(Parent, QMessageBox::Information, Text); }
void TQtDialogs::Warning(QWidget* Parent, const std::string& Text) { Box(Parent, QMessageBox::Warning, Text); }
void TQtDialogs::Error(QWidget* Parent, const std::string& Text) { Box(Parent, QMessageBox::Critical, Text); }
void TQtDialogs::ShowException(QWidget* Parent, const std::string& Text) { Box(Parent, QMessageBox::Critical, Text); }

bool TQtDialogs::Confirm(QWidget* Parent, const std::string& Text) {
  QMessageBox Box(QMessageBox::Question, Title(), Q(Text), QMessageBox::Yes | QMessageBox::No, Parent);
  return Box.exec() == QMessageBox::Yes;
}

bool TQtDialogs::InputQuery(QWidget* Parent, const std::string& Title, const std::string& Prompt, std::string& Value) {
  bool Ok = false;
  const QString Answer = QInputDialog::getText(Parent, Q(Title), Q(Prompt), QLineEdit::Normal, Q(Value), &Ok);
  if (Ok) Value = Answer.toStdString();
  return Ok;
}

std::vector<std::string> TQtDialogs::OpenFiles(QWidget* Parent, const std::string& Title, const std::string& Filter) {
  QStringList Filters;
  for (const std::string& F : ConvertFileFilter(Filter)) Filters << Q(F);
  QFileDialog Dialog(Parent, Q(Title));
  Dialog.setFileMode(QFileDialog::ExistingFiles);
  Dialog.setNameFilters(Filters);
  Dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  std::vector<std::string> Files;
  if (Dialog.exec() == QDialog::Accepted)
    for (const QString& F : Dialog.selectedFiles()) Files.push_back(F.toStdString());
  return Files;
}

bool TQtDialogs::BrowseFolder(QWidget* Parent, const std::string& Caption, std::string& Folder) {
  const QString Chosen = QFileDialog::getExistingDirectory(Parent, Q(Caption), Q(Folder), QFileDialog::ShowDirsOnly);
  if (Chosen.isEmpty()) return false;
  Folder = Chosen.toStdString();
  return true;
}

}  // namespace kelvo
