// Frame times of the main window with a 6000 x 4000 picture (the sample
// photo resampled to that size) loaded: a repaint of the picture view, a
// window resize (the view makes a new scaled copy) and a guide-line redraw
// (angle slider moved). Each is timed from the change to the end of the
// synchronous repaint, median and worst of many, beside what scaling the
// full picture at every paint would cost. Then the commands on the same
// picture, each from the click to its result shown (they run off the
// user-interface thread), beside djpeg's decode of the same JPEG file;
// opening the JPEG is timed to its reduced first view and to the full
// picture. Zoom steps and panning at 100 % are timed the same way.
//
// Run it on a display, or offscreen:
//   xvfb-run -a bench/bench_window [photo]
//   QT_QPA_PLATFORM=offscreen bench/bench_window [photo]
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "codecs/picture_io.h"
#include "imaging/resample.h"
#include "ui/form1.h"
#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui/live_preview.h"

namespace {

class TBenchDialogs : public TDialogs {
 public:
  QString open;
  bool AskYesNo(QWidget*, const QString&) override { return true; }
  void ShowError(QWidget*, const QString& text) override {
    std::fprintf(stderr, "error: %s\n", qPrintable(text));
  }
  void ShowInformation(QWidget*, const QString&) override {}
  QString OpenPicture(QWidget*, const QString&) override { return open; }
  QString SavePicture(QWidget*, const QString&) override { return save; }
  QString save;
};

struct Times {
  double median, p90, worst;
};

Times Measure(int runs, const std::function<void(int)>& frame) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer timer;
    timer.start();
    frame(i);
    ms.push_back(timer.nsecsElapsed() / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back()};
}

// Runs a command and waits, asleep in the event loop as the window is,
// until its result is shown. Returns the time to the first picture the
// view shows of it (a reduced first view of a large JPEG) and to the end.
struct TShown {
  double first, full;
};
TShown CommandShown(TForm1& form, const std::function<void()>& start) {
  QElapsedTimer timer;
  double first = -1;
  const QMetaObject::Connection shown = QObject::connect(&form.Work(), &TWorkRunner::InterimShown, [&] {
    form.Image1->repaint();
    first = timer.nsecsElapsed() / 1e6;
  });
  timer.start();
  start();
  while (form.Work().Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  form.Image1->repaint();
  const double full = timer.nsecsElapsed() / 1e6;
  QObject::disconnect(shown);
  return {first < 0 ? full : first, full};
}

double Command(TForm1& form, const std::function<void()>& start) {
  return CommandShown(form, start).full;
}

double MedianOf(int runs, const std::function<double()>& run) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) ms.push_back(run());
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void Print(const char* what, Times t) {
  std::printf("| %-45s | %8.2f | %8.2f | %8.2f |\n", what, t.median, t.p90, t.worst);
}

// The live preview on the loaded picture: a step of each slider in turn
// with the preview on, from the change to the repainted view; the exact
// result after the last change; and the lower Apply with the preview off.
void PreviewLines(TForm1& form) {
  // The tone settings applied first, so that the lower Apply makes what the preview shows.
  Command(form, [&] { form.BitBtnEffects->click(); });
  form.MenuCP->trigger();
  QSlider* sliders[] = {form.TrackBarSaturation, form.TrackBarContrast, form.TrackBarBrightness,
                        form.TrackBarAngle,      form.TrackBarDepth,    form.TrackBarBlur};
  const Times frame = Measure(120, [&](int i) {
    QSlider* s = sliders[i % 6];
    s->setValue(s->value() + ((i / 6) % 2 ? -1 : 1));  // back and forth: the tone stays applied
    form.Image1->repaint();
  });
  std::printf("preview frame: median %.1f ms, p90 %.1f ms (device pixel ratio %.0f, frame %d x %d)\n",
              frame.median, frame.p90, form.devicePixelRatioF(), form.Image1->Preview().width(),
              form.Image1->Preview().height());
  const double exact = MedianOf(5, [&] {
    QElapsedTimer timer;
    timer.start();
    form.TrackBarAngle->setValue(form.TrackBarAngle->value() == 5 ? -5 : 5);
    // Sleeping in the event loop as the window does, not spinning.
    while (form.LivePreview().State() != TLivePreview::TState::Exact)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    form.Image1->repaint();
    return timer.nsecsElapsed() / 1e6;
  });
  std::printf("exact after release: median %.0f ms\n", exact);
  form.MenuCP->trigger();
  const double apply = MedianOf(5, [&] { return Command(form, [&] { form.BitBtnBlur->click(); }); });
  std::printf("apply: median %.0f ms (exact after release / apply = %.2f)\n", apply, exact / apply);

  // The same with the lens look (Blur 7).
  form.MenuCON->trigger();
  form.MenuCP->trigger();
  const Times lensFrame = Measure(120, [&](int i) {
    QSlider* s = sliders[i % 6];
    s->setValue(s->value() + ((i / 6) % 2 ? -1 : 1));
    form.Image1->repaint();
  });
  std::printf("lens preview frame: median %.1f ms, p90 %.1f ms\n", lensFrame.median, lensFrame.p90);
  form.MenuCP->trigger();
  const double lensApply = MedianOf(5, [&] { return Command(form, [&] { form.BitBtnBlur->click(); }); });
  std::printf("lens apply: median %.0f ms (blur %d)\n", lensApply, form.TrackBarBlur->value());
  form.MenuCOC->trigger();
}

// Zoom steps (View > Zoom In and Out, from Fit to 800 % and back) and
// panning at 100 % (the middle button dragged), each from the change to
// the repainted page with its guide lines.
void ZoomLines(TForm1& form) {
  QWidget* page = form.PageControl1->currentWidget();
  int step = 0;
  const Times zoom = Measure(120, [&](int) {
    // 14 steps in from Fit to 800 % (and one more that stays), then out.
    (step++ % 30 < 15 ? form.MenuVI : form.MenuVO)->trigger();
    page->repaint();
  });
  std::printf("zoom frame: median %.1f ms, p90 %.1f ms\n", zoom.median, zoom.p90);
  form.MenuVA->trigger();
  const QPointF start(form.Image2->width() / 2.0, form.Image2->height() / 2.0);
  QTest::mousePress(form.Image2, Qt::MiddleButton, {}, start.toPoint());
  const Times pan = Measure(240, [&](int i) {
    // Back and forth, 15 pixels a frame.
    const int k = i % 40;
    const QPointF at = start + QPointF(15, 9) * (k < 20 ? k : 40 - k);
    QMouseEvent move(QEvent::MouseMove, at, form.Image2->mapToGlobal(at), Qt::NoButton, Qt::MiddleButton, {});
    QApplication::sendEvent(form.Image2, &move);
    page->repaint();
  });
  QTest::mouseRelease(form.Image2, Qt::MiddleButton, {}, start.toPoint());
  std::printf("pan frame: median %.1f ms, p90 %.1f ms\n", pan.median, pan.p90);
  const Times redraw = Measure(60, [&](int i) {
    form.TrackBarAngle->setValue(i % 2 ? 10 : -25);
    page->repaint();
  });
  std::printf("guide-line redraw at 100 %%: median %.1f ms, p90 %.1f ms\n", redraw.median, redraw.p90);
  form.MenuVF->trigger();
}

}  // namespace

int main(int argc, char** argv) {
  // Without a display the window is drawn offscreen.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  const std::string photo =
      argc > 1 ? argv[1] : std::string(TESSARIN_SOURCE_DIR) + "/samples/evening-glow.jpg";
  TBitmap picture;
  std::string error;
  if (!ReadPicture(photo, picture, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  BmpResize(picture, 6000, 4000, rmBicubic);
  const QString path = QDir::temp().filePath("tessarin-bench-window.bmp");
  if (!WritePicture(QFile::encodeName(path).toStdString(), picture, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  TBenchDialogs dialogs;
  TForm1 form(dialogs);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  dialogs.open = path;
  const double loadMs = Command(form, [&] { form.MenuFO->trigger(); });
  QFile::remove(path);
  if (form.Engine().TargetBMP().Width() != 6000) return 1;

  std::printf("Platform %s, picture 6000 x 4000, view %d x %d, device pixel ratio %.2f\n",
              qPrintable(QGuiApplication::platformName()), form.Image1->width(), form.Image1->height(),
              form.devicePixelRatioF());
  ZoomLines(form);
  PreviewLines(form);
  if (qEnvironmentVariableIsSet("TESSARIN_BENCH_PREVIEW_ONLY")) return 0;
  {
    // The same at twice the scale: the frames have four times the pixels.
    QProcess twice;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "2");
    env.insert("TESSARIN_BENCH_PREVIEW_ONLY", "1");
    twice.setProcessEnvironment(env);
    twice.setProcessChannelMode(QProcess::ForwardedChannels);
    std::fflush(stdout);
    twice.start(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
    twice.waitForFinished(-1);
  }
  std::printf("| %-45s | %8s | %8s | %8s |\n|---|---:|---:|---:|\n", "frame (ms)", "median", "90%", "worst");
  const int runs = 60;
  Print("repaint of the picture view and guide lines", Measure(runs, [&](int) { form.Image1->repaint(); }));
  const QSize size = form.size();
  Print("window resize (new scaled copy) and repaint", Measure(runs, [&](int i) {
          form.resize(size.width() + (i % 2 ? 0 : 37), size.height() + (i % 2 ? 0 : 23));
          QApplication::sendPostedEvents();
          form.repaint();
        }));
  form.resize(size);
  Print("guide-line redraw (angle slider) and repaint", Measure(runs, [&](int i) {
          form.TrackBarAngle->setValue(i % 2 ? 10 : -25);
          form.Image2->repaint();
        }));
  // For comparison: one smooth scaling of the full picture, what a view
  // without its pyramid would do whenever its size changed.
  const QImage& full = form.Image1->Picture();
  Print("for comparison: scaling the full picture once", Measure(5, [&](int) {
          volatile int keep =
              full.scaled(form.Image1->PictureRect().size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .width();
          (void)keep;
        }));
  std::printf("Opening the BMP file (read, chain, both views' pyramids): %.0f ms\n", loadMs);

  // The commands on 24 megapixels, beside djpeg's decode of the same JPEG.
  const QString jpeg = QDir::temp().filePath("tessarin-bench-window.jpg");
  if (!WritePicture(QFile::encodeName(jpeg).toStdString(), picture, error)) return 1;
  const double djpeg = MedianOf(5, [&] {
    QElapsedTimer timer;
    timer.start();
    QProcess::execute("djpeg", {"-outfile", "/dev/null", jpeg});
    return timer.nsecsElapsed() / 1e6;
  });
  dialogs.open = jpeg;
  std::vector<double> fullOpens;
  const auto open = [&] {
    form.Work().Wait();
    const TShown shown = CommandShown(form, [&] { form.MenuFO->trigger(); });
    fullOpens.push_back(shown.full);
    return shown.first;
  };
  std::printf("\n| %-45s | %8s | %8s |\n|---|---:|---:|\n", "command on 6000 x 4000 (ms, median)", "ms",
              "/ djpeg");
  const auto row = [&](const char* what, double ms) {
    std::printf("| %-45s | %8.0f | %8.2f |\n", what, ms, ms / djpeg);
  };
  row("djpeg decode to /dev/null", djpeg);
  row("open the JPEG, to the first picture shown", MedianOf(5, open));
  std::sort(fullOpens.begin(), fullOpens.end());
  row("open the JPEG, to the full picture", fullOpens[fullOpens.size() / 2]);
  row("quarter turn of the whole chain",
      MedianOf(5, [&] { return Command(form, [&] { form.MenuER->trigger(); }); }));
  row("tone Apply", MedianOf(5, [&] { return Command(form, [&] { form.BitBtnEffects->click(); }); }));
  row("miniature Apply", MedianOf(5, [&] { return Command(form, [&] { form.BitBtnBlur->click(); }); }));
  row("resize to 3000 x 2000, Bicubic",
      MedianOf(3, [&] { return Command(form, [&] { form.ResizePicture(3000, 2000, rmBicubic); }); }));
  row("undo", MedianOf(5, [&] {
        const double ms = Command(form, [&] { form.MenuEU->trigger(); });
        form.MenuED->trigger();
        return ms;
      }));
  form.MenuEU->trigger();  // back to 6000 x 4000
  for (const char* ext : {"jpg", "png", "gif", "bmp"}) {
    dialogs.save = QDir::temp().filePath(QString("tessarin-bench-window-save.") + ext);
    const std::string what = std::string("save as ") + ext;
    row(what.c_str(), MedianOf(3, [&] { return Command(form, [&] { form.MenuFS->trigger(); }); }));
    QFile::remove(dialogs.save);
  }
  QFile::remove(jpeg);
  return 0;
}
