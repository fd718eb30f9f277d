// pemmet-bench-many: pemmet-convert on batches of many short files.
//
//  1. Scale: a batch of --files short WAV files (default 20,000 of 0.5 s) with -j 2
//     under "ulimit -n 1024", against a batch of one such file: wall time and peak
//     memory. The batch's peak should stay within 1.5 times the one-file peak.
//  2. Throughput: 100 files of 2 s against one file of 200 s, both -j 1: seconds of
//     audio per second; the short files should reach 0.85 of the long file's rate.
//     The same 100 files with lame, run once per file, as the peer.
//
// Every batch is a pemmet-convert process of its own; inputs are made and outputs
// checked by this program started again with a mode argument, so that this process
// never loads a codec library (see BenchProcess.h).
//
//   pemmet-bench-many [--files N] [--rounds N] [--convert PROGRAM] [--keep] [--no-scale]
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchAudioMedia.h"
#include "BenchProcess.h"
#include "BenchReport.h"
#include "MyUtils.h"

namespace fs = std::filesystem;

namespace {

constexpr int Variants = 13;  // chords 0 .. 12 semitones up
constexpr int Kbits = 128;
constexpr double ScaleSeconds = 0.5;
constexpr double ShortSeconds = 2.0;
constexpr int ShortCount = 100;
constexpr double TargetPeakRatio = 1.5;
constexpr double TargetThroughput = 0.85;
constexpr const char* OpenFileLimit = "1024";

struct TSettings {
  int Files = 20000;
  int Rounds = 3;
  std::string Convert = PEMMET_CONVERT_BINARY;
  bool Keep = false;
  bool Scale = true;
};

// Writes one file per chord variant of ASeconds; a batch links its names to these, so
// thousands of inputs take the disk space of thirteen.
std::vector<std::string> MakeVariants(const TBenchFolder& AFolder, const std::string& APrefix, double ASeconds) {
  std::vector<std::string> Files;
  for (int V = 0; V < Variants; ++V) {
    const std::string Name = AFolder.File(FormatText("%s-variant-%d.wav", APrefix.c_str(), V));
    const TRunMeasure Made = RunSelf({"--make-input", "wav", FormatText("%.3f", ASeconds), std::to_string(V), Name});
    if (!Made.Succeeded) throw std::runtime_error("making " + Name + ": " + Made.Failure);
    Files.push_back(Name);
  }
  return Files;
}

std::vector<std::string> LinkBatch(const TBenchFolder& AFolder, const std::string& ASubFolder,
                                   const std::vector<std::string>& AVariants, int ACount) {
  const std::string Folder = AFolder.File(ASubFolder);
  fs::create_directories(Folder);
  std::vector<std::string> Files;
  for (int I = 0; I < ACount; ++I) {
    const std::string Name = FormatText("%s/f%05d.wav", Folder.c_str(), I);
    fs::create_hard_link(AVariants[I % AVariants.size()], Name);
    Files.push_back(Name);
  }
  return Files;
}

// MP3 files with something in them.
int CountMp3Files(const std::string& AFolder) {
  int Count = 0;
  for (const std::string& File : Mp3FilesIn(AFolder)) Count += FileSizeOf(File) > 0;
  return Count;
}

double DecodedSeconds(const std::string& AFileName) {
  std::istringstream Text(CaptureSelf({"--audio-duration", AFileName}));
  double Seconds = 0;
  if (!(Text >> Seconds)) throw std::runtime_error(AFileName + ": no duration came back");
  return Seconds;
}

// A run that exited with 0 still fails when it did not leave one MP3 per input.
void CheckOutputs(const std::string& AFolder, int AExpected, TRunMeasure& AMeasure) {
  if (!AMeasure.Succeeded) return;
  const int Count = CountMp3Files(AFolder);
  if (Count == AExpected) return;
  AMeasure.Succeeded = false;
  AMeasure.Failure = FormatText("%d non-empty MP3 file(s) in %s, %d expected", Count, AFolder.c_str(), AExpected);
}

// pemmet-convert under a shell that first sets the open-file limit (soft and hard).
TCommand ConvertCommand(const TSettings& ASettings, int AJobs, const std::string& AOut,
                        const std::vector<std::string>& AInputs, bool ALowFileLimit) {
  TCommand Command;
  if (ALowFileLimit)
    Command = {"/bin/sh", "-c", std::string("ulimit -n ") + OpenFileLimit + " && exec \"$0\" \"$@\""};
  Command.insert(Command.end(), {ASettings.Convert, "-j", std::to_string(AJobs), "-b", std::to_string(Kbits), "-o", AOut});
  Command.insert(Command.end(), AInputs.begin(), AInputs.end());
  return Command;
}

// lame once per file, as a script converting a folder would.
TCommand LamePerFileCommand(const std::string& AOut, const std::vector<std::string>& AInputs) {
  TCommand Command{"/bin/sh", "-c",
                   "out=$1; shift; for f; do b=${f##*/}; lame --quiet --noreplaygain --cbr -b " +
                       std::to_string(Kbits) + " -q 3 -m j \"$f\" \"$out/${b%.wav}.mp3\" || exit 1; done",
                   "sh", AOut};
  Command.insert(Command.end(), AInputs.begin(), AInputs.end());
  return Command;
}

TContender Contender(const std::string& AName, const TBenchFolder& AFolder, int AExpected,
                     std::function<TCommand(const std::string&)> AMake) {
  auto RunNumber = std::make_shared<int>(0);
  std::string Tag = AName;
  for (char& C : Tag)
    if (C == ' ') C = '_';
  return {AName, [=, &AFolder] {
            const std::string Out = AFolder.File(FormatText("out-%s-%d", Tag.c_str(), ++*RunNumber));
            std::error_code Ignored;
            fs::remove_all(Out, Ignored);
            fs::create_directories(Out);
            TRunMeasure Measure = RunPipeline({AMake(Out)}, {Out + ".log"});
            CheckOutputs(Out, AExpected, Measure);
            return Measure;
          }};
}

void RunScale(const TSettings& ASettings, const TBenchFolder& AFolder) {
  std::cout << FormatText("\n1. Scale: %d files of %.1f s, -j 2, open-file limit %s\n", ASettings.Files, ScaleSeconds,
                          OpenFileLimit);
  const std::vector<std::string> Variants = MakeVariants(AFolder, "scale", ScaleSeconds);
  const std::vector<std::string> Batch = LinkBatch(AFolder, "scale", Variants, ASettings.Files);
  const std::vector<std::string> One(Batch.begin(), Batch.begin() + 1);
  const std::vector<TContender> Contenders{
      Contender("one file", AFolder, 1,
                [&](const std::string& AOut) { return ConvertCommand(ASettings, 2, AOut, One, true); }),
      Contender("whole batch", AFolder, ASettings.Files,
                [&](const std::string& AOut) { return ConvertCommand(ASettings, 2, AOut, Batch, true); })};
  // One round each: the batch alone takes minutes.
  const std::vector<TContenderResult> R = RunInTurns(Contenders, 1, &std::cout);
  const TRunMeasure& Single = R[0].Runs[0];
  const TRunMeasure& Whole = R[1].Runs[0];
  TTable Table({"", "1 file", FormatText("%d files", ASettings.Files)});
  Table.AddRow({"wall time", FormatSeconds(Single.WallSeconds), FormatSeconds(Whole.WallSeconds)});
  Table.AddRow({"CPU time", FormatSeconds(Single.CpuSeconds), FormatSeconds(Whole.CpuSeconds)});
  Table.AddRow({"peak memory", FormatMiB(Single.PeakKiB), FormatMiB(Whole.PeakKiB)});
  Table.AddRow({"files per second", "-", FormatText("%.1f", ASettings.Files / Whole.WallSeconds)});
  Table.AddRow({"speed", "-", FormatTimesRealTime(ASettings.Files * ScaleSeconds / Whole.WallSeconds) + " real time"});
  Table.Print(std::cout);
  std::cout << "  peak memory, batch / one file: "
            << FormatRatioAgainst(static_cast<double>(Whole.PeakKiB) / Single.PeakKiB, TargetPeakRatio) << '\n'
            << FormatText("  every one of the %d files converted (exit 0, one non-empty MP3 each)\n", ASettings.Files);
}

void RunThroughput(const TSettings& ASettings, const TBenchFolder& AFolder) {
  std::cout << FormatText("\n2. Throughput, -j 1 at %d kbit/s: %d files of %.0f s against one file of %.0f s\n",
                          Kbits, ShortCount, ShortSeconds, ShortCount * ShortSeconds);
  const std::vector<std::string> Short =
      LinkBatch(AFolder, "short", MakeVariants(AFolder, "short", ShortSeconds), ShortCount);
  const std::string Long = AFolder.File("long.wav");
  const TRunMeasure Made =
      RunSelf({"--make-input", "wav", FormatText("%.3f", ShortCount * ShortSeconds), "0", Long});
  if (!Made.Succeeded) throw std::runtime_error("making " + Long + ": " + Made.Failure);
  const std::vector<std::string> LongList{Long};

  const std::vector<TContender> Contenders{
      Contender("pemmet 100 files", AFolder, ShortCount,
                [&](const std::string& AOut) { return ConvertCommand(ASettings, 1, AOut, Short, false); }),
      Contender("pemmet 1 file", AFolder, 1,
                [&](const std::string& AOut) { return ConvertCommand(ASettings, 1, AOut, LongList, false); }),
      Contender("lame 100 files", AFolder, ShortCount,
                [&](const std::string& AOut) { return LamePerFileCommand(AOut, Short); }),
      Contender("lame 1 file", AFolder, 1,
                [&](const std::string& AOut) { return LamePerFileCommand(AOut, LongList); })};
  const std::vector<TContenderResult> R = RunInTurns(Contenders, ASettings.Rounds, &std::cout);
  const double Audio = ShortCount * ShortSeconds;
  TTable Table({"", R[0].Name, R[1].Name, R[2].Name, R[3].Name});
  std::vector<std::string> Wall{"wall time, median"}, Runs{"wall time, runs"}, Speed{"audio s per s (median)"},
      Peak{"peak memory"};
  for (const TContenderResult& C : R) {
    Wall.push_back(FormatSeconds(C.MedianWall()));
    Runs.push_back(FormatRunTimes(C.WallTimes()));
    Speed.push_back(FormatText("%.1f", Audio / C.MedianWall()));
    Peak.push_back(FormatMiB(C.PeakKiB()));
  }
  Table.AddRow(Wall);
  Table.AddRow(Runs);
  Table.AddRow(Speed);
  Table.AddRow(Peak);
  Table.Print(std::cout);
  std::cout << "  throughput, 100 short files / one long file (pemmet-convert): "
            << FormatRatioAtLeast(R[1].MedianWall() / R[0].MedianWall(), TargetThroughput) << '\n'
            << "  the same for lame: " << FormatRatio(R[3].MedianWall() / R[2].MedianWall()) << '\n'
            << "  100 files, lame's time / pemmet-convert's (above 1: pemmet-convert is faster): "
            << FormatRatio(R[2].MedianWall() / R[0].MedianWall()) << '\n'
            << FormatText("  per file beyond the audio: pemmet-convert %.1f ms, lame %.1f ms\n",
                          (R[0].MedianWall() - R[1].MedianWall()) * 1000 / ShortCount,
                          (R[2].MedianWall() - R[3].MedianWall()) * 1000 / ShortCount);
  const double First = DecodedSeconds(AFolder.File("out-pemmet_100_files-1/f00000 (MP3 MPEG Layer-3).mp3"));
  std::cout << FormatText("  first short output decodes to %.3f s (input %.1f s)\n", First, ShortSeconds);
}

[[noreturn]] void Usage(const std::string& AWhy) {
  std::cerr << AWhy
            << "\nusage: pemmet-bench-many [--files N (1 to 100000)] [--rounds N (>= 3)] [--convert PROGRAM] "
               "[--keep] [--no-scale]\n";
  std::exit(2);
}

TSettings ParseSettings(int AArgc, char** AArgv) {
  TSettings Settings;
  for (int I = 1; I < AArgc; ++I) {
    const std::string Arg = AArgv[I];
    const char* Next = I + 1 < AArgc ? AArgv[I + 1] : nullptr;
    if (Arg == "--files") {
      const double Files = PositiveArgument(Arg, Next, Usage);
      if (Files != std::floor(Files) || Files > 100000) Usage("--files takes a whole number up to 100000");
      Settings.Files = static_cast<int>(Files);
      ++I;
    } else if (Arg == "--rounds") {
      Settings.Rounds = RoundsArgument(Arg, Next, Usage);
      ++I;
    } else if (Arg == "--convert") {
      if (!Next || !*Next) Usage("--convert needs a program");
      Settings.Convert = Next;
      ++I;
    } else if (Arg == "--keep") {
      Settings.Keep = true;
    } else if (Arg == "--no-scale") {
      Settings.Scale = false;
    } else {
      Usage("unknown argument \"" + Arg + "\"");
    }
  }
  return Settings;
}

int RunBenchmark(const TSettings& ASettings) {
  for (const std::string& Program : {ASettings.Convert, std::string("lame")})
    if (!ProgramInPath(Program)) {
      std::cerr << Program << " cannot be run (scripts/bench.sh many installs lame)\n";
      return 1;
    }
  TBenchFolder Folder("pemmet-bench-many");
  if (ASettings.Keep) Folder.Keep();
  std::cout << "Many short files to MP3 with pemmet-convert\nfolder: " << Folder.Path() << '\n';
  if (ASettings.Scale) RunScale(ASettings, Folder);
  RunThroughput(ASettings, Folder);
  std::cout << "\nthis process's own peak memory (the floor of every figure above): " << FormatMiB(OwnPeakKiB())
            << '\n';
  return 0;
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
    std::cerr << "pemmet-bench-many: " << E.what() << '\n';
    return 1;
  }
}
