// Child processes for the benchmarks: every measured run is a process of its own, so
// its wall time and peak memory are its own and nothing of one run leaks into the next.
//
// Peak memory comes from wait4's ru_maxrss. The kernel counts a child as at least as big
// as its parent was when it was forked (or as the parent's own peak, when posix_spawn
// shares the parent's memory until exec), so a benchmark keeps its own process small: it
// loads no codec library and does every piece of media work in a child too. OwnPeakKiB
// tells how small it stayed, the floor below which no measured figure can go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One program and its arguments; the program is looked up in PATH unless it has a "/".
using TCommand = std::vector<std::string>;

struct TRunMeasure {
  double WallSeconds = 0;  // from the first start to the last exit
  double CpuSeconds = 0;   // user and system time of every process
  int64_t PeakKiB = 0;     // the processes' peaks, added up
  bool Succeeded = false;  // every process exited with 0
  std::string Failure;     // the first process that did not, and how
};

// Where a run's standard output goes; empty: this process's own.
struct TRunOutput {
  std::string StdoutFile;
};

// Runs the commands as one pipeline (each one's output is the next one's input) with
// posix_spawn, and waits for all of them. The first reads from /dev/null.
TRunMeasure RunPipeline(const std::vector<TCommand>& APipeline, const TRunOutput& AOutput = {});

// Runs this program again (fork and exec) with the given arguments and waits for it.
TRunMeasure RunSelf(const std::vector<std::string>& AArguments, const TRunOutput& AOutput = {});

// Runs this program again and returns what it printed; throws std::runtime_error when
// it fails.
std::string CaptureSelf(const std::vector<std::string>& AArguments);

// The running program's own file, for RunSelf.
std::string SelfExecutable();

// Whether a program can be found in PATH.
bool ProgramInPath(const std::string& AName);

// This process's own peak memory so far.
int64_t OwnPeakKiB();

// How many cores the machine lends this process now: AThreads threads spin for
// ASeconds and their CPU time is set against the wall time. Other work, or a scheduler
// that shares the processors between sessions, brings it below AThreads; a run that
// needs that many cores cannot be judged then.
double CoresLent(int AThreads, double ASeconds);

// The MP3 files of a folder, by name.
std::vector<std::string> Mp3FilesIn(const std::string& AFolder);

// A fresh folder under the system's temporary folder, removed with its contents unless
// kept.
class TBenchFolder {
public:
  explicit TBenchFolder(const std::string& APrefix);
  ~TBenchFolder();
  TBenchFolder(const TBenchFolder&) = delete;
  TBenchFolder& operator=(const TBenchFolder&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& AName) const { return FPath + "/" + AName; }
  void Keep() { FKeep = true; }

private:
  std::string FPath;
  bool FKeep = false;
};
