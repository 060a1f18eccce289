// Frame times of the main window with a 6000 x 4000 picture (the sample
// photo resampled to that size) loaded: a repaint of the picture view, a
// window resize (the view makes a new scaled copy) and a guide-line redraw
// (angle slider moved). Each is timed from the change to the end of the
// synchronous repaint, median and worst of many, beside what scaling the
// full picture at every paint would cost.
//
// Run it on a display, or offscreen:
//   xvfb-run -a bench/bench_window [photo]
//   QT_QPA_PLATFORM=offscreen bench/bench_window [photo]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSlider>
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
  QString SavePicture(QWidget*, const QString&) override { return {}; }
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

void Print(const char* what, Times t) {
  std::printf("| %-45s | %8.2f | %8.2f | %8.2f |\n", what, t.median, t.p90, t.worst);
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
  QElapsedTimer load;
  load.start();
  form.MenuFO->trigger();
  form.Image1->repaint();
  const double loadMs = load.nsecsElapsed() / 1e6;
  QFile::remove(path);
  if (form.Engine().TargetBMP().Width() != 6000) return 1;

  std::printf("Platform %s, picture 6000 x 4000, view %d x %d, device pixel ratio %.2f\n",
              qPrintable(QGuiApplication::platformName()), form.Image1->width(), form.Image1->height(),
              form.devicePixelRatioF());
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
  std::printf("Opening the file (read, chain, both views' pyramids): %.0f ms\n", loadMs);
  return 0;
}
