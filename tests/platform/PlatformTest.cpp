#include "Platform.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fenv.h>
#include <limits.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Platform::CurrentThreadID;
using Platform::TMessageLoop;
using Platform::TThread;
using Platform::TThreadPriority;

namespace {

// Generous bound for "eventually": the tests run on small, loaded machines.
constexpr int64_t CLongMs = 5000;
constexpr auto CLong = std::chrono::milliseconds(CLongMs);

// A thread whose work and destruction the test decides.
class TTestThread : public TThread {
public:
  explicit TTestThread(std::function<void()> AWork, std::function<void()> AOnDestroy = {})
      : FWork(std::move(AWork)), FOnDestroy(std::move(AOnDestroy)) {}
  ~TTestThread() override {
    if (FOnDestroy) FOnDestroy();
  }

protected:
  void Execute() override {
    // A copy, so a test may delete the object while the work still runs.
    auto Work = FWork;
    Work();
  }

private:
  std::function<void()> FWork;
  std::function<void()> FOnDestroy;
};

// Runs AWork on a new thread, which gets a message loop of its own.
void OnFreshThread(const std::function<void()>& AWork) { std::thread(AWork).join(); }

// ---------------------------------------------------------------------------
// Thread ids

TEST(ThreadIdTest, MainThreadIsTheOneRunningTheTests) {
  EXPECT_EQ(Platform::MainThreadID(), CurrentThreadID());
  EXPECT_EQ(Platform::MainThreadID(), getpid());

  pid_t InWorker = 0;
  pid_t MainSeenInWorker = 0;
  std::thread([&] {
    InWorker = CurrentThreadID();
    MainSeenInWorker = Platform::MainThreadID();
  }).join();
  EXPECT_NE(InWorker, 0);
  EXPECT_NE(InWorker, CurrentThreadID());
  EXPECT_EQ(MainSeenInWorker, CurrentThreadID());
}

TEST(ThreadIdTest, SleepMsSleepsAtLeastTheGivenTime) {
  const auto Start = std::chrono::steady_clock::now();
  Platform::SleepMs(50);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, 50ms);
}

// ---------------------------------------------------------------------------
// TThread

TEST(ThreadTest, SuspendedUntilResumeWithTheKernelIdKnownAtOnce) {
  std::atomic<int> Runs{0};
  std::promise<pid_t> TidInside;
  TTestThread Thread([&] {
    ++Runs;
    TidInside.set_value(CurrentThreadID());
  });

  EXPECT_NE(Thread.ThreadID(), 0);
  EXPECT_NE(Thread.ThreadID(), CurrentThreadID());
  EXPECT_TRUE(Thread.Suspended());
  EXPECT_FALSE(Thread.Finished());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Runs, 0) << "Execute ran before Resume";

  Thread.Resume();
  Thread.Resume();  // a second Resume does nothing
  EXPECT_FALSE(Thread.Suspended());
  auto Tid = TidInside.get_future();
  ASSERT_EQ(Tid.wait_for(CLong), std::future_status::ready);
  EXPECT_EQ(Tid.get(), Thread.ThreadID());
  Thread.WaitFor();
  EXPECT_TRUE(Thread.Finished());
  EXPECT_EQ(Runs, 1);
}

TEST(ThreadTest, FinishedOnlyAfterExecuteReturns) {
  std::promise<void> Release;
  auto Released = Release.get_future().share();
  std::promise<void> Entered;
  TTestThread Thread([&, Released] {
    Entered.set_value();
    Released.wait();
  });
  Thread.Resume();
  ASSERT_EQ(Entered.get_future().wait_for(CLong), std::future_status::ready);
  EXPECT_FALSE(Thread.Finished());
  Release.set_value();
  Thread.WaitFor();
  EXPECT_TRUE(Thread.Finished());
}

TEST(ThreadTest, DestroyingANeverResumedThreadSkipsExecute) {
  std::atomic<bool> Ran{false};
  auto* Thread = new TTestThread([&] { Ran = true; });
  delete Thread;
  EXPECT_FALSE(Ran);
}

TEST(ThreadTest, DestroyingARunningThreadWaitsForExecute) {
  std::atomic<bool> Done{false};
  std::promise<void> Entered;
  auto* Thread = new TTestThread([&] {
    Entered.set_value();
    std::this_thread::sleep_for(200ms);
    Done = true;
  });
  Thread->Resume();
  ASSERT_EQ(Entered.get_future().wait_for(CLong), std::future_status::ready);
  delete Thread;
  EXPECT_TRUE(Done);
}

TEST(ThreadTest, FreeOnTerminateDeletesItselfOnItsOwnThread) {
  std::promise<pid_t> Destroyed;
  std::atomic<pid_t> ExecuteTid{0};
  auto* Thread = new TTestThread([&] { ExecuteTid = CurrentThreadID(); },
                                 [&] { Destroyed.set_value(CurrentThreadID()); });
  Thread->FreeOnTerminate = true;
  Thread->Resume();
  // The owner must not touch the object any more.
  auto DestroyedBy = Destroyed.get_future();
  ASSERT_EQ(DestroyedBy.wait_for(CLong), std::future_status::ready);
  const pid_t DestructorTid = DestroyedBy.get();
  EXPECT_EQ(DestructorTid, ExecuteTid.load());
  EXPECT_NE(DestructorTid, CurrentThreadID());
}

TEST(ThreadTest, ExceptionFromExecuteEndsOnlyTheThread) {
  TTestThread Thread([] { throw std::runtime_error("worker failed"); });
  Thread.Resume();
  Thread.WaitFor();
  EXPECT_TRUE(Thread.Finished());
}

TEST(ThreadTest, FreeOnTerminateThreadThatThrowsStillDeletesItself) {
  std::promise<void> Destroyed;
  auto* Thread = new TTestThread([] { throw 42; }, [&] { Destroyed.set_value(); });
  Thread->FreeOnTerminate = true;
  Thread->Resume();
  EXPECT_EQ(Destroyed.get_future().wait_for(CLong), std::future_status::ready);
}

// ---------------------------------------------------------------------------
// Priorities

// A suspended thread to adjust; it never runs Execute, and its nice value starts
// as the test's own.
struct TParkedThread {
  TTestThread Thread{[] {}};
  pid_t Tid() const { return Thread.ThreadID(); }
};

int NiceOf(pid_t ATid) {
  errno = 0;
  const int Nice = getpriority(PRIO_PROCESS, static_cast<id_t>(ATid));
  EXPECT_EQ(errno, 0);
  return Nice;
}

TEST(ThreadPriorityTest, LoweringSetsTheNiceValueOfThatThreadOnly) {
  const int OwnNice = NiceOf(CurrentThreadID());
  if (OwnNice > 5) GTEST_SKIP() << "the test already runs at nice " << OwnNice;

  struct TCase {
    TThreadPriority Priority;
    int Nice;
  };
  for (const TCase& Case : {TCase{TThreadPriority::tpLower, 5}, TCase{TThreadPriority::tpLowest, 10}}) {
    TParkedThread Parked;
    Parked.Thread.SetPriority(Case.Priority);
    EXPECT_EQ(Parked.Thread.Priority(), Case.Priority);
    EXPECT_EQ(NiceOf(Parked.Tid()), Case.Nice);
    EXPECT_EQ(sched_getscheduler(Parked.Tid()), SCHED_OTHER);
  }
  EXPECT_EQ(NiceOf(CurrentThreadID()), OwnNice);
}

TEST(ThreadPriorityTest, IdleUsesTheIdleScheduler) {
  TParkedThread Parked;
  Parked.Thread.SetPriority(TThreadPriority::tpIdle);
  EXPECT_EQ(Parked.Thread.Priority(), TThreadPriority::tpIdle);
  EXPECT_EQ(sched_getscheduler(Parked.Tid()), SCHED_IDLE);
  EXPECT_NE(sched_getscheduler(CurrentThreadID()), SCHED_IDLE);
}

// Whether this process may move a thread out of SCHED_IDLE (needs CAP_SYS_NICE or a
// generous RLIMIT_NICE).
bool CanLeaveIdle() {
  bool Result = false;
  std::thread([&] {
    sched_param Param{};
    Result = sched_setscheduler(0, SCHED_IDLE, &Param) == 0 &&
             sched_setscheduler(0, SCHED_OTHER, &Param) == 0;
  }).join();
  return Result;
}

TEST(ThreadPriorityTest, LeavingIdleGoesBackToTheNormalScheduler) {
  if (!CanLeaveIdle()) GTEST_SKIP() << "the system refuses to leave SCHED_IDLE here";
  TParkedThread Parked;
  Parked.Thread.SetPriority(TThreadPriority::tpIdle);
  Parked.Thread.SetPriority(TThreadPriority::tpLowest);
  EXPECT_EQ(sched_getscheduler(Parked.Tid()), SCHED_OTHER);
  EXPECT_EQ(NiceOf(Parked.Tid()), 10);
}

TEST(ThreadPriorityTest, StoredValueKeptEvenWhenRaisingIsRefused) {
  TParkedThread Parked;
  Parked.Thread.SetPriority(TThreadPriority::tpLowest);
  Parked.Thread.SetPriority(TThreadPriority::tpNormal);
  EXPECT_EQ(Parked.Thread.Priority(), TThreadPriority::tpNormal);
  // Either outcome is allowed; with the right to raise it must have taken effect.
  const int Nice = NiceOf(Parked.Tid());
  EXPECT_TRUE(Nice == 0 || Nice == 10) << Nice;
}

TEST(ThreadPriorityTest, PriorityOfARunningThreadChangesAtOnce) {
  std::promise<void> Release;
  auto Released = Release.get_future().share();
  TTestThread Thread([Released] { Released.wait(); });
  Thread.Resume();
  Thread.SetPriority(TThreadPriority::tpLowest);
  const int Nice = NiceOf(Thread.ThreadID());
  Release.set_value();
  Thread.WaitFor();
  if (NiceOf(CurrentThreadID()) <= 10) {
    EXPECT_EQ(Nice, 10);
  }
}

// ---------------------------------------------------------------------------
// TLockList

TEST(LockListTest, AddRemoveCount) {
  Platform::TLockList<int> List;
  EXPECT_EQ(List.Count(), 0u);
  List.Add(1);
  List.Add(2);
  List.Add(1);
  EXPECT_EQ(List.Count(), 3u);

  EXPECT_TRUE(List.Remove(1));  // the first of the two
  EXPECT_FALSE(List.Remove(3));
  std::vector<int>& Items = List.LockList();
  EXPECT_EQ(Items, (std::vector<int>{2, 1}));
  // The lock is reentrant: the holder may still use the other members.
  EXPECT_EQ(List.Count(), 2u);
  List.UnlockList();
}

TEST(LockListTest, LockListKeepsOtherThreadsOutUntilUnlock) {
  Platform::TLockList<int> List;
  std::vector<int>& Items = List.LockList();
  std::atomic<bool> Added{false};
  std::thread Other([&] {
    List.Add(7);
    Added = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(Added) << "Add went through while the list was locked";
  Items.push_back(1);
  List.UnlockList();
  Other.join();
  EXPECT_TRUE(Added);
  std::vector<int>& After = List.LockList();
  EXPECT_EQ(After, (std::vector<int>{1, 7}));
  List.UnlockList();
}

// ---------------------------------------------------------------------------
// TMessageLoop

TEST(MessageLoopTest, OneLoopPerThreadOwnedByIt) {
  auto Mine = TMessageLoop::Current();
  EXPECT_EQ(Mine, TMessageLoop::Current());
  EXPECT_EQ(Mine->OwnerThreadID(), CurrentThreadID());

  std::shared_ptr<TMessageLoop> Other;
  pid_t OtherTid = 0;
  OnFreshThread([&] {
    Other = TMessageLoop::Current();
    OtherTid = CurrentThreadID();
  });
  ASSERT_NE(Other, nullptr);
  EXPECT_NE(Other, Mine);
  EXPECT_EQ(Other->OwnerThreadID(), OtherTid);
}

TEST(MessageLoopTest, TimerFiresOnceAndOnlyWhenItsOwnerPumps) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    int Fired = 0;
    pid_t FiredOn = 0;
    Loop->SetOneShotTimer(100, [&] {
      ++Fired;
      FiredOn = CurrentThreadID();
    });
    EXPECT_EQ(Loop->ProcessMessages(), 0) << "a 100 ms timer fired at once";
    EXPECT_TRUE(Loop->HasPending());

    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Fired, 0) << "fired without a pump";
    EXPECT_EQ(Loop->ProcessMessages(), 1);
    EXPECT_EQ(Fired, 1);
    EXPECT_EQ(FiredOn, CurrentThreadID());

    EXPECT_EQ(Loop->ProcessMessages(), 0);
    EXPECT_EQ(Fired, 1);
    EXPECT_FALSE(Loop->HasPending());
  });
}

TEST(MessageLoopTest, DueTimersFireInDueOrder) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    std::vector<int> Order;
    for (int Delay : {60, 20, 40, 0, 20})
      Loop->SetOneShotTimer(Delay, [&Order, Delay] { Order.push_back(Delay); });
    // All due by the one pump, which must still keep their order.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Loop->ProcessMessages(), 5);
    EXPECT_EQ(Order, (std::vector<int>{0, 20, 20, 40, 60}));
  });
}

TEST(MessageLoopTest, PostedCallbacksRunBeforeDueTimersInPostingOrder) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    std::vector<std::string> Order;
    Loop->SetOneShotTimer(0, [&] { Order.push_back("timer"); });
    Loop->Post([&] { Order.push_back("post1"); });
    Loop->Post([&] { Order.push_back("post2"); });
    EXPECT_EQ(Loop->ProcessMessages(), 3);
    EXPECT_EQ(Order, (std::vector<std::string>{"post1", "post2", "timer"}));
  });
}

TEST(MessageLoopTest, WorkAddedFromAnotherThreadRunsOnTheOwner) {
  std::promise<std::shared_ptr<TMessageLoop>> LoopOfOwner;
  std::atomic<pid_t> OwnerTid{0};
  std::atomic<pid_t> TimerRanOn{0};
  std::atomic<pid_t> PostRanOn{0};
  std::atomic<bool> Finished{false};

  std::thread Owner([&] {
    OwnerTid = CurrentThreadID();
    LoopOfOwner.set_value(TMessageLoop::Current());
    Finished = TMessageLoop::Current()->RunUntil(
        [&] { return TimerRanOn != 0 && PostRanOn != 0; }, CLongMs);
  });
  auto Loop = LoopOfOwner.get_future().get();
  Loop->SetOneShotTimer(10, [&] { TimerRanOn = CurrentThreadID(); });
  Loop->Post([&] { PostRanOn = CurrentThreadID(); });
  Owner.join();

  EXPECT_TRUE(Finished);
  EXPECT_EQ(TimerRanOn, OwnerTid);
  EXPECT_EQ(PostRanOn, OwnerTid);
}

TEST(MessageLoopTest, KillTimer) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    bool KilledFired = false;
    bool KeptFired = false;
    const auto Killed = Loop->SetOneShotTimer(0, [&] { KilledFired = true; });
    const auto Kept = Loop->SetOneShotTimer(0, [&] { KeptFired = true; });

    EXPECT_TRUE(Loop->KillTimer(Killed));
    EXPECT_FALSE(Loop->KillTimer(Killed)) << "killed twice";
    EXPECT_FALSE(Loop->KillTimer(Kept + 1000)) << "never set";
    EXPECT_EQ(Loop->ProcessMessages(), 1);
    EXPECT_FALSE(KilledFired);
    EXPECT_TRUE(KeptFired);
    EXPECT_FALSE(Loop->KillTimer(Kept)) << "already fired";
  });
}

TEST(MessageLoopTest, CallbackMaySetAndKillTimers) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    std::vector<std::string> Fired;
    TMessageLoop::TTimerId Later = 0;
    Loop->SetOneShotTimer(10, [&] {
      Fired.push_back("first");
      EXPECT_TRUE(Loop->KillTimer(Later));
      Loop->SetOneShotTimer(10, [&] { Fired.push_back("set by first"); });
    });
    Later = Loop->SetOneShotTimer(30, [&] { Fired.push_back("killed"); });

    // Both are due by now; the first runs first and kills the other one.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Loop->ProcessMessages(), 1);
    EXPECT_EQ(Fired, (std::vector<std::string>{"first"}));

    ASSERT_TRUE(Loop->RunUntil([&] { return Fired.size() == 2; }, CLongMs));
    EXPECT_EQ(Fired, (std::vector<std::string>{"first", "set by first"}));
    EXPECT_FALSE(Loop->HasPending());
  });
}

TEST(MessageLoopTest, WorkThatRenewsItselfWaitsForTheNextPump) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    int Posts = 0;
    int Timers = 0;
    std::function<void()> Repost = [&] {
      ++Posts;
      Loop->Post(Repost);
    };
    std::function<void()> Rearm = [&] {
      ++Timers;
      Loop->SetOneShotTimer(0, Rearm);
    };
    Loop->Post(Repost);
    Loop->SetOneShotTimer(0, Rearm);
    for (int Pump = 1; Pump <= 3; ++Pump) {
      EXPECT_EQ(Loop->ProcessMessages(), 2);
      EXPECT_EQ(Posts, Pump);
      EXPECT_EQ(Timers, Pump);
    }
  });
}

TEST(MessageLoopTest, ThrowingCallbackKeepsTheRestForTheNextPump) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    bool SecondRan = false;
    Loop->Post([] { throw std::runtime_error("callback failed"); });
    Loop->Post([&] { SecondRan = true; });
    EXPECT_THROW(Loop->ProcessMessages(), std::runtime_error);
    EXPECT_FALSE(SecondRan);
    EXPECT_EQ(Loop->ProcessMessages(), 1);
    EXPECT_TRUE(SecondRan);
  });
}

TEST(MessageLoopTest, RunUntil) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();

    // Already done: no waiting, even without a limit.
    EXPECT_TRUE(Loop->RunUntil([] { return true; }));

    // Never done: gives up after the limit, and not before.
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Loop->RunUntil([] { return false; }, 50));
    const auto Waited = std::chrono::steady_clock::now() - Start;
    EXPECT_GE(Waited, 50ms);
    EXPECT_LT(Waited, CLong);

    // Done by a timer, well before the limit.
    bool Done = false;
    Loop->SetOneShotTimer(20, [&] { Done = true; });
    EXPECT_TRUE(Loop->RunUntil([&] { return Done; }, CLongMs));

    // Done by a flag another thread sets without posting anything.
    std::atomic<bool> Flag{false};
    std::thread Setter([&] {
      std::this_thread::sleep_for(20ms);
      Flag = true;
    });
    EXPECT_TRUE(Loop->RunUntil([&] { return Flag.load(); }, CLongMs));
    Setter.join();
  });
}

TEST(MessageLoopTest, HasPendingAndNextDue) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    const auto Never = TMessageLoop::TClock::time_point::max();
    EXPECT_FALSE(Loop->HasPending());
    EXPECT_EQ(Loop->NextDue(), Never);

    Loop->Post([] {});
    EXPECT_TRUE(Loop->HasPending());
    EXPECT_EQ(Loop->NextDue(), Never) << "a post is no timer";
    Loop->ProcessMessages();
    EXPECT_FALSE(Loop->HasPending());

    const auto Before = TMessageLoop::TClock::now();
    const auto Late = Loop->SetOneShotTimer(60000, [] {});
    Loop->SetOneShotTimer(30000, [] {});
    const auto After = TMessageLoop::TClock::now();
    EXPECT_TRUE(Loop->HasPending());
    EXPECT_GE(Loop->NextDue(), Before + 30s);
    EXPECT_LE(Loop->NextDue(), After + 30s);

    EXPECT_TRUE(Loop->KillTimer(Late));
    EXPECT_LE(Loop->NextDue(), After + 30s);
    EXPECT_TRUE(Loop->HasPending());
  });
}

TEST(MessageLoopTest, WakeHandlerRunsOnTheAddingThread) {
  OnFreshThread([] {
    auto Loop = TMessageLoop::Current();
    std::atomic<int> Wakes{0};
    std::atomic<pid_t> WokenFrom{0};
    Loop->SetWakeHandler([&] {
      ++Wakes;
      WokenFrom = CurrentThreadID();
      // The handler may use the loop: it runs outside its lock.
      (void)Loop->HasPending();
    });

    pid_t Poster = 0;
    std::thread([&] {
      Poster = CurrentThreadID();
      Loop->Post([] {});
    }).join();
    EXPECT_EQ(Wakes, 1);
    EXPECT_EQ(WokenFrom, Poster);

    Loop->SetOneShotTimer(1000, [] {});
    EXPECT_EQ(Wakes, 2);
    EXPECT_EQ(WokenFrom, CurrentThreadID());

    Loop->SetWakeHandler(nullptr);
    Loop->Post([] {});
    EXPECT_EQ(Wakes, 2);
  });
}

// ---------------------------------------------------------------------------
// Time and places

class TimeZoneTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char* Tz = getenv("TZ")) FSavedTz = Tz;
  }
  void TearDown() override {
    if (FSavedTz)
      setenv("TZ", FSavedTz->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static void UseZone(const char* AZone) {
    setenv("TZ", AZone, 1);
    tzset();
  }

private:
  std::optional<std::string> FSavedTz;
};

std::time_t Utc(int AYear, int AMonth, int ADay, int AHour) {
  std::tm Tm{};
  Tm.tm_year = AYear - 1900;
  Tm.tm_mon = AMonth - 1;
  Tm.tm_mday = ADay;
  Tm.tm_hour = AHour;
  return timegm(&Tm);
}

TEST_F(TimeZoneTest, StandardBiasIgnoresDaylightSaving) {
  struct TCase {
    const char* Zone;
    int Bias;
  };
  for (const TCase& Case : {TCase{"EST5EDT", 300}, TCase{"UTC0", 0}, TCase{"CET-1CEST", -60}}) {
    UseZone(Case.Zone);
    EXPECT_EQ(Platform::StandardTimeZoneBiasMinutes(), Case.Bias) << Case.Zone;
  }
}

TEST_F(TimeZoneTest, LocalTime) {
  struct TCase {
    const char* Zone;
    std::time_t Time;
    int Year, Month, Day, Hour, IsDst;
  };
  const TCase Cases[] = {
      {"UTC0", Utc(2021, 7, 1, 12), 2021, 7, 1, 12, 0},
      {"EST5EDT", Utc(2021, 1, 15, 12), 2021, 1, 15, 7, 0},
      {"EST5EDT", Utc(2021, 7, 1, 12), 2021, 7, 1, 8, 1},
      // Crosses midnight and the year backwards.
      {"EST5EDT", Utc(2021, 1, 1, 2), 2020, 12, 31, 21, 0},
  };
  for (const TCase& Case : Cases) {
    UseZone(Case.Zone);
    const std::tm Tm = Platform::LocalTime(Case.Time);
    EXPECT_EQ(Tm.tm_year + 1900, Case.Year) << Case.Zone << " " << Case.Time;
    EXPECT_EQ(Tm.tm_mon + 1, Case.Month) << Case.Zone << " " << Case.Time;
    EXPECT_EQ(Tm.tm_mday, Case.Day) << Case.Zone << " " << Case.Time;
    EXPECT_EQ(Tm.tm_hour, Case.Hour) << Case.Zone << " " << Case.Time;
    EXPECT_EQ(Tm.tm_isdst, Case.IsDst) << Case.Zone << " " << Case.Time;
  }
}

TEST(PlacesTest, ProgramFolderHoldsTheRunningProgram) {
  const std::string Folder = Platform::ProgramFolder();
  ASSERT_FALSE(Folder.empty());
  EXPECT_EQ(Folder.front(), '/');
  EXPECT_EQ(Folder.back(), '/');
  const std::string Program = Folder + program_invocation_short_name;
  struct stat Info{};
  ASSERT_EQ(stat(Program.c_str(), &Info), 0) << Program;
  EXPECT_TRUE(S_ISREG(Info.st_mode));
}

TEST(PlacesTest, CurrentDirectoryFollowsSetCurrentDirectory) {
  const std::string Original = Platform::CurrentDirectory();
  ASSERT_FALSE(Original.empty());

  char Template[] = "/tmp/PlatformTest-XXXXXX";
  ASSERT_NE(mkdtemp(Template), nullptr);
  char Resolved[PATH_MAX];
  ASSERT_NE(realpath(Template, Resolved), nullptr);

  EXPECT_TRUE(Platform::SetCurrentDirectory(Template));
  EXPECT_EQ(Platform::CurrentDirectory(), Resolved);
  EXPECT_NE(Platform::CurrentDirectory().back(), '/');

  EXPECT_FALSE(Platform::SetCurrentDirectory(std::string(Template) + "/missing"));
  EXPECT_EQ(Platform::CurrentDirectory(), Resolved) << "a failed change moved us";

  EXPECT_TRUE(Platform::SetCurrentDirectory(Original));
  EXPECT_EQ(Platform::CurrentDirectory(), Original);
  rmdir(Template);
}

// ---------------------------------------------------------------------------
// Floating-point environment

// Puts the test's own floating-point environment back, whatever a test left enabled.
class FloatingPointTest : public ::testing::Test {
protected:
  void SetUp() override { fegetenv(&FOriginal); }
  void TearDown() override { fesetenv(&FOriginal); }

private:
  fenv_t FOriginal;
};

TEST_F(FloatingPointTest, MaskedDivisionByZeroGivesInfinity) {
  feenableexcept(FE_DIVBYZERO | FE_INVALID);
  Platform::MaskFloatingPointExceptions();
  const int EnabledWhileMasked = fegetexcept();
  volatile double One = 1.0;
  volatile double Zero = 0.0;
  const double Quotient = One / Zero;  // would raise SIGFPE if still enabled
  const double Invalid = Zero / Zero;
  Platform::RestoreFloatingPointEnvironment();
  const int EnabledAfterRestore = fegetexcept();
  fedisableexcept(FE_ALL_EXCEPT);

  EXPECT_EQ(EnabledWhileMasked, 0);
  EXPECT_TRUE(std::isinf(Quotient));
  EXPECT_TRUE(std::isnan(Invalid));
  EXPECT_EQ(EnabledAfterRestore, FE_DIVBYZERO | FE_INVALID);
}

TEST_F(FloatingPointTest, MaskClearsPendingFlags) {
  feraiseexcept(FE_OVERFLOW);
  Platform::MaskFloatingPointExceptions();
  const bool Pending = fetestexcept(FE_ALL_EXCEPT) != 0;
  Platform::RestoreFloatingPointEnvironment();
  EXPECT_FALSE(Pending);
}

TEST_F(FloatingPointTest, RestorePutsBackWhatTheLatestMaskSaved) {
  feenableexcept(FE_DIVBYZERO);
  Platform::MaskFloatingPointExceptions();
  feenableexcept(FE_INVALID);
  Platform::MaskFloatingPointExceptions();
  Platform::RestoreFloatingPointEnvironment();
  const int Enabled = fegetexcept();
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(Enabled, FE_INVALID);
}

}  // namespace
