// The converter component: tasks, batch scheduling and the event relays.
#include "RvAVConverter.h"

#include <stdexcept>

#include "AVUtilHlpr.h"

// ---------------------------------------------------------------------------
// The task

TFFmpeg::TFFmpeg() : Probe(std::make_unique<TAVProbe>()) {
  ::ResetInputOptions(InputOptions);
  ::ResetOutputOptions(OutputOptions);
  Probe->Enable();
}

TFFmpeg::~TFFmpeg() {
  // The probe only reads the engine's input; it goes first, then the run is stopped
  // and waited for while this object's members are still whole.
  Probe.reset();
  Destroy(-1);
}

// ---------------------------------------------------------------------------
// The task list

int32_t TFFmpegList::Count() const {
  std::lock_guard<std::mutex> Guard(FMutex);
  return static_cast<int32_t>(FItems.size());
}

TFFmpeg* TFFmpegList::Items(int32_t AIndex) const {
  std::lock_guard<std::mutex> Guard(FMutex);
  if (AIndex < 0 || AIndex >= static_cast<int32_t>(FItems.size()))
    throw std::out_of_range("List index out of bounds (" + std::to_string(AIndex) + ")");
  return FItems[AIndex].get();
}

int32_t TFFmpegList::Add(std::unique_ptr<TFFmpeg> ATask) {
  std::lock_guard<std::mutex> Guard(FMutex);
  const int32_t Index = static_cast<int32_t>(FItems.size());
  ATask->TaskIndex = Index;
  FItems.push_back(std::move(ATask));
  return Index;
}

void TFFmpegList::Delete(int32_t AIndex) {
  std::unique_ptr<TFFmpeg> Removed;
  {
    std::lock_guard<std::mutex> Guard(FMutex);
    if (AIndex < 0 || AIndex >= static_cast<int32_t>(FItems.size()))
      throw std::out_of_range("List index out of bounds (" + std::to_string(AIndex) + ")");
    Removed = std::move(FItems[AIndex]);
    FItems.erase(FItems.begin() + AIndex);
    for (size_t I = AIndex; I < FItems.size(); ++I) FItems[I]->TaskIndex = static_cast<int32_t>(I);
  }
  // Freed outside the lock: freeing waits for the task's worker, which may be
  // looking a task up meanwhile.
  Removed.reset();
}

void TFFmpegList::Clear() {
  std::vector<std::unique_ptr<TFFmpeg>> Removed;
  {
    std::lock_guard<std::mutex> Guard(FMutex);
    Removed.swap(FItems);
  }
  for (std::unique_ptr<TFFmpeg>& Task : Removed) Task.reset();
}

TFFmpeg* TFFmpegList::FindByThreadId(pid_t AId) const {
  std::lock_guard<std::mutex> Guard(FMutex);
  for (const std::unique_ptr<TFFmpeg>& Task : FItems)
    if (Task->ThreadId == AId) return Task.get();
  return nullptr;
}

int32_t TFFmpegList::IndexOfThreadId(pid_t AId) const {
  std::lock_guard<std::mutex> Guard(FMutex);
  for (const std::unique_ptr<TFFmpeg>& Task : FItems)
    if (Task->ThreadId == AId) return Task->TaskIndex;
  return -1;
}

// ---------------------------------------------------------------------------
// The component: life cycle and properties

TCustomAVConverter::TCustomAVConverter() {
  RegisterLogTarget(this);
  Probe.Enable();
}

TCustomAVConverter::~TCustomAVConverter() {
  UnregisterLogTarget(this);
  {
    // A timer that fired after this would start a task of a component that is gone.
    std::lock_guard<Platform::TReentrantLock> Guard(FLock);
    KillPendingTimers();
  }
  Tasks.Clear();
  // A relay still in progress on another thread finishes before the lock goes.
  FLock.lock();
  FLock.unlock();
}

void TCustomAVConverter::SetLogLevel(TLogLevel AValue) {
  FLogLevel = AValue;
  if (AVLibsLoaded()) ApplyLibraryLogLevel();
}

void TCustomAVConverter::SetProgressInterval(int32_t AValue) { FProgressInterval = AValue <= 100 ? 100 : AValue; }

void TCustomAVConverter::ApplyLibraryLogLevel() {
  av::av_log_set_level(LibraryLogLevel(static_cast<int>(FLogLevel) - 1));
  GlobalLogLevel = EngineLogLevel(av::av_log_get_level());
}

bool TCustomAVConverter::LoadLibraries(const std::string& AFolder, bool AVersioned) {
  const bool Loaded = LoadAVLibs(AFolder, AVersioned);
  if (Loaded) {
    av::av_log_set_callback(ConverterLogCallback);
    ApplyLibraryLogLevel();
  } else {
    FLastErrorText = AVLibsError();
  }
  return Loaded;
}

// ---------------------------------------------------------------------------
// Building a batch

int32_t TCustomAVConverter::AddTask(const std::string& AFileName, TInputOptions* AOptions) {
  auto Task = std::make_unique<TFFmpeg>();
  Task->OnLogHandler = [this](TCustomFFmpeg* ASender, int ALevel, const std::string& AMessage) {
    DoLog(ASender, ALevel, AMessage);
  };
  try {
    Task->Init();
    Task->SetVerbose(static_cast<int32_t>(FLogLevel) - 1);
    if (AOptions) {
      if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
      Task->SetInputOptions(*AOptions);
      ApplyInputOptions(*Task, *AOptions);
    } else {
      Task->ResetInputOptions();
    }
    if (!Task->AddInputFile(AFileName)) {
      Task->OnLogHandler = nullptr;
      FLastErrorText = Task->LastError;
      return -1;
    }
    Task->Probe->Attach(Task->InputFiles[Task->InputFileCount - 1].get());
    Task->OnProgressHandler = [this](TCustomFFmpeg* ASender, int AFrameNumber, int AFPS, int ACurrentDuration,
                                     float AQuality, float ABitRate, int64_t ACurrentSize,
                                     int ATotalOutputDuration) {
      DoProgress(ASender, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate, ACurrentSize,
                 ATotalOutputDuration);
    };
    Task->OnTerminateHandler = [this](TCustomFFmpeg* ASender) { DoTaskTerminate(ASender); };
  } catch (const std::exception& E) {
    FLastErrorText = E.what();
    return -1;
  }
  return Tasks.Add(std::move(Task));
}

void TCustomAVConverter::BindOutputHooks(TFFmpeg& ATask, const TOutputOptions& AOptions) {
  if (AOptions.CustomHook) {
    ATask.OnCustomHookHandler = [this](TCustomFFmpeg* ASender, THookBitmap* ABitmap, int AFrameNumber,
                                       int64_t APTS, bool& AUpdate, bool& AStopHook) {
      DoCustomHook(ASender, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
    };
  } else if (AOptions.BeforeHook) {
    ATask.OnBeforeHookHandler = [this](TCustomFFmpeg* ASender, int64_t APTS, THookAction& AHookAction) {
      DoBeforeHook(ASender, APTS, AHookAction);
    };
  } else {
    ATask.SetHookRanges(ParseHookRanges(AOptions.HookRanges));
  }
}

bool TCustomAVConverter::SetTaskOutput(int32_t AIndex, const std::string& AFileName, TOutputOptions* AOptions) {
  TFFmpeg* Task = Tasks.Items(AIndex);
  try {
    if (AOptions) {
      if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
      Task->SetOutputOptions(*AOptions);
      ApplyOutputOptionFields(*Task, *AOptions);
      BindOutputHooks(*Task, *AOptions);
    } else {
      Task->ResetOutputOptions();
    }
    if (Task->AddOutputFile(AFileName)) return true;
    FLastErrorText = Task->LastError;
  } catch (const std::exception& E) {
    FLastErrorText = E.what();
  }
  return false;
}

void TCustomAVConverter::RemoveTask(int32_t AIndex) { Tasks.Delete(AIndex); }

void TCustomAVConverter::ClearTasks() {
  {
    std::lock_guard<Platform::TReentrantLock> Guard(FLock);
    KillPendingTimers();
  }
  Tasks.Clear();
  FLastErrorText.clear();
  FConcurrency = 0;
}

AVFormatContext* TCustomAVConverter::TaskInputContext(int32_t AIndex) const {
  TFFmpeg* Task = Tasks.Items(AIndex);
  return Task->InputFileCount > 0 ? Task->InputFiles[0].get() : nullptr;
}

// ---------------------------------------------------------------------------
// Running a batch

void TCustomAVConverter::StartConversion(int32_t AConcurrency) {
  ClearLogList();
  // Held while the first tasks start: a task that ends at once starts the next one
  // under this lock, and the counters must not change under both at a time.
  std::lock_guard<Platform::TReentrantLock> Guard(FLock);
  FStopping = false;
  FNextTaskIndex = 0;
  FFinishedCount = 0;
  FConcurrency = AConcurrency;
  FRemainingCount = TaskCount();
  int32_t Slots = FConcurrency;
  while (FRemainingCount > 0) {
    StartNextTask();
    if (--Slots <= 0) break;
  }
}

void TCustomAVConverter::StartNextTask() {
  if (FRemainingCount <= 0) return;
  --FRemainingCount;
  const int32_t Index = FNextTaskIndex++;
  if (FConcurrency > 0) {
    StartTask(Index);
    return;
  }
  FTimerLoop = Platform::TMessageLoop::Current();
  auto Id = std::make_shared<Platform::TMessageLoop::TTimerId>(0);
  *Id = FTimerLoop->SetOneShotTimer(100, [this, Index, Id] {
    {
      std::lock_guard<Platform::TReentrantLock> Guard(FLock);
      std::erase(FPendingTimers, *Id);
    }
    StartTask(Index);
  });
  FPendingTimers.push_back(*Id);
}

void TCustomAVConverter::StartTask(int32_t AIndex) {
  TFFmpeg* Task = nullptr;
  {
    std::lock_guard<Platform::TReentrantLock> Guard(FLock);
    // A stopped batch starts nothing more: its waiting tasks report their end
    // through Abort instead.
    if (FStopping || AIndex >= TaskCount()) return;
    Task = Tasks.Items(AIndex);
  }
  Task->ProgressIntervalUs = static_cast<int64_t>(FProgressInterval) * 1000;
  Task->SetVerbose(static_cast<int32_t>(FLogLevel) - 1);
  if (FConcurrency > 0) {
    TFFmpegThread* Worker = Task->Run(true, FThreadPriority);
    if (Worker) {
      Task->ThreadId = Worker->ThreadID();
      Worker->Resume();
    } else {
      Task->ThreadId = 0;
    }
  } else {
    // The conversion runs here, inside the timer, on the thread that owns it.
    Task->ThreadId = Platform::CurrentThreadID();
    Task->Run(false, FThreadPriority);
  }
}

void TCustomAVConverter::KillPendingTimers() {
  if (FTimerLoop)
    for (Platform::TMessageLoop::TTimerId Id : FPendingTimers) FTimerLoop->KillTimer(Id);
  FPendingTimers.clear();
}

void TCustomAVConverter::StopConversion() {
  std::lock_guard<Platform::TReentrantLock> Guard(FLock);
  FRemainingCount = 0;
  FStopping = true;
  KillPendingTimers();
  for (int32_t I = 0, Count = TaskCount(); I < Count; ++I) Tasks.Items(I)->Abort();
}

// ---------------------------------------------------------------------------
// Relays

void TCustomAVConverter::DoTaskTerminate(TCustomFFmpeg* ASender) {
  auto* Task = static_cast<TFFmpeg*>(ASender);
  std::lock_guard<Platform::TReentrantLock> Guard(FLock);
  if (FOnTerminate)
    FOnTerminate(Task->TaskIndex, Task->Finished, Task->ExceptionRaised, std::string(Task->ExceptionMessage));
  ++FFinishedCount;
  if (FRemainingCount > 0) {
    StartNextTask();
  } else if (FFinishedCount >= TaskCount()) {
    if (FOnTerminate) FOnTerminate(-1, true, false, std::string());
    ClearLogList();
  }
}

TLogLevel TCustomAVConverter::MapLogLevel(int ALevel) {
  if (ALevel < 0) return llQuiet;
  if (ALevel >= 4) return llAll;
  return static_cast<TLogLevel>(ALevel + 1);
}

void TCustomAVConverter::RelayLog(int32_t AIndex, int ALevel, const std::string& AMessage) {
  if (!FOnLog) return;
  std::lock_guard<Platform::TReentrantLock> Guard(FLock);
  FOnLog(AIndex, MapLogLevel(ALevel), AMessage);
}

void TCustomAVConverter::DoLog(TCustomFFmpeg* ASender, int ALevel, const std::string& AMessage) {
  RelayLog(ASender ? static_cast<TFFmpeg*>(ASender)->TaskIndex.load() : -1, ALevel, AMessage);
}

void TCustomAVConverter::DoProgress(TCustomFFmpeg* ASender, int32_t AFrameNumber, int32_t AFPS,
                                    int32_t ACurrentDuration, float AQuality, float ABitRate, int64_t ACurrentSize,
                                    int32_t ATotalOutputDuration) {
  if (!FOnProgress) return;
  std::lock_guard<Platform::TReentrantLock> Guard(FLock);
  FOnProgress(static_cast<TFFmpeg*>(ASender)->TaskIndex, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate,
              ACurrentSize, ATotalOutputDuration);
}

void TCustomAVConverter::DoBeforeHook(TCustomFFmpeg* ASender, int64_t APTS, THookAction& AHookAction) {
  if (FOnBeforeHook) FOnBeforeHook(static_cast<TFFmpeg*>(ASender)->TaskIndex, APTS, AHookAction);
}

void TCustomAVConverter::DoCustomHook(TCustomFFmpeg* ASender, THookBitmap* ABitmap, int32_t AFrameNumber,
                                      int64_t APTS, bool& AUpdate, bool& AStopHook) {
  if (FOnCustomHook)
    FOnCustomHook(static_cast<TFFmpeg*>(ASender)->TaskIndex, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

int32_t TCustomAVConverter::TaskIndexOfThread(pid_t AId) { return Tasks.IndexOfThreadId(AId); }

void TCustomAVConverter::RelayLibraryLine(int32_t AIndex, int ALevel, const std::string& ALine) {
  RelayLog(AIndex, ALevel, ALine);
}
