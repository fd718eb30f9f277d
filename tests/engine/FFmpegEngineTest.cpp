#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FFmpeg.h"
#include "MyUtils.h"
#include "Platform.h"
#include "TestSupport.h"

namespace {

struct TLogLine {
  int Level;
  std::string Message;
};

// Records what an engine reports, from whichever thread reports it.
class TRecorder {
public:
  void Attach(TCustomFFmpeg& AEngine) {
    AEngine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      std::lock_guard<std::mutex> Guard(FMutex);
      FLog.push_back({ALevel, AMessage});
    };
    AEngine.OnTerminateHandler = [this](TCustomFFmpeg*) {
      std::lock_guard<std::mutex> Guard(FMutex);
      FTerminations.push_back(Platform::CurrentThreadID());
      FChanged.notify_all();
    };
  }
  bool WaitForTerminations(size_t ACount, int AMs = 10000) {
    std::unique_lock<std::mutex> Lock(FMutex);
    return FChanged.wait_for(Lock, std::chrono::milliseconds(AMs),
                             [&] { return FTerminations.size() >= ACount; });
  }
  std::vector<TLogLine> Log() {
    std::lock_guard<std::mutex> Guard(FMutex);
    return FLog;
  }
  std::vector<pid_t> Terminations() {
    std::lock_guard<std::mutex> Guard(FMutex);
    return FTerminations;
  }

private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TLogLine> FLog;
  std::vector<pid_t> FTerminations;
};

// An engine whose conversion the test steers: it runs until it sees a stop request
// or is released, and may fail in the ways a real conversion fails.
class TSteeredEngine : public TCustomFFmpeg {
public:
  enum class TEnding { Normally, GeneralException, ForeignException };
  TEnding Ending = TEnding::Normally;
  std::promise<void> Started;
  std::atomic<bool> Release{false};
  std::atomic<bool> IgnoreStop{false};
  std::atomic<int> Transcodes{0};

  // The run uses this class's members: stop it before they go.
  ~TSteeredEngine() override { Destroy(); }

protected:
  void Transcode() override {
    ++Transcodes;
    Started.set_value();
    while ((IgnoreStop || !StopRequested) && !Release) Platform::SleepMs(5);
    if (Ending == TEnding::GeneralException) throw FFMpegException("Broken stream");
    if (Ending == TEnding::ForeignException) throw 42;
    Finished = !StopRequested;
  }
};

class FFmpegEngine : public ::testing::Test {
protected:
  void SetUp() override { LoadSystemLibraries(); }

  // Opens a generated WAV file as the engine's next input.
  void AddWavInput(TCustomFFmpeg& AEngine, const std::string& AFileName) {
    WriteToneWav(AFileName, 0.2);
    AVFormatContext* Raw = nullptr;
    ASSERT_EQ(av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr), 0);
    ASSERT_TRUE(AEngine.StoreInputFile(TInputContextPtr(Raw)));
  }

  // Creates an output file the way output opening does: context, then the file.
  void AddOutput(TCustomFFmpeg& AEngine, const std::string& AFileName, const std::string& AContent) {
    AVFormatContext* Raw = nullptr;
    ASSERT_GE(av::avformat_alloc_output_context2(&Raw, nullptr, nullptr, AFileName.c_str()), 0);
    TFormatContextPtr Output(Raw);
    ASSERT_GE(av::avio_open(&Output->pb, AFileName.c_str(), AVIO_FLAG_WRITE), 0);
    if (!AContent.empty())
      av::avio_write(Output->pb, reinterpret_cast<const unsigned char*>(AContent.data()),
                     static_cast<int>(AContent.size()));
    av::avio_flush(Output->pb);
    ASSERT_TRUE(AEngine.StoreOutputFile(std::move(Output)));
  }

  void PrepareRun(TCustomFFmpeg& AEngine) {
    AEngine.Init();
    AddWavInput(AEngine, Dir.File("in.wav"));
    AddOutput(AEngine, Dir.File("out.mp3"), "");
  }

  TTempDir Dir;
  TRecorder Recorder;
};

}  // namespace

TEST_F(FFmpegEngine, CreationGivesTheDocumentedDefaults) {
  TCustomFFmpeg Engine;
  EXPECT_EQ(Engine.RecordingTime, INT64_MAX);
  EXPECT_EQ(Engine.TotalDuration, -1);
  EXPECT_EQ(Engine.ProgressIntervalUs, 500000);
  for (int32_t Limit : Engine.MaxFrames) EXPECT_EQ(Limit, INT32_MAX);
  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  EXPECT_EQ(Engine.AudioChannels, 2);
  EXPECT_FLOAT_EQ(Engine.AudioQScale, -99999.0f);
  EXPECT_EQ(Engine.AudioVolume, 256);
  EXPECT_EQ(Engine.FramePixFmt, -1);
  EXPECT_EQ(Engine.LoopOutput, -1);
  EXPECT_EQ(Engine.TopFieldFirst, -1);
  EXPECT_EQ(Engine.VideoSyncMethod, -1);
  EXPECT_EQ(Engine.IntraDcPrecision, 8);
  EXPECT_EQ(Engine.PadColor, (std::array<int32_t, 3>{16, 128, 128}));
  EXPECT_FLOAT_EQ(Engine.MuxPreload, 0.5f);
  EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.7f);
  EXPECT_FLOAT_EQ(Engine.DtsDeltaThreshold, 10.0f);
  EXPECT_FLOAT_EQ(Engine.AudioDriftThreshold, 0.1f);
  EXPECT_EQ(Engine.SwsFlags, 4);
  EXPECT_EQ(Engine.Verbose, 1);
  EXPECT_EQ(Engine.ThreadCount, 1);
  EXPECT_EQ(Engine.HookPixFmt, AV_PIX_FMT_BGR24);
  EXPECT_EQ(Engine.InputFilterDef.Name, "ffmpeg_input");
  EXPECT_EQ(Engine.OutputFilterDef.Name, "ffmpeg_output");
  EXPECT_FALSE(Engine.Running);
  EXPECT_FALSE(Engine.Terminated);
  EXPECT_EQ(Engine.CodecOpts[0], nullptr) << "creation does not touch the libraries";
}

TEST_F(FFmpegEngine, ResetOptionsPutsChangedOptionsBack) {
  TCustomFFmpeg Engine;
  Engine.FrameWidth = 640;
  Engine.AudioSampleRate = 22050;
  Engine.RecordingTime = 5;
  Engine.TotalDuration = 5000;
  Engine.VideoCodecName = "mpeg4";
  Engine.InputTsScale[3][4] = 2.5;
  Engine.StoreStreamMap({1, 2, 3, 4});
  Engine.OptNames.push_back("ab");
  Engine.HookRangeCount = 2;
  Engine.ExceptionRaised = true;
  Engine.ResetOptions();
  EXPECT_EQ(Engine.FrameWidth, 0);
  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  EXPECT_EQ(Engine.RecordingTime, INT64_MAX);
  EXPECT_EQ(Engine.TotalDuration, -1);
  EXPECT_EQ(Engine.VideoCodecName, "");
  EXPECT_EQ(Engine.InputTsScale[3][4], 0.0);
  EXPECT_EQ(Engine.StreamMapCount, 0);
  EXPECT_EQ(Engine.OptNameCount(), 0);
  EXPECT_EQ(Engine.HookRangeCount, 0);
  EXPECT_FALSE(Engine.ExceptionRaised);
}

TEST_F(FFmpegEngine, InitMakesTheGenericOptionHolders) {
  TCustomFFmpeg Engine;
  Engine.Init();
  for (int Type = 0; Type < CODEC_TYPE_COUNT; ++Type) {
    ASSERT_NE(Engine.CodecOpts[Type], nullptr);
    EXPECT_EQ(Engine.CodecOpts[Type]->codec_type, static_cast<AVMediaType>(Type));
  }
  EXPECT_NE(Engine.FormatOpts, nullptr);
  EXPECT_NE(Engine.ScaleOpts, nullptr);
  Engine.Cleanup();
  EXPECT_EQ(Engine.CodecOpts[1], nullptr);
  EXPECT_EQ(Engine.FormatOpts, nullptr);
  EXPECT_EQ(Engine.ScaleOpts, nullptr);
}

TEST(FFmpegEngineWithoutLibraries, InitDoesNothing) {
  TCustomFFmpeg Engine;
  Engine.FrameWidth = 320;
  Engine.Init();
  EXPECT_EQ(Engine.FrameWidth, 320);
  EXPECT_EQ(Engine.CodecOpts[0], nullptr);
}

TEST_F(FFmpegEngine, RunRefusesToStartWithoutFiles) {
  struct TCase {
    bool WithInput, WithOutput;
    const char* Message;
  } Cases[] = {
      {true, false, "Must supply at least one output file"},
      {false, true, "Must supply at least one input file"},
      {false, false, "Must supply at least one output file"},
  };
  for (const TCase& C : Cases) {
    TRecorder Recorder;
    TSteeredEngine Engine;
    Recorder.Attach(Engine);
    Engine.Init();
    if (C.WithInput) AddWavInput(Engine, Dir.File("in.wav"));
    if (C.WithOutput) AddOutput(Engine, Dir.File("out.mp2"), "");

    EXPECT_EQ(Engine.Run(true), nullptr) << C.Message;
    ASSERT_EQ(Recorder.Log().size(), 1u) << C.Message;
    EXPECT_EQ(Recorder.Log()[0].Level, -1);
    EXPECT_EQ(Recorder.Log()[0].Message, C.Message);
    EXPECT_TRUE(Engine.ExceptionRaised);
    EXPECT_EQ(Engine.ExceptionMessage, C.Message);
    EXPECT_EQ(Recorder.Terminations(), std::vector<pid_t>{Platform::CurrentThreadID()});
    EXPECT_TRUE(Engine.Terminated);
    EXPECT_FALSE(Engine.Running);
    EXPECT_EQ(Engine.Transcodes, 0) << "nothing was started";
    EXPECT_EQ(Engine.InputFileCount, 0) << "inputs are released first";
    EXPECT_EQ(Engine.OutputFileCount, 0);
    EXPECT_FALSE(FileExists(Dir.File("out.mp2"))) << "an output that stayed empty is deleted";

    EXPECT_EQ(Engine.Run(false), nullptr);
    EXPECT_EQ(Recorder.Terminations().size(), 1u) << "a terminated engine does not run again";
  }
}

TEST_F(FFmpegEngine, SynchronousRunReturnsAfterItsTermination) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  Engine.Release = true;
  EXPECT_EQ(Engine.Run(false), nullptr);
  EXPECT_EQ(Recorder.Terminations(), std::vector<pid_t>{Platform::CurrentThreadID()});
  EXPECT_TRUE(Engine.Finished);
  EXPECT_FALSE(Engine.ExceptionRaised);
  EXPECT_EQ(Engine.InputFileCount, 0) << "a run consumes its files";
  EXPECT_EQ(Engine.OutputFileCount, 0);
  EXPECT_EQ(Engine.Run(false), nullptr);
  EXPECT_EQ(Engine.Transcodes, 1);

  // Init makes it usable for another conversion.
  PrepareRun(Engine);
  Engine.Started = std::promise<void>();
  EXPECT_EQ(Engine.Run(false), nullptr);
  EXPECT_EQ(Engine.Transcodes, 2);
}

TEST_F(FFmpegEngine, AsynchronousRunWaitsForResumeAndRefusesASecondRun) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  TFFmpegThread* Worker = Engine.Run(true, TConvertPriority::tpLower);
  ASSERT_NE(Worker, nullptr);
  EXPECT_TRUE(Worker->Suspended());
  EXPECT_EQ(Engine.Thread.load(), Worker);
  const pid_t WorkerId = Worker->ThreadID();
  EXPECT_EQ(Engine.Run(true), nullptr) << "already running";
  Worker->Resume();
  Engine.Started.get_future().wait();
  EXPECT_EQ(Engine.Run(true), nullptr) << "still running";
  Engine.Release = true;
  ASSERT_TRUE(Recorder.WaitForTerminations(1));
  EXPECT_EQ(Recorder.Terminations(), std::vector<pid_t>{WorkerId});
  EXPECT_TRUE(Engine.Finished);
  EXPECT_EQ(Engine.Transcodes, 1);
}

TEST_F(FFmpegEngine, FailedConversionIsReportedAndCleanedUp) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  Engine.Ending = TSteeredEngine::TEnding::GeneralException;
  Engine.Release = true;
  Engine.Run(false);
  ASSERT_EQ(Recorder.Log().size(), 1u);
  EXPECT_EQ(Recorder.Log()[0].Level, -1);
  EXPECT_EQ(Recorder.Log()[0].Message, "Broken stream");
  EXPECT_TRUE(Engine.ExceptionRaised);
  EXPECT_EQ(Engine.ExceptionMessage, "Broken stream");
  EXPECT_FALSE(Engine.Finished);
  EXPECT_EQ(Recorder.Terminations().size(), 1u);
  EXPECT_EQ(Engine.InputFileCount, 0);
  EXPECT_FALSE(FileExists(Dir.File("out.mp3")));
}

TEST_F(FFmpegEngine, ForeignExceptionPassesOnAfterTheCleanUp) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  Engine.Ending = TSteeredEngine::TEnding::ForeignException;
  Engine.Release = true;
  EXPECT_THROW(Engine.Run(false), int);
  EXPECT_FALSE(Engine.ExceptionRaised);
  EXPECT_EQ(Recorder.Terminations().size(), 1u);
  EXPECT_EQ(Engine.InputFileCount, 0);
  EXPECT_FALSE(Engine.Running);
}

TEST_F(FFmpegEngine, OutputWithoutStreamsIsAFailedRun) {
  TCustomFFmpeg Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  Engine.Run(false);
  EXPECT_TRUE(Engine.ExceptionRaised);
  EXPECT_EQ(Engine.ExceptionMessage, "Output file does not contain any stream");
  EXPECT_FALSE(Engine.Finished);
  EXPECT_EQ(Recorder.Terminations().size(), 1u);
}

TEST_F(FFmpegEngine, StopEndsTheConversionAtItsNextCheck) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  TFFmpegThread* Worker = Engine.Run(true);
  ASSERT_NE(Worker, nullptr);
  Worker->Resume();
  Engine.Started.get_future().wait();
  Engine.Stop();
  ASSERT_TRUE(Recorder.WaitForTerminations(1));
  EXPECT_FALSE(Engine.Finished);
  EXPECT_FALSE(Engine.ExceptionRaised);
}

TEST_F(FFmpegEngine, StopResumesASuspendedWorker) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  ASSERT_NE(Engine.Run(true), nullptr);
  Engine.Stop();
  ASSERT_TRUE(Recorder.WaitForTerminations(1));
  EXPECT_FALSE(Engine.Finished);
}

TEST_F(FFmpegEngine, AbortOfAnIdleEngineTerminatesOnceFromAnotherThread) {
  TCustomFFmpeg Engine;
  Recorder.Attach(Engine);
  Engine.Init();
  Engine.Abort();
  Engine.Abort();  // while the first termination may still be on its way
  ASSERT_TRUE(Recorder.WaitForTerminations(1));
  Platform::SleepMs(50);
  ASSERT_EQ(Recorder.Terminations().size(), 1u);
  EXPECT_NE(Recorder.Terminations()[0], Platform::CurrentThreadID());
  EXPECT_TRUE(Engine.Terminated);
  Engine.Abort();
  Platform::SleepMs(50);
  EXPECT_EQ(Recorder.Terminations().size(), 1u) << "a terminated engine is left alone";
  EXPECT_EQ(Engine.Run(false), nullptr);
}

TEST_F(FFmpegEngine, AbortOfARunningEngineRequestsAStop) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  TFFmpegThread* Worker = Engine.Run(true);
  ASSERT_NE(Worker, nullptr);
  Worker->Resume();
  Engine.Started.get_future().wait();
  Engine.Abort();
  ASSERT_TRUE(Recorder.WaitForTerminations(1));
  EXPECT_TRUE(Engine.StopRequested);
  EXPECT_FALSE(Engine.Finished);
  EXPECT_EQ(Recorder.Terminations().size(), 1u);
}

TEST_F(FFmpegEngine, DestroyDuringARunWaitsForTheTermination) {
  auto* Engine = new TSteeredEngine;
  std::atomic<int> Terminations{0};
  Engine->OnTerminateHandler = [&](TCustomFFmpeg*) {
    Platform::SleepMs(200);  // the owner must not free the engine meanwhile
    ++Terminations;
  };
  PrepareRun(*Engine);
  TFFmpegThread* Worker = Engine->Run(true);
  ASSERT_NE(Worker, nullptr);
  Worker->Resume();
  Engine->Started.get_future().wait();
  delete Engine;
  EXPECT_EQ(Terminations, 1);
}

TEST_F(FFmpegEngine, BoundedDestroyKeepsABusyEngine) {
  TSteeredEngine Engine;
  Recorder.Attach(Engine);
  PrepareRun(Engine);
  Engine.IgnoreStop = true;
  TFFmpegThread* Worker = Engine.Run(true);
  ASSERT_NE(Worker, nullptr);
  Worker->Resume();
  Engine.Started.get_future().wait();

  EXPECT_FALSE(Engine.Destroy(300)) << "the worker is still busy";
  EXPECT_TRUE(Engine.StopRequested);
  EXPECT_EQ(Engine.InputFileCount, 1) << "nothing is released under a running worker";
  EXPECT_TRUE(Recorder.Terminations().empty());

  Engine.Release = true;
  EXPECT_TRUE(Engine.Destroy(10000));
  EXPECT_EQ(Recorder.Terminations().size(), 1u);
  EXPECT_EQ(Engine.Thread.load(), nullptr);
}

TEST_F(FFmpegEngine, TerminationHandlerMayFreeTheEngine) {
  std::promise<void> Freed;
  auto* Engine = new TSteeredEngine;
  Engine->OnTerminateHandler = [&](TCustomFFmpeg* Sender) {
    delete Sender;
    Freed.set_value();
  };
  PrepareRun(*Engine);
  Engine->Release = true;
  TFFmpegThread* Worker = Engine->Run(true);
  ASSERT_NE(Worker, nullptr);
  Worker->Resume();
  EXPECT_EQ(Freed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST_F(FFmpegEngine, FormatOpenErrorMessages) {
  TCustomFFmpeg Engine;
  struct TCase {
    int32_t Code;
    std::string Message;
  } Cases[] = {
      {-2, "in.avi: no such file or directory"},
      {-5, "in.avi: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
      {-12, "in.avi: memory allocation error occurred"},
      {-22, "in.avi: Error while parsing header"},
      {-33,
       "in.avi: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
       "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
       "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'."},
      {-42, "in.avi: Unknown format"},
      {-1, "in.avi: Error while opening file"},
      {0, "in.avi: Error while opening file"},
      {AVERROR_INVALIDDATA, "in.avi: Unknown format"},
      {AVERROR(EILSEQ), "in.avi: Unknown format"},
      {AVERROR_EOF, "in.avi: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
      {AVERROR(EPERM), "in.avi: Error while opening file"},
  };
  for (const TCase& C : Cases) EXPECT_EQ(Engine.FormatOpenError("in.avi", C.Code), C.Message) << C.Code;
  EXPECT_EQ(Engine.FormatOpenError("100%s.avi", -2), "100%s.avi: no such file or directory");
}

TEST_F(FFmpegEngine, CleanupDeletesOnlyOutputsThatStayedEmpty) {
  TCustomFFmpeg Engine;
  Engine.Init();
  AddOutput(Engine, Dir.File("empty.mp3"), "");
  AddOutput(Engine, Dir.File("full.mp3"), "ID3 and more");
  ASSERT_TRUE(FileExists(Dir.File("empty.mp3")));
  Engine.Cleanup();
  EXPECT_EQ(Engine.OutputFileCount, 0);
  EXPECT_FALSE(FileExists(Dir.File("empty.mp3")));
  EXPECT_EQ(FileSizeOf(Dir.File("full.mp3")), 12);
}

TEST_F(FFmpegEngine, TablesRefuseEntriesPastTheirLimits) {
  TCustomFFmpeg Engine;
  Engine.Init();
  for (int I = 0; I < MAX_FILES; ++I) {
    ASSERT_TRUE(Engine.StoreInputFile(TInputContextPtr(av::avformat_alloc_context())));
    ASSERT_TRUE(Engine.StoreOutputFile(TFormatContextPtr(av::avformat_alloc_context())));
  }
  EXPECT_FALSE(Engine.StoreInputFile(TInputContextPtr(av::avformat_alloc_context())));
  EXPECT_EQ(Engine.LastError, "Too many input files (at most 20)");
  EXPECT_FALSE(Engine.StoreOutputFile(TFormatContextPtr(av::avformat_alloc_context())));
  EXPECT_EQ(Engine.LastError, "Too many output files (at most 20)");
  EXPECT_EQ(Engine.InputFileCount, MAX_FILES);

  for (int I = 0; I < MAX_STREAM_MAPS; ++I) Engine.StoreStreamMap({0, I % MAX_STREAMS, 0, 0});
  EXPECT_THROW(Engine.StoreStreamMap({}), FFMpegException);
  EXPECT_EQ(Engine.StreamMapCount, MAX_STREAM_MAPS);
  for (int I = 0; I < MAX_META_DATA_MAPS; ++I) Engine.StoreMetaDataMap({I, 0});
  try {
    Engine.StoreMetaDataMap({});
    FAIL() << "no exception";
  } catch (const FFMpegException& E) {
    EXPECT_STREQ(E.what(), "Too many meta-data maps (at most 20)");
  }
  EXPECT_EQ(Engine.MetaDataMapCount, MAX_META_DATA_MAPS);
}

TEST_F(FFmpegEngine, CodecsLeftOpenAreClosedUnderTheCodecLock) {
  TCustomFFmpeg Engine;
  auto Open = [](const AVCodec* ACodec) {
    TCodecContextPtr Context(av::avcodec_alloc_context3(ACodec));
    Context->sample_rate = 8000;
    Context->sample_fmt = AV_SAMPLE_FMT_S16;
    av::av_channel_layout_default(&Context->ch_layout, 1);
    EXPECT_EQ(av::avcodec_open2(Context.get(), ACodec, nullptr), 0);
    return Context;
  };
  TCodecContextPtr Encoder = Open(av::avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE));
  Encoder->stats_in = static_cast<char*>(av::av_malloc(16));
  TCodecContextPtr Decoder = Open(av::avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE));
  Engine.OutputStreamList = {Encoder.get()};
  Engine.InputStreamList = {Decoder.get()};

  Engine.CloseOpenOutputCodecs();
  Engine.CloseOpenInputCodecs();
  EXPECT_FALSE(av::avcodec_is_open(Encoder.get()));
  EXPECT_FALSE(av::avcodec_is_open(Decoder.get()));
  EXPECT_EQ(Encoder->stats_in, nullptr);
  EXPECT_TRUE(Engine.OutputStreamList.empty());
  EXPECT_TRUE(Engine.InputStreamList.empty());
  std::thread Other([] {
    EXPECT_TRUE(CodecLock.try_lock()) << "the codec lock is free again";
    CodecLock.unlock();
  });
  Other.join();
}

TEST_F(FFmpegEngine, LibrariesRunWithFloatingPointExceptionsMasked) {
  EXPECT_EQ(fegetexcept(), 0);
  EXPECT_EQ(GlobalLogLevel.load(), EngineLogLevel(av::av_log_get_level()));
}
