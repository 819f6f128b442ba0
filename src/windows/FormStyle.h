#pragma once
// Look shared by the windows: the "Segoe UI" family (with the platform's fallback), flat coloured
// panels, and labels placed at fixed pixel positions.
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <initializer_list>
#include <string>

class QAbstractItemView;
class QFrame;
class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QWidget;

namespace kelvo {

QFont UiFont(int PixelHeight);
QFont SemiboldFont(int PixelHeight);
QFont BoldFont(int PixelHeight);
QColor GreyTextColour();
// A status line or list row that reports success or failure.
QColor SuccessColour();
QColor ErrorColour();

// The program's texts are UTF-8.
inline QString Q(const std::string& Text) { return QString::fromStdString(Text); }

// Window background and font; the window is centred on its screen.
void SetFormAppearance(QWidget* Form, const QColor& Background);
void CentreOnScreen(QWidget* Form);
// A borderless panel; an invalid colour keeps the parent's background.
QFrame* MakePanel(QWidget* Parent, const QColor& Background);
QLabel* MakeLabel(QWidget* Parent, const char* Text, int Left, int Top, const QFont& Font, const QColor& Colour);
QPushButton* MakeButton(QWidget* Parent, const char* Text, int Left, int Top, int Width, int Height);
void SetTextColour(QWidget* Widget, const QColor& Colour);
// A password box that masks every character with "*" (whatever the platform's style would use).
void MaskWithStars(QLineEdit* Edit);
// The selected rows stay highlighted while another control has the focus.
void KeepSelectionVisible(QAbstractItemView* View);

// A window's controls carry the names of the members that hold them ("FUserEdit"): that is how
// tests, and Qt's own tools on the running program, find a control without reaching into the
// window. KELVO_CONTROL(FUserEdit) pairs a member with its own name, so the two cannot drift apart.
struct TNamedControl {
  QObject* Control;
  const char* Name;
};
void NameControls(std::initializer_list<TNamedControl> Controls);
#define KELVO_CONTROL(Member) \
  ::kelvo::TNamedControl { Member, #Member }

// A status or error line that is always readable: the text wraps within the label, and when it
// still does not fit, the last line that fits ends in "..." and the whole text is the label's
// tooltip (one hover away). text() is always the whole text.
class TFittedLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

// Hourglass for the length of a scope.
struct TWaitCursor {
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Hourglass and a disabled button for the length of a scope: both come back however the scope
// ends, also when it raises, so a failed action never leaves its button dead.
class TBusyButton {
 public:
  explicit TBusyButton(QPushButton* Button);
  ~TBusyButton();
  TBusyButton(const TBusyButton&) = delete;
  TBusyButton& operator=(const TBusyButton&) = delete;

 private:
  TWaitCursor FWait;
  QPushButton* FButton;
};

}  // namespace kelvo
