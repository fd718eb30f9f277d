// pemmet-convert: converts audio and video files to MP3 from a terminal or a script.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "AVCodecHlpr.h"
#include "BatchDriver.h"
#include "ConsoleReport.h"
#include "ConvertArgs.h"
#include "DemoMedia.h"
#include "MediaCheck.h"
#include "MyUtils.h"

namespace {

constexpr const char* ProgramVersion = "1.0";

TBatchDriver* GBatch = nullptr;

extern "C" void OnInterrupt(int) {
  // Only an atomic store happens here; a second Ctrl-C ends the program at once.
  if (GBatch) GBatch->RequestStop();
  signal(SIGINT, SIG_DFL);
}

void PrintSummary(const TBatchDriver& ABatch, double ASeconds) {
  std::printf("%d converted, %d failed, %d stopped, of %zu file(s) in %.1f s\n", ABatch.Count(TFileOutcome::Done),
              ABatch.Count(TFileOutcome::Failed), ABatch.Count(TFileOutcome::Stopped), ABatch.Files().size(),
              ASeconds);
}

// The demo's result, read back from the MP3 it made.
void DescribeOutput(const std::string& AFileName) {
  const TDecodedSummary Summary = DecodeAudioSummary(AFileName);
  if (!Summary.Ok) {
    std::printf("Reading the MP3 back failed: %s\n", Summary.Error.c_str());
    return;
  }
  std::printf("The MP3 file decodes to %.3f s, %d Hz, %d channel(s), %lld kbit/s\n", Summary.Seconds,
              Summary.SampleRate, Summary.Channels, static_cast<long long>(Summary.BitRate / 1000));
}

int RunBatch(TConvertArgs AArgs, const std::string& ADemoFolder) {
  if (!ADemoFolder.empty()) {
    const std::string Example = ADemoFolder + "/Pemmet example chord.wav";
    if (!WriteDemoWav(Example, 8.0)) {
      std::fprintf(stderr, "pemmet-convert: cannot write the example file %s\n", Example.c_str());
      return 1;
    }
    std::printf("Example input: %s (8 s chord, 44100 Hz stereo WAV)\n", Example.c_str());
    AArgs.Files = {Example};
  }
  TConsoleReporter Reporter(stdout, stderr, isatty(fileno(stdout)));
  TBatchDriver Batch(AArgs.Batch, Reporter);
  std::string Error;
  if (!Batch.LoadLibraries(Error) || !Batch.PrepareOutputFolder(Error)) {
    std::fprintf(stderr, "pemmet-convert: %s\n", Error.c_str());
    return 1;
  }
  GBatch = &Batch;
  signal(SIGINT, OnInterrupt);
  const auto Started = std::chrono::steady_clock::now();
  Batch.AddFiles(AArgs.Files);
  Batch.Run();
  signal(SIGINT, SIG_DFL);
  GBatch = nullptr;
  PrintSummary(Batch, std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count());
  if (!ADemoFolder.empty())
    for (const TFileState& File : Batch.Files())
      if (File.Outcome == TFileOutcome::Done) DescribeOutput(File.Output);
  return Batch.ExitStatus();
}

// The batch keeps only a few files open at a time; a higher limit is a second line
// of defence for libraries that open more than one file per input.
void RaiseOpenFileLimit() {
  rlimit Limit{};
  if (getrlimit(RLIMIT_NOFILE, &Limit) != 0 || Limit.rlim_cur >= Limit.rlim_max) return;
  Limit.rlim_cur = Limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &Limit);
}

}  // namespace

int main(int argc, char** argv) {
  RaiseOpenFileLimit();
  Platform::KeepHeapsCompact();
  TConvertArgs Args;
  std::string Error;
  if (!ParseConvertArgs(std::vector<std::string>(argv + 1, argv + argc), Args, Error)) {
    std::fprintf(stderr, "pemmet-convert: %s\nTry 'pemmet-convert --help'.\n", Error.c_str());
    return 2;
  }
  if (Args.Help) {
    std::fputs(ConvertUsage().c_str(), stdout);
    return 0;
  }
  if (Args.Version) {
    std::printf("pemmet-convert %s (converter component %s)\n", ProgramVersion, TRvAVConverter().GetVersion().c_str());
    return 0;
  }
  if (!Args.Demo) return RunBatch(Args, std::string());

  std::string Folder = std::filesystem::temp_directory_path().string() + "/pemmet-demo-XXXXXX";
  if (!mkdtemp(Folder.data())) {
    std::perror("pemmet-convert: cannot make a folder for the example");
    return 1;
  }
  const int Status = RunBatch(Args, Folder);
  std::error_code Ignored;
  std::filesystem::remove_all(Folder, Ignored);
  return Status;
}
