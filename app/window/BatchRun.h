// One press of "Convert!": a batch driver run on a thread of its own, its reports
// carried over to the window's thread as signals of this object.
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BatchDriver.h"

class TBatchRun : public QObject {
  Q_OBJECT
public:
  TBatchRun(const TBatchSettings& ASettings, QObject* AParent = nullptr);
  // Stops a batch still converting and waits for it: outputs end complete.
  ~TBatchRun() override;

  // Loads the libraries, makes the output folder and lists the files (a file's Id in
  // the signals is its place in AFiles). False with the reason; ALibraries tells
  // whether the libraries were at fault.
  bool Prepare(const std::vector<std::string>& AFiles, QString& AError, bool& ALibraries);
  void Start();
  void Stop();
  bool StopRequested() const { return FDriver->StopRequested(); }
  const TBatchTotals& Totals() const { return FTotals; }
  QString OutputFolder() const { return QString::fromStdString(FDriver->OutputFolder()); }

signals:
  // All on the window's thread.
  void Progress(int AId, qint64 ADoneMs, qint64 ATotalMs);
  void Ended(int AId, TFileOutcome AOutcome, const QString& AMessage, const QString& AOutput);
  void TotalsChanged(const TBatchTotals& ATotals);
  void Finished();

private:
  class TReporter;
  void OnFinished();

  std::unique_ptr<TReporter> FReporter;
  std::unique_ptr<TBatchDriver> FDriver;
  std::thread FThread;
  TBatchTotals FTotals;  // the last the driver told
};
