// One batch of the command-line converter: every input becomes a task of the
// converter component with an MP3 output, named so that nothing is overwritten.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ConvertArgs.h"
#include "OutputNaming.h"
#include "RvAVConverter.h"

enum class TFileOutcome { Waiting, Running, Done, Failed, Stopped };

struct TFileState {
  std::string Input;
  std::string Output;   // empty until the task's output is set
  std::string Message;  // why it failed
  TFileOutcome Outcome = TFileOutcome::Waiting;
  int32_t TaskIndex = -1;
  int64_t TotalMs = 0;  // the input's duration, 0 when unknown
  int64_t DoneMs = 0;   // converted so far
  double Speed = 0;     // times real time, 0 while unknown
  // The first progress of the file, from which its speed is measured.
  std::chrono::steady_clock::time_point FirstReportAt{};
  int64_t FirstReportMs = -1;
};

// What the batch tells as it goes; called under the batch's lock, from any thread.
class TBatchReporter {
public:
  virtual ~TBatchReporter() = default;
  virtual void FileProgress(const TFileState& AFile) = 0;
  virtual void FileEnded(const TFileState& AFile) = 0;
  virtual void Message(const std::string& AText) = 0;
};

class TConvertBatch {
public:
  TConvertBatch(const TConvertArgs& AArgs, TBatchReporter& AReporter);
  ~TConvertBatch();

  // Loads the libraries and installs the log. False with the reason.
  bool LoadLibraries(std::string& AError);
  // Makes the output folder (with its parents) and checks that it takes files.
  bool PrepareOutputFolder(std::string& AError);
  // Opens every input and sets its output; files that fail are reported at once.
  void AddFiles();
  // Runs the batch to its end; returns when every task has ended.
  void Run();
  // From any thread, also from a signal-watching one.
  void RequestStop() { FStopRequested = true; }
  bool StopRequested() const { return FStopRequested; }

  const std::vector<TFileState>& Files() const { return FFiles; }
  int Count(TFileOutcome AOutcome) const;
  // 0 every file converted, 1 one failed, 130 after a stop request.
  int ExitStatus() const;
  const std::string& OutputFolder() const { return FOutputFolder; }

private:
  bool PrepareTask(TFileState& AFile);
  std::string OutputNameFor(const std::string& AInput);
  void BuildOptions(TFFmpeg& ATask, TOutputOptions& AOutput) const;
  void OnProgress(int32_t AIndex, int32_t ACurrentMs, int32_t ATotalMs);
  void OnTerminate(int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage);
  TFileState* FileOfTask(int32_t AIndex);
  void StopIfAsked();

  TConvertArgs FArgs;
  TBatchReporter& FReporter;
  std::string FOutputFolder;
  std::vector<TFileState> FFiles;
  TOutputNameReservations FNames;
  std::atomic<bool> FStopRequested{false};
  std::atomic<bool> FStopSent{false};
  std::mutex FMutex;
  std::condition_variable FEnded;
  bool FBatchEnded = false;
  TRvAVConverter FConverter;
};

// The input's extra-options lines for the user's options: the start position is read
// when the input is opened.
bool IsInputOption(const std::string& ALine);
