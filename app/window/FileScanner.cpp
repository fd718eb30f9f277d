#include "FileScanner.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

#include "AVProbe.h"

namespace {

// A batch goes to the window at least this often, and at most this large.
constexpr auto FlushEvery = std::chrono::milliseconds(40);
constexpr int MostPerBatch = 400;

// Every file below a folder, each folder's files in name order.
QStringList FilesBelow(const QString& AFolder) {
  QStringList Files;
  QDirIterator It(AFolder, QDir::Files | QDir::NoDotAndDotDot | QDir::Readable, QDirIterator::Subdirectories);
  while (It.hasNext()) Files << It.next();
  std::sort(Files.begin(), Files.end());
  return Files;
}

}  // namespace

TFileScanner::TFileScanner(QObject* AParent) : QObject(AParent) { FThread = std::thread([this] { Work(); }); }

TFileScanner::~TFileScanner() {
  {
    std::lock_guard<std::mutex> Guard(FMutex);
    FQuit = true;
    FQueue.clear();
  }
  FWake.notify_all();
  FThread.join();
}

void TFileScanner::Scan(const QStringList& APaths) {
  if (APaths.isEmpty()) return;
  FBusy = true;
  {
    std::lock_guard<std::mutex> Guard(FMutex);
    for (const QString& Path : APaths) FQueue.push_back(Path);
    FOutstanding += static_cast<int>(APaths.size());
  }
  FWake.notify_all();
}

void TFileScanner::Cancel() {
  std::lock_guard<std::mutex> Guard(FMutex);
  FOutstanding -= static_cast<int>(FQueue.size());
  FQueue.clear();
  ++FGeneration;
  FBusy = false;
}

void TFileScanner::Work() {
  // Checking files is background work: the window's thread comes first.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
  QStringList Batch;
  auto LastFlush = std::chrono::steady_clock::now();
  bool HadWork = false;
  for (;;) {
    QString Path;
    quint64 Generation;
    {
      std::unique_lock<std::mutex> Guard(FMutex);
      if (FQueue.empty() && HadWork) {
        Generation = FGeneration;
        Guard.unlock();
        Flush(Batch, Generation);
        PostFinished(Generation);
        HadWork = false;
        continue;
      }
      FWake.wait(Guard, [this] { return FQuit || !FQueue.empty(); });
      if (FQuit) return;
      Path = FQueue.front();
      FQueue.pop_front();
      Generation = FGeneration;
      HadWork = true;
    }
    const QFileInfo Info(Path);
    const QStringList Files = Info.isDir() ? FilesBelow(Info.absoluteFilePath()) : QStringList{Path};
    for (const QString& File : Files) {
      if (Generation != FGeneration || FQuit) break;
      CheckOne(File, Batch);
      const auto Now = std::chrono::steady_clock::now();
      if (Batch.size() >= MostPerBatch || Now - LastFlush >= FlushEvery) {
        Flush(Batch, Generation);
        LastFlush = Now;
      }
    }
    std::lock_guard<std::mutex> Guard(FMutex);
    --FOutstanding;
  }
}

void TFileScanner::PostFinished(quint64 AGeneration) {
  const int Checked = FChecked, FoundCount = FFound;
  FChecked = FFound = 0;
  QMetaObject::invokeMethod(
      this,
      [this, AGeneration, Checked, FoundCount] {
        {
          // Work queued while this was on its way tells its own end later.
          std::lock_guard<std::mutex> Guard(FMutex);
          if (AGeneration != FGeneration || FOutstanding > 0) return;
        }
        FBusy = false;
        emit Finished(Checked, FoundCount);
      },
      Qt::QueuedConnection);
}

void TFileScanner::CheckOne(const QString& AFile, QStringList& ABatch) {
  ++FChecked;
  // A pipe or a device named by hand could block the probe for good.
  if (!QFileInfo(AFile).isFile()) return;
  TAVProbe Probe;
  Probe.Enable();
  // Only files a conversion can make sound from are listed.
  if (Probe.Open(AFile.toStdString()) && Probe.AudioCount() > 0) {
    ABatch << AFile;
    ++FFound;
  }
}

void TFileScanner::Flush(QStringList& ABatch, quint64 AGeneration) {
  if (ABatch.isEmpty()) return;
  QMetaObject::invokeMethod(
      this,
      [this, Files = std::move(ABatch), AGeneration] {
        if (AGeneration == FGeneration) emit Found(Files);
      },
      Qt::QueuedConnection);
  ABatch = QStringList();
}
