#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "AVProbe.h"
#include "FFmpeg.h"
#include "MediaGenerator.h"
#include "TestSupport.h"

namespace {

struct TLogLine {
  int Level;
  std::string Text;
  bool operator==(const TLogLine&) const = default;
};

std::ostream& operator<<(std::ostream& AOut, const TLogLine& ALine) {
  return AOut << "{" << ALine.Level << ", \"" << ALine.Text << "\"}";
}

std::mutex GLogMutex;
std::vector<TLogLine> GLog;

// The probe logs through the library; its lines are caught where a host would see them.
void CatchLibraryLog(void* AContext, int ALevel, const char* AFormat, va_list AArgs) {
  // Only lines without a context object: the probe's, not the demuxers' own.
  if (AContext) return;
  char Text[1024];
  std::vsnprintf(Text, sizeof Text, AFormat, AArgs);
  std::lock_guard<std::mutex> Guard(GLogMutex);
  GLog.push_back({ALevel, Text});
}

std::vector<TLogLine> TakeLog() {
  std::lock_guard<std::mutex> Guard(GLogMutex);
  std::vector<TLogLine> Lines;
  Lines.swap(GLog);
  return Lines;
}

struct TSummary {
  int32_t StreamCount, ProgramCount, AudioCount, VideoCount, SubtitleCount, FirstAudio, FirstVideo,
      FirstSubtitle;
  bool operator==(const TSummary&) const = default;
};

std::ostream& operator<<(std::ostream& AOut, const TSummary& A) {
  return AOut << "streams " << A.StreamCount << ", programs " << A.ProgramCount << ", audio " << A.AudioCount
              << "@" << A.FirstAudio << ", video " << A.VideoCount << "@" << A.FirstVideo << ", subtitle "
              << A.SubtitleCount << "@" << A.FirstSubtitle;
}

TSummary SummaryOf(const TAVProbe& AProbe) {
  return {AProbe.StreamCount(), AProbe.ProgramCount(), AProbe.AudioCount(), AProbe.VideoCount(),
          AProbe.SubtitleCount(), AProbe.FirstAudio(), AProbe.FirstVideo(), AProbe.FirstSubtitle()};
}

constexpr TSummary NoSummary{-1, -1, -1, -1, -1, -1, -1, -1};

void ExpectEmpty(const TAVProbe& AProbe) {
  EXPECT_EQ(AProbe.Context(), nullptr);
  EXPECT_FALSE(AProbe.OwnsContext());
  EXPECT_EQ(AProbe.FormatName(), "");
  EXPECT_EQ(SummaryOf(AProbe), NoSummary);
}

void ExpectDefaults(const TAudioStreamInfo& A) {
  EXPECT_EQ(A.Language, "");
  EXPECT_EQ(A.CodecName, "");
  EXPECT_EQ(A.StartTime, -1);
  EXPECT_EQ(A.StartTimeUs, -1);
  EXPECT_EQ(A.Duration, -1);
  EXPECT_EQ(A.DurationUs, -1);
  EXPECT_EQ(A.BitRate, -1);
  EXPECT_EQ(A.Channels, -1);
  EXPECT_EQ(A.SampleRate, -1);
  EXPECT_EQ(A.SampleFormat, -1);
}

void ExpectDefaults(const TVideoStreamInfo& V) {
  EXPECT_EQ(V.Language, "");
  EXPECT_EQ(V.CodecName, "");
  EXPECT_EQ(V.StartTime, -1);
  EXPECT_EQ(V.StartTimeUs, -1);
  EXPECT_EQ(V.Duration, -1);
  EXPECT_EQ(V.DurationUs, -1);
  EXPECT_EQ(V.BitRate, -1);
  EXPECT_EQ(V.Height, -1);
  EXPECT_EQ(V.Width, -1);
  EXPECT_EQ(V.DisplayAspect, -1.0f);
  EXPECT_EQ(V.PixelFormat, -1);
  EXPECT_EQ(V.FrameRateNum, -1);
  EXPECT_EQ(V.FrameRateDen, -1);
}

// An input opened the way the engine opens one, outside the probe.
TInputContextPtr OpenInput(const std::string& AFileName) {
  AVFormatContext* Raw = nullptr;
  if (av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr) < 0) return nullptr;
  TInputContextPtr Input(Raw);
  if (av::avformat_find_stream_info(Input.get(), nullptr) < 0) return nullptr;
  return Input;
}

class AVProbe : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    av::av_log_set_callback(CatchLibraryLog);
    Probe.Enable();
  }
  void TearDown() override { av::av_log_set_callback(av::av_log_default_callback); }

  std::string Tone(const char* AName = "tone.wav", int ASampleRate = 16000, int AChannels = 1) {
    const std::string FileName = Dir.File(AName);
    MakeTone({FileName, "wav", "pcm_s16le", ASampleRate, AChannels, 0.5, {440.0}, 0});
    return FileName;
  }
  std::string Clip(const char* AName = "clip.avi", const char* AFormat = "avi", bool AWithAudio = true) {
    TVideoSpec Spec;
    Spec.FileName = Dir.File(AName);
    Spec.Format = AFormat;
    Spec.Seconds = 0.5;
    Spec.Video.Width = 176;
    Spec.Video.Height = 144;
    Spec.WithAudio = AWithAudio;
    MakeVideo(Spec);
    return Spec.FileName;
  }

  TTempDir Dir;
  TAVProbe Probe;
};

TEST_F(AVProbe, SummaryCountsEachKindAndItsFirstStream) {
  const std::string Subtitled = Dir.File("subtitled.mkv");
  MakeSubtitled({Subtitled, "matroska", 1.0, TAudioTrack(), TSubtitleTrack()});
  const std::string TwoAudio = Dir.File("two.mkv");
  MakeTwoAudioStreams(TwoAudio, TAudioTrack(), {"flac", 22050, 1, {660.0}, 0, ""}, 0.5);
  const struct {
    std::string FileName;
    TSummary Expected;
  } Cases[] = {
      {Tone(), {1, 0, 1, 0, 0, 0, -1, -1}},
      {Clip(), {2, 0, 1, 1, 0, 1, 0, -1}},
      {Clip("silent.mkv", "matroska", false), {1, 0, 0, 1, 0, -1, 0, -1}},
      {Subtitled, {2, 0, 1, 0, 1, 0, -1, 1}},
      {TwoAudio, {2, 0, 2, 0, 0, 0, -1, -1}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.FileName);
    ASSERT_TRUE(Probe.Open(Case.FileName, "")) << Probe.LastError();
    EXPECT_TRUE(Probe.OwnsContext());
    EXPECT_EQ(SummaryOf(Probe), Case.Expected);
    EXPECT_EQ(Probe.LoadedFileName(), Case.FileName);
  }
  Probe.Close();
  ExpectEmpty(Probe);
}

// The data, video, audio, subtitle, audio order of a hand-made context checks that the
// first index of each kind is not just the kind's count, and that data only counts once.
TEST_F(AVProbe, DataStreamsCountAsStreamsOnly) {
  TFormatContextPtr Context(av::avformat_alloc_context());
  for (AVMediaType Type : {AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE,
                           AVMEDIA_TYPE_AUDIO})
    av::avformat_new_stream(Context.get(), nullptr)->codecpar->codec_type = Type;
  Probe.Attach(Context.get());
  EXPECT_EQ(SummaryOf(Probe), (TSummary{5, 0, 2, 1, 1, 2, 1, 3}));
  Probe.Close();
}

TEST_F(AVProbe, AudioInfoReadsTheStreamParameters) {
  const std::string Mp2 = Dir.File("tone.mp2");
  MakeTone({Mp2, "mp2", "mp2", 48000, 2, 1.0, {440.0}, 128000});
  const std::string Ogg = Dir.File("chord.ogg");
  MakeTone({Ogg, "ogg", VorbisEncoderName(), 22050, 1, 1.0, {261.63, 392.0}, 0});
  const struct {
    std::string FileName;
    const char* Codec;
    int Channels, SampleRate;
    int BitRate;       // -1: not checked (the encoder's estimate)
    int SampleFormat;  // -1: not checked (the decoder's choice)
    int64_t DurationUs;
  } Cases[] = {
      {Tone("tone.wav", 16000, 1), "pcm_s16le", 1, 16000, 256000, AV_SAMPLE_FMT_S16, 500000},
      {Tone("stereo.wav", 44100, 2), "pcm_s16le", 2, 44100, 1411200, AV_SAMPLE_FMT_S16, 500000},
      {Mp2, "mp2", 2, 48000, 128000, -1, 1000000},
      {Ogg, "vorbis", 1, 22050, -1, AV_SAMPLE_FMT_FLTP, 1000000},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.FileName);
    ASSERT_TRUE(Probe.Open(Case.FileName)) << Probe.LastError();
    TakeLog();  // what the demuxer said while opening
    const AVStream* Stream = Probe.Context()->streams[0];
    // -1 and 0 name the same (first) audio stream here.
    for (int Index : {-1, 0}) {
      const TAudioStreamInfo Info = Probe.AudioInfo(Index);
      EXPECT_EQ(Info.CodecName, Case.Codec);
      EXPECT_EQ(Info.Channels, Case.Channels);
      EXPECT_EQ(Info.SampleRate, Case.SampleRate);
      if (Case.BitRate >= 0) {
        EXPECT_EQ(Info.BitRate, Case.BitRate);
      }
      if (Case.SampleFormat >= 0) {
        EXPECT_EQ(Info.SampleFormat, Case.SampleFormat);
      }
      EXPECT_GE(Info.SampleFormat, 0);
      EXPECT_EQ(Info.StartTime, Stream->start_time);
      EXPECT_EQ(Info.Duration, Stream->duration);
      // Rescaled from the stream's own time base, which is not microseconds here.
      EXPECT_NEAR(double(Info.DurationUs), double(Case.DurationUs), 30000.0);
      EXPECT_EQ(Info.Language, "");
    }
    EXPECT_EQ(TakeLog(), std::vector<TLogLine>());
  }
}

TEST_F(AVProbe, StreamWithoutStartTimeKeepsTheMarkerAndNoMicroseconds) {
  // The WAV demuxer gives its stream no start time.
  ASSERT_TRUE(Probe.Open(Tone()));
  const TAudioStreamInfo Info = Probe.AudioInfo(-1);
  EXPECT_EQ(Info.StartTime, INT64_MIN);
  EXPECT_EQ(Info.StartTimeUs, -1);
  EXPECT_EQ(Info.DurationUs, 500000);

  // Matroska knows only the whole file's duration, not the stream's.
  ASSERT_TRUE(Probe.Open(Clip("clip.mkv", "matroska")));
  const TVideoStreamInfo Video = Probe.VideoInfo(-1);
  EXPECT_NE(Video.StartTime, INT64_MIN);
  EXPECT_EQ(Video.StartTimeUs, Video.StartTime * 1000);  // Matroska counts milliseconds
  EXPECT_EQ(Video.Duration, INT64_MIN);
  EXPECT_EQ(Video.DurationUs, -1);
}

TEST_F(AVProbe, LanguagesComeFromEachStream) {
  const std::string FileName = Dir.File("two.mkv");
  MakeTwoAudioStreams(FileName, {"flac", 44100, 2, {440.0}, 0, "eng"}, {"flac", 22050, 1, {660.0}, 0, "ger"}, 0.5);
  ASSERT_TRUE(Probe.Open(FileName));
  EXPECT_EQ(Probe.AudioInfo(-1).Language, "eng");
  EXPECT_EQ(Probe.AudioInfo(1).Language, "ger");
  EXPECT_EQ(Probe.AudioInfo(1).SampleRate, 22050);
}

TEST_F(AVProbe, VideoInfoReadsSizeAspectAndFrameRate) {
  const struct {
    const char* Name;
    const char* Format;
    int Width, Height;
    AVRational SampleAspect, FrameRate;
    float DisplayAspect;
  } Cases[] = {
      {"vga.avi", "avi", 640, 480, {1, 1}, {25, 1}, 1.3333334f},
      {"cif.mkv", "matroska", 352, 288, {12, 11}, {30, 1}, 352.0f * 12 / 11 / 288},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TVideoSpec Spec;
    Spec.FileName = Dir.File(Case.Name);
    Spec.Format = Case.Format;
    Spec.Seconds = 0.4;
    Spec.Video.Width = Case.Width;
    Spec.Video.Height = Case.Height;
    Spec.Video.SampleAspect = Case.SampleAspect;
    Spec.Video.FrameRate = Case.FrameRate;
    MakeVideo(Spec);
    ASSERT_TRUE(Probe.Open(Spec.FileName)) << Probe.LastError();
    const TVideoStreamInfo Info = Probe.VideoInfo(-1);
    EXPECT_EQ(Info.CodecName, "mpeg4");
    EXPECT_EQ(Info.Width, Case.Width);
    EXPECT_EQ(Info.Height, Case.Height);
    EXPECT_FLOAT_EQ(Info.DisplayAspect, Case.DisplayAspect);
    EXPECT_EQ(Info.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(Info.FrameRateNum, Case.FrameRate.num);
    EXPECT_EQ(Info.FrameRateDen, Case.FrameRate.den);
    // MP2's encoder delay shifts the video of a Matroska file by about 11 ms.
    EXPECT_NEAR(double(Info.StartTimeUs), 0.0, 20000.0);
    // The audio stream of the same file is no video stream.
    EXPECT_EQ(Probe.VideoInfo(1).Width, -1);
    EXPECT_EQ(Probe.AudioInfo(-1).CodecName, "mp2");
  }
}

// Values no real file gives, on a hand-made stream: the aspect must stay defined and
// the frame rate falls back to the average one only when the real one is unknown.
TEST_F(AVProbe, DegenerateVideoParametersStayDefined) {
  const struct {
    const char* Why;
    int Width, Height;
    AVRational SampleAspect, RealRate, AverageRate;
    float DisplayAspect;
    AVRational Rate;
  } Cases[] = {
      {"zero height", 640, 0, {1, 1}, {25, 1}, {25, 1}, 0.0f, {25, 1}},
      {"zero aspect denominator", 640, 480, {1, 0}, {25, 1}, {0, 1}, 0.0f, {25, 1}},
      {"unknown aspect", 640, 480, {0, 1}, {25, 1}, {0, 1}, 0.0f, {25, 1}},
      {"wide pixels", 720, 576, {16, 11}, {0, 0}, {30000, 1001}, 720.0f * 16 / 11 / 576, {30000, 1001}},
      {"no rate at all", 320, 240, {1, 1}, {0, 0}, {0, 1}, 320.0f / 240, {0, 0}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Why);
    TFormatContextPtr Context(av::avformat_alloc_context());
    AVStream* Stream = av::avformat_new_stream(Context.get(), nullptr);
    Stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    Stream->codecpar->width = Case.Width;
    Stream->codecpar->height = Case.Height;
    Stream->codecpar->sample_aspect_ratio = Case.SampleAspect;
    Stream->r_frame_rate = Case.RealRate;
    Stream->avg_frame_rate = Case.AverageRate;
    Probe.Attach(Context.get());
    const TVideoStreamInfo Info = Probe.VideoInfo(0);
    EXPECT_FLOAT_EQ(Info.DisplayAspect, Case.DisplayAspect);
    EXPECT_EQ(Info.FrameRateNum, Case.Rate.num);
    EXPECT_EQ(Info.FrameRateDen, Case.Rate.den);
    EXPECT_EQ(Info.StartTime, INT64_MIN);
    EXPECT_EQ(Info.StartTimeUs, -1);
    Probe.Close();
  }
}

TEST_F(AVProbe, QueriesThatFindNoFittingStreamLogAndGiveDefaults) {
  const std::string ClipFile = Clip();
  const std::string ToneFile = Tone();
  const std::string SilentFile = Clip("silent.avi", "avi", false);
  const struct {
    std::string FileName;  // empty: nothing open
    bool Audio;
    int Index;
    TLogLine Expected;
  } Cases[] = {
      {"", true, -1, {AV_LOG_INFO, "file not loaded.\n"}},
      {"", false, 0, {AV_LOG_INFO, "file not loaded.\n"}},
      {SilentFile, true, -1, {AV_LOG_ERROR, "no audio stream.\n"}},
      {ToneFile, false, -1, {AV_LOG_ERROR, "no video stream.\n"}},
      {ClipFile, true, 5, {AV_LOG_ERROR, "stream index #5 is invalid.\n"}},
      {ClipFile, false, 2, {AV_LOG_ERROR, "stream index #2 is invalid.\n"}},
      {ClipFile, true, 0, {AV_LOG_ERROR, "stream #0 is not audio stream.\n"}},
      {ClipFile, false, 1, {AV_LOG_ERROR, "stream #1 is not video stream.\n"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Expected.Text);
    if (Case.FileName.empty())
      Probe.Close();
    else
      ASSERT_TRUE(Probe.Open(Case.FileName));
    TakeLog();
    if (Case.Audio)
      ExpectDefaults(Probe.AudioInfo(Case.Index));
    else
      ExpectDefaults(Probe.VideoInfo(Case.Index));
    EXPECT_EQ(TakeLog(), std::vector<TLogLine>{Case.Expected});
  }
  Probe.Close();
  EXPECT_EQ(Probe.LoadedFileName(), "");
  EXPECT_EQ(TakeLog(), (std::vector<TLogLine>{{AV_LOG_INFO, "file not loaded.\n"}}));
}

TEST_F(AVProbe, FailedOpenLeavesTheProbeEmptyWithTheReason) {
  const std::string Good = Tone();
  const std::string Missing = Dir.File("missing.wav");
  // Without a file name extension no demuxer takes plain text; with ".dat" the raw
  // data demuxer takes it but finds no codec in it.
  const std::string Text = Dir.File("notes");
  WriteTextFile(Text, "These are no media, only a few words of plain text.\n");
  const std::string Data = Dir.File("notes.dat");
  WriteTextFile(Data, "These are no media, only a few words of plain text.\n");
  const struct {
    std::string FileName;
    std::string FormatName;
    std::string Expected;
  } Cases[] = {
      {Good, "no-such-format", "Unknown input format: no-such-format"},
      {Missing, "", Missing + ": no such file or directory"},
      {Text, "", Text + ": Unknown format"},
      {Data, "", Data + ": could not find codec parameters"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Expected);
    // A probe that held a file loses it, whatever the reason of the failure.
    ASSERT_TRUE(Probe.Open(Good, "wav"));
    EXPECT_EQ(Probe.FormatName(), "wav");
    EXPECT_FALSE(Probe.Open(Case.FileName, Case.FormatName));
    EXPECT_EQ(Probe.LastError(), Case.Expected);
    ExpectEmpty(Probe);
  }
}

TEST_F(AVProbe, OpenBeforeEnableDoesNothing) {
  TAVProbe Disabled;
  ASSERT_FALSE(Disabled.Enabled());
  EXPECT_FALSE(Disabled.Open(Tone()));
  EXPECT_EQ(Disabled.LastError(), "");
  ExpectEmpty(Disabled);
}

TEST_F(AVProbe, CloseOfAnAttachedProbeLeavesTheEngineInputOpen) {
  const std::string ClipFile = Clip();
  const std::string ToneFile = Tone();
  TCustomFFmpeg Engine;
  ASSERT_TRUE(Engine.StoreInputFile(OpenInput(ClipFile)));
  ASSERT_TRUE(Engine.StoreInputFile(OpenInput(ToneFile)));
  AVFormatContext* First = Engine.InputFiles[0].get();
  AVFormatContext* Second = Engine.InputFiles[1].get();
  ASSERT_TRUE(First && Second);

  {
    TAVProbe Attached;
    Attached.Enable();
    Attached.Attach(First);
    EXPECT_FALSE(Attached.OwnsContext());
    EXPECT_EQ(Attached.Context(), First);
    EXPECT_EQ(SummaryOf(Attached), (TSummary{2, 0, 1, 1, 0, 1, 0, -1}));
    EXPECT_EQ(Attached.VideoInfo(-1).Width, 176);
    Attached.Attach(First);  // again: still the engine's, still open
    Attached.Attach(Second);
    EXPECT_EQ(Attached.AudioInfo(-1).SampleRate, 16000);
    Attached.Close();
    ExpectEmpty(Attached);
    Attached.Attach(First);
    ASSERT_TRUE(Attached.Open(ToneFile)) << Attached.LastError();  // leaves the attached input to its owner
    EXPECT_TRUE(Attached.OwnsContext());
    Attached.Attach(Second);  // closes only the probe's own input
    EXPECT_FALSE(Attached.OwnsContext());
  }  // destroyed while attached

  // Both inputs are still whole: their packets can be read.
  for (AVFormatContext* Input : {First, Second}) {
    TPacketPtr Packet(av::av_packet_alloc());
    EXPECT_GE(av::av_read_frame(Input, Packet.get()), 0);
    EXPECT_GT(Packet->size, 0);
  }
  EXPECT_EQ(Engine.InputFileCount, 2);
}

TEST_F(AVProbe, UnloadingTheLibrariesClosesTheProbesOwnInputFirst) {
  ASSERT_TRUE(Probe.Open(Tone()));
  Probe.UnloadLibraries();
  ExpectEmpty(Probe);
  EXPECT_FALSE(AVCodecLibLoaded() || AVFormatLibLoaded() || AVUtilLibLoaded() || SwScaleLibLoaded());
  EXPECT_EQ(Probe.AudioInfo(-1).SampleRate, -1);  // no libraries, no log, no fault
  ASSERT_TRUE(Probe.LoadLibraries("", true)) << Probe.LastError();
  EXPECT_TRUE(Probe.Open(Tone("again.wav")));
  av::av_log_set_callback(CatchLibraryLog);
}

// Without the fixture: no library is loaded in this process yet.
TEST(AVProbeLibraries, OpenAndAttachNameTheFirstMissingLibrary) {
  UnloadAVLibs();  // in case an earlier test of the same process loaded them
  TAVProbe Probe;
  Probe.Enable();
  std::string Error;
  const struct {
    const char* Expected;
    std::function<bool()> LoadNext;
  } Steps[] = {
      {"LibAVCodec not loaded.", [&] { return LoadAVCodecLib(Error, "", true, true); }},
      {"LibAVFormat not loaded.", [&] { return LoadAVFormatLib(Error, "", true, true); }},
      {"LibAVUtil not loaded.", [&] { return LoadAVUtilLib(Error, "", true); }},
      {"LibSwScale not loaded.", [&] { return LoadSwScaleLib(Error, "", true); }},
  };
  for (const auto& Step : Steps) {
    SCOPED_TRACE(Step.Expected);
    for (int Attach = 0; Attach < 2; ++Attach) {
      try {
        if (Attach)
          Probe.Attach(nullptr);
        else
          Probe.Open("/nonexistent/file.wav");
        ADD_FAILURE() << "no exception";
      } catch (const FFMpegException&) {
        ADD_FAILURE() << "an engine exception";
      } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), Step.Expected);
      }
    }
    ExpectDefaults(Probe.AudioInfo(-1));
    ASSERT_TRUE(Step.LoadNext()) << Error;
  }
  EXPECT_NO_THROW(TAVProbe::CheckLibraries());
  EXPECT_FALSE(Probe.Open("/nonexistent/file.wav"));
  EXPECT_EQ(Probe.LastError(), "/nonexistent/file.wav: no such file or directory");
}

TEST(AVProbeLibraries, LoadLibrariesLoadsItsFourAndUndoesAFailure) {
  UnloadAVLibs();
  TAVProbe Probe;
  // The folder's scaler lacks entries; the other three come from the system.
  EXPECT_FALSE(Probe.LoadLibraries(PEMMET_TEST_FIXTURES "/fakeswscale", true));
  EXPECT_EQ(Probe.LastError().rfind("Load function ", 0), 0u) << Probe.LastError();
  EXPECT_NE(Probe.LastError().find("@" + SwScaleLibFileName() + " error"), std::string::npos) << Probe.LastError();
  EXPECT_FALSE(AVCodecLibLoaded() || AVFormatLibLoaded() || AVUtilLibLoaded() || SwScaleLibLoaded());

  ASSERT_TRUE(Probe.LoadLibraries("", true)) << Probe.LastError();
  EXPECT_TRUE(AVCodecLibLoaded() && AVFormatLibLoaded() && AVUtilLibLoaded() && SwScaleLibLoaded());
  EXPECT_FALSE(AVFilterLibLoaded() || SwResampleLibLoaded());
  // Loaded already: another folder changes nothing.
  EXPECT_TRUE(Probe.LoadLibraries(PEMMET_TEST_FIXTURES "/fakeswscale", true));
  EXPECT_EQ(ModuleFilePath(SwScaleBinding().Handle()).find("fakeswscale"), std::string::npos);
}

}  // namespace
