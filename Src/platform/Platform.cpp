#include "Platform.h"

#include <cxxabi.h>
#include <fenv.h>
#include <limits.h>
#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace Platform {

// ---------------------------------------------------------------------------
// Threads

namespace {

// Dynamic initialisation runs on the main thread before main. MainThreadID reads
// this variable, so any program that uses it links this object file and with it
// the initialiser.
const pid_t GMainThreadID = CurrentThreadID();

void ApplyPriority(pid_t ATid, TThreadPriority APriority) {
  sched_param Param{};
  Param.sched_priority = 0;
  if (APriority == TThreadPriority::tpIdle) {
    sched_setscheduler(ATid, SCHED_IDLE, &Param);
    return;
  }
  int Nice = 0;
  switch (APriority) {
    case TThreadPriority::tpLowest: Nice = 10; break;
    case TThreadPriority::tpLower: Nice = 5; break;
    default: Nice = 0; break;
  }
  // Nice values mean nothing under SCHED_IDLE.
  int Policy = sched_getscheduler(ATid);
  if (Policy >= 0 && (Policy & ~SCHED_RESET_ON_FORK) == SCHED_IDLE)
    sched_setscheduler(ATid, SCHED_OTHER, &Param);
  // Linux keeps nice values per thread, so this touches only ATid.
  setpriority(PRIO_PROCESS, static_cast<id_t>(ATid), Nice);
}

}  // namespace

pid_t CurrentThreadID() { return gettid(); }

pid_t MainThreadID() {
  // Zero only when asked from another file's static initialiser that ran first;
  // the main thread's id is the process id then (and always) on Linux.
  return GMainThreadID != 0 ? GMainThreadID : getpid();
}

void SleepMs(int64_t Milliseconds) {
  if (Milliseconds > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

void KeepHeapsCompact() {
  // A fixed threshold also ends glibc's adaptive one, which climbs to 32 MiB once large
  // blocks have been freed and then serves them from the heaps.
  mallopt(M_MMAP_THRESHOLD, 128 << 10);
}

TThread::TThread() {
  FThread = std::thread([this] { Body(); });
  // ThreadID must be valid as soon as the object exists.
  std::unique_lock<std::mutex> Lock(FMutex);
  FGate.wait(Lock, [this] { return FThreadID != 0; });
}

TThread::~TThread() {
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    if (!FStarted) {
      FCancelled = true;
      FGate.notify_all();
    }
  }
  if (FThread.joinable()) {
    // Deleted from its own Execute: joining itself would deadlock.
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();
    else
      FThread.join();
  }
}

void TThread::Body() {
  std::unique_lock<std::mutex> Lock(FMutex);
  FThreadID = CurrentThreadID();
  FGate.notify_all();
  FGate.wait(Lock, [this] { return FStarted || FCancelled; });
  if (FCancelled) {
    FFinished = true;
    FGate.notify_all();
    return;
  }
  Lock.unlock();

  try {
    Execute();
  } catch (abi::__forced_unwind&) {
    // pthread_exit or cancellation: must propagate, but waiters still need to wake.
    Lock.lock();
    FFinished = true;
    FGate.notify_all();
    throw;
  } catch (...) {
    // A worker's failure must not end the process; the engine reports its own.
  }

  Lock.lock();
  FFinished = true;
  const bool Free = FreeOnTerminate;
  // Notify under the lock: once it is released, a waiting owner may delete us.
  FGate.notify_all();
  Lock.unlock();
  if (Free) {
    FThread.detach();
    delete this;
  }
}

void TThread::Resume() {
  std::lock_guard<std::mutex> Lock(FMutex);
  if (FStarted || FCancelled) return;
  FStarted = true;
  FGate.notify_all();
}

bool TThread::Suspended() const {
  std::lock_guard<std::mutex> Lock(FMutex);
  return !FStarted;
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> Lock(FMutex);
  return FFinished;
}

void TThread::WaitFor() {
  std::unique_lock<std::mutex> Lock(FMutex);
  FGate.wait(Lock, [this] { return FFinished; });
}

void TThread::SetPriority(TThreadPriority APriority) {
  std::lock_guard<std::mutex> Lock(FMutex);
  FPriority = APriority;
  // Holding the lock while not finished means the kernel thread still exists, so
  // the id cannot have been reused by another thread.
  if (!FFinished) ApplyPriority(FThreadID, APriority);
}

TThreadPriority TThread::Priority() const {
  std::lock_guard<std::mutex> Lock(FMutex);
  return FPriority;
}

// ---------------------------------------------------------------------------
// Message loop and one-shot timers

namespace {

// Adds milliseconds without overflowing the clock's range; huge delays mean "never".
TMessageLoop::TClock::time_point AddMs(TMessageLoop::TClock::time_point ABase, int64_t AMs) {
  using TClock = TMessageLoop::TClock;
  if (AMs <= 0) return ABase;
  const auto Room = std::chrono::duration_cast<std::chrono::milliseconds>(
      TClock::time_point::max() - ABase);
  if (AMs >= Room.count()) return TClock::time_point::max();
  return ABase + std::chrono::milliseconds(AMs);
}

// RunUntil re-checks its condition at least this often: it may depend on state that
// another thread changes without posting anything.
constexpr auto CMaxIdleSlice = std::chrono::milliseconds(100);

}  // namespace

TMessageLoop::TMessageLoop() : FOwner(CurrentThreadID()) {}

std::shared_ptr<TMessageLoop> TMessageLoop::Current() {
  thread_local std::shared_ptr<TMessageLoop> Loop;
  if (!Loop) Loop.reset(new TMessageLoop());
  return Loop;
}

TMessageLoop::TTimerId TMessageLoop::SetOneShotTimer(int64_t ADelayMs,
                                                     std::function<void()> ACallback) {
  TTimerId Id;
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    Id = FNextId++;
    FTimers.push_back(TTimer{Id, AddMs(TClock::now(), ADelayMs), std::move(ACallback)});
  }
  Wake();
  return Id;
}

bool TMessageLoop::KillTimer(TTimerId AId) {
  std::lock_guard<std::mutex> Lock(FMutex);
  auto It = std::find_if(FTimers.begin(), FTimers.end(),
                         [AId](const TTimer& ATimer) { return ATimer.Id == AId; });
  if (It == FTimers.end()) return false;
  FTimers.erase(It);
  return true;
}

void TMessageLoop::Post(std::function<void()> ACallback) {
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    FPosted.push_back(std::move(ACallback));
  }
  Wake();
}

int TMessageLoop::ProcessMessages() {
  int Ran = 0;

  // Only what was posted before this pump: a callback that posts again runs at the
  // next one instead of keeping this one busy forever.
  std::deque<std::function<void()>> Batch;
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    Batch.swap(FPosted);
  }
  while (!Batch.empty()) {
    std::function<void()> Callback = std::move(Batch.front());
    Batch.pop_front();
    try {
      Callback();
    } catch (...) {
      // Keep the rest of the batch, ahead of anything posted meanwhile.
      std::lock_guard<std::mutex> Lock(FMutex);
      FPosted.insert(FPosted.begin(), std::make_move_iterator(Batch.begin()),
                     std::make_move_iterator(Batch.end()));
      throw;
    }
    ++Ran;
  }

  // Timers set by the callbacks below wait for the next pump, for the same reason.
  const TClock::time_point Now = TClock::now();
  TTimerId Limit;
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    Limit = FNextId;
  }
  for (;;) {
    std::function<void()> Callback;
    {
      std::lock_guard<std::mutex> Lock(FMutex);
      auto Earliest = FTimers.end();
      for (auto It = FTimers.begin(); It != FTimers.end(); ++It)
        if (It->Id < Limit && It->Due <= Now &&
            (Earliest == FTimers.end() || It->Due < Earliest->Due ||
             (It->Due == Earliest->Due && It->Id < Earliest->Id)))
          Earliest = It;
      if (Earliest == FTimers.end()) break;
      // Removed before it runs, so the callback may set or kill timers freely.
      Callback = std::move(Earliest->Callback);
      FTimers.erase(Earliest);
    }
    Callback();
    ++Ran;
  }
  return Ran;
}

bool TMessageLoop::RunUntil(const std::function<bool()>& ADone, int64_t ATimeoutMs) {
  const TClock::time_point Deadline =
      ATimeoutMs < 0 ? TClock::time_point::max() : AddMs(TClock::now(), ATimeoutMs);
  for (;;) {
    if (ADone()) return true;
    ProcessMessages();
    if (ADone()) return true;

    const TClock::time_point Now = TClock::now();
    if (Now >= Deadline) return false;

    std::unique_lock<std::mutex> Lock(FMutex);
    if (!FPosted.empty()) continue;
    TClock::time_point Until = std::min(Deadline, Now + CMaxIdleSlice);
    for (const TTimer& Timer : FTimers) Until = std::min(Until, Timer.Due);
    if (Until <= Now) continue;
    // Post and SetOneShotTimer change the state under this mutex before notifying,
    // so nothing added after the checks above is missed.
    FChanged.wait_until(Lock, Until);
  }
}

bool TMessageLoop::HasPending() {
  std::lock_guard<std::mutex> Lock(FMutex);
  return !FPosted.empty() || !FTimers.empty();
}

TMessageLoop::TClock::time_point TMessageLoop::NextDue() {
  std::lock_guard<std::mutex> Lock(FMutex);
  TClock::time_point Result = TClock::time_point::max();
  for (const TTimer& Timer : FTimers) Result = std::min(Result, Timer.Due);
  return Result;
}

void TMessageLoop::SetWakeHandler(std::function<void()> AHandler) {
  std::lock_guard<std::mutex> Lock(FMutex);
  FWakeHandler = std::move(AHandler);
}

void TMessageLoop::Wake() {
  std::function<void()> Handler;
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    Handler = FWakeHandler;
    FChanged.notify_all();
  }
  // Outside the mutex: the handler may well call back into this loop.
  if (Handler) Handler();
}

// ---------------------------------------------------------------------------
// Time and places

std::tm LocalTime(std::time_t ATime) {
  // localtime_r need not look at TZ again; tzset makes a changed TZ count.
  tzset();
  std::tm Result{};
  localtime_r(&ATime, &Result);
  return Result;
}

int StandardTimeZoneBiasMinutes() {
  tzset();
  return static_cast<int>(timezone / 60);
}

std::string ProgramFolder() {
  std::string Path(PATH_MAX, '\0');
  for (;;) {
    const ssize_t Length = readlink("/proc/self/exe", Path.data(), Path.size());
    if (Length < 0) return std::string();
    // readlink truncates silently; a full buffer may mean a longer path.
    if (static_cast<size_t>(Length) < Path.size()) {
      Path.resize(static_cast<size_t>(Length));
      break;
    }
    Path.resize(Path.size() * 2);
  }
  const size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return std::string();
  return Path.substr(0, Slash + 1);
}

std::string CurrentDirectory() {
  std::string Buffer(PATH_MAX, '\0');
  for (;;) {
    if (getcwd(Buffer.data(), Buffer.size()) != nullptr) {
      Buffer.resize(Buffer.find('\0'));
      return Buffer;
    }
    if (errno != ERANGE) return std::string();
    Buffer.resize(Buffer.size() * 2);
  }
}

bool SetCurrentDirectory(const std::string& AFolder) { return chdir(AFolder.c_str()) == 0; }

// ---------------------------------------------------------------------------
// Floating-point environment

namespace {

std::mutex GFpMutex;
fenv_t GSavedFpEnv;
bool GHaveSavedFpEnv = false;

}  // namespace

void MaskFloatingPointExceptions() {
  std::lock_guard<std::mutex> Lock(GFpMutex);
  if (fegetenv(&GSavedFpEnv) == 0) GHaveSavedFpEnv = true;
  // Codec code expects IEEE results (inf, NaN) rather than SIGFPE.
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
}

void RestoreFloatingPointEnvironment() {
  std::lock_guard<std::mutex> Lock(GFpMutex);
  if (GHaveSavedFpEnv) fesetenv(&GSavedFpEnv);
}

}  // namespace Platform
