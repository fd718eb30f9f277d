// pemmet: the window. "pemmet FILE..." starts with those files and folders listed.
#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>

#include "About.h"
#include "DemoMedia.h"
#include "MainWindow.h"
#include "PictureWindow.h"
#include "Platform.h"
#include "ShotScript.h"

namespace {

void Usage() {
  std::printf(
      "Usage: pemmet [FILE|FOLDER]...\n"
      "       pemmet --demo              lists a built-in example chord\n"
      "       pemmet --screenshots DIR   pictures of the window at work, as PNG files\n");
}

}  // namespace

int main(int argc, char** argv) {
  Platform::KeepHeapsCompact();
  QApplication App(argc, argv);
  QApplication::setApplicationName(ProductTitle);
  QApplication::setApplicationDisplayName(ProductTitle);
  QApplication::setDesktopFileName("pemmet");

  QStringList Args = QApplication::arguments().mid(1);
  if (Args.value(0) == "--help" || Args.value(0) == "-h") {
    Usage();
    return 0;
  }
  if (Args.value(0) == "--screenshots") {
    if (Args.size() != 2) {
      Usage();
      return 2;
    }
    return RunScreenshots(Args[1]);
  }
  QTemporaryDir Example;
  if (Args.value(0) == "--demo") {
    const QString File = Example.filePath("Pemmet example chord.wav");
    if (!Example.isValid() || !WriteDemoWav(File.toStdString(), 8.0)) {
      std::fprintf(stderr, "pemmet: cannot write the example file\n");
      return 1;
    }
    Args = {File};
  }

  TWindowOptions Options;
  Options.Files = Args;
  TDesktopServices Services;
  Options.Services = &Services;
  bool ShowPicture = false;
  {
    TfrmMain Window(Options);
    Window.show();
    App.exec();
    ShowPicture = Window.ShowPictureAtClose();
  }
  if (ShowPicture) {
    TfrmSplash Splash([&Services] { Services.OpenUrl(DocumentationUrl()); });
    Splash.exec();
  }
  return 0;
}
