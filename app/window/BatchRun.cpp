#include "BatchRun.h"

// The driver calls these under its lock, on whichever thread converts: each call only
// copies what it needs and queues it to the window's thread.
class TBatchRun::TReporter : public TBatchReporter {
public:
  explicit TReporter(TBatchRun& AOwner) : FOwner(AOwner) {}

  void FileProgress(const TFileState& AFile, const TBatchTotals& ATotals) override {
    TBatchRun* Owner = &FOwner;
    QMetaObject::invokeMethod(
        Owner,
        [Owner, Id = AFile.Id, Done = AFile.DoneMs, Total = AFile.TotalMs, ATotals] {
          Owner->FTotals = ATotals;
          emit Owner->Progress(Id, Done, Total);
          emit Owner->TotalsChanged(ATotals);
        },
        Qt::QueuedConnection);
  }

  void FileEnded(const TFileState& AFile, const TBatchTotals& ATotals) override {
    TBatchRun* Owner = &FOwner;
    QMetaObject::invokeMethod(
        Owner,
        [Owner, Id = AFile.Id, Outcome = AFile.Outcome, Message = QString::fromStdString(AFile.Message),
         Output = QString::fromStdString(AFile.Output), ATotals] {
          Owner->FTotals = ATotals;
          emit Owner->Ended(Id, Outcome, Message, Output);
          emit Owner->TotalsChanged(ATotals);
        },
        Qt::QueuedConnection);
  }

  // The batch runs at the quiet level: the reasons of failures come with FileEnded.
  void Message(const std::string&) override {}

private:
  TBatchRun& FOwner;
};

TBatchRun::TBatchRun(const TBatchSettings& ASettings, QObject* AParent)
    : QObject(AParent), FReporter(std::make_unique<TReporter>(*this)) {
  FDriver = std::make_unique<TBatchDriver>(ASettings, *FReporter);
}

TBatchRun::~TBatchRun() {
  if (FThread.joinable()) {
    FDriver->RequestStop();
    FThread.join();
  }
}

bool TBatchRun::Prepare(const std::vector<std::string>& AFiles, QString& AError, bool& ALibraries) {
  std::string Error;
  ALibraries = !FDriver->LoadLibraries(Error);
  if (ALibraries || !FDriver->PrepareOutputFolder(Error)) {
    AError = QString::fromStdString(Error);
    return false;
  }
  FDriver->AddFiles(AFiles);
  FTotals.Files = static_cast<int32_t>(AFiles.size());
  return true;
}

void TBatchRun::Start() {
  FThread = std::thread([this] {
    FDriver->Run();
    QMetaObject::invokeMethod(this, [this] { OnFinished(); }, Qt::QueuedConnection);
  });
}

void TBatchRun::Stop() { FDriver->RequestStop(); }

void TBatchRun::OnFinished() {
  // Queued after every report of the batch, so nothing of it is still on its way.
  if (FThread.joinable()) FThread.join();
  emit Finished();
}
