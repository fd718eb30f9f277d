// pemmet-bench-batch: the command-line converter on a batch of eight different
// one-minute files, one conversion at a time (-j 1) against two at once (-j 2). Every
// batch is a pemmet-convert process of its own; the inputs are made, and the outputs
// checked, by this program started again with a mode argument, so that this process
// never loads a codec library (see BenchProcess.h).
//
//   pemmet-bench-batch [--rounds N] [--seconds S] [--convert PROGRAM] [--keep]
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchAudioMedia.h"
#include "BenchProcess.h"
#include "BenchReport.h"
#include "MyUtils.h"

namespace fs = std::filesystem;

namespace {

constexpr int FileCount = 8;
constexpr double TargetSpeedUp = 1.8;
// An MP3 holds whole frames and the encoder's delay; more than this off is a fault.
constexpr double DurationTolerance = 0.5;
// Below this many cores lent to two busy threads the machine, not the converter, sets
// what -j 2 can gain.
constexpr double EnoughCores = 1.9;
constexpr double CoreProbeSeconds = 1.0;

struct TSettings {
  int Rounds = 3;
  double Seconds = 60;
  std::string Convert = PEMMET_CONVERT_BINARY;
  bool Keep = false;
};

struct TInput {
  std::string Kind;  // "wav" or "ogg"
  std::string FileName;
};

// "5.12 6.02 5.25" from /proc/loadavg: the 1, 5 and 15 minute averages.
std::string LoadAverage() {
  std::ifstream File("/proc/loadavg");
  std::string One, Five, Fifteen;
  if (!(File >> One >> Five >> Fifteen)) return "unknown";
  return One + " " + Five + " " + Fifteen;
}

// "1.02 of 2 cores" and a warning when -j 2 cannot get two.
std::string DescribeCoresLent() {
  const double Cores = CoresLent(2, CoreProbeSeconds);
  return FormatText("%.2f of 2 cores (two busy threads for %.0f s)%s", Cores, CoreProbeSeconds,
                    Cores < EnoughCores ? ": the machine, not the converter, bounds the speed-up" : "");
}

// WAV and Ogg in turn, so that each pair the two workers start together holds one of
// each; every file has a chord of its own.
std::vector<TInput> MakeInputs(const TBenchFolder& AFolder, double ASeconds) {
  std::vector<TInput> Inputs;
  for (int I = 0; I < FileCount; ++I) {
    const std::string Kind = I % 2 ? "ogg" : "wav";
    const std::string FileName = AFolder.File(FormatText("input-%d.%s", I + 1, Kind.c_str()));
    const TRunMeasure Made = RunSelf({"--make-input", Kind, FormatText("%.3f", ASeconds), std::to_string(I), FileName});
    if (!Made.Succeeded) throw std::runtime_error("making " + FileName + ": " + Made.Failure);
    std::cout << FormatText("  made %s (%s, %.0f s, chord +%d semitones): %s in %s\n", FileName.c_str(),
                            Kind == "wav" ? "16-bit PCM WAV" : "Ogg Vorbis", ASeconds, I,
                            FormatBytes(FileSizeOf(FileName)).c_str(), FormatSeconds(Made.WallSeconds).c_str());
    Inputs.push_back({Kind, FileName});
  }
  return Inputs;
}

// A run whose exit status was 0 still fails when it did not leave one non-empty MP3
// per input: a converter that reports success for nothing written would look fast.
void CheckOutputs(const std::string& AFolder, TRunMeasure& AMeasure) {
  if (!AMeasure.Succeeded) return;
  const std::vector<std::string> Files = Mp3FilesIn(AFolder);
  int NonEmpty = 0;
  for (const std::string& File : Files) NonEmpty += FileSizeOf(File) > 0;
  if (int(Files.size()) == FileCount && NonEmpty == FileCount) return;
  AMeasure.Succeeded = false;
  AMeasure.Failure = FormatText("%zu MP3 file(s) in %s, %d of them not empty; %d expected", Files.size(),
                                AFolder.c_str(), NonEmpty, FileCount);
}

TCommand ConvertCommand(const TSettings& ASettings, int AJobs, const std::string& AOutFolder,
                        const std::vector<TInput>& AInputs) {
  TCommand Command{ASettings.Convert, "-j", std::to_string(AJobs), "-o", AOutFolder};
  for (const TInput& Input : AInputs) Command.push_back(Input.FileName);
  return Command;
}

std::string CommandText(const TCommand& ACommand) {
  std::string Text;
  for (const std::string& Part : ACommand) Text += (Text.empty() ? "" : " ") + Part;
  return Text;
}

// One batch per call, into an output folder that no run has used; the converter's own
// report goes to a log beside it. ALastOut gets the folder of the latest run.
TContender BatchContender(const TSettings& ASettings, const TBenchFolder& AFolder, int AJobs,
                          const std::vector<TInput>& AInputs, std::shared_ptr<std::string> ALastOut) {
  auto RunNumber = std::make_shared<int>(0);
  return {FormatText("-j %d", AJobs), [=, &ASettings, &AFolder] {
            const std::string Name = FormatText("out-j%d-run%d", AJobs, ++*RunNumber);
            const std::string OutFolder = AFolder.File(Name);
            std::error_code Ignored;
            fs::remove_all(OutFolder, Ignored);
            TRunMeasure Measure = RunPipeline({ConvertCommand(ASettings, AJobs, OutFolder, AInputs)},
                                              {AFolder.File(Name + ".log")});
            CheckOutputs(OutFolder, Measure);
            *ALastOut = OutFolder;
            return Measure;
          }};
}

struct TAudioCheck {
  double DecodedSeconds = 0;
  int SampleRate = 0;
  int Channels = 0;
};

TAudioCheck CheckAudio(const std::string& AFileName) {
  std::istringstream Text(CaptureSelf({"--audio-duration", AFileName}));
  TAudioCheck Check;
  double Probed = 0;
  if (!(Text >> Check.DecodedSeconds >> Probed >> Check.SampleRate >> Check.Channels))
    throw std::runtime_error(AFileName + ": no duration came back");
  return Check;
}

// Decodes every output of a run; prints the ones that are not as long as their input.
int CountGoodOutputs(const std::string& AFolder, double ASeconds) {
  int Good = 0;
  for (const std::string& File : Mp3FilesIn(AFolder)) {
    const TAudioCheck Check = CheckAudio(File);
    if (std::fabs(Check.DecodedSeconds - ASeconds) <= DurationTolerance && Check.SampleRate == 44100 &&
        Check.Channels == 2) {
      ++Good;
    } else {
      std::cout << FormatText("  WRONG: %s decodes to %.2f s, %d Hz, %d ch\n", File.c_str(), Check.DecodedSeconds,
                              Check.SampleRate, Check.Channels);
    }
  }
  return Good;
}

int64_t TotalSize(const std::string& AFolder) {
  int64_t Size = 0;
  for (const std::string& File : Mp3FilesIn(AFolder)) Size += FileSizeOf(File);
  return Size;
}

// How many cores a run kept busy on average.
std::string FormatCoresBusy(double ACpuSeconds, double AWallSeconds) {
  return AWallSeconds > 0 ? FormatText("%.2f", ACpuSeconds / AWallSeconds) : "-";
}

void PrintResults(const TContenderResult& AOne, const TContenderResult& ATwo, const std::string& AOneOut,
                  const std::string& ATwoOut, double AAudioSeconds) {
  TTable Table({"", AOne.Name, ATwo.Name});
  Table.AddRow({"wall time, median", FormatSeconds(AOne.MedianWall()), FormatSeconds(ATwo.MedianWall())});
  Table.AddRow({"wall time, fastest", FormatSeconds(AOne.FastestWall()), FormatSeconds(ATwo.FastestWall())});
  Table.AddRow({"wall time, runs", FormatRunTimes(AOne.WallTimes()), FormatRunTimes(ATwo.WallTimes())});
  Table.AddRow({"CPU time, median", FormatSeconds(AOne.MedianCpu()), FormatSeconds(ATwo.MedianCpu())});
  Table.AddRow({"cores busy (CPU / wall, medians)", FormatCoresBusy(AOne.MedianCpu(), AOne.MedianWall()),
                FormatCoresBusy(ATwo.MedianCpu(), ATwo.MedianWall())});
  Table.AddRow({"peak memory", FormatMiB(AOne.PeakKiB()), FormatMiB(ATwo.PeakKiB())});
  Table.AddRow({"speed (median)", FormatTimesRealTime(AAudioSeconds / AOne.MedianWall()) + " real time",
                FormatTimesRealTime(AAudioSeconds / ATwo.MedianWall()) + " real time"});
  Table.AddRow({"MP3 written, last run", FormatBytes(TotalSize(AOneOut)), FormatBytes(TotalSize(ATwoOut))});
  std::cout << '\n';
  Table.Print(std::cout);
  std::cout << "  speed-up -j 1 / -j 2 (median wall): "
            << FormatRatioAtLeast(AOne.MedianWall() / ATwo.MedianWall(), TargetSpeedUp) << '\n'
            << "  speed-up -j 1 / -j 2 (fastest wall, least disturbed): "
            << FormatRatio(AOne.FastestWall() / ATwo.FastestWall()) << '\n'
            << "  CPU time -j 2 / -j 1 (medians; above 1 is the cost of running two at once): "
            << FormatRatio(ATwo.MedianCpu() / AOne.MedianCpu()) << '\n';
}

[[noreturn]] void Usage(const std::string& AWhy) {
  std::cerr << AWhy
            << "\nusage: pemmet-bench-batch [--rounds N (>= 3)] [--seconds S] [--convert PROGRAM] [--keep]\n";
  std::exit(2);
}

double PositiveNumber(const std::string& AName, const char* AText) { return PositiveArgument(AName, AText, Usage); }

TSettings ParseSettings(int AArgc, char** AArgv) {
  TSettings Settings;
  for (int I = 1; I < AArgc; ++I) {
    const std::string Arg = AArgv[I];
    const char* Next = I + 1 < AArgc ? AArgv[I + 1] : nullptr;
    if (Arg == "--rounds") {
      Settings.Rounds = RoundsArgument(Arg, Next, Usage);
      ++I;
    } else if (Arg == "--seconds") {
      Settings.Seconds = PositiveNumber(Arg, Next);
      if (Settings.Seconds < 1 || Settings.Seconds > 3600) Usage("--seconds takes 1 to 3600");
      ++I;
    } else if (Arg == "--convert") {
      if (!Next || !*Next) Usage("--convert needs a program");
      Settings.Convert = Next;
      ++I;
    } else if (Arg == "--keep") {
      Settings.Keep = true;
    } else {
      Usage("unknown argument \"" + Arg + "\"");
    }
  }
  return Settings;
}

int RunBenchmark(const TSettings& ASettings) {
  if (!ProgramInPath(ASettings.Convert)) {
    std::cerr << ASettings.Convert << " cannot be run; build the pemmet-convert target or name it with --convert\n";
    return 1;
  }
  const std::string LoadAtStart = LoadAverage();
  const std::string CoresAtStart = DescribeCoresLent();
  TBenchFolder Folder("pemmet-bench-batch");
  if (ASettings.Keep) Folder.Keep();
  std::cout << FormatText("Batch of %d files to MP3 with pemmet-convert: -j 1 against -j 2, %d rounds in turns\n",
                          FileCount, ASettings.Rounds)
            << "load average at start (1, 5, 15 min): " << LoadAtStart << ", on "
            << std::thread::hardware_concurrency() << " core(s)\n"
            << "CPU lent to this benchmark at start: " << CoresAtStart << '\n'
            << "folder: " << Folder.Path() << "\n\n";
  const std::vector<TInput> Inputs = MakeInputs(Folder, ASettings.Seconds);

  auto OneOut = std::make_shared<std::string>(), TwoOut = std::make_shared<std::string>();
  const std::vector<TContender> Contenders{BatchContender(ASettings, Folder, 1, Inputs, OneOut),
                                           BatchContender(ASettings, Folder, 2, Inputs, TwoOut)};
  std::cout << "\n  command: " << CommandText(ConvertCommand(ASettings, 2, Folder.File("out-j2-runN"), Inputs))
            << "\n  (-j 1 alike; each run has an output folder of its own)\n";
  const std::vector<TContenderResult> Results = RunInTurns(Contenders, ASettings.Rounds, &std::cout);
  const double AudioSeconds = FileCount * ASettings.Seconds;
  PrintResults(Results[0], Results[1], *OneOut, *TwoOut, AudioSeconds);
  std::cout << "  load average at start: " << LoadAtStart << ", at the end: " << LoadAverage() << '\n'
            << "  CPU lent at start: " << CoresAtStart << "\n  CPU lent at the end: " << DescribeCoresLent() << '\n';

  const int GoodOne = CountGoodOutputs(*OneOut, ASettings.Seconds);
  const int GoodTwo = CountGoodOutputs(*TwoOut, ASettings.Seconds);
  std::cout << FormatText("  outputs of the last runs decoding to %.0f s, 44.1 kHz stereo: -j 1 %d of %d, -j 2 %d of %d\n",
                          ASettings.Seconds, GoodOne, FileCount, GoodTwo, FileCount)
            << "\nthis process's own peak memory (the floor of every figure above): " << FormatMiB(OwnPeakKiB())
            << '\n';
  return GoodOne == FileCount && GoodTwo == FileCount ? 0 : 1;
}

}  // namespace

int main(int AArgc, char** AArgv) {
  if (AArgc >= 2) {
    const int Code = RunBenchChildMode(AArgc, AArgv);
    if (Code >= 0) return Code;
  }
  try {
    return RunBenchmark(ParseSettings(AArgc, AArgv));
  } catch (const std::exception& E) {
    std::cerr << "pemmet-bench-batch: " << E.what() << '\n';
    return 1;
  }
}
