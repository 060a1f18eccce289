// The main window: the picture views on two tabs, the guide-line overlay,
// the panel of sliders and the two "Apply" buttons, and the File, Config
// and Edit menus.
//
// The window is thin: each handler reads its controls, calls one of the
// engine's operations, and shows the result. The working pictures, the
// settings last applied and the unsaved-changes flag live in a
// MiniatureEngine, which alone changes them; the resize dialog reaches it
// through Form1. Every handler runs inside one guard that turns an
// error into an error box, so the window stays usable; the busy cursor is
// a scope object and comes back on every path.
#pragma once

#include <QMainWindow>
#include <QPointF>
#include <QString>
#include <functional>
#include <optional>

#include "engine/miniature_engine.h"
#include "engine/preview.h"
#include "ui/dialogs.h"
#include "ui/live_preview.h"
#include "ui/viewport.h"
#include "ui/work_runner.h"

class QAction;
class QLabel;
class QMenu;
class QMimeData;
class QPushButton;
class QScrollBar;
class QSlider;
class QTabWidget;
class TCaptionLabel;
class TGuideOverlay;
class TImageView;
class TShape;
class TForm2;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(TDialogs& dialogs = DefaultDialogs(), QWidget* parent = nullptr);
  ~TForm1() override;

  // The working pictures, the tone settings last applied, the metadata and
  // the unsaved-changes flag, for reading (tests, the resize dialog). Every
  // change goes through one of the engine's operations.
  const MiniatureEngine& Engine() const { return engine_; }
  // The focus point, in pixels of the overlay Image2 with the picture
  // fitted (at every zoom).
  TPoint Point() const { return point_; }
  // The band's half-width in overlay pixels, as the guide lines show it.
  int GuideDepth() const { return guideDepth_; }
  // The file whose picture is shown ("" before the first read).
  const QString& CurrentFileName() const { return currentFileName_; }
  // The name the save dialog proposes.
  const QString& SaveFileName() const { return saveFileName_; }

  // The resize dialog's Apply: resamples the picture as loaded (and turned)
  // to width x height, tones it again with the recorded settings, and shows
  // it. Throws at once, changing nothing, for a size that cannot be made.
  void ResizePicture(int width, int height, TResizeMode mode);

  // Reads `fileName` as File > Open does (the picture named on the command
  // line).
  void OpenFile(const QString& fileName);

  // Long commands run here, off the user-interface thread.
  TWorkRunner& Work() { return *work_; }
  // Config > Live Preview.
  TLivePreview& LivePreview() { return *live_; }
  // What the two "Apply" buttons take from the controls now.
  Look CurrentLook() const;
  // Sets the sliders, the menus and the point from `look` (its point moved
  // from its view to the same place of the picture in the overlay).
  void SetLook(const Look& look);

  // What the views show and how large (View menu, the wheel, panning).
  const TViewport& Viewport() const { return viewport_; }

  // Handlers, named after their control and event.
  void TrackBarSaturationChange();
  void TrackBarContrastChange();
  void TrackBarBrightnessChange();
  void TrackBarAngleChange();
  void TrackBarDepthChange();
  void TrackBarBlurChange();
  void TrackBarBokehChange();
  void Label8Click();
  void Label5Click();
  void Label3Click();
  void Label7Click();
  void Label1Click();
  void Label2Click();
  void Label4Click();
  void BitBtnEffectsClick();
  void BitBtnBlurClick();
  void Image2MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  void MenuCLClick();
  void MenuCPClick();
  void MenuC1Click();
  void MenuC2Click();
  void MenuC3Click();
  void MenuCVClick();
  void MenuCOClick();  // Look: Classic or Lens
  void MenuCHClick();  // Shape: Band or Ellipse
  void MenuFDClick();  // Open Depth Map
  void MenuEPClick();  // Protect Brush
  void MenuECClick();  // Clear Protection
  void MenuEMClick();  // Clear Depth Map
  void MenuFXClick();
  void MenuFOClick();
  void MenuFSClick();
  void MenuFLClick();  // Save Look
  void MenuFAClick();  // Load Look
  void MenuVFClick();  // Fit
  void MenuVAClick();  // Actual Pixels
  void MenuVIClick();  // Zoom In
  void MenuVOClick();  // Zoom Out
  void MenuELClick();
  void MenuERClick();
  void MenuESClick();
  void MenuEUClick();
  void MenuEDClick();
  // One or more files dropped on the window.
  void WMDropFiles(const QMimeData& drop);

  // Controls, under their object names.
  QWidget* Panel1;
  TShape* Shape3;
  TShape* Shape2;
  TCaptionLabel* Label5;
  TCaptionLabel* Label3;
  TCaptionLabel* Label7;
  TCaptionLabel* Label1;
  TCaptionLabel* Label2;
  TCaptionLabel* Label4;
  QLabel* LabelSaturation;
  QLabel* LabelContrast;
  QLabel* LabelBrightness;
  QLabel* LabelAngle;
  QLabel* LabelDepth;
  QLabel* LabelBlur;
  QSlider* TrackBarSaturation;
  QSlider* TrackBarContrast;
  QSlider* TrackBarBrightness;
  QSlider* TrackBarAngle;
  QSlider* TrackBarDepth;
  QSlider* TrackBarBlur;
  TCaptionLabel* Label8;  // Bokeh, shown with the lens look
  QLabel* LabelBokeh;
  QSlider* TrackBarBokeh;
  QPushButton* BitBtnEffects;
  QPushButton* BitBtnBlur;
  QTabWidget* PageControl1;
  QWidget* TabSheetOriginal;
  QWidget* TabSheetModified;
  TImageView* Image1;
  TGuideOverlay* Image2;
  QLabel* PreviewMark;  // says that the Modified tab shows a preview
  TImageView* Image3;
  QMenu* MenuF;
  QMenu* MenuC;
  QMenu* MenuE;
  QAction* MenuFO;
  QAction* MenuFS;
  QAction* MenuFK;  // keep the camera data and location in saved files
  QAction* MenuFX;
  QAction* MenuC1;
  QAction* MenuC2;
  QAction* MenuC3;
  QAction* MenuCL;
  QAction* MenuCP;  // Live Preview
  QAction* MenuCV;
  QMenu* MenuCO;       // Look
  QAction* MenuCOC;    // Classic
  QAction* MenuCON;    // Lens
  QMenu* MenuCH;       // Shape
  QAction* MenuCHB;    // Band
  QAction* MenuCHE;    // Ellipse
  QAction* MenuFD;     // Open Depth Map...
  QAction* MenuFL;     // Save Look...
  QAction* MenuFA;     // Load Look...
  QAction* MenuEP;     // Protect Brush
  QAction* MenuEC;     // Clear Protection
  QAction* MenuEM;     // Clear Depth Map
  QLabel* LensStatus;  // where the depth map comes from, and the brush
  QAction* MenuEL;
  QAction* MenuER;
  QAction* MenuES;
  QMenu* MenuV;
  QAction* MenuVF;           // Fit
  QAction* MenuVA;           // Actual Pixels
  QAction* MenuVI;           // Zoom In
  QAction* MenuVO;           // Zoom Out
  QLabel* ZoomLabel;         // the zoom in percent, beside the tabs
  QScrollBar* ScrollH[2];    // on each tab, over the view's edges while the
  QScrollBar* ScrollV[2];    // picture is larger than the view
  QWidget* ScrollCorner[2];  // where both meet
  QAction* MenuEU;           // Undo
  QAction* MenuED;           // Redo
  // Shows what a long command does while it runs.
  QWidget* ProgressPanel;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  // False keeps the window open.
  bool FormClose();
  void BuildPanel();
  void BuildPages();
  void BuildMenus();
  void BuildProgressPanel();
  void BuildViewMenu();
  // The viewport to the views, the overlay, the scroll bars and the zoom's
  // caption.
  void ApplyViewport();
  // Panning (the middle button, or the left one with Space held) and
  // Ctrl+wheel zoom over the views; true when `event` was theirs.
  bool ViewEvent(QObject* watched, QEvent* event);
  // The zoomed view's part for the live preview.
  TLivePreview::TWindow PreviewWindow() const;
  void ReadFile(const QString& fileName);
  void PutLine();
  void ApplyMiniature();
  void RotateChain(bool plus);
  // Runs `command` on a copy of the engine off the user-interface thread;
  // when it completes, the copy becomes the engine and `after` runs. An
  // error goes to an error box and leaves the engine as it was. While it
  // runs, the views may show `firstView`'s picture (a reduced first look
  // at what the command makes), which nothing else uses. `applied`: the
  // settings whose result the command makes TargetBMP, when it does.
  void RunCommand(const QString& what, std::function<void(MiniatureEngine&)> command,
                  std::function<void()> after, std::function<TBitmap()> firstView = {},
                  std::optional<Look> applied = std::nullopt);
  // The engine was changed here rather than by a command (Undo, Redo, a
  // result the live preview had made): shows it everywhere. `applied` as
  // for RunCommand.
  void EngineReplaced(std::optional<Look> applied = std::nullopt);
  // Enables the commands that need the engine to be idle, and Undo and Redo.
  void UpdateCommands();
  // The focus point: set from the overlay's pixels, kept on the same spot
  // of the picture as the overlay changes size.
  void SetPoint(TPoint point);
  void AnchorPoint();
  void OverlayResized();
  // While the key is held the Modified tab shows the picture as read.
  void ShowBefore(bool before);
  void SetTitle();
  // Tells the user, in one box, what a read or a save could not keep.
  void ShowWarnings(const QString& heading, const std::vector<std::string>& warnings);
  BlurSlope SlopeChoice() const;
  // The lens look's controls: the bokeh row and the shape shown with it,
  // the status line, the brush's tint.
  void UpdateLensControls();
  void UpdateLensStatus();
  void UpdateTint();
  // The protect brush: a dab at `p` (overlay pixels) into the stroke's
  // mask, which becomes the engine's when the stroke ends.
  void PaintProtection(QPointF p, bool erase, bool first);
  void EndStroke();
  void ResizeBrush(double factor);
  // Overlay pixels to picture pixels (the picture fitted and centred).
  QPointF PicturePoint(QPointF p) const;
  // The panel's rows of sliders, built from the settings table.
  struct TSettingRow;
  static const TSettingRow kSettingRows[];
  void SettingChanged(int row);
  void ResetSetting(int row);
  void CheckSlopeItem(QAction* chosen);

  // Shows TargetBMP on the Modified tab (and OriginalBMP on the other).
  void ShowPictures();

  TDialogs& dialogs_;
  MiniatureEngine engine_;
  TWorkRunner* work_;
  TLivePreview* live_ = nullptr;
  TPoint point_;        // the focus point, in overlay pixels
  double anchorX_ = 0;  // the focus point's offset from the overlay's centre,
  double anchorY_ = 0;  // in pixels of the picture (of the overlay without one)
  QSize overlaySize_;   // the overlay's size the anchor was taken at
  int guideDepth_ = 0;  // the band's half-width in overlay pixels
  bool showingBefore_ = false;
  QString currentFileName_;
  QString saveFileName_;
  bool shown_ = false;
  double brushRadius_ = 24;                      // overlay pixels
  TBitmap stroke_{0, 0, pf8bit};                 // the protect mask while a stroke paints it
  QPointF strokeLast_;                           // where the stroke's last dab went (overlay pixels)
  QString depthName_;                            // the depth map's file, "" when none or the photo's
  double aspect_ = kAspectSetting.defaultValue;  // the ellipse's, from a loaded look
  QString lookFileName_;                         // the look last saved or loaded
  TViewport viewport_;
  bool spaceHeld_ = false;  // Space pans with the left button
  bool panning_ = false;
  QPointF panLast_;         // global position of the pan's last move
  int zoomWheel_ = 0;       // eighths of a degree not yet zoomed
  bool scrolling_ = false;  // the scroll bars are being set
};

// The one main window and the one resize dialog of the program.
extern TForm1* Form1;
extern TForm2* Form2;

// The text of the version box.
QString VersionText();
