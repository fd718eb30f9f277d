// Drives the real main window: its dialogs, message boxes, shell and notifications
// answered by the test, its settings and media in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "FileListModel.h"
#include "MainWindow.h"
#include "TestSupport.h"

class TFakeServices : public TDesktopServices {
public:
  QStringList ChooseFiles(QWidget*, const QString& ACaption, const QString& AFilter) override {
    FileCaptions << ACaption;
    Filters << AFilter;
    return Pop(FileAnswers, QStringList());
  }
  QString ChooseFolder(QWidget*, const QString& ACaption) override {
    FolderCaptions << ACaption;
    return Pop(FolderAnswers, QString());
  }
  void Inform(QWidget*, const QString& ACaption, const QString& AText) override { Informed << ACaption + "|" + AText; }
  void ShowError(QWidget*, const QString& AText) override { Errors << AText; }
  bool Ask(QWidget*, const QString& ACaption, const QString& AText) override {
    Asked << ACaption + "|" + AText;
    return Pop(Answers, false);
  }
  void ShowFailures(QWidget*, const QString&, const QString& AText, const QStringList& ALines) override {
    Failures << AText;
    FailureLines << ALines;
  }
  bool OpenUrl(const QUrl& AUrl) override {
    Opened << AUrl;
    return true;
  }
  bool LoadLibraries(QString& AError) override { return LibrariesLoad && TDesktopServices::LoadLibraries(AError); }

  std::deque<QStringList> FileAnswers;
  std::deque<QString> FolderAnswers;
  std::deque<bool> Answers;
  QStringList FileCaptions, Filters, FolderCaptions, Informed, Errors, Asked, Failures, FailureLines;
  QList<QUrl> Opened;
  bool LibrariesLoad = true;

private:
  template <class T>
  static T Pop(std::deque<T>& AQueue, T AOtherwise) {
    if (AQueue.empty()) return AOtherwise;
    T Value = AQueue.front();
    AQueue.pop_front();
    return Value;
  }
};

class TFakeNotifier : public TNotifier {
public:
  void Notify(const QString& ATitle, const QString& ABody) override { Notes << ATitle + "|" + ABody; }
  QStringList Notes;
};

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // conf.ini in the window's program folder, written before the window starts.
  void WriteSettings(const std::string& ALines);
  std::string ReadSettings() const;
  TfrmMain& Open(const QStringList& AFiles = {});
  void Close();

  // A tone of ASeconds (22.05 kHz mono unless asked otherwise); distinct lengths tell
  // the outputs apart.
  QString Tone(const std::string& AName, double ASeconds, int ARate = 22050, int AChannels = 1);
  // Adds through the open dialog and waits until every file is checked.
  void AddFiles(const QStringList& AFiles);
  void WaitListed();
  void ClickConvert();
  // Waits for the batch to end; false after ATimeoutMs.
  bool WaitBatchEnd(int ATimeoutMs = 60000);
  QString Caption() const { return Window->windowTitle(); }
  QString StatusOf(int ARow) const;
  QPushButton* Button(const char* AName) const;
  template <class T>
  T* Control(const char* AName) const {
    T* Found = Window->findChild<T*>(AName);
    EXPECT_NE(Found, nullptr) << AName;
    return Found;
  }
  TFileListModel& Model() const { return Window->Model(); }

  TTempDir Dir;
  std::string Program, Out;
  TFakeServices Services;
  TFakeNotifier Notifier;
  std::unique_ptr<TfrmMain> Window;
};

// Seconds of sound in a file, read back by decoding it.
double DecodedSeconds(const QString& AFileName);
