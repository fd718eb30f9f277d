#include "WindowFixture.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "MediaGenerator.h"

namespace fs = std::filesystem;

void WindowTest::SetUp() {
  LoadSystemLibraries();
  Program = Dir.File("program");
  Out = Dir.File("out");
  fs::create_directories(Program);
  WriteSettings("strOutput=" + Out + "\n");
}

void WindowTest::TearDown() { Close(); }

void WindowTest::WriteSettings(const std::string& ALines) { WriteTextFile(Program + "/conf.ini", "[Main]\n" + ALines); }

std::string WindowTest::ReadSettings() const {
  std::ifstream In(Program + "/conf.ini");
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

TfrmMain& WindowTest::Open(const QStringList& AFiles) {
  TWindowOptions Options;
  Options.Services = &Services;
  Options.Notifier = &Notifier;
  Options.Places = TSettingsPlaces{Program, Dir.File("user"), Dir.File("home")};
  Options.Files = AFiles;
  Window = std::make_unique<TfrmMain>(Options);
  Window->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
  return *Window;
}

void WindowTest::Close() {
  if (!Window) return;
  Window->close();
  Window.reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QString WindowTest::Tone(const std::string& AName, double ASeconds, int ARate, int AChannels) {
  const std::string Name = Dir.File(AName);
  fs::create_directories(fs::path(Name).parent_path());
  WriteToneWav(Name, ASeconds, ARate, AChannels);
  return QString::fromStdString(Name);
}

void WindowTest::AddFiles(const QStringList& AFiles) {
  Services.FileAnswers.push_back(AFiles);
  Button("btnOpen")->click();
  WaitListed();
}

void WindowTest::WaitListed() {
  EXPECT_TRUE(QTest::qWaitFor([this] { return !Window->Loading(); }, 60000)) << "the files are still being checked";
}

void WindowTest::ClickConvert() { Button("btnConvert")->click(); }

bool WindowTest::WaitBatchEnd(int ATimeoutMs) {
  return QTest::qWaitFor([this] { return !Window->Converting(); }, ATimeoutMs);
}

QString WindowTest::StatusOf(int ARow) const {
  return Model().data(Model().index(ARow, TFileListModel::StatusColumn), Qt::DisplayRole).toString();
}

QPushButton* WindowTest::Button(const char* AName) const { return Control<QPushButton>(AName); }

double DecodedSeconds(const QString& AFileName) {
  const TDecodedAudio Audio = DecodeAudio(AFileName.toStdString());
  return Audio.SampleRate > 0 ? static_cast<double>(Audio.Frames()) / Audio.SampleRate : 0;
}
