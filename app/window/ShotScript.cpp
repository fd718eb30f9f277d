#include "ShotScript.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "DemoMedia.h"
#include "FileListModel.h"
#include "MainWindow.h"

namespace {

// Answers every question with Yes and keeps every message box off the pictures.
class TScriptServices : public TDesktopServices {
public:
  void Inform(QWidget*, const QString&, const QString&) override {}
  void ShowError(QWidget*, const QString& AText) override { std::fprintf(stderr, "%s\n", qPrintable(AText)); }
  bool Ask(QWidget*, const QString&, const QString&) override { return true; }
  void ShowFailures(QWidget*, const QString&, const QString&, const QStringList&) override {}
  bool OpenUrl(const QUrl&) override { return true; }
};

class TNoNotifier : public TNotifier {
public:
  void Notify(const QString&, const QString&) override {}
};

bool WaitFor(const std::function<bool()>& ADone, int ATimeoutMs) {
  QElapsedTimer Clock;
  Clock.start();
  while (!ADone()) {
    if (Clock.elapsed() > ATimeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

int RowsConverting(const TFileListModel& AModel, int AFrom, int ATo) {
  int Count = 0;
  for (int R = 0; R < AModel.Count(); ++R) {
    const TFileRow& Row = AModel.Row(R);
    Count += Row.Status == TRowStatus::Converting && Row.Percent >= AFrom && Row.Percent <= ATo;
  }
  return Count;
}

// The screen where the window is, cut to its frame; the widget's own drawing when
// the platform cannot read the screen.
bool Shoot(QWidget& AWindow, const QString& AFileName) {
  WaitFor([] { return false; }, 300);
  QPixmap Picture;
  if (QScreen* Screen = AWindow.screen()) Picture = Screen->grabWindow(0).copy(AWindow.frameGeometry());
  if (Picture.isNull() || Picture.size().isEmpty()) Picture = AWindow.grab();
  // The virtual display has no window manager to draw the caption: a strip above
  // the picture shows it.
  const int Strip = AWindow.fontMetrics().height() + 10;
  QImage Shot(Picture.width(), Picture.height() + Strip, QImage::Format_RGB32);
  Shot.fill(QColor(0x2b, 0x2b, 0x2b));
  {
    QPainter P(&Shot);
    P.setPen(Qt::white);
    P.drawText(QRect(8, 0, Shot.width() - 16, Strip), Qt::AlignVCenter | Qt::AlignLeft, AWindow.windowTitle());
    P.drawPixmap(0, Strip, Picture);
  }
  const bool Saved = Shot.save(AFileName, "PNG");
  std::printf("%s %s\n", Saved ? "wrote" : "could not write", qPrintable(AFileName));
  return Saved;
}

}  // namespace

int RunScreenshots(const QString& AFolder) {
  QDir().mkpath(AFolder);
  QTemporaryDir Work;
  if (!Work.isValid()) return 1;
  const QString Media = Work.filePath("media");
  QDir().mkpath(Media);
  QStringList Files;
  const char* const Names[] = {"Morning chord", "Evening chord", "Long chord", "Short chord", "Quiet chord", "Last chord"};
  for (const char* Name : Names) {
    const QString File = Media + "/" + Name + ".wav";
    if (!WriteDemoWav(File.toStdString(), 90.0)) return 1;
    Files << File;
  }
  // The window keeps its settings in the work folder: the user's stay as they are.
  TSettingsPlaces Places{Work.filePath("program").toStdString(), Work.filePath("user").toStdString(),
                         Work.path().toStdString()};
  QDir().mkpath(Work.filePath("program"));
  {
    QFile Ini(Work.filePath("program/conf.ini"));
    if (!Ini.open(QIODevice::WriteOnly)) return 1;
    Ini.write(("[Main]\nstrOutput=" + Work.filePath("Converted") + "\nintJobs=2\n").toUtf8());
  }
  TScriptServices Services;
  TNoNotifier Notifier;
  TWindowOptions Options;
  Options.Services = &Services;
  Options.Notifier = &Notifier;
  Options.Places = Places;
  TfrmMain Window(Options);
  Window.show();
  auto* Convert = Window.findChild<QPushButton*>("btnConvert");
  TFileListModel& Model = Window.Model();
  bool Good = WaitFor([&] { return Window.isVisible(); }, 5000) && Shoot(Window, AFolder + "/empty.png");

  Window.AddPaths(Files);
  Good = Good && WaitFor([&] { return !Window.Loading() && Model.Count() == Files.size(); }, 20000) &&
         Shoot(Window, AFolder + "/listed.png");

  Convert->click();
  Good = Good && WaitFor([&] { return RowsConverting(Model, 15, 85) >= 2; }, 60000) &&
         Shoot(Window, AFolder + "/converting.png");
  Good = Good && WaitFor([&] { return !Window.Converting(); }, 300000) && Shoot(Window, AFolder + "/done.png");

  Convert->click();  // the already-converted question is answered Yes
  Good = Good && WaitFor([&] { return RowsConverting(Model, 20, 90) >= 1; }, 60000);
  if (Good) Convert->click();
  Good = Good && WaitFor([&] { return !Window.Converting(); }, 60000) && Shoot(Window, AFolder + "/cancelled.png");
  Window.close();
  return Good ? 0 : 1;
}
