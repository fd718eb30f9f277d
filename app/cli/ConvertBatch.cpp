#include "ConvertBatch.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "ConvertWorkflow.h"
#include "MyUtils.h"
#include "Settings.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace

bool IsInputOption(const std::string& ALine) {
  const std::string Name = NameOfLine(ALine);
  return Name == "ss" || Name == "itsoffset";
}

TConvertBatch::TConvertBatch(const TConvertArgs& AArgs, TBatchReporter& AReporter)
    : FArgs(AArgs), FReporter(AReporter) {
  FConverter.SetLogLevel(FArgs.LogLevel);
  FConverter.SetProgressInterval(250);
  FConverter.OnProgress = [this](int32_t AIndex, int32_t, int32_t, int32_t ACurrentMs, float, float, int64_t,
                                 int32_t ATotalMs) { OnProgress(AIndex, ACurrentMs, ATotalMs); };
  FConverter.OnTerminate = [this](int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage) {
    OnTerminate(AIndex, AFinished, AException, AMessage);
  };
  FConverter.OnLog = [this](int32_t AIndex, TLogLevel ALevel, const std::string& AMsg) {
    // The engine reports the message that ended a run at the quiet level; the
    // result line tells it, so it is not printed twice.
    if (ALevel == llQuiet || ALevel > FArgs.LogLevel || AMsg.empty()) return;
    std::lock_guard<std::mutex> Guard(FMutex);
    FReporter.Message(AIndex >= 0 ? FormatText("[task %d] %s", AIndex, AMsg.c_str()) : AMsg);
  };
}

TConvertBatch::~TConvertBatch() {
  FConverter.StopConversion();
  FConverter.ClearTasks();
}

bool TConvertBatch::LoadLibraries(std::string& AError) {
  if (FConverter.LoadLibraries(Platform::ProgramFolder() + "lib", true)) return true;
  AError = "the codec libraries cannot be loaded: " + FConverter.LastErrorText();
  return false;
}

bool TConvertBatch::PrepareOutputFolder(std::string& AError) {
  FOutputFolder = FArgs.OutputFolder;
  if (FOutputFolder.empty() && !FArgs.SameFolder) {
    // The window's settings decide what the command line leaves open.
    TSettings Settings;
    Settings.Load();
    FOutputFolder = Settings.Output;
    FArgs.SameFolder = Settings.SameFolder;
  }
  if (FArgs.SameFolder) return true;
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

std::string TConvertBatch::OutputNameFor(const std::string& AInput) {
  const std::string Ext = FormatExtension(Mp3FormatText);
  const std::string Label = FormatLabel(Mp3FormatText);
  const std::string Base = FArgs.SameFolder ? AInput : FOutputFolder + "/" + ExtractFileName(AInput);
  return FNames.MakeOutputName(Base, Ext, Label);
}

// The window's choices for MP3, brought into MP3's range; the derived values go in
// as option lines ahead of the user's, so that what the user names wins.
void TConvertBatch::BuildOptions(TFFmpeg& ATask, TOutputOptions& AOutput) const {
  BuildOutputOptions(*ATask.Probe, Mp3FormatText, AOutput);
  FitToMp3(AOutput);
  CarryTags(*ATask.Probe, AOutput);
  std::string Lines;
  if (AOutput.AudioChannels > 0) Lines += "ac=" + std::to_string(AOutput.AudioChannels) + "\n";
  if (AOutput.AudioSampleRate > 0) Lines += "ar=" + std::to_string(AOutput.AudioSampleRate) + "\n";
  if (FArgs.BitrateKbits > 0)
    Lines += "ab=" + std::to_string(FArgs.BitrateKbits * 1000) + "\n";
  else if (AOutput.AudioBitrate > 0)
    Lines += "ab=" + std::to_string(AOutput.AudioBitrate) + "\n";
  AOutput.AudioChannels = AOutput.AudioSampleRate = AOutput.AudioBitrate = -1;
  for (const std::string& Line : FArgs.ExtraLines)
    if (!IsInputOption(Line)) Lines += Line + "\n";
  AOutput.ExtraOptions = Lines;
}

bool TConvertBatch::PrepareTask(TFileState& AFile) {
  TInputOptions Input;
  ResetInputOptions(Input);
  for (const std::string& Line : FArgs.ExtraLines)
    if (IsInputOption(Line)) Input.ExtraOptions += Line + "\n";
  std::error_code Error;
  if (!fs::is_regular_file(AFile.Input, Error) && fs::exists(AFile.Input, Error)) {
    AFile.Message = AFile.Input + ": not a file";
    return false;
  }
  const int32_t Index = FConverter.AddTask(AFile.Input, &Input);
  if (Index < 0) {
    AFile.Message = FConverter.LastErrorText();
    return false;
  }
  TFFmpeg* Task = FConverter.Task(Index);
  if (Task->Probe->AudioCount() <= 0) {
    AFile.Message = AFile.Input + ": no audio stream";
    FConverter.RemoveTask(Index);
    return false;
  }
  const int64_t DurationUs = Task->Probe->Context() ? Task->Probe->Context()->duration : 0;
  AFile.TotalMs = DurationUs > 0 ? DurationUs / 1000 : 0;

  TOutputOptions Output;
  BuildOptions(*Task, Output);
  const std::string Name = OutputNameFor(AFile.Input);
  if (!FConverter.SetTaskOutput(Index, Name, &Output)) {
    AFile.Message = FConverter.LastErrorText();
    FConverter.RemoveTask(Index);
    FNames.Release(Name);
    return false;
  }
  AFile.Output = Name;
  AFile.TaskIndex = Index;
  return true;
}

void TConvertBatch::AddFiles() {
  FFiles.clear();
  for (const std::string& Input : FArgs.Files) {
    TFileState File;
    File.Input = Input;
    FFiles.push_back(File);
  }
  for (TFileState& File : FFiles) {
    if (PrepareTask(File)) continue;
    File.Outcome = TFileOutcome::Failed;
    std::lock_guard<std::mutex> Guard(FMutex);
    FReporter.FileEnded(File);
  }
}

TFileState* TConvertBatch::FileOfTask(int32_t AIndex) {
  for (TFileState& File : FFiles)
    if (File.TaskIndex == AIndex) return &File;
  return nullptr;
}

void TConvertBatch::StopIfAsked() {
  if (FStopRequested && !FStopSent.exchange(true)) FConverter.StopConversion();
}

void TConvertBatch::OnProgress(int32_t AIndex, int32_t ACurrentMs, int32_t ATotalMs) {
  std::lock_guard<std::mutex> Guard(FMutex);
  TFileState* File = FileOfTask(AIndex);
  if (!File) return;
  const auto Now = std::chrono::steady_clock::now();
  File->Outcome = TFileOutcome::Running;
  File->DoneMs = ACurrentMs;
  if (ATotalMs > 0) File->TotalMs = ATotalMs;
  if (File->FirstReportMs < 0) {
    File->FirstReportMs = ACurrentMs;
    File->FirstReportAt = Now;
  } else if (const double Wall = std::chrono::duration<double, std::milli>(Now - File->FirstReportAt).count();
             Wall > 0) {
    File->Speed = (ACurrentMs - File->FirstReportMs) / Wall;
  }
  FReporter.FileProgress(*File);
  // Progress runs on the converting thread, also when that is this program's own
  // (timer mode): the place where a stop request is sure to be seen.
  StopIfAsked();
}

void TConvertBatch::OnTerminate(int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage) {
  std::lock_guard<std::mutex> Guard(FMutex);
  if (AIndex < 0) {
    FBatchEnded = true;
    FEnded.notify_all();
    return;
  }
  TFileState* File = FileOfTask(AIndex);
  if (!File) return;
  if (AFinished) {
    File->Outcome = TFileOutcome::Done;
    File->DoneMs = std::max(File->DoneMs, File->TotalMs);
  } else if (AException) {
    File->Outcome = TFileOutcome::Failed;
    File->Message = AMessage.empty() ? "the conversion failed" : AMessage;
  } else {
    File->Outcome = TFileOutcome::Stopped;
  }
  FReporter.FileEnded(*File);
}

void TConvertBatch::Run() {
  if (FConverter.TaskCount() == 0) return;
  FBatchEnded = false;
  FConverter.StartConversion(FArgs.Jobs < 0 ? DefaultJobs() : FArgs.Jobs);
  auto Ended = [this] {
    std::lock_guard<std::mutex> Guard(FMutex);
    return FBatchEnded;
  };
  if (FArgs.Jobs == 0) {
    // The conversions run inside this thread's timers.
    auto Loop = Platform::TMessageLoop::Current();
    Loop->RunUntil([&] {
      StopIfAsked();
      return Ended();
    });
  } else {
    while (!Ended()) {
      StopIfAsked();
      std::unique_lock<std::mutex> Guard(FMutex);
      FEnded.wait_for(Guard, std::chrono::milliseconds(100), [this] { return FBatchEnded; });
    }
  }
  // A failed conversion leaves no output behind that could pass for a good one.
  for (TFileState& File : FFiles)
    if (File.Outcome == TFileOutcome::Failed && !File.Output.empty()) std::remove(File.Output.c_str());
  // Tasks are freed here, on this thread, once their workers have ended.
  FConverter.ClearTasks();
}

int TConvertBatch::Count(TFileOutcome AOutcome) const {
  int Count = 0;
  for (const TFileState& File : FFiles) Count += File.Outcome == AOutcome;
  return Count;
}

int TConvertBatch::ExitStatus() const {
  if (FStopRequested) return 130;
  return Count(TFileOutcome::Done) == static_cast<int>(FFiles.size()) ? 0 : 1;
}
