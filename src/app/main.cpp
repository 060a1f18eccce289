// The program's entry: one running copy per user, then the main window and
// the resize dialog, and the event loop until the main window closes.
// The one argument the program takes is a picture to open at start
// (Qt's own display options aside); a second copy ignores it.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include "app/command_line.h"
#include "app/single_instance.h"
#include "ui/form1.h"
#include "ui/form2.h"

int main(int argc, char** argv) {
  const TSingleInstance instance;
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tessarin");
  QGuiApplication::setDesktopFileName("tessarin");
  if (instance.state() == TSingleInstance::State::AlreadyRunning) {
    QMessageBox box(QMessageBox::Question, "Tessarin", "[Tessarin] already running.\nTerminate and exit.",
                    QMessageBox::Yes);
    box.exec();
    return 0;
  }
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QString(":/icons/hicolor/%1x%1/apps/tessarin.png").arg(size));
  QApplication::setWindowIcon(QIcon::fromTheme("tessarin", icon));
  TForm1 form1;
  Form1 = &form1;
  TForm2 form2(DefaultDialogs(), &form1);
  Form2 = &form2;
  form1.show();
  std::vector<std::string> args;
  for (const QString& a : QApplication::arguments()) args.push_back(a.toStdString());
  const QString startFile = QString::fromStdString(StartupFile(args));
  if (!startFile.isEmpty()) form1.OpenFile(startFile);
  const int code = app.exec();
  Form2 = nullptr;
  Form1 = nullptr;
  return code;
}
