#include "ui/form1.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <cmath>

#include "codecs/picture_io.h"
#include "engine/version.h"
#include "ui/form2.h"
#include "ui/guard.h"
#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui/live_preview.h"
#include "ui/pencil_glyph.h"
#include "ui/widgets.h"

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;

namespace {

const QString kCloseQuestion =
    QStringLiteral("Current picture not saved yet.\nDo you want to finish work anyway ?");

// The window's client area and the panel, in device-independent pixels.
constexpr int kClientWidth = 944;
constexpr int kClientHeight = 584;
constexpr int kPanelWidth = 176;
// The panel's two frames end 449 pixels down; the pages keep some width.
constexpr int kPanelMinimumHeight = 457;
constexpr int kPagesMinimumWidth = 240;
// Value labels keep their right edge here as their text grows to the left.
constexpr int kValueRight = 151;
constexpr int kValueWidth = 48;

// A slider for one setting, its range and steps from the settings table.
QSlider* MakeSlider(QWidget* parent, const char* name, int top, const TSetting& setting) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setObjectName(name);
  slider->setGeometry(12, top, 150, 25);
  slider->setRange(setting.minimum, setting.maximum);
  slider->setSingleStep(setting.lineStep);
  slider->setPageStep(setting.pageStep);
  slider->setTickInterval(setting.tickInterval);
  slider->setTickPosition(QSlider::TicksBelow);
  return slider;
}

TCaptionLabel* MakeCaption(QWidget* parent, const char* name, const QString& text, int top) {
  auto* label = new TCaptionLabel(text, parent);
  label->setObjectName(name);
  label->adjustSize();
  label->move(16, top);
  return label;
}

QLabel* MakeValueLabel(QWidget* parent, const char* name, int top) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setAlignment(Qt::AlignRight | Qt::AlignTop);
  label->setGeometry(kValueRight - kValueWidth, top, kValueWidth, label->fontMetrics().height());
  return label;
}

QPushButton* MakeApplyButton(QWidget* parent, const char* name, int top) {
  auto* button = new QPushButton(PencilIcon(), "Apply", parent);
  button->setObjectName(name);
  button->setGeometry(24, top, 121, 25);
  button->setIconSize({16, 16});
  return button;
}

}  // namespace

// The panel's rows: each whole-number setting of the look's table with the
// designed names of its caption, number label and slider, the handlers
// named after them, and where the row sits.
struct TForm1::TSettingRow {
  const char* setting;  // the name in the settings table
  const char* caption;
  const char* captionName;
  const char* valueName;
  const char* sliderName;
  int top;
  TCaptionLabel* TForm1::*captionLabel;
  QLabel* TForm1::*valueLabel;
  QSlider* TForm1::*slider;
  void (TForm1::*change)();
  void (TForm1::*reset)();

  const LookSetting& Entry() const;
};

const TForm1::TSettingRow TForm1::kSettingRows[] = {
    {"saturation", "Saturation", "Label5", "LabelSaturation", "TrackBarSaturation", 15, &TForm1::Label5,
     &TForm1::LabelSaturation, &TForm1::TrackBarSaturation, &TForm1::TrackBarSaturationChange,
     &TForm1::Label5Click},
    {"contrast", "Contrast", "Label3", "LabelContrast", "TrackBarContrast", 71, &TForm1::Label3,
     &TForm1::LabelContrast, &TForm1::TrackBarContrast, &TForm1::TrackBarContrastChange,
     &TForm1::Label3Click},
    {"brightness", "Brightness", "Label7", "LabelBrightness", "TrackBarBrightness", 127, &TForm1::Label7,
     &TForm1::LabelBrightness, &TForm1::TrackBarBrightness, &TForm1::TrackBarBrightnessChange,
     &TForm1::Label7Click},
    {"angle", "Angle", "Label1", "LabelAngle", "TrackBarAngle", 239, &TForm1::Label1, &TForm1::LabelAngle,
     &TForm1::TrackBarAngle, &TForm1::TrackBarAngleChange, &TForm1::Label1Click},
    {"depth", "Depth", "Label2", "LabelDepth", "TrackBarDepth", 295, &TForm1::Label2, &TForm1::LabelDepth,
     &TForm1::TrackBarDepth, &TForm1::TrackBarDepthChange, &TForm1::Label2Click},
    {"blur", "Blur", "Label4", "LabelBlur", "TrackBarBlur", 351, &TForm1::Label4, &TForm1::LabelBlur,
     &TForm1::TrackBarBlur, &TForm1::TrackBarBlurChange, &TForm1::Label4Click},
    // Shown with the lens look only; the Apply button moves down under it.
    {"bokeh", "Bokeh", "Label8", "LabelBokeh", "TrackBarBokeh", 407, &TForm1::Label8, &TForm1::LabelBokeh,
     &TForm1::TrackBarBokeh, &TForm1::TrackBarBokehChange, &TForm1::Label8Click},
};

const LookSetting& TForm1::TSettingRow::Entry() const {
  return *FindLookSetting(setting);
}

QString VersionText() {
  return QStringLiteral(
             "[Tessarin] Version %1\n"
             "Written by the Tessarin developers, December 2026\n"
             "\n"
             "Image routines (tone, rotation, blur, overlay, resampling)\n"
             "written for Tessarin by its own developers.")
      .arg(QString::fromLatin1(kTessarinVersion));
}

TForm1::TForm1(TDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs), work_(new TWorkRunner(this)) {
  FormCreate();
}

TForm1::~TForm1() {
  setAcceptDrops(false);
}

void TForm1::FormCreate() {
  setObjectName("Form1");
  setWindowTitle("Tessarin");
  // Captions sit 19 pixels above their sliders.
  setFont(FittedFont(font(), [](const QFont& f) { return QFontMetrics(f).height() <= 17; }));
  auto* client = new QWidget(this);
  client->setObjectName("Client");
  auto* layout = new QHBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(client);
  BuildPages();
  BuildPanel();
  layout->addWidget(PageControl1, 1);
  layout->addWidget(Panel1);
  BuildMenus();
  BuildViewMenu();
  BuildProgressPanel();
  LensStatus = new QLabel(this);
  LensStatus->setObjectName("LensStatus");
  statusBar()->addWidget(LensStatus, 1);
  statusBar()->hide();  // shown while it has something to say
  live_ = new TLivePreview(
      Image1, PreviewMark, [this] { return CurrentLook(); },
      [this]() -> const MiniatureEngine& { return engine_; }, [this] { return !work_->Busy(); }, this);
  // The window cannot be made so small that a control is cut off: the
  // panel keeps the height of its two frames, the pictures a usable width.
  Panel1->setMinimumHeight(kPanelMinimumHeight);
  PageControl1->setMinimumWidth(kPagesMinimumWidth);
  connect(Image2, &TGuideOverlay::Resized, this, [this] { OverlayResized(); });
  // Watched wherever they happen: the resizes of the tabs' page stack (a
  // hidden page's views must follow too, and the overlay the band is placed
  // in with them), and the key that shows the picture as read.
  qApp->installEventFilter(this);
  setTabOrder(PageControl1, TrackBarSaturation);
  setTabOrder(TrackBarSaturation, TrackBarContrast);
  setTabOrder(TrackBarContrast, TrackBarBrightness);
  setTabOrder(TrackBarBrightness, BitBtnEffects);
  setTabOrder(BitBtnEffects, TrackBarAngle);
  setTabOrder(TrackBarAngle, TrackBarDepth);
  setTabOrder(TrackBarDepth, TrackBarBlur);
  setTabOrder(TrackBarBlur, BitBtnBlur);
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  // The picture chain starts empty (0 x 0, 24-bit; the mask 8-bit).
  setAcceptDrops(true);
}

void TForm1::BuildPages() {
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  PageControl1->setTabPosition(QTabWidget::South);
  const auto makePage = [this](const char* name) {
    auto* page = new TFillPage(PageControl1);
    page->setObjectName(name);
    page->setBackgroundRole(QPalette::Button);
    page->setAutoFillBackground(true);
    return page;
  };
  TabSheetOriginal = makePage("TabSheetOriginal");
  Image3 = new TImageView(TabSheetOriginal);
  Image3->setObjectName("Image3");
  TabSheetModified = makePage("TabSheetModified");
  Image1 = new TImageView(TabSheetModified);
  Image1->setObjectName("Image1");
  Image2 = new TGuideOverlay(TabSheetModified);  // above Image1
  Image2->setObjectName("Image2");
  PageControl1->addTab(TabSheetOriginal, "Original");
  PageControl1->addTab(TabSheetModified, "Modified");
  PageControl1->setCurrentWidget(TabSheetModified);
  // Says what the view shows while the live preview is on; the mouse goes
  // through it to the overlay.
  PreviewMark = new QLabel(TabSheetModified);
  PreviewMark->setObjectName("PreviewMark");
  PreviewMark->setAttribute(Qt::WA_TransparentForMouseEvents);
  PreviewMark->setStyleSheet(
      "QLabel { background: rgba(0, 0, 0, 160); color: white; padding: 3px 6px; border-radius: 3px; }");
  PreviewMark->move(8, 8);
  PreviewMark->hide();
  connect(Image2, &TGuideOverlay::MouseUp, this, GuardedSlot(this, dialogs_, &TForm1::Image2MouseUp));
  // Dragging on the view: the focus point, a side line (the depth), the
  // handle or the wheel (the angle). The sliders follow, within their ranges.
  connect(Image2, &TGuideOverlay::PointDragged, this, [this](int x, int y) {
    RunGuarded(dialogs_, this, [&] { SetPoint({x, y}); });
  });
  connect(Image2, &TGuideOverlay::DepthDragged, this, [this](double halfWidth) {
    TrackBarDepth->setValue(DepthSettingFor(halfWidth, Image2->width(), Image2->height()));
  });
  connect(Image2, &TGuideOverlay::AngleDragged, this, [this](int angle) { TrackBarAngle->setValue(angle); });
  connect(Image2, &TGuideOverlay::Painted, this, [this](QPointF p, bool erase, bool first) {
    RunGuarded(dialogs_, this, [&] { PaintProtection(p, erase, first); });
  });
  connect(Image2, &TGuideOverlay::Stroked, this,
          [this] { RunGuarded(dialogs_, this, [&] { EndStroke(); }); });
  connect(Image2, &TGuideOverlay::Turned, this,
          [this](int notches) { TrackBarAngle->setValue(TrackBarAngle->value() + notches); });
}

void TForm1::BuildPanel() {
  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedWidth(kPanelWidth);
  const QColor red(255, 0, 0);
  Shape3 = new TShape(red, Panel1);
  Shape3->setObjectName("Shape3");
  Shape3->setGeometry(7, 8, 161, 217);
  Shape2 = new TShape(red, Panel1);
  Shape2->setObjectName("Shape2");
  Shape2->setGeometry(7, 231, 161, 218);

  // A caption, its number label on the same line, the slider 19 pixels below.
  const auto slot = [this](auto handler) { return GuardedSlot(this, dialogs_, handler); };
  for (const TSettingRow& row : kSettingRows) {
    this->*row.captionLabel = MakeCaption(Panel1, row.captionName, row.caption, row.top);
    this->*row.valueLabel = MakeValueLabel(Panel1, row.valueName, row.top);
    this->*row.slider = MakeSlider(Panel1, row.sliderName, row.top + 19, *row.Entry().range);
    connect(this->*row.slider, &QSlider::valueChanged, this, slot(row.change));
    connect(this->*row.captionLabel, &TCaptionLabel::clicked, this, slot(row.reset));
  }
  BitBtnEffects = MakeApplyButton(Panel1, "BitBtnEffects", 184);
  BitBtnBlur = MakeApplyButton(Panel1, "BitBtnBlur", 408);

  connect(BitBtnEffects, &QPushButton::clicked, this, slot(&TForm1::BitBtnEffectsClick));
  connect(BitBtnBlur, &QPushButton::clicked, this, slot(&TForm1::BitBtnBlurClick));
}

void TForm1::BuildMenus() {
  const auto slot = [this](auto handler) { return GuardedSlot(this, dialogs_, handler); };
  MenuF = menuBar()->addMenu("File (&F)");
  MenuF->setObjectName("MenuF");
  MenuFO = MakeAction(MenuF, "MenuFO", "Open (&O)");
  MenuFS = MakeAction(MenuF, "MenuFS", "Save (&S)");
  // Lasts until the program ends; unchecked, a saved file carries no EXIF,
  // XMP or IPTC (its colour profile stays).
  MenuFK = MakeAction(MenuF, "MenuFK", "Keep camera data and location (&K)", true, true);
  MenuFL = MakeAction(MenuF, "MenuFL", "Save Look... (&L)");
  MenuFA = MakeAction(MenuF, "MenuFA", "Load Look... (&A)");
  MenuFD = MakeAction(MenuF, "MenuFD", "Open Depth Map... (&D)");
  MenuF->addSeparator()->setObjectName("N1");
  MenuFX = MakeAction(MenuF, "MenuFX", "Exit (&X)");
  MenuFO->setShortcut(QKeySequence::Open);
  MenuFS->setShortcut(QKeySequence::Save);
  MenuFX->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

  MenuC = menuBar()->addMenu("Config (&C)");
  MenuC->setObjectName("MenuC");
  MenuC1 = MakeAction(MenuC, "MenuC1", "Blur Slope Narrow (&1)", true, false);
  MenuC2 = MakeAction(MenuC, "MenuC2", "Blur Slope Medium (&2)", true, true);
  MenuC3 = MakeAction(MenuC, "MenuC3", "Blur Slope Wide (&3)", true, false);
  MenuC->addSeparator()->setObjectName("N4");
  MenuCL = MakeAction(MenuC, "MenuCL", "Show Guide Lines (&L)", true, true);
  // Off at every start: the window then behaves as it always has.
  MenuCP = MakeAction(MenuC, "MenuCP", "Live Preview (&P)", true, false);
  // The lens look: off at every start, so the window makes what it always has.
  MenuC->addSeparator()->setObjectName("N6");
  MenuCO = MenuC->addMenu("Look (&O)");
  MenuCO->setObjectName("MenuCO");
  MenuCOC = MakeAction(MenuCO, "MenuCOC", "Classic (&C)", true, true);
  MenuCON = MakeAction(MenuCO, "MenuCON", "Lens (&N)", true, false);
  MenuCH = MenuC->addMenu("Shape (&H)");
  MenuCH->setObjectName("MenuCH");
  MenuCHB = MakeAction(MenuCH, "MenuCHB", "Band (&B)", true, true);
  MenuCHE = MakeAction(MenuCH, "MenuCHE", "Ellipse (&E)", true, false);
  auto* looks = new QActionGroup(this);
  looks->addAction(MenuCOC);
  looks->addAction(MenuCON);
  auto* shapes = new QActionGroup(this);
  shapes->addAction(MenuCHB);
  shapes->addAction(MenuCHE);
  MenuC->addSeparator()->setObjectName("N3");
  MenuCV = MakeAction(MenuC, "MenuCV", "Version (&V)");

  MenuE = menuBar()->addMenu("Edit (&E)");
  MenuE->setObjectName("MenuE");
  MenuEU = MakeAction(MenuE, "MenuEU", "Undo (&U)");
  MenuED = MakeAction(MenuE, "MenuED", "Redo (&D)");
  MenuEU->setShortcut(QKeySequence::Undo);
  MenuED->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  MenuE->addSeparator()->setObjectName("N5");
  MenuEL = MakeAction(MenuE, "MenuEL", "Rotate left (&L)");
  MenuER = MakeAction(MenuE, "MenuER", "Rotate Right (&R)");
  MenuE->addSeparator()->setObjectName("N2");
  MenuES = MakeAction(MenuE, "MenuES", "Resize (&S)");
  MenuE->addSeparator()->setObjectName("N7");
  MenuEP = MakeAction(MenuE, "MenuEP", "Protect Brush (&P)", true, false);
  MenuEP->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
  MenuEC = MakeAction(MenuE, "MenuEC", "Clear Protection (&C)");
  MenuEM = MakeAction(MenuE, "MenuEM", "Clear Depth Map (&M)");

  connect(MenuFO, &QAction::triggered, this, slot(&TForm1::MenuFOClick));
  connect(MenuFS, &QAction::triggered, this, slot(&TForm1::MenuFSClick));
  connect(MenuFX, &QAction::triggered, this, slot(&TForm1::MenuFXClick));
  connect(MenuC1, &QAction::triggered, this, slot(&TForm1::MenuC1Click));
  connect(MenuC2, &QAction::triggered, this, slot(&TForm1::MenuC2Click));
  connect(MenuC3, &QAction::triggered, this, slot(&TForm1::MenuC3Click));
  connect(MenuCL, &QAction::triggered, this, slot(&TForm1::MenuCLClick));
  connect(MenuCP, &QAction::triggered, this, slot(&TForm1::MenuCPClick));
  connect(MenuCV, &QAction::triggered, this, slot(&TForm1::MenuCVClick));
  connect(MenuEL, &QAction::triggered, this, slot(&TForm1::MenuELClick));
  connect(MenuER, &QAction::triggered, this, slot(&TForm1::MenuERClick));
  connect(MenuES, &QAction::triggered, this, slot(&TForm1::MenuESClick));
  connect(MenuEU, &QAction::triggered, this, slot(&TForm1::MenuEUClick));
  connect(MenuED, &QAction::triggered, this, slot(&TForm1::MenuEDClick));
  connect(MenuCOC, &QAction::triggered, this, slot(&TForm1::MenuCOClick));
  connect(MenuCON, &QAction::triggered, this, slot(&TForm1::MenuCOClick));
  connect(MenuCHB, &QAction::triggered, this, slot(&TForm1::MenuCHClick));
  connect(MenuCHE, &QAction::triggered, this, slot(&TForm1::MenuCHClick));
  connect(MenuFD, &QAction::triggered, this, slot(&TForm1::MenuFDClick));
  connect(MenuFL, &QAction::triggered, this, slot(&TForm1::MenuFLClick));
  connect(MenuFA, &QAction::triggered, this, slot(&TForm1::MenuFAClick));
  connect(MenuEP, &QAction::triggered, this, slot(&TForm1::MenuEPClick));
  connect(MenuEC, &QAction::triggered, this, slot(&TForm1::MenuECClick));
  connect(MenuEM, &QAction::triggered, this, slot(&TForm1::MenuEMClick));
  UpdateCommands();
}

void TForm1::BuildProgressPanel() {
  ProgressPanel = new QFrame(this);
  ProgressPanel->setObjectName("ProgressPanel");
  static_cast<QFrame*>(ProgressPanel)->setFrameShape(QFrame::StyledPanel);
  ProgressPanel->setAutoFillBackground(true);
  auto* layout = new QHBoxLayout(ProgressPanel);
  auto* label = new QLabel(ProgressPanel);
  label->setObjectName("ProgressLabel");
  auto* bar = new QProgressBar(ProgressPanel);
  bar->setRange(0, 0);  // going on, without a known end
  bar->setFixedWidth(120);
  layout->addWidget(label);
  layout->addWidget(bar);
  ProgressPanel->hide();
  // Shown only for work that takes more than half a second.
  auto* delay = new QTimer(this);
  delay->setSingleShot(true);
  delay->setInterval(500);
  connect(work_, &TWorkRunner::Started, this, [this, label, delay](const QString& what) {
    label->setText(what + " ...");
    delay->start();
  });
  connect(delay, &QTimer::timeout, this, [this] {
    if (!work_->Busy()) return;
    ProgressPanel->adjustSize();
    ProgressPanel->move(PageControl1->x() + 8,
                        PageControl1->geometry().bottom() - ProgressPanel->height() - 32);
    ProgressPanel->raise();
    ProgressPanel->show();
  });
  connect(work_, &TWorkRunner::Finished, this, [this, delay] {
    delay->stop();
    ProgressPanel->hide();
  });
}

// ---- The window's own events ----

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  RunGuarded(dialogs_, this, [this] { FormShow(); });
}

void TForm1::FormShow() {
  if (const QScreen* screen = this->screen()) {
    QRect placed = geometry();
    placed.moveCenter(screen->availableGeometry().center());
    setGeometry(placed);
  }
  PageControl1->setCurrentWidget(TabSheetModified);
  const QColor shadow = palette().color(QPalette::Dark);
  Image1->FillClient(shadow);
  Image2->setVisible(MenuCL->isChecked());
  Image3->FillClient(shadow, Image1->size());
  SetPoint({Image2->width() / 2, Image2->height() / 2});
  for (const TSettingRow& row : kSettingRows) (this->*row.slider)->setValue(row.Entry().range->defaultValue);
  for (const TSettingRow& row : kSettingRows) (this->*row.valueLabel)->setNum((this->*row.slider)->value());
  UpdateLensControls();
  live_->Update();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Work under way ends first, so that a save in progress completes its file.
  work_->Wait();
  bool close = true;
  RunGuarded(dialogs_, this, [&] { close = FormClose(); });
  if (close) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool TForm1::FormClose() {
  return !engine_.Modified() || dialogs_.AskYesNo(this, kCloseQuestion);
}

void TForm1::MenuCVClick() {
  dialogs_.ShowInformation(this, VersionText());
}

void TForm1::MenuFXClick() {
  close();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (ProgressPanel->isVisible())
    ProgressPanel->move(PageControl1->x() + 8,
                        PageControl1->geometry().bottom() - ProgressPanel->height() - 32);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (ViewEvent(watched, event)) return true;
  if (event->type() == QEvent::Resize && watched->parent() == PageControl1 &&
      qobject_cast<QStackedWidget*>(watched)) {
    // A hidden page gets its resize event only when shown: its views are
    // given their size here, and the guide lines follow at once.
    const QRect area = static_cast<QWidget*>(watched)->contentsRect();
    for (QWidget* page : {TabSheetOriginal, TabSheetModified}) {
      page->setGeometry(area);
      for (QWidget* view : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (dynamic_cast<TImageView*>(view) != nullptr || dynamic_cast<TGuideOverlay*>(view) != nullptr)
          view->setGeometry(QRect(QPoint(0, 0), area.size()));
    }
    OverlayResized();
  } else if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    if ((key->key() == Qt::Key_BracketLeft || key->key() == Qt::Key_BracketRight) && Image2->Brush() &&
        isActiveWindow() && QApplication::activeModalWidget() == nullptr) {
      if (event->type() == QEvent::KeyPress) ResizeBrush(key->key() == Qt::Key_BracketRight ? 1.25 : 0.8);
      return true;
    }
    if (key->key() == Qt::Key_Backslash && !key->isAutoRepeat() && isActiveWindow() &&
        QApplication::activeModalWidget() == nullptr) {
      ShowBefore(event->type() == QEvent::KeyPress);
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::ShowBefore(bool before) {
  if (before == showingBefore_) return;
  if (before && (PageControl1->currentWidget() != TabSheetModified || !engine_.PictureLoaded())) return;
  showingBefore_ = before;
  if (before) live_->SetSuspended(true);
  Image1->SetPicture(before ? engine_.OriginalBMP() : engine_.TargetBMP(), Image3);
  if (!before) live_->SetSuspended(false);
}

// ---- Sliders and their captions ----

// A slider moved: the band's settings redraw the guide lines first (which
// update the preview), the others the preview; then the number follows.
void TForm1::SettingChanged(int row) {
  const TSettingRow& r = kSettingRows[row];
  if (r.Entry().group == SettingGroup::Band) {
    PutLine();
  } else {
    live_->Update();
  }
  (this->*r.valueLabel)->setNum((this->*r.slider)->value());
}

// A caption clicked: its slider back to the default.
void TForm1::ResetSetting(int row) {
  const TSettingRow& r = kSettingRows[row];
  (this->*r.slider)->setValue(r.Entry().range->defaultValue);
}

void TForm1::TrackBarSaturationChange() {
  SettingChanged(0);
}
void TForm1::TrackBarContrastChange() {
  SettingChanged(1);
}
void TForm1::TrackBarBrightnessChange() {
  SettingChanged(2);
}
void TForm1::TrackBarAngleChange() {
  SettingChanged(3);
}
void TForm1::TrackBarDepthChange() {
  SettingChanged(4);
}
void TForm1::TrackBarBlurChange() {
  SettingChanged(5);
}
void TForm1::Label5Click() {
  ResetSetting(0);
}
void TForm1::Label3Click() {
  ResetSetting(1);
}
void TForm1::Label7Click() {
  ResetSetting(2);
}
void TForm1::Label1Click() {
  ResetSetting(3);
}
void TForm1::Label2Click() {
  ResetSetting(4);
}
void TForm1::Label4Click() {
  ResetSetting(5);
}
void TForm1::TrackBarBokehChange() {
  SettingChanged(6);
}
void TForm1::Label8Click() {
  ResetSetting(6);
}

// ---- The blur slope ----

BlurSlope TForm1::SlopeChoice() const {
  if (MenuC1->isChecked()) return BlurSlope::Narrow;
  if (MenuC2->isChecked()) return BlurSlope::Medium;
  if (MenuC3->isChecked()) return BlurSlope::Wide;
  return BlurSlope::Medium;
}

// Checkable menu items have their check mark toggled by Qt before the
// handler runs; the slope items then put it on themselves alone.
void TForm1::CheckSlopeItem(QAction* chosen) {
  for (QAction* item : {MenuC1, MenuC2, MenuC3}) item->setChecked(item == chosen);
  live_->Update();
}

void TForm1::MenuC1Click() {
  CheckSlopeItem(MenuC1);
}
void TForm1::MenuC2Click() {
  CheckSlopeItem(MenuC2);
}
void TForm1::MenuC3Click() {
  CheckSlopeItem(MenuC3);
}

// ---- The lens look's controls ----

void TForm1::UpdateLensControls() {
  const bool lens = MenuCON->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{Label8, LabelBokeh, TrackBarBokeh}) w->setVisible(lens);
  MenuCH->setEnabled(lens);
  constexpr int kBokehRow = 56;
  Shape2->setGeometry(7, 231, 161, 218 + (lens ? kBokehRow : 0));
  BitBtnBlur->move(24, 408 + (lens ? kBokehRow : 0));
  Panel1->setMinimumHeight(kPanelMinimumHeight + (lens ? kBokehRow : 0));
}

// ---- Guide lines ----

void TForm1::PutLine() {
  Image2->SetEllipse(MenuCON->isChecked() && MenuCHE->isChecked() ? aspect_ : 0);
  const GuideLines lines =
      ::PutLine(point_, Image2->width(), Image2->height(), TrackBarAngle->value(), TrackBarDepth->value());
  guideDepth_ = lines.depth;
  Image2->SetLines(lines, point_, TrackBarAngle->value());
  // The band has moved: so has the preview.
  live_->Update();
}

void TForm1::Image2MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
  SetPoint({x, y});
}

// The anchor: the point's offset from the overlay's centre divided by the
// view pixels per picture pixel, as the mask maps it (without a picture,
// per pixel of the overlay's smaller side).
namespace {

double ViewPerPicture(QSize view, const TBitmap& picture) {
  if (view.isEmpty()) return 0;
  if (picture.Width() == 0 || picture.Height() == 0) return std::min(view.width(), view.height());
  return FitRatio(view.width(), view.height(), picture.Width(), picture.Height());
}

}  // namespace

void TForm1::SetPoint(TPoint point) {
  point_ = point;
  AnchorPoint();
  PutLine();
}

void TForm1::AnchorPoint() {
  overlaySize_ = Image2->size();
  const double ratio = ViewPerPicture(overlaySize_, engine_.ModifiedBMP());
  if (ratio == 0) return;
  anchorX_ = (point_.X - overlaySize_.width() / 2.0) / ratio;
  anchorY_ = (point_.Y - overlaySize_.height() / 2.0) / ratio;
}

void TForm1::OverlayResized() {
  if (!shown_) return;
  ApplyViewport();
  const QSize size = Image2->size();
  const double ratio = ViewPerPicture(size, engine_.ModifiedBMP());
  if (ratio != 0 && !overlaySize_.isEmpty()) {
    point_ = {int(std::lround(size.width() / 2.0 + anchorX_ * ratio)),
              int(std::lround(size.height() / 2.0 + anchorY_ * ratio))};
  }
  PutLine();
}

void TForm1::SetLook(const Look& look) {
  // The window always tones: a look without its tone step has none to make.
  for (const TSettingRow& row : kSettingRows) {
    const int value = look.*row.Entry().whole;
    const bool tone = row.Entry().group == SettingGroup::Tone;
    (this->*row.slider)->setValue(tone && !look.tone ? 0 : value);
  }
  CheckSlopeItem(look.slope == BlurSlope::Narrow ? MenuC1 : look.slope == BlurSlope::Wide ? MenuC3 : MenuC2);
  (look.type == LookType::Lens ? MenuCON : MenuCOC)->setChecked(true);
  (look.shape == LensShape::Ellipse ? MenuCHE : MenuCHB)->setChecked(true);
  aspect_ = look.aspect;
  // The point: from the look's view to the picture, then into the overlay,
  // as the overlay keeps it when its size changes.
  const TBitmap& picture = engine_.ModifiedBMP();
  const int w = picture.Width() > 0 ? picture.Width() : Image2->width();
  const int h = picture.Height() > 0 ? picture.Height() : Image2->height();
  const TViewSize view = look.ViewFor(w, h);
  const TPoint p = look.PointFor(w, h);
  TPoint at = p;
  const double from = ViewPerPicture(QSize(view.width, view.height), picture);
  const double to = ViewPerPicture(Image2->size(), picture);
  if ((view.width != Image2->width() || view.height != Image2->height()) && from != 0 && to != 0)
    at = {int(std::lround((p.X - view.width / 2.0) / from * to + Image2->width() / 2.0)),
          int(std::lround((p.Y - view.height / 2.0) / from * to + Image2->height() / 2.0))};
  UpdateLensControls();
  UpdateLensStatus();
  SetPoint(at);
}

void TForm1::MenuCLClick() {
  Image2->setVisible(MenuCL->isChecked());
}

void TForm1::MenuCPClick() {
  live_->SetEnabled(MenuCP->isChecked());
}

Look TForm1::CurrentLook() const {
  Look look;
  for (const TSettingRow& row : kSettingRows) look.*row.Entry().whole = (this->*row.slider)->value();
  look.slope = SlopeChoice();
  look.type = MenuCON->isChecked() ? LookType::Lens : LookType::Classic;
  look.shape = MenuCHE->isChecked() ? LensShape::Ellipse : LensShape::Band;
  look.aspect = aspect_;
  look.point = point_;
  look.view = {Image2->width(), Image2->height()};
  return look;
}
