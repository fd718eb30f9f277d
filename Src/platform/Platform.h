// The small layer over the operating system that the engine, the component and the
// applications share: threads, locks, per-thread message loops with one-shot timers,
// time, the program's folder and the floating-point environment.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Platform {

// ---------------------------------------------------------------------------
// Threads

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal };

// Kernel id of the calling thread.
pid_t CurrentThreadID();
// Kernel id of the thread that started the program (recorded before main runs).
pid_t MainThreadID();
void SleepMs(int64_t Milliseconds);

// Has the allocator take every large block (128 KiB and more) from the system and give
// it back when freed. A batch allocates one file's large buffers among the small
// records it keeps for the whole batch; served from the heaps, those buffers leave
// holes the next file's do not fit, and the heaps grow with the batch.
void KeepHeapsCompact();

// A worker thread that starts suspended: the system thread exists from construction
// on (so ThreadID is known), but Execute runs only after the first Resume.
// With FreeOnTerminate set the object deletes itself when Execute returns; the owner
// must not touch it after Resume then. Without it, the owner deletes the object,
// which waits for Execute to return (a never-resumed thread ends without running it).
class TThread {
public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Lets Execute run; further calls do nothing.
  void Resume();
  bool Suspended() const;
  // True once Execute has returned (or the thread ended without running it).
  bool Finished() const;
  // Blocks until Execute has returned; not for FreeOnTerminate threads.
  void WaitFor();

  // Applies at once to the kernel thread. Raising a lowered priority may be refused
  // by the system for unprivileged processes; the stored value is kept either way.
  void SetPriority(TThreadPriority APriority);
  TThreadPriority Priority() const;

  pid_t ThreadID() const { return FThreadID; }

  bool FreeOnTerminate = false;

protected:
  virtual void Execute() = 0;

private:
  void Body();

  mutable std::mutex FMutex;
  std::condition_variable FGate;
  bool FStarted = false;    // Resume was called
  bool FCancelled = false;  // destroyed before Resume
  bool FFinished = false;
  pid_t FThreadID = 0;
  TThreadPriority FPriority = TThreadPriority::tpNormal;
  std::thread FThread;
};

// ---------------------------------------------------------------------------
// Locks

using TReentrantLock = std::recursive_mutex;

// A list guarded by its own lock: LockList gives exclusive access until UnlockList.
template <class T>
class TLockList {
public:
  std::vector<T>& LockList() {
    FLock.lock();
    return FItems;
  }
  void UnlockList() { FLock.unlock(); }

  void Add(const T& AItem) {
    std::lock_guard<TReentrantLock> Guard(FLock);
    FItems.push_back(AItem);
  }
  // Removes the first equal item; false when there is none.
  bool Remove(const T& AItem) {
    std::lock_guard<TReentrantLock> Guard(FLock);
    for (auto It = FItems.begin(); It != FItems.end(); ++It)
      if (*It == AItem) {
        FItems.erase(It);
        return true;
      }
    return false;
  }
  size_t Count() {
    std::lock_guard<TReentrantLock> Guard(FLock);
    return FItems.size();
  }

private:
  TReentrantLock FLock;
  std::vector<T> FItems;
};

// ---------------------------------------------------------------------------
// Message loop and one-shot timers

// Each thread that owns timers has one loop and pumps it itself; callbacks run only
// on that thread, inside ProcessMessages or RunUntil. Other threads may post to it.
class TMessageLoop {
public:
  using TTimerId = uint64_t;
  using TClock = std::chrono::steady_clock;

  // The calling thread's loop, created on first use.
  static std::shared_ptr<TMessageLoop> Current();

  // Runs ACallback on the owning thread once ADelayMs have passed. Thread-safe.
  TTimerId SetOneShotTimer(int64_t ADelayMs, std::function<void()> ACallback);
  // False when the timer has already fired or was never set.
  bool KillTimer(TTimerId AId);
  // Runs ACallback on the owning thread at its next pump. Thread-safe.
  void Post(std::function<void()> ACallback);

  // Runs every posted callback and every due timer; returns how many ran.
  // Only the owning thread may call it.
  int ProcessMessages();
  // Pumps until ADone returns true or ATimeoutMs pass (negative: no limit), sleeping
  // while nothing is due. Returns ADone's last answer.
  bool RunUntil(const std::function<bool()>& ADone, int64_t ATimeoutMs = -1);

  bool HasPending();
  // Time of the earliest timer, or TClock::time_point::max() without one.
  TClock::time_point NextDue();

  // Called (on the posting thread) whenever work is added, so a host event loop
  // (the window's) can schedule a pump.
  void SetWakeHandler(std::function<void()> AHandler);

  pid_t OwnerThreadID() const { return FOwner; }

private:
  TMessageLoop();
  void Wake();

  struct TTimer {
    TTimerId Id;
    TClock::time_point Due;
    std::function<void()> Callback;
  };

  pid_t FOwner;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FPosted;
  std::vector<TTimer> FTimers;
  TTimerId FNextId = 1;
  std::function<void()> FWakeHandler;
};

// ---------------------------------------------------------------------------
// Time and places

// Broken-down local time of a time_t.
std::tm LocalTime(std::time_t ATime);
// Standard (not daylight-saving) offset of local time from UTC, in minutes,
// positive west of Greenwich, like the system's "timezone" divided by 60.
int StandardTimeZoneBiasMinutes();

// Folder of the running program file, with a trailing "/".
std::string ProgramFolder();
std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& AFolder);

// ---------------------------------------------------------------------------
// Floating-point environment

// Saves the calling thread's floating-point environment and masks every
// floating-point exception; RestoreFloatingPointEnvironment puts the saved one back.
void MaskFloatingPointExceptions();
void RestoreFloatingPointEnvironment();

}  // namespace Platform
