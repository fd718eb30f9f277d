#include "BenchProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

// A file descriptor closed when it goes out of scope.
class TFd {
public:
  TFd() = default;
  explicit TFd(int AFd) : FFd(AFd) {}
  ~TFd() { Close(); }
  TFd(TFd&& AOther) noexcept : FFd(AOther.FFd) { AOther.FFd = -1; }
  TFd& operator=(TFd&& AOther) noexcept {
    if (this != &AOther) {
      Close();
      FFd = AOther.FFd;
      AOther.FFd = -1;
    }
    return *this;
  }
  int Get() const { return FFd; }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

private:
  int FFd = -1;
};

// A pipe whose ends are closed at exec unless moved onto a standard descriptor.
struct TPipe {
  TFd Read, Write;
};

TPipe OpenPipe() {
  int Fds[2];
  if (::pipe2(Fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  return TPipe{TFd(Fds[0]), TFd(Fds[1])};
}

TFd OpenOutputFile(const std::string& AFileName) {
  if (AFileName.empty()) return TFd();
  const int Fd = ::open(AFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Fd < 0) throw std::runtime_error("cannot create " + AFileName + ": " + std::strerror(errno));
  return TFd(Fd);
}

// argv for exec: pointers into the strings, which must outlive it.
std::vector<char*> ArgumentVector(const std::vector<std::string>& AArguments) {
  std::vector<char*> Result;
  for (const std::string& A : AArguments) Result.push_back(const_cast<char*>(A.c_str()));
  Result.push_back(nullptr);
  return Result;
}

class TFileActions {
public:
  TFileActions() { posix_spawn_file_actions_init(&FActions); }
  ~TFileActions() { posix_spawn_file_actions_destroy(&FActions); }
  TFileActions(const TFileActions&) = delete;
  TFileActions& operator=(const TFileActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &FActions; }

private:
  posix_spawn_file_actions_t FActions;
};

double Seconds(const timeval& ATime) { return double(ATime.tv_sec) + double(ATime.tv_usec) / 1e6; }

std::string DescribeStatus(const std::string& AName, int AStatus) {
  if (WIFEXITED(AStatus)) return AName + " exited with " + std::to_string(WEXITSTATUS(AStatus));
  if (WIFSIGNALED(AStatus)) return AName + " was killed by signal " + std::to_string(WTERMSIG(AStatus));
  return AName + " ended oddly";
}

// Waits for every started process and fills the measure; a process that could not be
// started has pid -1 and is already recorded as a failure.
void WaitForAll(const std::vector<pid_t>& APids, const std::vector<std::string>& ANames, TClock::time_point AStart,
                TRunMeasure& AMeasure) {
  for (size_t I = 0; I < APids.size(); ++I) {
    if (APids[I] < 0) continue;
    int Status = 0;
    rusage Usage{};
    pid_t Got;
    do {
      Got = ::wait4(APids[I], &Status, 0, &Usage);
    } while (Got < 0 && errno == EINTR);
    if (Got < 0) {
      if (AMeasure.Failure.empty()) AMeasure.Failure = ANames[I] + ": wait4 failed";
      continue;
    }
    AMeasure.PeakKiB += Usage.ru_maxrss;
    AMeasure.CpuSeconds += Seconds(Usage.ru_utime) + Seconds(Usage.ru_stime);
    if (!(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) && AMeasure.Failure.empty())
      AMeasure.Failure = DescribeStatus(ANames[I], Status);
  }
  AMeasure.WallSeconds = std::chrono::duration<double>(TClock::now() - AStart).count();
  AMeasure.Succeeded = AMeasure.Failure.empty();
}

// Forks and executes this program; its standard output goes to AStdout (-1: ours).
pid_t StartSelf(const std::vector<std::string>& AArguments, int AStdout) {
  const std::string Program = SelfExecutable();
  std::vector<std::string> Arguments{Program};
  Arguments.insert(Arguments.end(), AArguments.begin(), AArguments.end());
  std::vector<char*> Argv = ArgumentVector(Arguments);
  const pid_t Pid = ::fork();
  if (Pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (Pid == 0) {
    // Only async-signal-safe calls from here to exec.
    const int Null = ::open("/dev/null", O_RDONLY);
    if (Null >= 0) ::dup2(Null, 0);
    if (AStdout >= 0) ::dup2(AStdout, 1);
    ::execv(Program.c_str(), Argv.data());
    ::_exit(127);
  }
  return Pid;
}

// How a run of this program is named in a failure: by its mode argument.
std::string SelfName(const std::vector<std::string>& AArguments) {
  return AArguments.empty() ? "this program" : "this program " + AArguments[0];
}

}  // namespace

TRunMeasure RunPipeline(const std::vector<TCommand>& APipeline, const TRunOutput& AOutput) {
  TRunMeasure Measure;
  if (APipeline.empty()) {
    Measure.Failure = "empty pipeline";
    return Measure;
  }
  for (const TCommand& Command : APipeline)
    if (Command.empty()) {
      Measure.Failure = "empty command in a pipeline";
      return Measure;
    }
  TFd Output = OpenOutputFile(AOutput.StdoutFile);
  std::vector<TPipe> Pipes;
  for (size_t I = 1; I < APipeline.size(); ++I) Pipes.push_back(OpenPipe());

  std::vector<pid_t> Pids;
  std::vector<std::string> Names;
  const TClock::time_point Start = TClock::now();
  for (size_t I = 0; I < APipeline.size(); ++I) {
    TFileActions Actions;
    if (I == 0)
      posix_spawn_file_actions_addopen(Actions.Get(), 0, "/dev/null", O_RDONLY, 0);
    else
      posix_spawn_file_actions_adddup2(Actions.Get(), Pipes[I - 1].Read.Get(), 0);
    if (I + 1 < APipeline.size())
      posix_spawn_file_actions_adddup2(Actions.Get(), Pipes[I].Write.Get(), 1);
    else if (Output.Get() >= 0)
      posix_spawn_file_actions_adddup2(Actions.Get(), Output.Get(), 1);
    std::vector<char*> Argv = ArgumentVector(APipeline[I]);
    pid_t Pid = -1;
    const int Err = ::posix_spawnp(&Pid, Argv[0], Actions.Get(), nullptr, Argv.data(), environ);
    Names.push_back(APipeline[I][0]);
    if (Err != 0) {
      if (Measure.Failure.empty()) Measure.Failure = APipeline[I][0] + ": " + std::strerror(Err);
      Pid = -1;
    }
    Pids.push_back(Pid);
  }
  // Our copies of the pipe ends go, or a reader would never see the end of its input.
  Pipes.clear();
  Output.Close();
  WaitForAll(Pids, Names, Start, Measure);
  return Measure;
}

TRunMeasure RunSelf(const std::vector<std::string>& AArguments, const TRunOutput& AOutput) {
  TRunMeasure Measure;
  TFd Output = OpenOutputFile(AOutput.StdoutFile);
  const TClock::time_point Start = TClock::now();
  const pid_t Pid = StartSelf(AArguments, Output.Get());
  Output.Close();
  WaitForAll({Pid}, {SelfName(AArguments)}, Start, Measure);
  return Measure;
}

std::string CaptureSelf(const std::vector<std::string>& AArguments) {
  TPipe Pipe = OpenPipe();
  const TClock::time_point Start = TClock::now();
  const pid_t Pid = StartSelf(AArguments, Pipe.Write.Get());
  Pipe.Write.Close();
  std::string Text;
  char Buffer[4096];
  for (;;) {
    const ssize_t Got = ::read(Pipe.Read.Get(), Buffer, sizeof Buffer);
    if (Got > 0) {
      Text.append(Buffer, size_t(Got));
    } else if (Got == 0 || errno != EINTR) {
      break;
    }
  }
  TRunMeasure Measure;
  WaitForAll({Pid}, {SelfName(AArguments)}, Start, Measure);
  if (!Measure.Succeeded) throw std::runtime_error(Measure.Failure);
  return Text;
}

std::string SelfExecutable() {
  std::error_code Err;
  const std::filesystem::path Path = std::filesystem::read_symlink("/proc/self/exe", Err);
  if (Err) throw std::runtime_error("cannot find this program's own file: " + Err.message());
  return Path.string();
}

bool ProgramInPath(const std::string& AName) {
  if (AName.find('/') != std::string::npos) return ::access(AName.c_str(), X_OK) == 0;
  const char* Path = std::getenv("PATH");
  const std::string Folders = Path ? Path : "";
  for (size_t From = 0;;) {
    const size_t Colon = Folders.find(':', From);
    const std::string Folder = Folders.substr(From, Colon == std::string::npos ? std::string::npos : Colon - From);
    if (::access(((Folder.empty() ? std::string(".") : Folder) + "/" + AName).c_str(), X_OK) == 0) return true;
    if (Colon == std::string::npos) return false;
    From = Colon + 1;
  }
}

int64_t OwnPeakKiB() {
  rusage Usage{};
  ::getrusage(RUSAGE_SELF, &Usage);
  return Usage.ru_maxrss;
}

double CoresLent(int AThreads, double ASeconds) {
  rusage Before{}, After{};
  ::getrusage(RUSAGE_SELF, &Before);
  const TClock::time_point Start = TClock::now();
  const TClock::time_point Until =
      Start + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(ASeconds));
  std::vector<std::thread> Spinners;
  for (int I = 0; I < AThreads; ++I)
    Spinners.emplace_back([Until] {
      while (TClock::now() < Until) {
      }
    });
  for (std::thread& Spinner : Spinners) Spinner.join();
  const double Wall = std::chrono::duration<double>(TClock::now() - Start).count();
  ::getrusage(RUSAGE_SELF, &After);
  const double Cpu = Seconds(After.ru_utime) + Seconds(After.ru_stime) - Seconds(Before.ru_utime) -
                     Seconds(Before.ru_stime);
  return Wall > 0 ? Cpu / Wall : 0;
}

TBenchFolder::TBenchFolder(const std::string& APrefix) {
  std::string Pattern = (std::filesystem::temp_directory_path() / (APrefix + "-XXXXXX")).string();
  if (!::mkdtemp(Pattern.data())) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  FPath = Pattern;
}

TBenchFolder::~TBenchFolder() {
  if (FKeep) return;
  std::error_code Ignored;
  std::filesystem::remove_all(FPath, Ignored);
}

std::vector<std::string> Mp3FilesIn(const std::string& AFolder) {
  std::vector<std::string> Files;
  std::error_code Error;
  for (const std::filesystem::directory_entry& Entry : std::filesystem::directory_iterator(AFolder, Error))
    if (Entry.is_regular_file() && Entry.path().extension() == ".mp3") Files.push_back(Entry.path().string());
  std::sort(Files.begin(), Files.end());
  return Files;
}
