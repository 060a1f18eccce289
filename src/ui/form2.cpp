#include "ui/form2.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <limits>
#include <stdexcept>

#include "imaging/pixel_access.h"
#include "ui/form1.h"
#include "ui/guard.h"
#include "ui/widgets.h"

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->adjustSize();
  label->move(left, top);
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int top) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(232, top, 89, 21);
  edit->setAlignment(Qt::AlignRight);
  return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int left) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setGeometry(left, 136, 75, 25);
  return button;
}

QRadioButton* MakeRadio(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* radio = new QRadioButton(text, parent);
  radio->setObjectName(name);
  radio->setGeometry(left, top, 65, 17);
  return radio;
}

// Keys that reach an edit without typing a character into it: the dialog
// keys, handled by the dialog, and Delete, which types nothing.
bool TypesCharacter(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
      return false;
    default:
      return !key.text().isEmpty();
  }
}

// Only Backspace and the ten digits pass.
void FilterSizeKey(QChar& key) {
  if (key != QChar(8) && !(key >= QChar('0') && key <= QChar('9'))) key = QChar(0);
}

QString Rounded(Extended value) {
  return QString::number(static_cast<long long>(RoundHalfEven(value)));
}

}  // namespace

int StrToInt(const QString& text) {
  bool ok = false;
  const qlonglong value = text.toLongLong(&ok, 10);
  // toLongLong also takes surrounding white space; an integer here is a
  // sign and digits only.
  bool plain = !text.isEmpty() && text.trimmed() == text;
  if (!ok || !plain || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    throw std::runtime_error(QString::fromUtf8("'%1' は整数ではありません").arg(text).toStdString());
  }
  return int(value);
}

TForm2::TForm2(TDialogs& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs) {
  setObjectName("Form2");
  setWindowTitle("Resize");
  setSizeGripEnabled(true);
  resize(585, 179);

  Label1 = MakeLabel(this, "Label1", "Current", 122, 24);
  Label4 = MakeLabel(this, "Label4", "New", 264, 24);
  Label2 = MakeLabel(this, "Label2", "Width", 24, 56);
  Label3 = MakeLabel(this, "Label3", "Height", 24, 88);
  LabelWidth = MakeLabel(this, "LabelWidth", "", 128, 56);
  LabelHeight = MakeLabel(this, "LabelHeight", "", 181, 88);
  LabelHeight->setAlignment(Qt::AlignRight | Qt::AlignTop);
  EditWidth = MakeEdit(this, "EditWidth", 53);
  EditHeight = MakeEdit(this, "EditHeight", 85);
  ButtonCancel = MakeButton(this, "ButtonCancel", "Cancel", 72);
  ButtonApply = MakeButton(this, "ButtonApply", "Apply", 232);
  // Enter presses the button that has the focus, Apply otherwise.
  ButtonApply->setDefault(true);
  ButtonApply->setAutoDefault(true);
  ButtonCancel->setAutoDefault(true);
  GroupBox1 = new QGroupBox("Methods", this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(344, 24, 225, 105);
  RBNearest = MakeRadio(GroupBox1, "RBNearest", "Nearest", 16, 24);
  RBBilinear = MakeRadio(GroupBox1, "RBBilinear", "Bilinear", 16, 48);
  RBBicubic = MakeRadio(GroupBox1, "RBBicubic", "Bicubic", 16, 72);
  RBBSpline = MakeRadio(GroupBox1, "RBBSpline", "BSpline", 87, 24);
  RBHermite = MakeRadio(GroupBox1, "RBHermite", "Hermite", 87, 49);
  RBMitchell = MakeRadio(GroupBox1, "RBMitchell", "Mitchell", 87, 72);
  RBBell = MakeRadio(GroupBox1, "RBBell", "Bell", 158, 26);
  RBLanczos = MakeRadio(GroupBox1, "RBLanczos", "Lanczos", 158, 49);
  RBLagrange = MakeRadio(GroupBox1, "RBLagrange", "Lagrange", 158, 72);
  RBBilinear->setChecked(true);

  // The font: the desktop's, at a size at which a line fits the 21-pixel
  // edits; the method buttons, 65 x 17 each, take the largest size at which
  // all nine captions fit beside their indicators.
  setFont(FittedFont(font(), [](const QFont& f) { return QFontMetrics(f).height() <= 15; }));
  const QFont methods = FittedFont(font(), [this](const QFont& f) {
    for (QRadioButton* rb : MethodButtons()) {
      rb->setFont(f);
      const QSize hint = rb->sizeHint();
      if (hint.width() > 65 || hint.height() > 17) return false;
    }
    return true;
  });
  for (QRadioButton* rb : MethodButtons()) rb->setFont(methods);
  for (QLabel* label : {Label1, Label4, Label2, Label3}) label->adjustSize();

  setTabOrder(EditWidth, EditHeight);
  setTabOrder(EditHeight, ButtonCancel);
  setTabOrder(ButtonCancel, ButtonApply);
  setTabOrder(ButtonApply, GroupBox1);
  QWidget* previous = ButtonApply;
  for (QRadioButton* rb : MethodButtons()) {
    setTabOrder(previous, rb);
    previous = rb;
  }

  EditWidth->installEventFilter(this);
  EditHeight->installEventFilter(this);
  const auto slot = [this](auto handler) { return GuardedSlot(this, dialogs_, handler); };
  for (QRadioButton* rb : MethodButtons())
    connect(rb, &QRadioButton::clicked, this, slot(&TForm2::RBNearestClick));
  connect(ButtonApply, &QPushButton::clicked, this, slot(&TForm2::ButtonApplyClick));
  connect(ButtonCancel, &QPushButton::clicked, this, slot(&TForm2::ButtonCancelClick));
}

QList<QRadioButton*> TForm2::MethodButtons() const {
  return {RBNearest, RBBilinear, RBBicubic, RBBSpline, RBHermite, RBMitchell, RBBell, RBLanczos, RBLagrange};
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) RunGuarded(dialogs_, this, [this] { FormShow(); });
}

void TForm2::FormShow() {
  // Centred by the client area, which is placed the same way at every
  // showing (the frame is known only once the dialog has been shown).
  if (const QScreen* screen = this->screen()) {
    QRect placed = geometry();
    placed.moveCenter(screen->availableGeometry().center());
    setGeometry(placed);
  }
  const TBitmap& picture = Form1->Engine().ModifiedBMP();
  LabelWidth->setText(QString::number(picture.Width()) + " Pixels");
  LabelWidth->adjustSize();
  LabelHeight->setText(QString::number(picture.Height()) + " Pixels");
  LabelHeight->adjustSize();
  LabelHeight->move(181 - LabelHeight->width(), 88);
  EditWidth->setText(QString::number(picture.Width()));
  EditHeight->setText(QString::number(picture.Height()));
  ratio_ = double(Extended(picture.Height()) / Extended(picture.Width()));
  // The checked button always names the method Apply will use: Bilinear
  // at the first showing, afterwards the one chosen last.
  MethodButtons()[resizeMode_]->setChecked(true);
  EditWidth->setFocus(Qt::OtherFocusReason);
  EditWidth->selectAll();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  const bool width = watched == EditWidth;
  if (!width && watched != EditHeight) return QDialog::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (!TypesCharacter(key)) return false;
    for (QChar c : key.text()) {
      width ? EditWidthKeyPress(c) : EditHeightKeyPress(c);
      if (c == QChar(0)) return true;  // discarded
    }
  } else if (event->type() == QEvent::FocusOut) {
    // Leaving the edit, not the window (switching windows, a context menu).
    const Qt::FocusReason reason = static_cast<const QFocusEvent&>(*event).reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      RunGuarded(dialogs_, this, [&] { width ? EditWidthExit() : EditHeightExit(); });
  }
  return false;
}

void TForm2::EditWidthKeyPress(QChar& key) {
  FilterSizeKey(key);
}
void TForm2::EditHeightKeyPress(QChar& key) {
  FilterSizeKey(key);
}

void TForm2::EditWidthExit() {
  const int w = StrToInt(EditWidth->text());
  EditHeight->setText(Rounded(Extended(w) * Extended(ratio_)));
}

void TForm2::EditHeightExit() {
  const int h = StrToInt(EditHeight->text());
  EditWidth->setText(Rounded(Extended(h) / Extended(ratio_)));
}

void TForm2::RBNearestClick() {
  const QList<QRadioButton*> buttons = MethodButtons();
  resizeMode_ = rmBilinear;
  for (int i = 0; i < buttons.size(); ++i) {
    if (buttons[i]->isChecked()) {
      resizeMode_ = TResizeMode(i);
      break;
    }
  }
}

void TForm2::ButtonApplyClick() {
  const int w = StrToInt(EditWidth->text());
  const int h = StrToInt(EditHeight->text());
  const TBitmap& current = Form1->Engine().ModifiedBMP();
  if (w == 0 || h == 0 || (w == current.Width() && h == current.Height())) {
    accept();
    return;
  }
  // Every resize starts again from the picture as loaded and turned; a
  // size that cannot be made changes nothing and is reported.
  Form1->ResizePicture(w, h, resizeMode_);
  accept();
}

void TForm2::ButtonCancelClick() {
  QDialog::reject();
}

void TForm2::reject() {
  RunGuarded(dialogs_, this, [this] { ButtonCancelClick(); });
}
