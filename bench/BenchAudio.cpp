// pemmet-bench-audio: the engine's MP3 conversion against the lame command, on a long
// WAV and a long Ogg Vorbis input. Every conversion runs in a child process: the engine
// in this program started again with a mode argument, the peer as its own command.
//
//   pemmet-bench-audio [--rounds N] [--seconds S] [--short-seconds S] [--keep]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchAudioMedia.h"
#include "BenchProcess.h"
#include "BenchReport.h"
#include "MyUtils.h"

namespace {

constexpr int Kbits = 192;
constexpr double TargetRatio = 1.02;
// An MP3 holds whole frames and the encoder's delay; more than this off is a fault.
constexpr double DurationTolerance = 0.5;
// Peak memory "does not grow" when the long input needs at most this much more.
constexpr double MemoryGrowthShare = 0.05;
constexpr int64_t MemoryGrowthSlackKiB = 1024;

struct TSettings {
  int Rounds = 3;
  double Seconds = 600;
  double ShortSeconds = 60;
  bool Keep = false;
};

// The lame settings that libmp3lame has when the engine leaves everything but the bit
// rate alone: constant bit rate, quality 3 (lame's default), joint stereo, bit
// reservoir on, no ReplayGain analysis (the command line does one unless told not to,
// the library does none unless asked).
TCommand LameCommand(const std::string& AInput, const std::string& AOutput) {
  return {"lame", "--quiet", "--noreplaygain", "--cbr", "-b", std::to_string(Kbits), "-q", "3", "-m", "j",
          AInput, AOutput};
}

std::vector<TCommand> PeerPipeline(const std::string& AKind, const std::string& AInput, const std::string& AOutput) {
  if (AKind == "wav") return {LameCommand(AInput, AOutput)};
  return {{"oggdec", "--quiet", "-o", "-", AInput}, LameCommand("-", AOutput)};
}

std::string CommandText(const std::vector<TCommand>& APipeline) {
  std::string Text;
  for (const TCommand& Command : APipeline) {
    if (!Text.empty()) Text += " | ";
    for (size_t I = 0; I < Command.size(); ++I) Text += (I ? " " : "") + Command[I];
  }
  return Text;
}

struct TAudioCheck {
  double DecodedSeconds = 0;
  double ProbedSeconds = 0;
  int SampleRate = 0;
  int Channels = 0;
};

TAudioCheck CheckAudio(const std::string& AFileName) {
  std::istringstream Text(CaptureSelf({"--audio-duration", AFileName}));
  TAudioCheck Check;
  if (!(Text >> Check.DecodedSeconds >> Check.ProbedSeconds >> Check.SampleRate >> Check.Channels))
    throw std::runtime_error(AFileName + ": no duration came back");
  return Check;
}

bool CheckPasses(const TAudioCheck& ACheck, double AExpected) {
  return std::fabs(ACheck.DecodedSeconds - AExpected) <= DurationTolerance && ACheck.SampleRate == 44100 &&
         ACheck.Channels == 2;
}

std::string DescribeCheck(const TAudioCheck& ACheck, double AExpected) {
  return FormatText("%.2f s, %d Hz, %d ch (probe %.2f s): %s", ACheck.DecodedSeconds, ACheck.SampleRate,
                    ACheck.Channels, ACheck.ProbedSeconds, CheckPasses(ACheck, AExpected) ? "ok" : "WRONG");
}

void RemoveFile(const std::string& AFileName) { std::remove(AFileName.c_str()); }

void MakeInput(const std::string& AKind, double ASeconds, const std::string& AFileName) {
  const TRunMeasure Made =
      RunSelf({"--make-input", AKind, FormatText("%.3f", ASeconds), AFileName});
  if (!Made.Succeeded) throw std::runtime_error("making " + AFileName + ": " + Made.Failure);
  std::cout << FormatText("  made %s (%.0f s): %s in %s\n", AFileName.c_str(), ASeconds,
                          FormatBytes(FileSizeOf(AFileName)).c_str(), FormatSeconds(Made.WallSeconds).c_str());
}

TContender EngineContender(const std::string& AInput, const std::string& AOutput) {
  return {"engine", [AInput, AOutput] {
            RemoveFile(AOutput);
            return RunSelf({"--engine-convert", AInput, AOutput, std::to_string(Kbits)});
          }};
}

TContender PeerContender(const std::vector<TCommand>& APipeline, const std::string& AOutput) {
  return {"peer", [APipeline, AOutput] {
            RemoveFile(AOutput);
            return RunPipeline(APipeline);
          }};
}

// One input kind: the long file in turns against the peer, then the short one once with
// the engine for the memory comparison. False when an output is not what it should be.
bool BenchInput(const TBenchFolder& AFolder, const std::string& AKind, const TSettings& ASettings) {
  const std::string Input = AFolder.File("long." + AKind), ShortInput = AFolder.File("short." + AKind);
  const std::string EngineOut = AFolder.File("long-" + AKind + "-engine.mp3");
  const std::string PeerOut = AFolder.File("long-" + AKind + "-peer.mp3");
  const std::string ShortOut = AFolder.File("short-" + AKind + "-engine.mp3");
  const std::vector<TCommand> Peer = PeerPipeline(AKind, Input, PeerOut);

  std::cout << "\n== " << (AKind == "wav" ? "WAV" : "Ogg Vorbis") << " input\n";
  MakeInput(AKind, ASettings.Seconds, Input);
  MakeInput(AKind, ASettings.ShortSeconds, ShortInput);
  std::cout << "  peer: " << CommandText(Peer) << '\n';
  const std::vector<TContenderResult> Results =
      RunInTurns({EngineContender(Input, EngineOut), PeerContender(Peer, PeerOut)}, ASettings.Rounds, &std::cout);
  const TContenderResult &Engine = Results[0], &PeerResult = Results[1];

  RemoveFile(ShortOut);
  const TRunMeasure Short = RunSelf({"--engine-convert", ShortInput, ShortOut, std::to_string(Kbits)});
  if (!Short.Succeeded) throw std::runtime_error("engine, short input: " + Short.Failure);

  const TAudioCheck EngineCheck = CheckAudio(EngineOut), PeerCheck = CheckAudio(PeerOut);
  const double Ratio = Engine.MedianWall() / PeerResult.MedianWall();

  TTable Table({"", "engine", "peer"});
  Table.AddRow({"wall time, median", FormatSeconds(Engine.MedianWall()), FormatSeconds(PeerResult.MedianWall())});
  Table.AddRow({"wall time, fastest", FormatSeconds(Engine.FastestWall()), FormatSeconds(PeerResult.FastestWall())});
  Table.AddRow({"wall time, runs", FormatRunTimes(Engine.WallTimes()), FormatRunTimes(PeerResult.WallTimes())});
  Table.AddRow({"CPU time, median", FormatSeconds(Engine.MedianCpu()), FormatSeconds(PeerResult.MedianCpu())});
  Table.AddRow({"peak memory", FormatMiB(Engine.PeakKiB()), FormatMiB(PeerResult.PeakKiB())});
  Table.AddRow({"output size", FormatBytes(FileSizeOf(EngineOut)), FormatBytes(FileSizeOf(PeerOut))});
  Table.AddRow({"output decodes to", DescribeCheck(EngineCheck, ASettings.Seconds),
                DescribeCheck(PeerCheck, ASettings.Seconds)});
  std::cout << '\n';
  Table.Print(std::cout);

  const int64_t LongPeak = Engine.PeakKiB(), ShortPeak = Short.PeakKiB;
  const bool Flat = double(LongPeak) <= double(ShortPeak) * (1 + MemoryGrowthShare) + MemoryGrowthSlackKiB;
  // CPU time is steadier than wall time on a machine that runs other work too.
  std::cout << "  ratio engine/peer (median wall): " << FormatRatioAgainst(Ratio, TargetRatio) << '\n'
            << "  ratio engine/peer (median CPU, for comparison): "
            << FormatRatio(Engine.MedianCpu() / PeerResult.MedianCpu()) << '\n'
            << "  engine speed: " << FormatTimesRealTime(ASettings.Seconds / Engine.MedianWall()) << " real time\n"
            << FormatText("  engine peak memory: %.0f s input %s, %.0f s input %s: %s\n", ASettings.ShortSeconds,
                          FormatMiB(ShortPeak).c_str(), ASettings.Seconds, FormatMiB(LongPeak).c_str(),
                          Flat ? "does not grow with the input" : "GROWS with the input");
  return CheckPasses(EngineCheck, ASettings.Seconds) && CheckPasses(PeerCheck, ASettings.Seconds);
}

[[noreturn]] void Usage(const std::string& AWhy) {
  std::cerr << AWhy << "\nusage: pemmet-bench-audio [--rounds N (>= 3)] [--seconds S] [--short-seconds S] [--keep]\n";
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
      ++I;
    } else if (Arg == "--short-seconds") {
      Settings.ShortSeconds = PositiveNumber(Arg, Next);
      ++I;
    } else if (Arg == "--keep") {
      Settings.Keep = true;
    } else {
      Usage("unknown argument \"" + Arg + "\"");
    }
  }
  if (Settings.ShortSeconds >= Settings.Seconds) Usage("--short-seconds must be shorter than --seconds");
  return Settings;
}

int RunBenchmark(const TSettings& ASettings) {
  for (const char* Program : {"lame", "oggdec"})
    if (!ProgramInPath(Program)) {
      std::cerr << Program << " is not installed; scripts/bench.sh installs the peer tools\n";
      return 1;
    }
  TBenchFolder Folder("pemmet-bench-audio");
  if (ASettings.Keep) Folder.Keep();
  std::cout << FormatText("Audio to MP3 at %d kbit/s CBR: engine (libmp3lame in-process) against lame\n", Kbits)
            << FormatText("signal: chord with beating partials, stereo 44.1 kHz, %.0f s; %d rounds in turns\n",
                          ASettings.Seconds, ASettings.Rounds)
            << "folder: " << Folder.Path() << '\n';
  bool Ok = true;
  for (const char* Kind : {"wav", "ogg"}) Ok = BenchInput(Folder, Kind, ASettings) && Ok;
  std::cout << "\nthis process's own peak memory (the floor of every figure above): " << FormatMiB(OwnPeakKiB())
            << '\n';
  if (!Ok) std::cout << "some output does not decode to the input's length\n";
  return Ok ? 0 : 1;
}

// The child modes: this program started again to do one piece of library work.
int RunChildMode(int AArgc, char** AArgv) {
  const std::string Mode = AArgv[1];
  if (Mode == "--make-input" && AArgc == 5) return MakeBenchInput(AArgv[2], std::atof(AArgv[3]), AArgv[4]);
  if (Mode == "--engine-convert" && AArgc == 5) return ConvertWithEngine(AArgv[2], AArgv[3], std::atoi(AArgv[4]));
  if (Mode == "--audio-duration" && AArgc == 3) return PrintAudioDuration(AArgv[2]);
  return -1;
}

}  // namespace

int main(int AArgc, char** AArgv) {
  if (AArgc >= 2) {
    const int Code = RunChildMode(AArgc, AArgv);
    if (Code >= 0) return Code;
  }
  try {
    return RunBenchmark(ParseSettings(AArgc, AArgv));
  } catch (const std::exception& E) {
    std::cerr << "pemmet-bench-audio: " << E.what() << '\n';
    return 1;
  }
}
