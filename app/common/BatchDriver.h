// The batch driver every front end converts through: a list of files of any length,
// each opened only when its turn comes. A small pool of converter components ("lanes")
// runs one file each; a lane opens the next waiting file while the others convert, and
// creates its output only right before the conversion starts, so a batch of any size
// holds at most (parallel conversions + look-ahead) inputs and (parallel conversions)
// outputs open.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OutputNaming.h"
#include "RvAVConverter.h"

enum class TFileOutcome { Waiting, Running, Done, Failed, Stopped };

struct TFileState {
  std::string Input;
  std::string Output;   // empty until the file's conversion starts
  std::string Message;  // why it failed
  TFileOutcome Outcome = TFileOutcome::Waiting;
  int32_t Id = -1;         // place in the batch, from 0
  int64_t InputBytes = 0;  // size on disk, what the batch's estimate rests on
  bool Opened = false;     // its input was opened and its streams read
  int64_t TotalMs = 0;     // the input's duration, 0 when unknown
  int64_t DoneMs = 0;      // converted so far
  double Speed = 0;        // times real time, 0 while unknown
  // The first progress of the file, from which its speed is measured.
  std::chrono::steady_clock::time_point FirstReportAt{};
  int64_t FirstReportMs = -1;
};

// The batch as a whole. The audio total is known for the files opened so far and
// estimated for the others from their size.
struct TBatchTotals {
  int32_t Files = 0;
  int32_t Done = 0;
  int32_t Failed = 0;
  int32_t Stopped = 0;
  int32_t Running = 0;
  int64_t DoneMs = 0;   // audio converted: ended files whole, running ones so far
  int64_t TotalMs = 0;  // audio of the whole batch
  bool TotalIsEstimate = false;
  double SecondsLeft = -1;  // -1 while unknown
  int32_t Ended() const { return Done + Failed + Stopped; }
};

// What the batch tells as it goes; called under the batch's lock, from any thread.
// A reporter must not call back into the driver.
class TBatchReporter {
public:
  virtual ~TBatchReporter() = default;
  virtual void FileProgress(const TFileState& AFile, const TBatchTotals& ATotals) = 0;
  virtual void FileEnded(const TFileState& AFile, const TBatchTotals& ATotals) = 0;
  virtual void Message(const std::string& AText) = 0;
};

struct TBatchSettings {
  std::string OutputFolder;  // empty and not SameFolder: the settings file's choice
  bool SameFolder = false;
  int Jobs = -1;         // conversions at once; -1: one per processor; 0: on the thread that runs the batch
  int LookAhead = 1;     // files opened ahead of a free conversion slot
  int BitrateKbits = -1;  // -1: derived from each input
  std::vector<std::string> ExtraLines;  // "name=value", in the order given
  TLogLevel LogLevel = llError;
};

// The input's extra-options lines among the user's: the start position is read when
// the input is opened.
bool IsInputOption(const std::string& ALine);
// The number of conversions Jobs = -1 stands for.
int DefaultJobs();

class TBatchDriver {
public:
  TBatchDriver(const TBatchSettings& ASettings, TBatchReporter& AReporter);
  ~TBatchDriver();
  TBatchDriver(const TBatchDriver&) = delete;
  TBatchDriver& operator=(const TBatchDriver&) = delete;

  // Loads the libraries and installs the log. False with the reason.
  bool LoadLibraries(std::string& AError);
  // Makes the output folder (with its parents) and checks that it takes files.
  bool PrepareOutputFolder(std::string& AError);
  // Lists the files; nothing is opened yet. Before Run only.
  void AddFiles(const std::vector<std::string>& AFiles);
  // Converts every listed file; returns when each has ended.
  void Run();
  // From any thread, also from a signal handler (one atomic store).
  void RequestStop() { FStopRequested = true; }
  bool StopRequested() const { return FStopRequested; }

  // After Run, or under the reporter's calls.
  const std::vector<TFileState>& Files() const { return FFiles; }
  int Count(TFileOutcome AOutcome) const;
  // 0 every file converted, 1 one failed, 130 after a stop request.
  int ExitStatus() const;
  const std::string& OutputFolder() const { return FOutputFolder; }
  // The most files that were open (opened or converting) at one time.
  int PeakOpenFiles() const { return FPeakOpen; }

private:
  struct TLane;

  bool Step();
  void StartOpenedLanes();
  void RecycleEndedLanes();
  void OpenWaitingFiles();
  void StopLanes();
  bool OpenFile(TLane& ALane, int32_t AFile);
  void StartLane(TLane& ALane);
  void KeepOnlySoundOutput(TFileState& AFile);
  void EndUnstarted(int32_t AFile, TFileOutcome AOutcome, const std::string& AMessage);
  void BindEvents(TLane& ALane);
  void BuildOptions(TFFmpeg& ATask, TOutputOptions& AOutput) const;
  std::string OutputNameFor(const std::string& AInput);
  void OnProgress(TLane& ALane, int32_t ACurrentMs, int32_t ATotalMs);
  void OnTerminate(TLane& ALane, int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage);
  void StopLaneIfAsked(TLane& ALane);
  // Under FMutex.
  void AccountEnded(TFileState& AFile);
  TBatchTotals TotalsLocked() const;
  void CountOpenLocked();

  TBatchSettings FSettings;
  TBatchReporter& FReporter;
  std::string FOutputFolder;
  int FJobs = 1;
  std::vector<TFileState> FFiles;
  std::vector<std::unique_ptr<TLane>> FLanes;
  size_t FNextFile = 0;  // the first file not yet opened
  TOutputNameReservations FNames;
  std::atomic<bool> FStopRequested{false};

  // FMutex guards the files' progress and outcome, the lanes' states and the totals.
  // Lock order: a component's lock, then this one. The driver's own thread never
  // calls into a component while it holds this lock.
  mutable std::mutex FMutex;
  std::condition_variable FLaneEnded;
  std::chrono::steady_clock::time_point FStartedAt{};
  int32_t FDone = 0, FFailed = 0, FStopped = 0;
  int64_t FEndedMs = 0;      // audio of the ended files
  int64_t FOpenedMs = 0;     // audio of every file opened so far
  int64_t FOpenedBytes = 0;  // their size
  int64_t FTotalBytes = 0;   // size of every file of the batch
  int FPeakOpen = 0;
};
