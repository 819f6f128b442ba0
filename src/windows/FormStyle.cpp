#include "windows/FormStyle.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QTextLayout>
#include <algorithm>

namespace kelvo {

namespace {
QFont Family(const char* Name, int PixelHeight) {
  QFont F(QString::fromLatin1(Name));
  F.setStyleHint(QFont::SansSerif);
  F.setPixelSize(PixelHeight);
  return F;
}
}  // namespace

QFont UiFont(int PixelHeight) { return Family("Segoe UI", PixelHeight); }

QFont SemiboldFont(int PixelHeight) {
  QFont F = Family("Segoe UI Semibold", PixelHeight);
  F.setWeight(QFont::DemiBold);
  return F;
}

QFont BoldFont(int PixelHeight) {
  QFont F = UiFont(PixelHeight);
  F.setBold(true);
  return F;
}

QColor GreyTextColour() { return QApplication::palette().color(QPalette::Disabled, QPalette::WindowText); }

QColor SuccessColour() { return QColor(34, 139, 34); }

QColor ErrorColour() { return QColor(255, 0, 0); }

void SetFormAppearance(QWidget* Form, const QColor& Background) {
  QPalette P = Form->palette();
  P.setColor(QPalette::Window, Background);
  Form->setPalette(P);
  Form->setAutoFillBackground(true);
  Form->setFont(UiFont(13));
}

void CentreOnScreen(QWidget* Form) {
  if (const QScreen* Screen = QApplication::primaryScreen()) {
    const QRect Area = Screen->availableGeometry();
    Form->move(Area.center() - QPoint(Form->width() / 2, Form->height() / 2));
  }
}

QFrame* MakePanel(QWidget* Parent, const QColor& Background) {
  auto* Panel = new QFrame(Parent);
  Panel->setFrameShape(QFrame::NoFrame);
  if (Background.isValid()) {
    QPalette P = Panel->palette();
    P.setColor(QPalette::Window, Background);
    Panel->setPalette(P);
    Panel->setAutoFillBackground(true);
  }
  return Panel;
}

QLabel* MakeLabel(QWidget* Parent, const char* Text, int Left, int Top, const QFont& Font, const QColor& Colour) {
  auto* Label = new QLabel(QString::fromUtf8(Text), Parent);
  Label->setFont(Font);
  SetTextColour(Label, Colour);
  Label->move(Left, Top);
  Label->adjustSize();
  return Label;
}

void NameControls(std::initializer_list<TNamedControl> Controls) {
  for (const TNamedControl& C : Controls) C.Control->setObjectName(QString::fromLatin1(C.Name));
}

QPushButton* MakeButton(QWidget* Parent, const char* Text, int Left, int Top, int Width, int Height) {
  auto* Button = new QPushButton(QString::fromUtf8(Text), Parent);
  Button->setGeometry(Left, Top, Width, Height);
  return Button;
}

TWaitCursor::TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
TWaitCursor::~TWaitCursor() { QApplication::restoreOverrideCursor(); }

TBusyButton::TBusyButton(QPushButton* Button) : FButton(Button) { FButton->setEnabled(false); }

TBusyButton::~TBusyButton() { FButton->setEnabled(true); }

void SetTextColour(QWidget* Widget, const QColor& Colour) {
  QPalette P = Widget->palette();
  P.setColor(QPalette::WindowText, Colour);
  P.setColor(QPalette::Text, Colour);
  Widget->setPalette(P);
}

void KeepSelectionVisible(QAbstractItemView* View) {
  QPalette P = View->palette();
  P.setColor(QPalette::Inactive, QPalette::Highlight, P.color(QPalette::Active, QPalette::Highlight));
  P.setColor(QPalette::Inactive, QPalette::HighlightedText, P.color(QPalette::Active, QPalette::HighlightedText));
  View->setPalette(P);
}

namespace {

// The platform's style with "*" as the password character.
class TStarMaskStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                QStyleHintReturn* Return) const override {
    if (Hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(Hint, Option, Widget, Return);
  }
};

}  // namespace

void MaskWithStars(QLineEdit* Edit) {
  // One style object for every such box, owned by the application.
  static QPointer<TStarMaskStyle> Style;
  if (!Style) {
    Style = new TStarMaskStyle();
    Style->setParent(QCoreApplication::instance());
  }
  Edit->setStyle(Style);
  Edit->setEchoMode(QLineEdit::Password);
}

void TFittedLabel::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  Painter.setPen(palette().color(foregroundRole()));
  Painter.setFont(font());
  const QRect Area = contentsRect();
  const QString Whole = text();
  const QFontMetrics Metrics(font());
  const int Flags = static_cast<int>(alignment()) | Qt::TextWordWrap;
  if (Metrics.boundingRect(Area, Flags, Whole).height() <= Area.height()) {
    Painter.drawText(Area, Flags, Whole);
    if (!toolTip().isEmpty()) setToolTip(QString());
    return;
  }
  // Lay the text out in lines of the label's width; the last line that fits takes the rest, cut.
  const int Lines = std::max(1, Area.height() / Metrics.lineSpacing());
  QTextLayout Layout(Whole, font());
  Layout.beginLayout();
  QStringList Shown;
  for (QTextLine Line = Layout.createLine(); Line.isValid(); Line = Layout.createLine()) {
    Line.setLineWidth(Area.width());
    if (Shown.size() + 1 == Lines) {
      Shown << Metrics.elidedText(Whole.mid(Line.textStart()), Qt::ElideRight, Area.width());
      break;
    }
    Shown << Whole.mid(Line.textStart(), Line.textLength()).trimmed();
  }
  Layout.endLayout();
  const int Top =
      Area.top() + std::max(0, (Area.height() - static_cast<int>(Shown.size()) * Metrics.lineSpacing()) / 2);
  for (int I = 0; I < Shown.size(); ++I)
    Painter.drawText(QRect(Area.left(), Top + I * Metrics.lineSpacing(), Area.width(), Metrics.lineSpacing()),
                     static_cast<int>(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter, Shown[I]);
  if (toolTip() != Whole) setToolTip(Whole);
}

}  // namespace kelvo
