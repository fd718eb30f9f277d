// Checks added files off the window's thread: folders are walked (with their
// subfolders), every file is opened by a probe, and the ones with sound come back to
// the window's thread in batches, so rows appear as they are found and the window
// stays responsive however many files arrive.
#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class TFileScanner : public QObject {
  Q_OBJECT
public:
  explicit TFileScanner(QObject* AParent = nullptr);
  ~TFileScanner() override;

  // Queues files and folders; they are checked in the order given.
  void Scan(const QStringList& APaths);
  // Forgets what is queued; batches already on their way are dropped.
  void Cancel();
  bool Busy() const { return FBusy; }

signals:
  // On the window's thread.
  void Found(const QStringList& AFiles);
  void Finished(int AChecked, int AFound);

private:
  void Work();
  void CheckOne(const QString& AFile, QStringList& ABatch);
  void PostFinished(quint64 AGeneration);
  void Flush(QStringList& ABatch, quint64 AGeneration);

  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::deque<QString> FQueue;
  bool FQuit = false;
  bool FBusy = false;  // window's thread: a scan has not told its end yet
  std::atomic<quint64> FGeneration{0};  // a cancel starts a new one
  int FOutstanding = 0;                  // under FMutex: paths queued or being checked
  int FChecked = 0, FFound = 0;  // worker's, for the scan under way
};
