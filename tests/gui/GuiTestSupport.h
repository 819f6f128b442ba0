#pragma once
// Helpers for driving the real windows offscreen: scripted dialogs that record what was shown, a
// control found by its name, a wait that keeps the event loop running, and screenshots for review.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "windows/Dialogs.h"

namespace kelvo::test {

struct TShownDialog {
  std::string Kind;   // information, warning, error, exception, confirm, input, open, folder
  std::string Text;   // the message, or the title/caption of a dialog
  std::string Extra;  // prompt of an input box, filter of an open dialog
};

class ScriptedDialogs : public IDialogs {
 public:
  std::vector<TShownDialog> Shown;
  std::deque<bool> ConfirmAnswers;                         // empty → Yes
  std::deque<std::pair<bool, std::string>> InputAnswers;   // empty → Cancel
  std::deque<std::vector<std::string>> OpenAnswers;        // empty → Cancel
  std::deque<std::pair<bool, std::string>> FolderAnswers;  // empty → Cancel
  std::string LastProposedInput;

  void Information(QWidget*, const std::string& T) override { Shown.push_back({"information", T, ""}); }
  void Warning(QWidget*, const std::string& T) override { Shown.push_back({"warning", T, ""}); }
  void Error(QWidget*, const std::string& T) override { Shown.push_back({"error", T, ""}); }
  void ShowException(QWidget*, const std::string& T) override { Shown.push_back({"exception", T, ""}); }
  bool Confirm(QWidget*, const std::string& T) override {
    Shown.push_back({"confirm", T, ""});
    if (ConfirmAnswers.empty()) return true;
    const bool A = ConfirmAnswers.front();
    ConfirmAnswers.pop_front();
    return A;
  }
  bool InputQuery(QWidget*, const std::string& Title, const std::string& Prompt, std::string& Value) override {
    Shown.push_back({"input", Title, Prompt});
    LastProposedInput = Value;
    if (InputAnswers.empty()) return false;
    auto [Ok, Answer] = InputAnswers.front();
    InputAnswers.pop_front();
    if (Ok) Value = Answer;
    return Ok;
  }
  std::vector<std::string> OpenFiles(QWidget*, const std::string& Title, const std::string& Filter) override {
    Shown.push_back({"open", Title, Filter});
    if (OpenAnswers.empty()) return {};
    auto A = OpenAnswers.front();
    OpenAnswers.pop_front();
    return A;
  }
  bool BrowseFolder(QWidget*, const std::string& Caption, std::string& Folder) override {
    Shown.push_back({"folder", Caption, Folder});
    if (FolderAnswers.empty()) return false;
    auto [Ok, Answer] = FolderAnswers.front();
    FolderAnswers.pop_front();
    if (Ok) Folder = Answer;
    return Ok;
  }
  std::vector<TShownDialog> OfKind(const std::string& Kind) const {
    std::vector<TShownDialog> R;
    for (const auto& D : Shown)
      if (D.Kind == Kind) R.push_back(D);
    return R;
  }
};

// The control of Window named Name (a window names its controls after the members that hold them,
// "FUserEdit"); the windows it has opened are not searched. Raises, failing the test with both
// names, when Window has no such control, more than one, or one that is not a T.
template <typename T>
T* Child(QWidget& Window, const char* Name) {
  std::vector<QWidget*> Found;
  for (QWidget* Widget : Window.findChildren<QWidget*>(QString::fromUtf8(Name)))
    if (Widget->window() == &Window) Found.push_back(Widget);
  if (Found.size() == 1)
    if (auto* Control = dynamic_cast<T*>(Found[0])) return Control;
  throw std::logic_error("window \"" + Window.windowTitle().toStdString() + "\": " +
                         (Found.empty()      ? "no control"
                          : Found.size() > 1 ? "more than one control"
                                             : std::string("a ") + Found[0]->metaObject()->className()) +
                         " named " + Name + " where a " + T::staticMetaObject.className() + " was expected");
}

// Child for each kind of control the windows have: Ui.Edit("FUserEdit")->setText(...).
struct WindowControls {
  QWidget& Window;
  QFrame* Panel(const char* Name) const { return Child<QFrame>(Window, Name); }
  QGroupBox* Group(const char* Name) const { return Child<QGroupBox>(Window, Name); }
  QLabel* Label(const char* Name) const { return Child<QLabel>(Window, Name); }
  QLineEdit* Edit(const char* Name) const { return Child<QLineEdit>(Window, Name); }
  QCheckBox* Check(const char* Name) const { return Child<QCheckBox>(Window, Name); }
  QComboBox* Combo(const char* Name) const { return Child<QComboBox>(Window, Name); }
  QPushButton* Button(const char* Name) const { return Child<QPushButton>(Window, Name); }
  QTreeWidget* List(const char* Name) const { return Child<QTreeWidget>(Window, Name); }
  QProgressBar* Bar(const char* Name) const { return Child<QProgressBar>(Window, Name); }
};

// Runs the event loop until Condition holds or the time is up; returns Condition().
inline bool WaitUntil(const std::function<bool()>& Condition,
                      std::chrono::milliseconds Limit = std::chrono::seconds(20)) {
  QElapsedTimer Timer;
  Timer.start();
  while (!Condition()) {
    if (Timer.elapsed() > Limit.count()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

// Runs Action once on the first modal window of type T that is shown while this object lives. A
// window that opens and is never driven is rejected after Limit, so the test fails instead of
// hanging in its exec().
template <typename T>
class WhenModal {
 public:
  explicit WhenModal(std::function<void(T&)> Action, std::chrono::milliseconds Limit = std::chrono::seconds(30)) {
    Clock.start();
    QObject::connect(&Poll, &QTimer::timeout, [this, Action = std::move(Action), Limit] {
      if (Driven) return;
      QWidget* Modal = QApplication::activeModalWidget();
      if (auto* Window = dynamic_cast<T*>(Modal)) {
        Driven = true;
        Action(*Window);
      } else if (auto* Dialog = qobject_cast<QDialog*>(Modal); Dialog && Clock.elapsed() > Limit.count()) {
        Dialog->reject();
      }
    });
    Poll.start(5);
  }
  bool Driven = false;

 private:
  QTimer Poll;
  QElapsedTimer Clock;
};

// Saves the window as <KELVO_SCREENSHOTS>/<Name>.png when that variable names a folder.
inline void SaveScreenshot(QWidget* Window, const std::string& Name) {
  const char* Dir = std::getenv("KELVO_SCREENSHOTS");
  if (!Dir || !*Dir) return;
  QDir().mkpath(Dir);
  Window->grab().save(QString::fromStdString(std::string(Dir) + "/" + Name + ".png"));
}

}  // namespace kelvo::test
