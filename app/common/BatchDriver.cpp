#include "BatchDriver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "ConvertWorkflow.h"
#include "MediaCheck.h"
#include "MyUtils.h"
#include "Settings.h"

namespace fs = std::filesystem;

// One converter component with at most one task: the file it has opened or converts.
struct TBatchDriver::TLane {
  enum class TState { Idle, Opened, Running, Ended };
  TRvAVConverter Converter;
  TState State = TState::Idle;  // under the driver's lock
  int32_t File = -1;            // under the driver's lock; set by the driver's thread only
  std::atomic<bool> StopSent{false};
};

namespace {

constexpr int WavProbePackets = 16;

std::string NameOfLine(const std::string& ALine) { return ALine.substr(0, ALine.find('=')); }

// Writes and removes a file in AFolder: the one sure test that outputs can go there.
bool FolderTakesFiles(const std::string& AFolder, std::string& AReason) {
  std::string Probe = AFolder + "/.pemmet-write-test-XXXXXX";
  const int Fd = mkstemp(Probe.data());
  if (Fd < 0) {
    AReason = std::strerror(errno);
    return false;
  }
  close(Fd);
  unlink(Probe.c_str());
  return true;
}

// The libraries check whether the samples of a PCM WAV are really a compressed stream
// (MP3, AC-3, DTS under a PCM header) by probing its packets until about a megabyte
// has been read: for a short file that is the whole file, scanned again at every
// doubling, which costs more than converting it. Such a stream shows itself in its
// first frames, so a few packets decide.
std::string InputProbeLimit(const std::string& AInput) {
  return LowerCase(ExtractFileExt(AInput)) == ".wav" ? "max_probe_packets=" + std::to_string(WavProbePackets) + "\n"
                                                     : std::string();
}

}  // namespace

bool IsInputOption(const std::string& ALine) {
  const std::string Name = NameOfLine(ALine);
  return Name == "ss" || Name == "itsoffset";
}

int DefaultJobs() {
  const unsigned Count = std::thread::hardware_concurrency();
  return Count > 0 ? static_cast<int>(Count) : 1;
}

// ---------------------------------------------------------------------------
// Set-up

TBatchDriver::TBatchDriver(const TBatchSettings& ASettings, TBatchReporter& AReporter)
    : FSettings(ASettings), FReporter(AReporter) {
  FJobs = FSettings.Jobs < 0 ? DefaultJobs() : FSettings.Jobs;
  const int Lanes = std::max(FJobs, 1) + std::max(FSettings.LookAhead, 0);
  for (int I = 0; I < Lanes; ++I) {
    FLanes.push_back(std::make_unique<TLane>());
    BindEvents(*FLanes.back());
  }
}

TBatchDriver::~TBatchDriver() {
  for (auto& Lane : FLanes) Lane->Converter.StopConversion();
  for (auto& Lane : FLanes) Lane->Converter.ClearTasks();
}

void TBatchDriver::BindEvents(TLane& ALane) {
  TRvAVConverter& C = ALane.Converter;
  C.SetLogLevel(FSettings.LogLevel);
  C.SetProgressInterval(250);
  C.OnProgress = [this, &ALane](int32_t, int32_t, int32_t, int32_t ACurrentMs, float, float, int64_t,
                                int32_t ATotalMs) { OnProgress(ALane, ACurrentMs, ATotalMs); };
  C.OnTerminate = [this, &ALane](int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage) {
    OnTerminate(ALane, AIndex, AFinished, AException, AMessage);
  };
  C.OnLog = [this, &ALane](int32_t AIndex, TLogLevel ALevel, const std::string& AMsg) {
    // The engine reports the message that ended a run at the quiet level; the
    // result line tells it, so it is not printed twice.
    if (ALevel == llQuiet || ALevel > FSettings.LogLevel || AMsg.empty()) return;
    // Every lane hears a line of no task (an input being opened on the driver's
    // thread); the first lane alone tells it.
    if (AIndex < 0 && &ALane != FLanes.front().get()) return;
    std::lock_guard<std::mutex> Guard(FMutex);
    if (AIndex >= 0 && ALane.File >= 0)
      FReporter.Message("[" + ExtractFileName(FFiles[ALane.File].Input) + "] " + AMsg);
    else
      FReporter.Message(AMsg);
  };
}

bool TBatchDriver::LoadLibraries(std::string& AError) {
  // The libraries are the process's; every lane installs its log level on them.
  for (auto& Lane : FLanes)
    if (!Lane->Converter.LoadLibraries(Platform::ProgramFolder() + "lib", true)) {
      AError = "the codec libraries cannot be loaded: " + Lane->Converter.LastErrorText();
      return false;
    }
  return true;
}

bool TBatchDriver::PrepareOutputFolder(std::string& AError) {
  FOutputFolder = FSettings.OutputFolder;
  if (FOutputFolder.empty() && !FSettings.SameFolder) {
    // The window's settings decide what the caller leaves open.
    TSettings Settings;
    Settings.Load();
    FOutputFolder = Settings.Output;
    FSettings.SameFolder = Settings.SameFolder;
  }
  if (FSettings.SameFolder) return true;
  while (FOutputFolder.size() > 1 && FOutputFolder.back() == '/') FOutputFolder.pop_back();
  std::error_code Error;
  fs::create_directories(FOutputFolder, Error);
  if (Error) {
    AError = "cannot create the output folder " + FOutputFolder + ": " + Error.message();
    return false;
  }
  if (!fs::is_directory(FOutputFolder, Error)) {
    AError = "the output folder " + FOutputFolder + " is not a folder";
    return false;
  }
  std::string Reason;
  if (!FolderTakesFiles(FOutputFolder, Reason)) {
    AError = "cannot write to the output folder " + FOutputFolder + ": " + Reason;
    return false;
  }
  return true;
}

void TBatchDriver::AddFiles(const std::vector<std::string>& AFiles) {
  std::lock_guard<std::mutex> Guard(FMutex);
  FFiles.reserve(FFiles.size() + AFiles.size());
  for (const std::string& Input : AFiles) {
    TFileState File;
    File.Input = Input;
    File.Id = static_cast<int32_t>(FFiles.size());
    File.InputBytes = std::max<int64_t>(FileSizeOf(Input), 0);
    FTotalBytes += File.InputBytes;
    FFiles.push_back(std::move(File));
  }
}

// ---------------------------------------------------------------------------
// Running

void TBatchDriver::Run() {
  {
    std::lock_guard<std::mutex> Guard(FMutex);
    FStartedAt = std::chrono::steady_clock::now();
  }
  if (FJobs == 0) {
    // The conversions run inside this thread's timers.
    Platform::TMessageLoop::Current()->RunUntil([this] { return Step(); });
    return;
  }
  auto LaneEnded = [this] {
    for (const auto& Lane : FLanes)
      if (Lane->State == TLane::TState::Ended) return true;
    return FStopRequested.load();
  };
  while (!Step()) {
    std::unique_lock<std::mutex> Guard(FMutex);
    FLaneEnded.wait_for(Guard, std::chrono::milliseconds(100), LaneEnded);
  }
}

// One round of the driver's thread: true once every file has ended.
bool TBatchDriver::Step() {
  if (FStopRequested) StopLanes();
  // A free slot is filled before an ended lane is cleared: clearing waits for the
  // ended worker, and the next conversion need not wait with it.
  StartOpenedLanes();
  RecycleEndedLanes();
  if (!FStopRequested) {
    OpenWaitingFiles();
    StartOpenedLanes();
  }
  std::lock_guard<std::mutex> Guard(FMutex);
  if (FNextFile < FFiles.size()) return false;
  for (const auto& Lane : FLanes)
    if (Lane->State != TLane::TState::Idle) return false;
  return true;
}

void TBatchDriver::StartOpenedLanes() {
  for (;;) {
    if (FStopRequested) return;
    TLane* Next = nullptr;
    {
      std::lock_guard<std::mutex> Guard(FMutex);
      int Running = 0;
      for (const auto& Lane : FLanes) {
        if (Lane->State == TLane::TState::Running) ++Running;
        // Files start in the order they were listed.
        if (Lane->State == TLane::TState::Opened && (!Next || Lane->File < Next->File)) Next = Lane.get();
      }
      if (!Next || Running >= std::max(FJobs, 1)) return;
    }
    StartLane(*Next);
  }
}

// A file's end is told here, on the driver's thread, once its lane's task is freed
// and its output closed: what the report says is what is on disk.
void TBatchDriver::RecycleEndedLanes() {
  for (auto& Lane : FLanes) {
    int32_t FileIndex;
    {
      std::lock_guard<std::mutex> Guard(FMutex);
      if (Lane->State != TLane::TState::Ended) continue;
      FileIndex = Lane->File;
    }
    Lane->Converter.ClearTasks();
    KeepOnlySoundOutput(FFiles[FileIndex]);
    std::lock_guard<std::mutex> Guard(FMutex);
    TFileState& File = FFiles[FileIndex];
    Lane->State = TLane::TState::Idle;
    Lane->File = -1;
    AccountEnded(File);
    FReporter.FileEnded(File, TotalsLocked());
  }
}

// A failed conversion leaves no output behind that could pass for a good one, and a
// stopped one keeps its output only when a player gets sound from it. The file's
// fields are the driver thread's once its lane has ended.
void TBatchDriver::KeepOnlySoundOutput(TFileState& AFile) {
  if (AFile.Output.empty()) return;
  bool Remove = AFile.Outcome == TFileOutcome::Failed;
  if (AFile.Outcome == TFileOutcome::Stopped && !HoldsAudio(AFile.Output)) {
    Remove = true;
    std::lock_guard<std::mutex> Guard(FMutex);
    AFile.Message = "stopped before any sound was written";
  }
  if (!Remove) return;
  std::remove(AFile.Output.c_str());
  std::lock_guard<std::mutex> Guard(FMutex);
  AFile.Output.clear();
}

void TBatchDriver::OpenWaitingFiles() {
  for (auto& Lane : FLanes) {
    {
      std::lock_guard<std::mutex> Guard(FMutex);
      if (Lane->State != TLane::TState::Idle) continue;
    }
    // A file that cannot be opened ends at once; the lane takes the next one.
    while (FNextFile < FFiles.size() && !FStopRequested && !OpenFile(*Lane, static_cast<int32_t>(FNextFile++))) {
    }
    if (FNextFile >= FFiles.size()) return;
  }
}

bool TBatchDriver::OpenFile(TLane& ALane, int32_t AFile) {
  const std::string Input = FFiles[AFile].Input;  // fixed once listed
  std::error_code Error;
  if (!fs::is_regular_file(Input, Error) && fs::exists(Input, Error)) {
    EndUnstarted(AFile, TFileOutcome::Failed, Input + ": not a file");
    return false;
  }
  TInputOptions Options;
  ResetInputOptions(Options);
  Options.ExtraOptions = InputProbeLimit(Input);
  for (const std::string& Line : FSettings.ExtraLines)
    if (IsInputOption(Line)) Options.ExtraOptions += Line + "\n";
  TRvAVConverter& C = ALane.Converter;
  if (C.AddTask(Input, &Options) < 0) {
    EndUnstarted(AFile, TFileOutcome::Failed, C.LastErrorText());
    return false;
  }
  TFFmpeg* Task = C.Task(0);
  if (Task->Probe->AudioCount() <= 0) {
    C.ClearTasks();
    EndUnstarted(AFile, TFileOutcome::Failed, Input + ": no audio stream");
    return false;
  }
  const int64_t DurationUs = Task->Probe->Context() ? Task->Probe->Context()->duration : 0;
  std::lock_guard<std::mutex> Guard(FMutex);
  TFileState& File = FFiles[AFile];
  File.TotalMs = DurationUs > 0 ? DurationUs / 1000 : 0;
  File.Opened = true;
  FOpenedMs += File.TotalMs;
  FOpenedBytes += File.InputBytes;
  ALane.State = TLane::TState::Opened;
  ALane.File = AFile;
  CountOpenLocked();
  return true;
}

void TBatchDriver::StartLane(TLane& ALane) {
  TRvAVConverter& C = ALane.Converter;
  const int32_t FileIndex = ALane.File;
  const std::string Input = FFiles[FileIndex].Input;
  TOutputOptions Output;
  BuildOptions(*C.Task(0), Output);
  // Named only now, and created by SetTaskOutput: what exists at this moment is
  // never overwritten, and a file that never starts leaves no output.
  const std::string Name = OutputNameFor(Input);
  if (!C.SetTaskOutput(0, Name, &Output)) {
    const std::string Message = C.LastErrorText();
    FNames.Release(Name);
    C.ClearTasks();
    {
      std::lock_guard<std::mutex> Guard(FMutex);
      ALane.State = TLane::TState::Idle;
      ALane.File = -1;
    }
    EndUnstarted(FileIndex, TFileOutcome::Failed, Message);
    return;
  }
  {
    std::lock_guard<std::mutex> Guard(FMutex);
    TFileState& File = FFiles[FileIndex];
    File.Output = Name;
    File.Outcome = TFileOutcome::Running;
    ALane.State = TLane::TState::Running;
    ALane.StopSent = false;
  }
  C.StartConversion(FJobs == 0 ? 0 : 1);
}

void TBatchDriver::StopLanes() {
  for (auto& Lane : FLanes) {
    TLane::TState State;
    int32_t FileIndex;
    {
      std::lock_guard<std::mutex> Guard(FMutex);
      State = Lane->State;
      FileIndex = Lane->File;
    }
    if (State == TLane::TState::Running) {
      if (!Lane->StopSent.exchange(true)) Lane->Converter.StopConversion();
    } else if (State == TLane::TState::Opened) {
      Lane->Converter.ClearTasks();
      {
        std::lock_guard<std::mutex> Guard(FMutex);
        Lane->State = TLane::TState::Idle;
        Lane->File = -1;
      }
      EndUnstarted(FileIndex, TFileOutcome::Stopped, std::string());
    }
  }
  while (FNextFile < FFiles.size()) EndUnstarted(static_cast<int32_t>(FNextFile++), TFileOutcome::Stopped, "");
}

void TBatchDriver::StopLaneIfAsked(TLane& ALane) {
  if (FStopRequested && !ALane.StopSent.exchange(true)) ALane.Converter.StopConversion();
}

void TBatchDriver::EndUnstarted(int32_t AFile, TFileOutcome AOutcome, const std::string& AMessage) {
  std::lock_guard<std::mutex> Guard(FMutex);
  TFileState& File = FFiles[AFile];
  File.Outcome = AOutcome;
  File.Message = AMessage;
  // Never opened: its size no longer stands for audio still to come.
  if (!File.Opened) FTotalBytes -= File.InputBytes;
  AccountEnded(File);
  FReporter.FileEnded(File, TotalsLocked());
}

// ---------------------------------------------------------------------------
// The conversion's choices

std::string TBatchDriver::OutputNameFor(const std::string& AInput) {
  const std::string Ext = FormatExtension(Mp3FormatText);
  const std::string Label = FormatLabel(Mp3FormatText);
  const std::string Base = FSettings.SameFolder ? AInput : FOutputFolder + "/" + ExtractFileName(AInput);
  return FNames.MakeOutputName(Base, Ext, Label);
}

// The window's choices for MP3, brought into MP3's range; the derived values go in
// as option lines ahead of the user's, so that what the user names wins.
void TBatchDriver::BuildOptions(TFFmpeg& ATask, TOutputOptions& AOutput) const {
  BuildOutputOptions(*ATask.Probe, Mp3FormatText, AOutput);
  FitToMp3(AOutput);
  CarryTags(*ATask.Probe, AOutput);
  std::string Lines;
  if (AOutput.AudioChannels > 0) Lines += "ac=" + std::to_string(AOutput.AudioChannels) + "\n";
  if (AOutput.AudioSampleRate > 0) Lines += "ar=" + std::to_string(AOutput.AudioSampleRate) + "\n";
  if (FSettings.BitrateKbits > 0)
    Lines += "ab=" + std::to_string(FSettings.BitrateKbits * 1000) + "\n";
  else if (AOutput.AudioBitrate > 0)
    Lines += "ab=" + std::to_string(AOutput.AudioBitrate) + "\n";
  AOutput.AudioChannels = AOutput.AudioSampleRate = AOutput.AudioBitrate = -1;
  for (const std::string& Line : FSettings.ExtraLines)
    if (!IsInputOption(Line)) Lines += Line + "\n";
  AOutput.ExtraOptions = Lines;
}

// ---------------------------------------------------------------------------
// Events, on the converting threads

void TBatchDriver::OnProgress(TLane& ALane, int32_t ACurrentMs, int32_t ATotalMs) {
  {
    std::lock_guard<std::mutex> Guard(FMutex);
    if (ALane.File < 0) return;
    TFileState& File = FFiles[ALane.File];
    const auto Now = std::chrono::steady_clock::now();
    File.DoneMs = ACurrentMs;
    if (ATotalMs > 0) File.TotalMs = ATotalMs;
    if (File.FirstReportMs < 0) {
      File.FirstReportMs = ACurrentMs;
      File.FirstReportAt = Now;
    } else if (const double Wall = std::chrono::duration<double, std::milli>(Now - File.FirstReportAt).count();
               Wall > 0) {
      File.Speed = (ACurrentMs - File.FirstReportMs) / Wall;
    }
    FReporter.FileProgress(File, TotalsLocked());
  }
  // Progress runs on the converting thread, also when that is the driver's own
  // (timer mode): the place where a stop request is sure to be seen.
  StopLaneIfAsked(ALane);
}

void TBatchDriver::OnTerminate(TLane& ALane, int32_t AIndex, bool AFinished, bool AException,
                               const std::string& AMessage) {
  std::lock_guard<std::mutex> Guard(FMutex);
  if (AIndex < 0) {
    ALane.State = TLane::TState::Ended;
    FLaneEnded.notify_all();
    return;
  }
  if (ALane.File < 0) return;
  TFileState& File = FFiles[ALane.File];
  if (AFinished) {
    File.Outcome = TFileOutcome::Done;
    File.DoneMs = std::max(File.DoneMs, File.TotalMs);
  } else if (AException) {
    File.Outcome = TFileOutcome::Failed;
    File.Message = AMessage.empty() ? "the conversion failed" : AMessage;
  } else {
    File.Outcome = TFileOutcome::Stopped;
  }
  // Told by the driver's thread once the lane is cleared.
}

// ---------------------------------------------------------------------------
// Counting

void TBatchDriver::AccountEnded(TFileState& AFile) {
  switch (AFile.Outcome) {
    case TFileOutcome::Done: ++FDone; break;
    case TFileOutcome::Failed: ++FFailed; break;
    case TFileOutcome::Stopped: ++FStopped; break;
    default: break;
  }
  FEndedMs += AFile.TotalMs;
}

TBatchTotals TBatchDriver::TotalsLocked() const {
  TBatchTotals T;
  T.Files = static_cast<int32_t>(FFiles.size());
  T.Done = FDone;
  T.Failed = FFailed;
  T.Stopped = FStopped;
  T.DoneMs = FEndedMs;
  // A file is counted as ended once its lane is cleared; till then, by its progress.
  for (const auto& Lane : FLanes)
    if ((Lane->State == TLane::TState::Running || Lane->State == TLane::TState::Ended) && Lane->File >= 0) {
      const TFileState& File = FFiles[Lane->File];
      T.Running += File.Outcome == TFileOutcome::Running;
      T.DoneMs += std::min(File.DoneMs, File.TotalMs > 0 ? File.TotalMs : File.DoneMs);
    }
  T.TotalMs = FOpenedMs;
  const int64_t UnopenedBytes = FTotalBytes - FOpenedBytes;
  if (UnopenedBytes > 0 && FOpenedBytes > 0) {
    T.TotalMs += static_cast<int64_t>(static_cast<double>(UnopenedBytes) * FOpenedMs / FOpenedBytes);
    T.TotalIsEstimate = true;
  }
  const double Elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStartedAt).count();
  if (T.DoneMs > 0 && T.TotalMs >= T.DoneMs && Elapsed > 0.5)
    T.SecondsLeft = Elapsed * static_cast<double>(T.TotalMs - T.DoneMs) / static_cast<double>(T.DoneMs);
  return T;
}

void TBatchDriver::CountOpenLocked() {
  int Open = 0;
  for (const auto& Lane : FLanes) Open += Lane->State != TLane::TState::Idle;
  FPeakOpen = std::max(FPeakOpen, Open);
}

int TBatchDriver::Count(TFileOutcome AOutcome) const {
  std::lock_guard<std::mutex> Guard(FMutex);
  switch (AOutcome) {
    case TFileOutcome::Done: return FDone;
    case TFileOutcome::Failed: return FFailed;
    case TFileOutcome::Stopped: return FStopped;
    default: break;
  }
  int Count = 0;
  for (const TFileState& File : FFiles) Count += File.Outcome == AOutcome;
  return Count;
}

int TBatchDriver::ExitStatus() const {
  if (FStopRequested) return 130;
  return Count(TFileOutcome::Done) == static_cast<int>(FFiles.size()) ? 0 : 1;
}
