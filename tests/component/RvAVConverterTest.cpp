#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AVUtilHlpr.h"
#include "MediaGenerator.h"
#include "MyUtils.h"
#include "RvAVConverter.h"
#include "TestSupport.h"

namespace {

using TClock = std::chrono::steady_clock;

struct TTermination {
  int32_t Index;
  bool Finished, Exception;
  std::string Message;
  pid_t Thread;
  int Policy;  // scheduling policy of the delivering thread
  TClock::time_point At;
};

struct TLogLine {
  int32_t Index;
  TLogLevel Level;
  std::string Text;
};

// Collects a component's events and lets the test wait for the batch's end.
class TEventLog {
public:
  void Attach(TRvAVConverter& AConverter) {
    AConverter.OnTerminate = [this](int32_t AIndex, bool AFinished, bool AException, const std::string& AMsg) {
      std::lock_guard<std::mutex> Guard(FMutex);
      Terminations.push_back({AIndex, AFinished, AException, AMsg, Platform::CurrentThreadID(),
                              sched_getscheduler(0), TClock::now()});
      if (OnEachTermination) OnEachTermination(AIndex);
      FChanged.notify_all();
    };
    AConverter.OnLog = [this](int32_t AIndex, TLogLevel ALevel, const std::string& AMsg) {
      std::lock_guard<std::mutex> Guard(FMutex);
      Lines.push_back({AIndex, ALevel, AMsg});
    };
  }

  bool WaitForBatchEnd(int ASeconds = 60) {
    std::unique_lock<std::mutex> Guard(FMutex);
    return FChanged.wait_for(Guard, std::chrono::seconds(ASeconds), [this] { return EndedLocked(); });
  }

  // Under the lock: a test that polls this from its own loop then reads the events
  // the workers wrote before it.
  bool BatchEnded() const {
    std::lock_guard<std::mutex> Guard(FMutex);
    return EndedLocked();
  }

  std::vector<TLogLine> LinesContaining(const std::string& AText) {
    std::lock_guard<std::mutex> Guard(FMutex);
    std::vector<TLogLine> Found;
    for (const TLogLine& Line : Lines)
      if (Line.Text.find(AText) != std::string::npos) Found.push_back(Line);
    return Found;
  }

  std::vector<TTermination> Terminations;
  std::vector<TLogLine> Lines;
  std::function<void(int32_t)> OnEachTermination;  // called under the log's lock

private:
  bool EndedLocked() const { return !Terminations.empty() && Terminations.back().Index == -1; }

  mutable std::mutex FMutex;
  std::condition_variable FChanged;
};

class RvAVConverter : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    ASSERT_TRUE(Converter.LoadLibraries("", true)) << Converter.LastErrorText();
    Events.Attach(Converter);
  }

  std::string Tone(const std::string& AName, double ASeconds, int ARate = 22050, int AChannels = 1) {
    const std::string FileName = Dir.File(AName);
    WriteToneWav(FileName, ASeconds, ARate, AChannels);
    return FileName;
  }

  // Adds a task converting a tone of ASeconds to MP3; returns its index.
  int32_t AddMp3Task(const std::string& AName, double ASeconds, int ARate = 22050, int AChannels = 1) {
    const int32_t Index = Converter.AddTask(Tone(AName + ".wav", ASeconds, ARate, AChannels));
    EXPECT_GE(Index, 0) << Converter.LastErrorText();
    TOutputOptions Options;
    ResetOutputOptions(Options);
    Options.AudioCodec = "libmp3lame";
    Options.DisableVideo = true;
    EXPECT_TRUE(Converter.SetTaskOutput(Index, Dir.File(AName + ".mp3"), &Options)) << Converter.LastErrorText();
    return Index;
  }

  std::vector<int32_t> TerminationIndexes() const {
    std::vector<int32_t> Indexes;
    for (const TTermination& T : Events.Terminations) Indexes.push_back(T.Index);
    return Indexes;
  }

  TTempDir Dir;
  TRvAVConverter Converter;
  TEventLog Events;
};

TEST_F(RvAVConverter, PropertiesHaveTheirDefaultsAndBounds) {
  EXPECT_EQ(Converter.GetLogLevel(), llInfo);
  EXPECT_EQ(Converter.GetThreadPriority(), TConvertPriority::tpNormal);
  EXPECT_EQ(Converter.GetVersion(), "2.2");
  EXPECT_EQ(Converter.GetProgressInterval(), 500);
  const std::pair<int32_t, int32_t> Intervals[] = {{50, 100}, {100, 100}, {101, 101}, {-5, 100}, {2000, 2000}};
  for (auto [Given, Stored] : Intervals) {
    Converter.SetProgressInterval(Given);
    EXPECT_EQ(Converter.GetProgressInterval(), Stored) << Given;
  }
  // The component's level reaches the library on the library's scale.
  const std::pair<TLogLevel, int> Levels[] = {
      {llQuiet, AV_LOG_QUIET}, {llError, AV_LOG_ERROR}, {llInfo, AV_LOG_INFO}, {llDebug, AV_LOG_DEBUG}};
  for (auto [Level, Library] : Levels) {
    Converter.SetLogLevel(Level);
    EXPECT_EQ(av::av_log_get_level(), Library);
    EXPECT_EQ(GlobalLogLevel.load(), static_cast<int>(Level) - 1);
  }
}

TEST_F(RvAVConverter, OneAtATimeRunsTasksInOrderOnWorkersAndEndsTheBatchOnce) {
  for (int I = 0; I < 3; ++I) AddMp3Task("seq" + std::to_string(I), 0.5);
  Converter.StartConversion(1);
  ASSERT_TRUE(Events.WaitForBatchEnd());

  EXPECT_EQ(TerminationIndexes(), (std::vector<int32_t>{0, 1, 2, -1}));
  std::set<pid_t> Threads;
  for (int I = 0; I < 3; ++I) {
    const TTermination& T = Events.Terminations[I];
    EXPECT_TRUE(T.Finished) << I;
    EXPECT_FALSE(T.Exception) << T.Message;
    EXPECT_NE(T.Thread, Platform::CurrentThreadID());
    EXPECT_EQ(T.Thread, Converter.Task(I)->ThreadId.load());
    Threads.insert(T.Thread);
    EXPECT_GT(FileSizeOf(Dir.File("seq" + std::to_string(I) + ".mp3")), 0);
  }
  EXPECT_EQ(Threads.size(), 3u);
  const TTermination& Last = Events.Terminations.back();
  EXPECT_TRUE(Last.Finished);
  EXPECT_FALSE(Last.Exception);
  EXPECT_EQ(Last.Message, "");
}

TEST_F(RvAVConverter, TwoAtATimeStartsTheNextTaskAsEachEnds) {
  for (int I = 0; I < 5; ++I) AddMp3Task("par" + std::to_string(I), 0.5);
  // A task starts only from a termination, after its handler: at the n-th
  // termination exactly n + 1 tasks (at most five) have been given a thread.
  std::vector<int> StartedAtTermination;
  Events.OnEachTermination = [&](int32_t AIndex) {
    if (AIndex < 0) return;
    int Started = 0;
    for (int I = 0; I < Converter.TaskCount(); ++I) Started += Converter.Task(I)->ThreadId.load() != 0;
    StartedAtTermination.push_back(Started);
  };
  Converter.StartConversion(2);
  ASSERT_TRUE(Events.WaitForBatchEnd());

  EXPECT_EQ(StartedAtTermination, (std::vector<int>{2, 3, 4, 5, 5}));
  const std::vector<int32_t> Indexes = TerminationIndexes();
  std::multiset<int32_t> Ended(Indexes.begin(), Indexes.end() - 1);
  EXPECT_EQ(Ended, (std::multiset<int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(Events.Terminations.back().Index, -1);
  for (int I = 0; I < 4; ++I) EXPECT_NE(Events.Terminations[I].Index, -1);
}

TEST_F(RvAVConverter, TimerModeRunsTasksOnTheCallingThreadAHundredMillisecondsApart) {
  AddMp3Task("timer0", 0.3);
  AddMp3Task("timer1", 0.3);
  const TClock::time_point Started = TClock::now();
  Converter.StartConversion(0);
  // Nothing runs until this thread pumps its loop.
  EXPECT_TRUE(Events.Terminations.empty());
  EXPECT_EQ(Converter.Task(0)->ThreadId.load(), 0);

  auto Loop = Platform::TMessageLoop::Current();
  ASSERT_TRUE(Loop->RunUntil([&] { return Events.BatchEnded(); }, 60000));
  EXPECT_EQ(TerminationIndexes(), (std::vector<int32_t>{0, 1, -1}));
  for (int I = 0; I < 2; ++I) {
    EXPECT_TRUE(Events.Terminations[I].Finished);
    EXPECT_EQ(Events.Terminations[I].Thread, Platform::CurrentThreadID());
    EXPECT_EQ(Converter.Task(I)->ThreadId.load(), Platform::CurrentThreadID());
  }
  EXPECT_GE(Events.Terminations[0].At - Started, std::chrono::milliseconds(100));
  EXPECT_GE(Events.Terminations[1].At - Events.Terminations[0].At, std::chrono::milliseconds(100));
}

TEST_F(RvAVConverter, StopEndsTheRunningTaskAndReportsWaitingOnesFromIdleThreads) {
  for (int I = 0; I < 3; ++I) AddMp3Task("stop" + std::to_string(I), 120.0);
  Converter.SetProgressInterval(100);
  std::atomic<bool> Stopped{false};
  // Stopping from inside an event: the lock is re-entrant.
  Converter.OnProgress = [&](int32_t, int32_t, int32_t, int32_t ACurrentMs, float, float, int64_t, int32_t) {
    if (ACurrentMs > 0 && !Stopped.exchange(true)) Converter.StopConversion();
  };
  Converter.StartConversion(1);
  ASSERT_TRUE(Events.WaitForBatchEnd());

  // The waiting tasks' reports may come before the running one has ended.
  ASSERT_EQ(Events.Terminations.size(), 4u);
  EXPECT_EQ(Events.Terminations[3].Index, -1);
  std::multiset<int32_t> Ended;
  for (int I = 0; I < 3; ++I) {
    const TTermination& T = Events.Terminations[I];
    Ended.insert(T.Index);
    EXPECT_FALSE(T.Finished) << T.Index;
    EXPECT_FALSE(T.Exception) << T.Message;
    if (T.Index == 0) continue;
    EXPECT_EQ(T.Message, "");
    EXPECT_EQ(T.Policy, SCHED_IDLE);
  }
  EXPECT_EQ(Ended, (std::multiset<int32_t>{0, 1, 2}));
  EXPECT_EQ(Converter.Task(1)->ThreadId.load(), 0);

  // The stopped output is complete and shorter.
  const TDecodedAudio Audio = DecodeAudio(Dir.File("stop0.mp3"));
  EXPECT_GT(Audio.Frames(), 0);
  EXPECT_LT(Audio.Frames(), 120 * 22050);
  EXPECT_FALSE(FileSizeOf(Dir.File("stop1.mp3")) > 0);
}

TEST_F(RvAVConverter, StopBeforeATimerFiresNeverStartsItsTask) {
  AddMp3Task("pending0", 0.3);
  AddMp3Task("pending1", 0.3);
  Converter.StartConversion(0);
  Converter.StopConversion();
  auto Loop = Platform::TMessageLoop::Current();
  ASSERT_TRUE(Loop->RunUntil([&] { return Events.BatchEnded(); }, 10000));
  // Let any timer that survived the stop fire.
  Loop->RunUntil([] { return false; }, 300);

  ASSERT_EQ(Events.Terminations.size(), 3u);
  EXPECT_EQ(Events.Terminations[2].Index, -1);
  for (int I = 0; I < 2; ++I) {
    EXPECT_FALSE(Events.Terminations[I].Finished);
    EXPECT_EQ(Events.Terminations[I].Policy, SCHED_IDLE);
    EXPECT_EQ(Converter.Task(I)->ThreadId.load(), 0);
    EXPECT_FALSE(FileSizeOf(Dir.File("pending" + std::to_string(I) + ".mp3")) > 0);
  }
}

TEST_F(RvAVConverter, AComponentGoneBeforeItsTimerFiresStartsNothing) {
  auto Doomed = std::make_unique<TRvAVConverter>();
  ASSERT_GE(Doomed->AddTask(Tone("orphan.wav", 0.2)), 0);
  TOutputOptions Options;
  ResetOutputOptions(Options);
  Options.AudioCodec = "libmp3lame";
  ASSERT_TRUE(Doomed->SetTaskOutput(0, Dir.File("orphan.mp3"), &Options));
  Doomed->StartConversion(0);
  Doomed.reset();
  Platform::TMessageLoop::Current()->RunUntil([] { return false; }, 300);
  EXPECT_FALSE(FileSizeOf(Dir.File("orphan.mp3")) > 0);
}

TEST_F(RvAVConverter, AddTaskFailuresLeaveTheListAsItWas) {
  AddMp3Task("kept", 0.2);
  struct TCase {
    std::string FileName, FormatName, Extra, Expected;
  };
  const std::string Missing = Dir.File("missing.wav");
  const TCase Cases[] = {
      {Missing, "", "", Missing + ": no such file or directory"},
      {Dir.File("kept.wav"), "nosuchformat", "", "Unknown input format: nosuchformat"},
      {Dir.File("kept.wav"), "", "ar=notanumber", ""},
  };
  for (const TCase& Case : Cases) {
    TInputOptions Options;
    ResetInputOptions(Options);
    Options.FormatName = Case.FormatName;
    Options.ExtraOptions = Case.Extra;
    EXPECT_EQ(Converter.AddTask(Case.FileName, &Options), -1) << Case.FileName;
    EXPECT_EQ(Converter.TaskCount(), 1);
    if (!Case.Expected.empty()) {
      EXPECT_EQ(Converter.LastErrorText(), Case.Expected);
    }
    EXPECT_FALSE(Converter.LastErrorText().empty());
  }
}

TEST_F(RvAVConverter, AddTaskFillsTheRecordAndAttachesTheProbe) {
  const std::string FileName = Tone("probe.wav", 0.4);
  TInputOptions Options;
  ResetInputOptions(Options);
  const int32_t Index = Converter.AddTask(FileName, &Options);
  ASSERT_EQ(Index, 0) << Converter.LastErrorText();
  EXPECT_EQ(Options.FileName, FileName);
  TFFmpeg* Task = Converter.Task(Index);
  EXPECT_EQ(Task->InputOptions.FileName, FileName);
  EXPECT_EQ(Task->Probe->Context(), Converter.TaskInputContext(Index));
  EXPECT_EQ(Task->Probe->AudioCount(), 1);
  EXPECT_EQ(Task->Probe->AudioInfo().SampleRate, 22050);
  EXPECT_EQ(std::string(Converter.TaskInputContext(Index)->url), FileName);
  EXPECT_THROW(Converter.Task(1), std::out_of_range);
}

TEST_F(RvAVConverter, AFailingTaskEndsAloneAndTheBatchGoesOn) {
  // The second task has no output: its run fails its checks.
  AddMp3Task("good0", 0.2);
  ASSERT_EQ(Converter.AddTask(Tone("nooutput.wav", 0.2)), 1);
  TOutputOptions Bad;
  ResetOutputOptions(Bad);
  Bad.AudioCodec = "nosuchcodec";
  EXPECT_FALSE(Converter.SetTaskOutput(1, Dir.File("nooutput.mp3"), &Bad));
  EXPECT_FALSE(Converter.LastErrorText().empty());
  EXPECT_EQ(Converter.TaskCount(), 2);
  AddMp3Task("good2", 0.2);

  Converter.StartConversion(1);
  ASSERT_TRUE(Events.WaitForBatchEnd());
  ASSERT_EQ(TerminationIndexes(), (std::vector<int32_t>{0, 1, 2, -1}));
  EXPECT_TRUE(Events.Terminations[0].Finished);
  EXPECT_TRUE(Events.Terminations[1].Exception);
  EXPECT_EQ(Events.Terminations[1].Message, "Must supply at least one output file");
  EXPECT_FALSE(Events.Terminations[1].Finished);
  EXPECT_TRUE(Events.Terminations[2].Finished);
}

TEST_F(RvAVConverter, RemoveTaskRenumbersTheRest) {
  for (int I = 0; I < 3; ++I) AddMp3Task("renum" + std::to_string(I), 0.2);
  Converter.RemoveTask(0);
  ASSERT_EQ(Converter.TaskCount(), 2);
  EXPECT_EQ(Converter.Task(0)->TaskIndex.load(), 0);
  EXPECT_EQ(Converter.Task(1)->TaskIndex.load(), 1);
  EXPECT_EQ(Converter.Task(0)->InputOptions.FileName, "");  // added without a record
  EXPECT_STREQ(Converter.TaskInputContext(0)->url, Dir.File("renum1.wav").c_str());

  Converter.StartConversion(2);
  ASSERT_TRUE(Events.WaitForBatchEnd());
  const std::vector<int32_t> Indexes = TerminationIndexes();
  std::multiset<int32_t> Ended(Indexes.begin(), Indexes.end());
  EXPECT_EQ(Ended, (std::multiset<int32_t>{-1, 0, 1}));
  Converter.ClearTasks();
  EXPECT_EQ(Converter.TaskCount(), 0);
  // An empty batch raises nothing.
  Converter.StartConversion(1);
  EXPECT_EQ(Events.Terminations.size(), 3u);
}

TEST_F(RvAVConverter, EngineMessagesArriveWithTheTaskIndexAndAMappedLevel) {
  AddMp3Task("levels", 0.2);
  TFFmpeg* Task = Converter.Task(0);
  const std::pair<int, TLogLevel> Cases[] = {{-1, llQuiet}, {0, llError}, {1, llInfo},
                                             {2, llDebug},  {3, llAll},   {5, llAll}};
  for (auto [Level, Mapped] : Cases) {
    const std::string Text = "engine says " + std::to_string(Level);
    Task->Log(Level, Text);
    const auto Found = Events.LinesContaining(Text);
    ASSERT_EQ(Found.size(), 1u) << Text;
    EXPECT_EQ(Found[0].Level, Mapped) << Level;
    EXPECT_EQ(Found[0].Index, 0);
  }
}

TEST_F(RvAVConverter, AConversionReportsProgressNoMoreOftenThanTheInterval) {
  // Long enough for several reports on a fast machine.
  AddMp3Task("progress", 300.0, 44100, 2);
  Converter.SetProgressInterval(101);
  std::vector<TClock::time_point> Reports;
  std::vector<int32_t> Durations;
  Converter.OnProgress = [&](int32_t AIndex, int32_t, int32_t, int32_t ACurrentMs, float, float, int64_t,
                             int32_t ATotalMs) {
    EXPECT_EQ(AIndex, 0);
    Reports.push_back(TClock::now());
    Durations.push_back(ACurrentMs);
    EXPECT_EQ(ATotalMs, 300000);
  };
  Converter.StartConversion(1);
  ASSERT_TRUE(Events.WaitForBatchEnd());
  EXPECT_EQ(Converter.Task(0)->ProgressIntervalUs, 101000);
  ASSERT_FALSE(Reports.empty());
  // The last report is the final one and may follow closely; the others keep apart
  // (the engine measures the interval; the host sees it with a little jitter).
  for (size_t I = 1; I + 1 < Reports.size(); ++I)
    EXPECT_GE(Reports[I] - Reports[I - 1], std::chrono::microseconds(95000));
  EXPECT_NEAR(Durations.back(), 300000, 100);
  EXPECT_GE(Reports.size(), 3u);
}

// ---------------------------------------------------------------------------
// Library log lines

// A library object of the shape the log callback expects: its class first.
const char* Mp3ItemName(void*) { return "mp3"; }
AVClass MakeMp3Class() {
  AVClass Class{};
  Class.class_name = "mp3";
  Class.item_name = Mp3ItemName;
  Class.version = LIBAVUTIL_VERSION_INT;
  return Class;
}
const AVClass Mp3Class = MakeMp3Class();
struct TFakeLibraryObject {
  const AVClass* Class = &Mp3Class;
};

void LibraryLog(void* AContext, int ALevel, const char* AFormat, ...) {
  va_list Args;
  va_start(Args, AFormat);
  av::av_vlog(AContext, ALevel, AFormat, Args);
  va_end(Args);
}

TEST_F(RvAVConverter, LibraryMessagesBecomeWholeLinesPerThread) {
  LibraryLog(nullptr, AV_LOG_ERROR, "abc");
  LibraryLog(nullptr, AV_LOG_ERROR, "def\n");
  LibraryLog(nullptr, AV_LOG_ERROR, "a\nb\nc");
  // Another thread's message between the parts of this thread's line stays apart.
  std::thread([] {
    LibraryLog(nullptr, AV_LOG_ERROR, "other ");
    LibraryLog(nullptr, AV_LOG_ERROR, "thread\n");
  }).join();
  LibraryLog(nullptr, AV_LOG_ERROR, "%s %d\r\n", "continued", 7);

  std::vector<std::string> Texts;
  for (const TLogLine& Line : Events.Lines) {
    Texts.push_back(Line.Text);
    EXPECT_EQ(Line.Index, -1);
    EXPECT_EQ(Line.Level, llError);
  }
  EXPECT_EQ(Texts, (std::vector<std::string>{"abcdef", "a", "b", "other thread", "ccontinued 7\r"}));
}

TEST_F(RvAVConverter, ALineOfALibraryObjectStartsWithItsNameAndClassAddress) {
  TFakeLibraryObject Object;
  LibraryLog(&Object, AV_LOG_ERROR, "first part ");
  LibraryLog(&Object, AV_LOG_ERROR, "and the rest\n");
  ASSERT_EQ(Events.Lines.size(), 1u);
  const std::regex Shape(R"(\[mp3 @ [0-9A-F]{16}\]first part and the rest)");
  EXPECT_TRUE(std::regex_match(Events.Lines[0].Text, Shape)) << Events.Lines[0].Text;
  EXPECT_NE(Events.Lines[0].Text.find(FormatText("%016llX", (unsigned long long)(uintptr_t)&Mp3Class)),
            std::string::npos);
}

TEST_F(RvAVConverter, TheLibraryLevelFiltersMessagesAndLongOnesAreCut) {
  Converter.SetLogLevel(llQuiet);
  LibraryLog(nullptr, AV_LOG_ERROR, "not produced\n");
  EXPECT_TRUE(Events.Lines.empty());
  Converter.SetLogLevel(llInfo);
  LibraryLog(nullptr, AV_LOG_DEBUG, "too detailed\n");
  EXPECT_TRUE(Events.Lines.empty());

  const std::string Long(5000, 'x');
  LibraryLog(nullptr, AV_LOG_INFO, "%s", Long.c_str());  // no line feed, but cut: ends its line
  LibraryLog(nullptr, AV_LOG_INFO, "next\n");
  ASSERT_EQ(Events.Lines.size(), 2u);
  EXPECT_EQ(Events.Lines[0].Text, std::string(LOG_BUFFER_SIZE - 1, 'x'));
  EXPECT_EQ(Events.Lines[0].Level, llInfo);
  EXPECT_EQ(Events.Lines[1].Text, "next");
}

TEST_F(RvAVConverter, LinesOfATaskThreadCarryItsIndexInEveryComponent) {
  AddMp3Task("mine", 0.2);
  TRvAVConverter Second;
  TEventLog SecondEvents;
  SecondEvents.Attach(Second);
  ASSERT_GE(Second.AddTask(Tone("theirs.wav", 0.2)), 0);

  // This thread runs the first component's task 0; a new thread runs no task.
  Converter.Task(0)->ThreadId = Platform::CurrentThreadID();
  LibraryLog(nullptr, AV_LOG_ERROR, "on the task's thread\n");
  std::thread([] { LibraryLog(nullptr, AV_LOG_ERROR, "on a foreign thread\n"); }).join();

  for (TEventLog* Log : {&Events, &SecondEvents}) {
    auto Task = Log->LinesContaining("on the task's thread");
    auto Foreign = Log->LinesContaining("on a foreign thread");
    ASSERT_EQ(Task.size(), 1u);
    ASSERT_EQ(Foreign.size(), 1u);
    EXPECT_EQ(Foreign[0].Index, -1);
    EXPECT_EQ(Task[0].Index, Log == &Events ? 0 : -1);
  }
}

TEST_F(RvAVConverter, HandlersThatLogAndFreeTasksDoNotDeadlockWithLoggingThreads) {
  for (int I = 0; I < 4; ++I) AddMp3Task("busy" + std::to_string(I), 0.3);
  std::atomic<bool> Done{false};
  // Library lines from a thread of its own, all through the batch.
  std::thread Noise([&] {
    while (!Done) LibraryLog(nullptr, AV_LOG_ERROR, "noise\n");
  });
  std::atomic<bool> Freed{false};
  Converter.OnTerminate = [&](int32_t AIndex, bool, bool, const std::string&) {
    LibraryLog(nullptr, AV_LOG_ERROR, "terminated %d\n", AIndex);
    if (AIndex == -1) {
      Converter.ClearTasks();
      Freed = true;
    }
  };
  Converter.StartConversion(2);
  for (int Waited = 0; !Freed && Waited < 600; ++Waited) Platform::SleepMs(100);
  Done = true;
  Noise.join();
  ASSERT_TRUE(Freed);
  EXPECT_EQ(Converter.TaskCount(), 0);
  EXPECT_EQ(Events.LinesContaining("terminated -1").size(), 1u);
}

}  // namespace
