// The converter component: a list of conversion tasks (one engine each, one input and
// one output), run one after another or several at a time on worker threads, or on
// the caller's thread through one-shot timers. The engines' log, progress, hook and
// termination calls come back as the component's events with the task's index, and
// one more termination (index -1) ends the batch.
//
// Events run on the thread that runs the task (or delivers its termination, or calls
// the library): a host that touches its user interface from them synchronises itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AVConverterLog.h"
#include "AVOptionRecords.h"
#include "AVProbe.h"
#include "FFmpeg.h"
#include "Platform.h"

enum TLogLevel { llQuiet = 0, llError = 1, llInfo = 2, llDebug = 3, llAll = 4 };

using TBeforeHookEvent = std::function<void(int32_t AIndex, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookEvent = std::function<void(int32_t AIndex, THookBitmap* ABitmap, int32_t AFrameNumber,
                                            int64_t APTS, bool& AUpdate, bool& AStopHook)>;
using TLogEvent = std::function<void(int32_t AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
using TProgressEvent =
    std::function<void(int32_t AIndex, int32_t AFrameNumber, int32_t AFPS, int32_t ACurrentDuration,
                       float AQuality, float ABitRate, int64_t ACurrentSize, int32_t ATotalOutputDuration)>;
using TTerminateEvent =
    std::function<void(int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage)>;

// One task: an engine with its option records and a probe on its opened input.
class TFFmpeg : public TCustomFFmpeg {
public:
  TFFmpeg();
  ~TFFmpeg() override;

  void ResetInputOptions() { ::ResetInputOptions(InputOptions); }
  void ResetOutputOptions() { ::ResetOutputOptions(OutputOptions); }
  void SetInputOptions(const TInputOptions& AOptions) { InputOptions = AOptions; }
  void SetOutputOptions(const TOutputOptions& AOptions) { OutputOptions = AOptions; }
  void ApplyExtraOptions(const std::string& AText) { ::ApplyExtraOptions(*this, AText); }

  std::atomic<int32_t> TaskIndex{-1};
  // The thread that runs the task: library log lines from it belong to the task.
  std::atomic<pid_t> ThreadId{0};
  TInputOptions InputOptions;
  TOutputOptions OutputOptions;
  std::unique_ptr<TAVProbe> Probe;
};

// Owns its tasks. Lookups from other threads (the library log) are safe; a task is
// taken out of the list before it is freed, so no lookup meets a freed task.
class TFFmpegList {
public:
  TFFmpegList() = default;
  ~TFFmpegList() { Clear(); }
  TFFmpegList(const TFFmpegList&) = delete;
  TFFmpegList& operator=(const TFFmpegList&) = delete;

  int32_t Count() const;
  // Throws std::out_of_range for an index outside 0 .. Count - 1.
  TFFmpeg* Items(int32_t AIndex) const;
  int32_t Add(std::unique_ptr<TFFmpeg> ATask);
  void Delete(int32_t AIndex);
  void Clear();
  TFFmpeg* FindByThreadId(pid_t AId) const;
  // The index of that task, read while the list cannot change; -1 without one.
  int32_t IndexOfThreadId(pid_t AId) const;

private:
  mutable std::mutex FMutex;
  std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

class TCustomAVConverter : protected TLibraryLogTarget {
public:
  TCustomAVConverter();
  ~TCustomAVConverter() override;
  TCustomAVConverter(const TCustomAVConverter&) = delete;
  TCustomAVConverter& operator=(const TCustomAVConverter&) = delete;

  std::string About;  // no effect

  bool LoadLibraries(const std::string& AFolder, bool AVersioned);
  int32_t AddTask(const std::string& AFileName, TInputOptions* AOptions = nullptr);
  bool SetTaskOutput(int32_t AIndex, const std::string& AFileName, TOutputOptions* AOptions = nullptr);
  void StartConversion(int32_t AConcurrency);
  void StopConversion();
  void RemoveTask(int32_t AIndex);
  void ClearTasks();
  int32_t TaskCount() const { return Tasks.Count(); }
  TFFmpeg* Task(int32_t AIndex) const { return Tasks.Items(AIndex); }
  AVFormatContext* TaskInputContext(int32_t AIndex) const;
  std::string LastErrorText() const { return FLastErrorText; }

  // A probe for the host's own use; the component does not use it.
  TAVProbe Probe;

protected:
  // The relays of the engines' handlers.
  virtual void DoBeforeHook(TCustomFFmpeg* ASender, int64_t APTS, THookAction& AHookAction);
  virtual void DoCustomHook(TCustomFFmpeg* ASender, THookBitmap* ABitmap, int32_t AFrameNumber, int64_t APTS,
                            bool& AUpdate, bool& AStopHook);
  virtual void DoLog(TCustomFFmpeg* ASender, int ALevel, const std::string& AMessage);
  virtual void DoProgress(TCustomFFmpeg* ASender, int32_t AFrameNumber, int32_t AFPS, int32_t ACurrentDuration,
                          float AQuality, float ABitRate, int64_t ACurrentSize, int32_t ATotalOutputDuration);
  virtual void DoTaskTerminate(TCustomFFmpeg* ASender);

  // Published by TRvAVConverter.
  TLogLevel GetLogLevel() const { return FLogLevel; }
  void SetLogLevel(TLogLevel AValue);
  int32_t GetProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(int32_t AValue);
  TConvertPriority GetThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TConvertPriority AValue) { FThreadPriority = AValue; }
  std::string GetVersion() const { return "2.2"; }

  TBeforeHookEvent FOnBeforeHook;
  TCustomHookEvent FOnCustomHook;
  TLogEvent FOnLog;
  TProgressEvent FOnProgress;
  TTerminateEvent FOnTerminate;

  TFFmpegList Tasks;

private:
  int32_t TaskIndexOfThread(pid_t AId) override;
  void RelayLibraryLine(int32_t AIndex, int ALevel, const std::string& ALine) override;
  void RelayLog(int32_t AIndex, int ALevel, const std::string& AMessage);
  static TLogLevel MapLogLevel(int ALevel);
  void ApplyLibraryLogLevel();
  void BindOutputHooks(TFFmpeg& ATask, const TOutputOptions& AOptions);
  void StartNextTask();
  void StartTask(int32_t AIndex);
  void KillPendingTimers();

  std::string FLastErrorText;
  TLogLevel FLogLevel = llInfo;
  int32_t FProgressInterval = 500;
  TConvertPriority FThreadPriority = TConvertPriority::tpNormal;
  int32_t FConcurrency = 0;
  int32_t FNextTaskIndex = -1;
  int32_t FRemainingCount = 0;
  int32_t FFinishedCount = 0;
  // Set by StopConversion; a task whose timer fires after it never starts.
  bool FStopping = false;
  // One-shot timers of timer mode that have not fired yet, on their loop.
  std::shared_ptr<Platform::TMessageLoop> FTimerLoop;
  std::vector<Platform::TMessageLoop::TTimerId> FPendingTimers;
  mutable Platform::TReentrantLock FLock;
};

// The component with its properties and events published.
class TRvAVConverter : public TCustomAVConverter {
public:
  using TCustomAVConverter::GetLogLevel;
  using TCustomAVConverter::GetProgressInterval;
  using TCustomAVConverter::GetThreadPriority;
  using TCustomAVConverter::GetVersion;
  using TCustomAVConverter::SetLogLevel;
  using TCustomAVConverter::SetProgressInterval;
  using TCustomAVConverter::SetThreadPriority;

  TBeforeHookEvent& OnBeforeHook = FOnBeforeHook;
  TCustomHookEvent& OnCustomHook = FOnCustomHook;
  TLogEvent& OnLog = FOnLog;
  TProgressEvent& OnProgress = FOnProgress;
  TTerminateEvent& OnTerminate = FOnTerminate;
};
