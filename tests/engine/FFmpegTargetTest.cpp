#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "MediaGenerator.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

// The message of the FFMpegException that AAction raises; empty when it raises none.
std::string FailureOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const FFMpegException& E) {
    return E.what();
  }
  return "";
}

int64_t IntOption(void* AHolder, const char* AName) {
  int64_t Value = -12345;
  EXPECT_GE(av::av_opt_get_int(AHolder, AName, 0, &Value), 0) << AName;
  return Value;
}

// A value kept for the encoder's or muxer's own options; "-" when there is none.
std::string PrivateValue(const std::map<std::string, std::string>& AOptions, const std::string& AName) {
  const auto It = AOptions.find(AName);
  return It == AOptions.end() ? "-" : It->second;
}

const char* const TargetPal = "Assuming PAL for target.";
const char* const TargetNtsc = "Assuming NTSC for target.";

class FFmpegTarget : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    Engine.Init();
    Attach(Engine);
  }
  void Attach(TCustomFFmpeg& AEngine) {
    AEngine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      Log.push_back({ALevel, AMessage});
    };
  }
  std::vector<std::string> LogMessages(int ALevel) const {
    std::vector<std::string> Result;
    for (const auto& [Level, Message] : Log)
      if (Level == ALevel) Result.push_back(Message);
    return Result;
  }
  // Opens a generated input quietly: the library's stream dump stays out of the output.
  void AddQuietInput(const std::string& AFileName) {
    const int32_t Verbose = Engine.Verbose;
    Engine.SetVerbose(-1);
    ASSERT_TRUE(Engine.AddInputFile(AFileName)) << Engine.LastError;
    Engine.SetVerbose(Verbose);
  }

  TCustomFFmpeg Engine;
  std::vector<std::pair<int, std::string>> Log;
};

// What a preset must leave behind. Rate-control values of -1 mean "the library's
// default": the preset does not touch them.
struct TPresetCase {
  const char* Kind;
  const char* Norm;
  const char* VideoCodec;
  const char* AudioCodec;
  const char* Format;
  int32_t Width, Height;
  AVRational Rate;
  int32_t PixFmt;  // -1: not set
  int64_t Gop, VideoBitRate, MaxRate, MinRate, BufSize, AudioBitRate, PacketSize;
  const char* MuxRate;     // "-": none
  const char* ScanOffset;  // "-": none
  int32_t SampleRate;
  float MuxPreload;
  float Aspect;  // 0: none set
  const char* AspectLog;  // null: none
};

const TPresetCase PresetCases[] = {
    {"vcd", "pal", "mpeg1video", "mp2", "vcd", 352, 288, {25, 1}, -1, 15, 1150000, 1150000, 1150000, 327680,
     224000, 2324, "1411200", "-", 44100, 0.44f, 4.0f / 3, "Assuming 4:3 for aspect ratio"},
    {"vcd", "ntsc", "mpeg1video", "mp2", "vcd", 352, 240, {30000, 1001}, -1, 18, 1150000, 1150000, 1150000,
     327680, 224000, 2324, "1411200", "-", 44100, 0.44f, 4.0f / 3, "Assuming 4:3 for aspect ratio"},
    {"svcd", "pal", "mpeg2video", "mp2", "svcd", 480, 576, {25, 1}, -1, 15, 2040000, 2516000, 0, 1835008,
     224000, 2324, "-", "1", 44100, 0.5f, 4.0f / 3, "Assuming 4:3 for aspect ratio"},
    {"svcd", "ntsc", "mpeg2video", "mp2", "svcd", 480, 480, {30000, 1001}, -1, 18, 2040000, 2516000, 0,
     1835008, 224000, 2324, "-", "1", 44100, 0.5f, 4.0f / 3, "Assuming 4:3 for aspect ratio"},
    {"dvd", "pal", "mpeg2video", "ac3", "dvd", 720, 576, {25, 1}, -1, 15, 6000000, 9000000, 0, 1835008, 448000,
     2048, "10080000", "-", 48000, 0.5f, 16.0f / 9, "Assuming 16:9 for aspect ratio"},
    {"dvd", "film", "mpeg2video", "ac3", "dvd", 720, 480, {24000, 1001}, -1, 18, 6000000, 9000000, 0, 1835008,
     448000, 2048, "10080000", "-", 48000, 0.5f, 16.0f / 9, "Assuming 16:9 for aspect ratio"},
    {"dv", "pal", "", "", "dv", 720, 576, {25, 1}, AV_PIX_FMT_YUV420P, -1, -1, -1, -1, -1, -1, -1, "-", "-",
     48000, 0.5f, 0, nullptr},
    {"dv", "ntsc", "", "", "dv", 720, 480, {30000, 1001}, AV_PIX_FMT_YUV411P, -1, -1, -1, -1, -1, -1, -1, "-",
     "-", 48000, 0.5f, 0, nullptr},
    {"dv", "film", "", "", "dv", 720, 480, {24000, 1001}, AV_PIX_FMT_YUV411P, -1, -1, -1, -1, -1, -1, -1, "-",
     "-", 48000, 0.5f, 0, nullptr},
    {"dv50", "pal", "", "", "dv", 720, 576, {25, 1}, AV_PIX_FMT_YUV422P, -1, -1, -1, -1, -1, -1, -1, "-", "-",
     48000, 0.5f, 0, nullptr},
    {"dv50", "ntsc", "", "", "dv", 720, 480, {30000, 1001}, AV_PIX_FMT_YUV422P, -1, -1, -1, -1, -1, -1, -1,
     "-", "-", 48000, 0.5f, 0, nullptr},
};

}  // namespace

// Each value is read where encoding will take it from: the generic option holders for
// the codec and muxer parameters, the private option maps for what this library
// generation moved, and the engine's fields for the rest.
TEST_F(FFmpegTarget, PresetColumnsByNorm) {
  for (const TPresetCase& C : PresetCases) {
    SCOPED_TRACE(std::string(C.Kind) + " " + C.Norm);
    TCustomFFmpeg E, Untouched;
    E.Init();
    Untouched.Init();
    Log.clear();
    Attach(E);
    const auto Expected = [&](int64_t AValue, void* AHolder, const char* AName) {
      return AValue >= 0 ? AValue : IntOption(AHolder, AName);
    };

    E.SetTarget(C.Kind, C.Norm, "pal");

    EXPECT_EQ(E.VideoCodecName, C.VideoCodec);
    EXPECT_EQ(E.AudioCodecName, C.AudioCodec);
    ASSERT_NE(E.OutputFormat, nullptr);
    EXPECT_STREQ(E.OutputFormat->name, C.Format);
    EXPECT_EQ(E.FrameWidth, C.Width);
    EXPECT_EQ(E.FrameHeight, C.Height);
    EXPECT_EQ(E.FrameRate.num, C.Rate.num);
    EXPECT_EQ(E.FrameRate.den, C.Rate.den);
    EXPECT_EQ(E.FramePixFmt, C.PixFmt);

    void* Video = E.CodecOpts[AVMEDIA_TYPE_VIDEO].get();
    void* Audio = E.CodecOpts[AVMEDIA_TYPE_AUDIO].get();
    void* UntouchedVideo = Untouched.CodecOpts[AVMEDIA_TYPE_VIDEO].get();
    void* UntouchedAudio = Untouched.CodecOpts[AVMEDIA_TYPE_AUDIO].get();
    EXPECT_EQ(IntOption(Video, "g"), Expected(C.Gop, UntouchedVideo, "g"));
    EXPECT_EQ(IntOption(Video, "b"), Expected(C.VideoBitRate, UntouchedVideo, "b"));
    EXPECT_EQ(IntOption(Video, "maxrate"), Expected(C.MaxRate, UntouchedVideo, "maxrate"));
    EXPECT_EQ(IntOption(Video, "minrate"), Expected(C.MinRate, UntouchedVideo, "minrate"));
    EXPECT_EQ(IntOption(Video, "bufsize"), Expected(C.BufSize, UntouchedVideo, "bufsize"));
    EXPECT_EQ(IntOption(Audio, "b"), Expected(C.AudioBitRate, UntouchedAudio, "b"));
    EXPECT_EQ(IntOption(E.FormatOpts.get(), "packetsize"),
              Expected(C.PacketSize, Untouched.FormatOpts.get(), "packetsize"));
    EXPECT_EQ(PrivateValue(E.FormatPrivateOptions, "muxrate"), C.MuxRate);
    EXPECT_EQ(PrivateValue(E.CodecPrivateOptions, "scan_offset"), C.ScanOffset);
    // The moved flag must not leave a flags value that the codec would reject.
    EXPECT_EQ(IntOption(Video, "flags"), IntOption(UntouchedVideo, "flags"));

    EXPECT_EQ(E.AudioSampleRate, C.SampleRate);
    EXPECT_EQ(E.AudioChannels, 2);
    EXPECT_FLOAT_EQ(E.MuxPreload, C.MuxPreload);
    EXPECT_FLOAT_EQ(E.FrameAspectRatio, C.Aspect);
    std::vector<std::string> ExpectedLog;
    if (C.AspectLog) ExpectedLog.push_back(C.AspectLog);
    EXPECT_EQ(LogMessages(1), ExpectedLog) << "a norm given by name is not reported";
    EXPECT_EQ(Log.size(), ExpectedLog.size());
  }
}

TEST_F(FFmpegTarget, AspectRatioAlreadySetIsKept) {
  Engine.SetAspectRatio("16:9");
  Engine.SetTarget("vcd", "pal", "pal");
  EXPECT_FLOAT_EQ(Engine.FrameAspectRatio, 16.0f / 9);
  Engine.SetAspectRatio("4:3");
  Engine.SetTarget("dvd", "ntsc", "pal");
  EXPECT_FLOAT_EQ(Engine.FrameAspectRatio, 4.0f / 3);
  EXPECT_TRUE(Log.empty());

  // Without a handler the default is still applied.
  TCustomFFmpeg Quiet;
  Quiet.Init();
  Quiet.SetTarget("svcd", "pal", "pal");
  EXPECT_FLOAT_EQ(Quiet.FrameAspectRatio, 4.0f / 3);
}

TEST_F(FFmpegTarget, AudioChannelsPerKind) {
  const struct {
    const char* Kind;
    int32_t Before, After;
  } Cases[] = {
      {"svcd", 1, 2}, {"svcd", 6, 6}, {"dvd", 1, 2}, {"dvd", 6, 6}, {"vcd", 6, 2},
      {"vcd", 1, 2},  {"dv", 6, 2},   {"dv50", 1, 2}, {"dv50", 6, 2},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.Kind) + " from " + std::to_string(C.Before));
    Engine.AudioChannels = C.Before;
    Engine.SetTarget(C.Kind, "pal", "pal");
    EXPECT_EQ(Engine.AudioChannels, C.After);
  }
}

TEST_F(FFmpegTarget, NormDetectedFromTheFrameRate) {
  const struct {
    const char* Rate;
    const char* Fallback;
    int32_t Height;      // svcd: 576 PAL, 480 NTSC and film
    AVRational Applied;  // the norm's frame rate, set by the preset
    const char* Message;
  } Cases[] = {
      {"25", "ntsc", 576, {25, 1}, TargetPal},
      {"30000/1001", "pal", 480, {30000, 1001}, TargetNtsc},
      {"24000/1001", "pal", 480, {30000, 1001}, TargetNtsc},  // detection knows no film
      {"15", "pal", 576, {25, 1}, TargetPal},
      {"15", "ntsc", 480, {30000, 1001}, TargetNtsc},
      {"15", "film", 480, {24000, 1001}, TargetNtsc},
      {"15", "secam", 576, {25, 1}, TargetPal},
      {"25.1", "ntsc", 480, {30000, 1001}, TargetNtsc},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.Rate) + " falling back to " + C.Fallback);
    Engine.Init();
    Attach(Engine);
    Log.clear();
    Engine.SetFrameRate(C.Rate);
    ASSERT_EQ(Engine.Verbose, 1);

    Engine.SetTarget("svcd", "auto", C.Fallback);

    EXPECT_EQ(Engine.FrameHeight, C.Height);
    EXPECT_EQ(Engine.FrameRate.num, C.Applied.num);
    EXPECT_EQ(Engine.FrameRate.den, C.Applied.den);
    EXPECT_EQ(LogMessages(1), (std::vector<std::string>{C.Message, "Assuming 4:3 for aspect ratio"}));
  }
}

TEST_F(FFmpegTarget, DetectionIsReportedOnlyWhenVerbose) {
  Engine.SetFrameRate("25");
  Engine.Verbose = 0;
  Engine.SetTarget("dvd", "auto", "ntsc");
  EXPECT_EQ(Engine.FrameHeight, 576);
  EXPECT_EQ(LogMessages(1), std::vector<std::string>{"Assuming 16:9 for aspect ratio"});
}

TEST_F(FFmpegTarget, AutomaticNormNeedsAFrameRate) {
  EXPECT_EQ(FailureOf([&] { Engine.SetTarget("dvd", "auto", "pal"); }), "frame_rate is invalid.");
  EXPECT_EQ(Engine.OutputFormat, nullptr);
  EXPECT_EQ(Engine.FrameWidth, 0);
  EXPECT_TRUE(Engine.VideoCodecName.empty());
  EXPECT_TRUE(Log.empty());

  // A norm that is not one of the three names is detection too.
  EXPECT_EQ(FailureOf([&] { Engine.SetTarget("dvd", "PAL", "pal"); }), "frame_rate is invalid.");
}

TEST_F(FFmpegTarget, UnknownKindFailsAfterTheNormStep) {
  EXPECT_EQ(FailureOf([&] { Engine.SetTarget("vhs", "pal", "pal"); }), "Unknown target type");
  EXPECT_EQ(FailureOf([&] { Engine.SetTarget("DVD", "ntsc", "pal"); }), "Unknown target type");
  EXPECT_TRUE(Log.empty());

  Engine.SetFrameRate("15");
  EXPECT_EQ(FailureOf([&] { Engine.SetTarget("vhs", "auto", "pal"); }), "Unknown target type");
  EXPECT_EQ(LogMessages(1), std::vector<std::string>{TargetPal});
  EXPECT_EQ(Engine.OutputFormat, nullptr);
  EXPECT_EQ(Engine.FrameWidth, 0);
  EXPECT_EQ(Engine.FrameRate.num, 15);
}

TEST_F(FFmpegTarget, NormDetectedFromTheInputsVideoStreams) {
  TTempDir Dir;
  const std::string Tone = Dir.File("tone.wav");
  WriteToneWav(Tone, 0.2);
  const auto Video = [&](const char* AName, AVRational ARate) {
    TVideoSpec Spec;
    Spec.FileName = Dir.File(AName);
    Spec.Seconds = 0.4;
    Spec.Video.Width = 64;
    Spec.Video.Height = 48;
    Spec.Video.FrameRate = ARate;
    Spec.WithAudio = false;
    MakeVideo(Spec);
    return Spec.FileName;
  };

  // Audio first, then a video stream at no norm's rate, then one at NTSC's: the
  // search passes the first two and decides on the third.
  AddQuietInput(Tone);
  AddQuietInput(Video("fifteen.avi", {15, 1}));
  AddQuietInput(Video("ntsc.avi", {30000, 1001}));
  ASSERT_EQ(Engine.InputFileCount, 3);
  Engine.FrameRate = {15, 1};
  Engine.SetTarget("vcd", "auto", "pal");
  EXPECT_EQ(Engine.FrameHeight, 240);
  EXPECT_EQ(LogMessages(1).front(), TargetNtsc);

  // Only the video stream at no norm's rate: the fallback decides.
  Engine.Init();
  Attach(Engine);
  Log.clear();
  AddQuietInput(Video("fifteen2.avi", {15, 1}));
  Engine.FrameRate = {12, 1};
  Engine.SetTarget("vcd", "auto", "ntsc");
  EXPECT_EQ(Engine.FrameHeight, 240);
  EXPECT_EQ(LogMessages(1).front(), TargetNtsc);

  // A PAL input decides against an NTSC fallback.
  Engine.Init();
  Attach(Engine);
  Log.clear();
  AddQuietInput(Video("pal.avi", {25, 1}));
  Engine.FrameRate = {12, 1};
  Engine.SetTarget("vcd", "auto", "ntsc");
  EXPECT_EQ(Engine.FrameHeight, 288);
  EXPECT_EQ(LogMessages(1).front(), TargetPal);
}

TEST_F(FFmpegTarget, SpecWithNormPrefix) {
  const struct {
    const char* Spec;
    const char* Format;
    int32_t Width, Height;
    AVRational Rate;
    int32_t PixFmt;
    const char* VideoCodec;
  } Cases[] = {
      {"ntsc-dv50", "dv", 720, 480, {30000, 1001}, AV_PIX_FMT_YUV422P, ""},
      {"pal-dv", "dv", 720, 576, {25, 1}, AV_PIX_FMT_YUV420P, ""},
      {"  pal-vcd\t", "vcd", 352, 288, {25, 1}, -1, "mpeg1video"},
      {"film-dvd", "dvd", 720, 480, {24000, 1001}, -1, "mpeg2video"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Spec);
    Engine.Init();
    Attach(Engine);
    Log.clear();
    Engine.SetTargetSpec(C.Spec);
    ASSERT_NE(Engine.OutputFormat, nullptr);
    EXPECT_STREQ(Engine.OutputFormat->name, C.Format);
    EXPECT_EQ(Engine.FrameWidth, C.Width);
    EXPECT_EQ(Engine.FrameHeight, C.Height);
    EXPECT_EQ(Engine.FrameRate.num, C.Rate.num);
    EXPECT_EQ(Engine.FrameRate.den, C.Rate.den);
    EXPECT_EQ(Engine.FramePixFmt, C.PixFmt);
    EXPECT_EQ(Engine.VideoCodecName, C.VideoCodec);
    EXPECT_EQ(Engine.AudioSampleRate, C.Format == std::string("vcd") ? 44100 : 48000);
    EXPECT_EQ(Engine.AudioChannels, 2);
    for (const std::string& Line : LogMessages(1)) EXPECT_EQ(Line.find("for target."), std::string::npos);
  }
}

TEST_F(FFmpegTarget, SpecWithoutPrefixDetectsWithNtscFallback) {
  Engine.SetFrameRate("15");
  Engine.SetTargetSpec("dvd");
  EXPECT_EQ(Engine.FrameHeight, 480);
  EXPECT_EQ(Engine.FrameRate.num, 30000);
  EXPECT_EQ(LogMessages(1).front(), TargetNtsc);

  Engine.SetFrameRate("25");
  Engine.SetTargetSpec("svcd");
  EXPECT_EQ(Engine.FrameHeight, 576);
}

TEST_F(FFmpegTarget, SpecPrefixesAreCaseSensitive) {
  // No prefix recognised: the whole text is the kind, after the automatic norm step.
  EXPECT_EQ(FailureOf([&] { Engine.SetTargetSpec("PAL-vcd"); }), "frame_rate is invalid.");
  Engine.SetFrameRate("25");
  EXPECT_EQ(FailureOf([&] { Engine.SetTargetSpec("PAL-vcd"); }), "Unknown target type");
  EXPECT_EQ(LogMessages(1), std::vector<std::string>{TargetPal});
  EXPECT_EQ(FailureOf([&] { Engine.SetTargetSpec("pal-"); }), "Unknown target type");
  EXPECT_EQ(Engine.OutputFormat, nullptr);
}
