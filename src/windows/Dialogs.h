#pragma once
// Every modal box and dialog the windows show goes through this interface, so the windows can be
// driven by tests with scripted answers. TQtDialogs is the real one.
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace kelvo {

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  virtual void Information(QWidget* Parent, const std::string& Text) = 0;
  virtual void Warning(QWidget* Parent, const std::string& Text) = 0;
  virtual void Error(QWidget* Parent, const std::string& Text) = 0;
  // The application's error display for errors that reach an event handler.
  virtual void ShowException(QWidget* Parent, const std::string& Text) = 0;
  // Yes/No question; true only for Yes.
  virtual bool Confirm(QWidget* Parent, const std::string& Text) = 0;
  // Input box; Value holds the proposal and receives the answer. True on OK.
  virtual bool InputQuery(QWidget* Parent, const std::string& Title, const std::string& Prompt, std::string& Value) = 0;
  // Open-file dialog. Filter in the "Description|*.a;*.b|..." form. Empty on cancel.
  virtual std::vector<std::string> OpenFiles(QWidget* Parent, const std::string& Title, const std::string& Filter) = 0;
  // Folder-browse dialog with a button to create a folder. Folder holds the start and receives the choice.
  virtual bool BrowseFolder(QWidget* Parent, const std::string& Caption, std::string& Folder) = 0;
};

class TQtDialogs : public IDialogs {
 public:
  void Information(QWidget* Parent, const std::string& Text) override;
  void Warning(QWidget* Parent, const std::string& Text) override;
  void Error(QWidget* Parent, const std::string& Text) override;
  void ShowException(QWidget* Parent, const std::string& Text) override;
  bool Confirm(QWidget* Parent, const std::string& Text) override;
  bool InputQuery(QWidget* Parent, const std::string& Title, const std::string& Prompt, std::string& Value) override;
  std::vector<std::string> OpenFiles(QWidget* Parent, const std::string& Title, const std::string& Filter) override;
  bool BrowseFolder(QWidget* Parent, const std::string& Caption, std::string& Folder) override;
};

// The program's title: the caption of its message boxes.
inline constexpr char ApplicationTitle[] = "Kelvo Geri Yukleme";

// Qt's own texts (Yes/No, OK, the file dialog) in Turkish like the rest of the program, whatever
// the system's language; false when Qt's Turkish translations are not installed.
bool InstallTurkishQtTranslations();

// Everything the program sets on its application object before the first window; the tests set
// theirs up the same way. No display name is set: the window system would append it to every title.
void SetUpApplication();

// "Desc|*.a;*.b|All|*.*" → Qt's "Desc (*.a *.b);;All (*)" form, descriptions kept as written.
std::vector<std::string> ConvertFileFilter(const std::string& Filter);

// Runs an event handler; an error that escapes it is shown through ShowException instead of
// ending the program.
template <typename F>
void RunHandler(IDialogs& Dialogs, QWidget* Parent, F&& Handler) {
  try {
    Handler();
  } catch (const std::exception& E) {
    Dialogs.ShowException(Parent, E.what());
  }
}

}  // namespace kelvo
