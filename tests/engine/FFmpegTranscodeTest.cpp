#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "MediaGenerator.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

struct TProgress {
  int FrameNumber, Fps, CurrentMs;
  float Quality, BitRate;
  int64_t Size;
  int TotalMs;
};

// Share of a signal's energy at AFrequency (Goertzel over one channel), 0 … 1.
double ToneShare(const TDecodedAudio& AAudio, double AFrequency, int AChannel = 0) {
  const int64_t N = AAudio.Frames();
  if (N == 0) return 0;
  const double W = 2 * M_PI * AFrequency / AAudio.SampleRate;
  double S1 = 0, S2 = 0, Energy = 0;
  for (int64_t I = 0; I < N; ++I) {
    const double X = AAudio.Samples[I * AAudio.Channels + AChannel];
    Energy += X * X;
    const double S = X + 2 * std::cos(W) * S1 - S2;
    S2 = S1;
    S1 = S;
  }
  const double Power = S1 * S1 + S2 * S2 - 2 * std::cos(W) * S1 * S2;
  return Energy > 0 ? 2 * Power / (N * Energy) : 0;
}

double Rms(const TDecodedAudio& AAudio) {
  double Sum = 0;
  for (double X : AAudio.Samples) Sum += X * X;
  return AAudio.Samples.empty() ? 0 : std::sqrt(Sum / AAudio.Samples.size());
}

class FFmpegTranscode : public ::testing::Test {
protected:
  void SetUp() override { LoadSystemLibraries(); }

  std::string Tone(const std::string& AName, double ASeconds, int ARate = 44100, int AChannels = 2) {
    TToneSpec Spec;
    Spec.FileName = Dir.File(AName);
    Spec.SampleRate = ARate;
    Spec.Channels = AChannels;
    Spec.Seconds = ASeconds;
    MakeTone(Spec);
    return Spec.FileName;
  }

  // Prepares an engine the way the converter does: input, MP3 options, output.
  void Prepare(TCustomFFmpeg& AEngine, const std::string& AInput, const std::string& AOutput,
               const std::function<void(TCustomFFmpeg&)>& AOptions = nullptr) {
    AEngine.Init();
    AEngine.SetVerbose(-1);
    AEngine.Verbose = 1;
    AEngine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      Log.push_back({ALevel, AMessage});
    };
    AEngine.OnProgressHandler = [this](TCustomFFmpeg*, int AFrame, int AFps, int ACurrent, float AQ, float ABitRate,
                                       int64_t ASize, int ATotal) {
      Progress.push_back({AFrame, AFps, ACurrent, AQ, ABitRate, ASize, ATotal});
    };
    ASSERT_TRUE(AEngine.AddInputFile(AInput)) << AEngine.LastError;
    AEngine.SetAudioCodec("libmp3lame");
    if (AOptions) AOptions(AEngine);
    ASSERT_TRUE(AEngine.AddOutputFile(AOutput)) << AEngine.LastError;
  }

  bool Logged(const std::string& AMessage) const {
    for (const auto& [Level, Message] : Log)
      if (Message == AMessage) return true;
    return false;
  }

  TTempDir Dir;
  std::vector<std::pair<int, std::string>> Log;
  std::vector<TProgress> Progress;
};

}  // namespace

TEST_F(FFmpegTranscode, WavBecomesAnMp3OfTheSameSound) {
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("tone.mp3");
  Prepare(Engine, Tone("tone.wav", 2.0), Out, [](TCustomFFmpeg& E) { E.SetBitrate("ab", "128000"); });
  Engine.Run(false);
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_TRUE(Engine.Finished);

  const TDecodedAudio Mp3 = DecodeAudio(Out);
  EXPECT_EQ(Mp3.SampleRate, 44100);
  EXPECT_EQ(Mp3.Channels, 2);
  EXPECT_NEAR(Mp3.Frames() / 44100.0, 2.0, 0.1);
  EXPECT_GT(ToneShare(Mp3, 440.0), 0.9) << "the tone survives the encoding";
  EXPECT_GT(ToneShare(Mp3, 440.0, 1), 0.9);
  const int64_t Size = FileSizeOf(Out);
  EXPECT_NEAR(Size * 8 / 2.0, 128000, 20000) << "about the asked bit rate";

  EXPECT_TRUE(Logged("Stream mapping:"));
  EXPECT_TRUE(Logged("  Stream #0.0 -> #0.0"));
  ASSERT_FALSE(Progress.empty());
  const TProgress& Last = Progress.back();
  EXPECT_EQ(Last.FrameNumber, -1);
  EXPECT_EQ(Last.Fps, -1);
  EXPECT_FLOAT_EQ(Last.Quality, -1.0f);
  EXPECT_NEAR(Last.CurrentMs, 2000, 100);
  EXPECT_EQ(Last.Size, Size);
  EXPECT_EQ(Last.TotalMs, 2000);
  EXPECT_NEAR(Last.BitRate, 128, 20);
  EXPECT_EQ(Engine.InputFileCount, 0) << "the run cleans up";
}

TEST_F(FFmpegTranscode, RateAndChannelsAreConverted) {
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("resampled.mp3");
  Prepare(Engine, Tone("mono48k.wav", 1.0, 48000, 1), Out, [](TCustomFFmpeg& E) {
    E.SetAudioSampleRate(22050);
    E.SetAudioChannels(2);
  });
  Engine.Run(false);
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  const TDecodedAudio Mp3 = DecodeAudio(Out);
  EXPECT_EQ(Mp3.SampleRate, 22050);
  EXPECT_EQ(Mp3.Channels, 2);
  EXPECT_NEAR(Mp3.Frames() / 22050.0, 1.0, 0.1);
  EXPECT_GT(ToneShare(Mp3, 440.0), 0.9);
}

TEST_F(FFmpegTranscode, RecordingTimeAndVolume) {
  TCustomFFmpeg Plain, Louder;
  Prepare(Plain, Tone("a.wav", 2.0), Dir.File("plain.mp3"), [](TCustomFFmpeg& E) { E.SetRecordingTime("1"); });
  Plain.Run(false);
  Prepare(Louder, Tone("b.wav", 2.0), Dir.File("loud.mp3"), [](TCustomFFmpeg& E) {
    E.SetRecordingTime("1");
    E.SetVolume(512);
  });
  Louder.Run(false);
  ASSERT_FALSE(Plain.ExceptionRaised || Louder.ExceptionRaised) << Plain.ExceptionMessage << Louder.ExceptionMessage;
  const TDecodedAudio A = DecodeAudio(Dir.File("plain.mp3")), B = DecodeAudio(Dir.File("loud.mp3"));
  // The loop ends at the first packet past the limit, and the encoder's delay adds a little.
  EXPECT_GE(A.Frames() / 44100.0, 1.0);
  EXPECT_LT(A.Frames() / 44100.0, 1.2);
  EXPECT_NEAR(Rms(B) / Rms(A), 2.0, 0.1);
}

TEST_F(FFmpegTranscode, StopBeforeTheFirstPacketStillWritesACompleteFile) {
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("stopped.mp3");
  Prepare(Engine, Tone("s.wav", 1.0), Out);
  Engine.OnLogHandler = [&](TCustomFFmpeg* E, int, const std::string& AMessage) {
    if (AMessage == "Stream mapping:") E->Stop();
  };
  Engine.Run(false);
  EXPECT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_FALSE(Engine.Finished);
  ASSERT_FALSE(Progress.empty()) << "the last report comes all the same";
  if (FileExists(Out)) {
    int64_t Frames = 0;
    try {
      Frames = DecodeAudio(Out).Frames();
    } catch (const std::exception&) {
      // a file without a single audio frame may not even be recognised
    }
    EXPECT_EQ(Frames, 0);
  }
}

TEST_F(FFmpegTranscode, StreamCopy) {
  TCustomFFmpeg Engine;
  const std::string In = Tone("c.wav", 1.0, 22050, 1);
  Engine.Init();
  Engine.SetVerbose(-1);
  ASSERT_TRUE(Engine.AddInputFile(In));
  Engine.SetAudioCodec("copy");
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("copy.wav")));
  Engine.Run(false);
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  const TDecodedAudio Source = DecodeAudio(In), Copy = DecodeAudio(Dir.File("copy.wav"));
  EXPECT_EQ(Copy.Samples, Source.Samples);

  TCustomFFmpeg Louder;
  Louder.Init();
  Louder.SetVerbose(-1);
  ASSERT_TRUE(Louder.AddInputFile(In));
  Louder.SetAudioCodec("copy");
  Louder.SetVolume(255);
  ASSERT_TRUE(Louder.AddOutputFile(Dir.File("copy2.wav")));
  Louder.Run(false);
  EXPECT_EQ(Louder.ExceptionMessage, "-acodec copy and -vol are incompatible (frames are not decoded)");
}

TEST_F(FFmpegTranscode, SetUpFailures) {
  struct TCase {
    std::function<void(TCustomFFmpeg&)> Arrange;
    std::string Message;
  } Cases[] = {
      {[](TCustomFFmpeg& E) { E.AddStreamMap("0.0"); E.AddStreamMap("0.0"); },
       "Number of stream maps must match number of output streams"},
      {[](TCustomFFmpeg& E) { E.AddStreamMap("1.0"); }, "Could not find input stream #1.0"},
      {[](TCustomFFmpeg& E) { E.AddStreamMap("0.0:0.3"); }, "Could not find sync stream #0.3"},
      {[](TCustomFFmpeg& E) { E.AddMetaDataMap("1:0"); }, "Invalid output file index 1 map_meta_data(1,0)"},
  };
  const std::string In = Tone("f.wav", 0.2);
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    Prepare(Engine, In, Dir.File("f.mp3"));
    C.Arrange(Engine);
    Engine.Run(false);
    EXPECT_TRUE(Engine.ExceptionRaised) << C.Message;
    EXPECT_EQ(Engine.ExceptionMessage, C.Message);
    EXPECT_TRUE(Engine.OutputStreamList.empty()) << "nothing stays open";
    EXPECT_TRUE(Engine.InputStreamList.empty());
  }
}

TEST_F(FFmpegTranscode, CompressedInputsBecomeMp3) {
  struct TCase {
    std::string Format, Codec;
    int Rate, Channels;
  } Cases[] = {{"ogg", VorbisEncoderName(), 44100, 2}, {"flac", "flac", 32000, 1}, {"mp2", "mp2", 48000, 2}};
  for (const TCase& C : Cases) {
    TToneSpec Spec;
    Spec.FileName = Dir.File("in." + C.Format);
    Spec.Format = C.Format;
    Spec.Codec = C.Codec;
    Spec.SampleRate = C.Rate;
    Spec.Channels = C.Channels;
    Spec.Seconds = 1.5;
    Spec.Frequencies = {440.0, 660.0};
    MakeTone(Spec);
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File(C.Format + ".mp3");
    Prepare(Engine, Spec.FileName, Out);
    Engine.Run(false);
    ASSERT_FALSE(Engine.ExceptionRaised) << C.Format << ": " << Engine.ExceptionMessage;
    const TDecodedAudio Mp3 = DecodeAudio(Out);
    EXPECT_EQ(Mp3.SampleRate, C.Rate) << C.Format;
    EXPECT_EQ(Mp3.Channels, C.Channels) << C.Format;
    EXPECT_NEAR(Mp3.Frames() / double(C.Rate), 1.5, 0.1) << C.Format;
    EXPECT_GT(ToneShare(Mp3, 440.0) + ToneShare(Mp3, 660.0), 0.85) << C.Format;
  }
}

TEST_F(FFmpegTranscode, TextReportsWithoutAProgressHandler) {
  TCustomFFmpeg Engine;
  Prepare(Engine, Tone("r.wav", 0.5), Dir.File("r.mp3"));
  Engine.OnProgressHandler = nullptr;
  Engine.Verbose = 0;  // only the last report speaks
  Engine.Run(false);
  std::vector<std::string> Reports;
  for (const auto& [Level, Message] : Log)
    if (Message.rfind("size=", 0) == 0 || Message.rfind("video:", 0) == 0) Reports.push_back(Message);
  ASSERT_EQ(Reports.size(), 2u);
  EXPECT_NE(Reports[0].find(" time=0.5"), std::string::npos) << Reports[0];
  EXPECT_EQ(Reports[1].rfind("video:0kB audio:", 0), 0u) << Reports[1];
  EXPECT_NE(Reports[1].find("global headers:0kB muxing overhead "), std::string::npos);
  EXPECT_EQ(Reports[1].substr(Reports[1].size() - 3), "%\r\n");
}

TEST_F(FFmpegTranscode, TwoOutputsShareTheirInput) {
  TCustomFFmpeg Engine;
  Prepare(Engine, Tone("shared.wav", 0.5), Dir.File("one.mp3"));
  Engine.SetAudioCodec("libmp3lame");
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("two.mp3")));
  Engine.Run(false);
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_TRUE(Logged("  Stream #0.0 -> #1.0"));
  EXPECT_NEAR(DecodeAudio(Dir.File("one.mp3")).Frames(), DecodeAudio(Dir.File("two.mp3")).Frames(), 1152);
}

TEST_F(FFmpegTranscode, FrameLimitOnACopiedStream) {
  TCustomFFmpeg Engine;
  const std::string In = Tone("frames.wav", 2.0, 8000, 1);
  Engine.Init();
  Engine.SetVerbose(-1);
  ASSERT_TRUE(Engine.AddInputFile(In));
  Engine.SetAudioCodec("copy");
  Engine.MaxFrames[AVMEDIA_TYPE_AUDIO] = 3;
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("limited.wav")));
  Engine.Run(false);
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_TRUE(Engine.Finished);
  const int64_t Copied = DecodeAudio(Dir.File("limited.wav")).Frames();
  const int64_t Source = DecodeAudio(In).Frames();
  EXPECT_GT(Copied, 0);
  EXPECT_LT(Copied, Source) << "three packets, not the whole file";
}

TEST_F(FFmpegTranscode, BitstreamFiltersOnACopiedStream) {
  const std::string In = Tone("bsf.wav", 0.3, 8000, 1);
  for (const char* Chain : {"null", "null,null"}) {
    TCustomFFmpeg Engine;
    Engine.Init();
    Engine.SetVerbose(-1);
    ASSERT_TRUE(Engine.AddInputFile(In));
    Engine.SetAudioCodec("copy");
    std::string Rest = Chain;
    while (!Rest.empty()) Engine.AddBitstreamFilter("absf", SplitText(Rest, ","));
    ASSERT_TRUE(Engine.AddOutputFile(Dir.File("bsf-out.wav")));
    Engine.Run(false);
    ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
    EXPECT_EQ(DecodeAudio(Dir.File("bsf-out.wav")).Samples, DecodeAudio(In).Samples) << Chain;
  }
  TCustomFFmpeg Bad;
  Bad.Init();
  Bad.SetVerbose(-1);
  ASSERT_TRUE(Bad.AddInputFile(In));
  Bad.SetAudioCodec("copy");
  Bad.AddBitstreamFilter("absf", "null=nosuchoption=1");
  ASSERT_TRUE(Bad.AddOutputFile(Dir.File("bad.wav")));
  Bad.Run(false);
  EXPECT_EQ(Bad.ExceptionMessage, "Invalid option nosuchoption of bitstream filter null");
}

TEST_F(FFmpegTranscode, AsynchronousRunAndStop) {
  auto* Engine = new TCustomFFmpeg;
  Prepare(*Engine, Tone("long.wav", 20.0, 44100, 2), Dir.File("long.mp3"));
  std::promise<void> Started, Ended;
  std::atomic<bool> Once{false};
  Engine->OnProgressHandler = [&](TCustomFFmpeg*, int, int, int ACurrent, float, float, int64_t, int) {
    if (ACurrent > 0 && !Once.exchange(true)) Started.set_value();
  };
  Engine->ProgressIntervalUs = 0;
  Engine->OnTerminateHandler = [&](TCustomFFmpeg*) { Ended.set_value(); };
  TFFmpegThread* Worker = Engine->Run(true);
  ASSERT_NE(Worker, nullptr);
  Worker->Resume();
  Started.get_future().wait();
  Engine->Stop();
  ASSERT_EQ(Ended.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_FALSE(Engine->Finished);
  EXPECT_FALSE(Engine->ExceptionRaised) << Engine->ExceptionMessage;
  delete Engine;
  const double Seconds = DecodeAudio(Dir.File("long.mp3")).Frames() / 44100.0;
  EXPECT_GT(Seconds, 0.0) << "a stopped conversion leaves a complete, shorter file";
  EXPECT_LT(Seconds, 20.0);
}

TEST_F(FFmpegTranscode, AudioSyncPadsAndDropsToFollowTheInputClock) {
  const std::string In = Tone("sync.wav", 1.0, 44100, 2);
  struct TCase {
    int SyncMethod;
    const char* Offset;
    double Seconds;  // of the output
  } Cases[] = {{1, "0.5", 1.5}, {1, "-0.5", 0.5}, {0, "0.5", 1.0}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File("sync.mp3");
    Engine.Init();
    Engine.SetVerbose(-1);
    Engine.SetInputTsOffset(C.Offset);
    ASSERT_TRUE(Engine.AddInputFile(In));
    Engine.SetAudioCodec("libmp3lame");
    Engine.SetAudioSyncMethod(C.SyncMethod);
    ASSERT_TRUE(Engine.AddOutputFile(Out));
    Engine.Run(false);
    ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
    const TDecodedAudio Mp3 = DecodeAudio(Out);
    EXPECT_NEAR(Mp3.Frames() / 44100.0, C.Seconds, 0.1) << C.SyncMethod << " " << C.Offset;
    if (C.SyncMethod == 1 && C.Seconds > 1.0) {
      TDecodedAudio Head = Mp3;
      Head.Samples.resize(size_t(0.4 * 44100) * 2);
      EXPECT_LT(Rms(Head), 0.01) << "the output starts with the inserted silence";
    }
  }
}

// A start-position seek lands on a key point before the position, and the loop sees a
// recording time only once the encoder has passed it: the audio path cuts both ends
// to the sample, so the result starts and lasts as asked.
TEST_F(FFmpegTranscode, StartPositionAndRecordingTimeCutTheSoundToTheSample) {
  TToneSpec Spec;
  Spec.FileName = Dir.File("chord.flac");
  Spec.Format = Spec.Codec = "flac";
  Spec.Seconds = 4.0;
  Spec.Frequencies = {330.0, 415.0, 495.0};
  MakeTone(Spec);
  struct TCase {
    int64_t StartUs, RecordingUs;
    double Seconds;
  };
  const TCase Cases[] = {{1300000, INT64_MAX, 2.7}, {1300000, 2000000, 2.0}, {0, 1500000, 1.5}};
  for (const TCase& Case : Cases) {
    TCustomFFmpeg Engine;
    Engine.Init();
    Engine.SetVerbose(-1);
    Engine.SetStartTime(Case.StartUs);
    ASSERT_TRUE(Engine.AddInputFile(Spec.FileName)) << Engine.LastError;
    Engine.SetAudioCodec("libmp3lame");
    Engine.RecordingTime = Case.RecordingUs;
    const std::string Out = Dir.File("cut" + std::to_string(Case.StartUs) + "-" + std::to_string(Case.RecordingUs) + ".mp3");
    ASSERT_TRUE(Engine.AddOutputFile(Out)) << Engine.LastError;
    Engine.Run(false);
    ASSERT_TRUE(Engine.Finished) << Engine.ExceptionMessage;

    const TDecodedAudio Mp3 = DecodeAudio(Out);
    EXPECT_NEAR(Mp3.Frames() / 44100.0, Case.Seconds, 0.002) << Out;
    // Normalised correlation with the source from the asked position on.
    double Dot = 0, Ours = 0, Theirs = 0;
    const int64_t First = Case.StartUs * 44100 / 1000000;
    for (int64_t I = 2048; I < std::min<int64_t>(Mp3.Frames(), 44100); ++I) {
      const double X = Mp3.Samples[I * Mp3.Channels], Y = ToneSample(Spec.Frequencies, First + I, 44100);
      Dot += X * Y;
      Ours += X * X;
      Theirs += Y * Y;
    }
    EXPECT_GT(Dot / std::sqrt(Ours * Theirs), 0.95) << Out << ": the sound starts where it was asked to";
  }
}
