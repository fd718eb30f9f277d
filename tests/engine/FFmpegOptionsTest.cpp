#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

const std::string Fixtures = PEMMET_TEST_FIXTURES;

const std::string VerticalRange =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
const std::string HorizontalRange =
    "Horizontal crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";

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

class FFmpegOptions : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    Engine.Init();
    Engine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      Log.push_back({ALevel, AMessage});
    };
  }
  std::vector<std::string> LogMessages(int ALevel) const {
    std::vector<std::string> Result;
    for (const auto& [Level, Message] : Log)
      if (Level == ALevel) Result.push_back(Message);
    return Result;
  }

  TCustomFFmpeg Engine;
  std::vector<std::pair<int, std::string>> Log;
};

}  // namespace

TEST_F(FFmpegOptions, CropsAgainstTheFrameSize) {
  using TSetter = void (TCustomFFmpeg::*)(int32_t);
  struct TCase {
    const char* What;
    TSetter Setter;
    int32_t Width, Height, Value;
    std::string Error;
    int32_t TCustomFFmpeg::*Crop;
    int32_t Crop_, WidthAfter, HeightAfter;
  } Cases[] = {
      {"0 on a zero height", &TCustomFFmpeg::SetCropTop, 0, 0, 0, VerticalRange, &TCustomFFmpeg::CropTop, 0, 0, 0},
      {"left 4 of 640", &TCustomFFmpeg::SetCropLeft, 640, 480, 4, "", &TCustomFFmpeg::CropLeft, 4, 636, 480},
      {"right all of 640", &TCustomFFmpeg::SetCropRight, 640, 480, 640, HorizontalRange, &TCustomFFmpeg::CropRight, 0, 640, 480},
      {"bottom 478 of 480", &TCustomFFmpeg::SetCropBottom, 640, 480, 478, "", &TCustomFFmpeg::CropBottom, 478, 640, 2},
      {"odd top", &TCustomFFmpeg::SetCropTop, 640, 480, 3, "Top crop size must be a multiple of 2", &TCustomFFmpeg::CropTop, 0, 640, 480},
      {"odd bottom", &TCustomFFmpeg::SetCropBottom, 640, 480, 5, "Bottom crop size must be a multiple of 2", &TCustomFFmpeg::CropBottom, 0, 640, 480},
      {"odd left", &TCustomFFmpeg::SetCropLeft, 640, 480, 7, "Left crop size must be a multiple of 2", &TCustomFFmpeg::CropLeft, 0, 640, 480},
      {"odd right", &TCustomFFmpeg::SetCropRight, 640, 480, 1, "Right crop size must be a multiple of 2", &TCustomFFmpeg::CropRight, 0, 640, 480},
      {"negative is ignored", &TCustomFFmpeg::SetCropTop, 640, 480, -2, "", &TCustomFFmpeg::CropTop, 0, 640, 480},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg E;
    E.FrameWidth = C.Width;
    E.FrameHeight = C.Height;
    EXPECT_EQ(FailureOf([&] { (E.*C.Setter)(C.Value); }), C.Error) << C.What;
    EXPECT_EQ(E.*C.Crop, C.Crop_) << C.What;
    EXPECT_EQ(E.FrameWidth, C.WidthAfter) << C.What;
    EXPECT_EQ(E.FrameHeight, C.HeightAfter) << C.What;
  }
}

TEST_F(FFmpegOptions, FrameSizesAndPads) {
  EXPECT_EQ(FailureOf([&] { Engine.SetFrameSize("641x480"); }), "Frame size must be a multiple of 2");
  EXPECT_EQ(Engine.FrameWidth, 641) << "the parsed size stays stored";
  EXPECT_EQ(FailureOf([&] { Engine.SetFrameSize("large-ish"); }), "Incorrect frame size");
  Engine.SetFrameSize("vga");
  EXPECT_EQ(Engine.FrameWidth, 640);
  EXPECT_EQ(Engine.FrameHeight, 480);
  Engine.SetFrameSize("");
  EXPECT_EQ(Engine.FrameWidth, 640);

  EXPECT_EQ(FailureOf([&] { Engine.SetPadTop(3); }), "Top pad size must be a multiple of 2");
  EXPECT_EQ(FailureOf([&] { Engine.SetPadBottom(1); }), "Bottom pad size must be a multiple of 2");
  EXPECT_EQ(FailureOf([&] { Engine.SetPadLeft(5); }), "Left pad size must be a multiple of 2");
  EXPECT_EQ(FailureOf([&] { Engine.SetPadRight(7); }), "Right pad size must be a multiple of 2");
  Engine.SetPadLeft(8);
  Engine.SetPadLeft(-2);
  EXPECT_EQ(Engine.PadLeft, 8);

  EXPECT_EQ(FailureOf([&] { Engine.SetFrameRate("fast"); }), "Incorrect frame rate");
  Engine.SetFrameRate("30000/1001");
  EXPECT_EQ(Engine.FrameRate.num, 30000);
  EXPECT_EQ(Engine.FrameRate.den, 1001);
  Engine.SetFrameRate("pal");
  EXPECT_EQ(Engine.FrameRate.num, 25);
}

TEST_F(FFmpegOptions, AspectRatioTexts) {
  struct TCase {
    const char* Text;
    float Ratio;  // 0: refused
  } Cases[] = {{"16:9", 16.0f / 9}, {"4:3", 4.0f / 3}, {"1.5", 1.5f}, {"16:0", 0},
               {"x:3", 0},          {"abc", 0},        {"0", 0},      {"2.35", 2.35f}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg E;
    E.FrameAspectRatio = 9;
    const std::string Error = FailureOf([&] { E.SetAspectRatio(C.Text); });
    if (C.Ratio == 0) {
      EXPECT_EQ(Error, "Incorrect aspect ratio specification.") << C.Text;
      EXPECT_EQ(E.FrameAspectRatio, 9) << C.Text;
    } else {
      EXPECT_EQ(Error, "") << C.Text;
      EXPECT_FLOAT_EQ(E.FrameAspectRatio, C.Ratio) << C.Text;
    }
  }
}

TEST_F(FFmpegOptions, QScaleBounds) {
  for (float Accepted : {255.0f, 0.01f, 2.0f}) {
    EXPECT_EQ(FailureOf([&] { Engine.SetVideoQScale(Accepted); }), "") << Accepted;
    EXPECT_EQ(Engine.VideoQScale, Accepted);
  }
  for (float Refused : {255.5f, 0.0f, -1.0f})
    EXPECT_EQ(FailureOf([&] { Engine.SetVideoQScale(Refused); }), "qscale must be > 0.0 and <= 255") << Refused;
}

TEST_F(FFmpegOptions, InputTsScaleIndexBounds) {
  EXPECT_EQ(FailureOf([&] { Engine.SetInputTsScale("20:1.5"); }), "stream index over MAX_STREAMS(20)");
  EXPECT_EQ(FailureOf([&] { Engine.SetInputTsScale("-1:1.5"); }), "stream index over MAX_STREAMS(20)");
  Engine.SetInputTsScale("3:0.5");
  EXPECT_EQ(Engine.InputTsScale[0][3], 0.5);
  Engine.SetInputTsScale("0x13:2");
  EXPECT_EQ(Engine.InputTsScale[0][19], 2.0) << "the index takes C base prefixes";
  Engine.SetInputTsScale("010,4");
  EXPECT_EQ(Engine.InputTsScale[0][8], 4.0) << "a leading 0 is octal";
}

TEST_F(FFmpegOptions, TimesAndDurations) {
  const int32_t FiftyMinutes = 50 * 60 * 1000;
  Engine.SetRecordingTimeMs(FiftyMinutes);
  EXPECT_EQ(Engine.RecordingTime, int64_t(FiftyMinutes) * 1000);
  EXPECT_EQ(Engine.TotalDuration, FiftyMinutes);
  Engine.SetRecordingTimeMs(0);
  EXPECT_EQ(Engine.TotalDuration, FiftyMinutes);

  Engine.SetRecordingTime("01:00:00.5");
  EXPECT_EQ(Engine.RecordingTime, 3600500000);
  EXPECT_EQ(Engine.TotalDuration, 3600500);
  EXPECT_EQ(FailureOf([&] { Engine.SetRecordingTime("soon"); }), "Invalid duration specification for t: soon");
  Engine.SetRecordingTime("700:00:00");
  EXPECT_EQ(Engine.TotalDuration, INT32_MAX) << "too long for milliseconds: cut, not wrapped";

  Engine.SetStartTimeSpec("5.25");
  EXPECT_EQ(Engine.StartTime, 5250000);
  Engine.SetStartTime(0);
  EXPECT_EQ(Engine.StartTime, 5250000);
  Engine.SetInputTsOffset("-2");
  EXPECT_EQ(Engine.InputTsOffset, -2000000);
  Engine.SetRecTimestamp("2020-01-02 03:04:05Z");
  EXPECT_EQ(Engine.RecTimestamp, 1577934245);
  EXPECT_EQ(FailureOf([&] { Engine.SetRecTimestamp("yesterday"); }),
            "Invalid date specification for timestamp: yesterday");
}

TEST_F(FFmpegOptions, CodecNamesAndCopy) {
  Engine.SetVideoCodec("copy");
  EXPECT_EQ(Engine.VideoStreamCopy, 1);
  EXPECT_EQ(Engine.VideoCodecName, "");
  Engine.SetVideoCodec("mpeg4");
  EXPECT_EQ(Engine.VideoCodecName, "mpeg4");
  EXPECT_EQ(Engine.VideoStreamCopy, 1) << "a later name does not clear the copy flag";
  Engine.SetAudioCodec("libmp3lame");
  Engine.SetAudioCodec("");
  EXPECT_EQ(Engine.AudioCodecName, "libmp3lame");
  Engine.SetSubtitleCodec("copy");
  EXPECT_EQ(Engine.SubtitleStreamCopy, 1);
}

TEST_F(FFmpegOptions, GenericOptionsReachTheHolders) {
  EXPECT_TRUE(Engine.SetGenericOption("ab", "96000"));
  EXPECT_EQ(IntOption(Engine.CodecOpts[AVMEDIA_TYPE_AUDIO].get(), "b"), 96000);
  EXPECT_NE(IntOption(Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(), "b"), 96000) << "audio only";
  EXPECT_TRUE(Engine.SetGenericOption("vb", "900000")) << "prefix rule for a video option";
  EXPECT_EQ(IntOption(Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(), "b"), 900000);
  EXPECT_TRUE(Engine.SetGenericOption("gop", "15")) << "old name of the group-of-pictures size";
  EXPECT_EQ(IntOption(Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(), "g"), 15);
  EXPECT_TRUE(Engine.SetGenericOption("packetsize", "2324"));
  EXPECT_EQ(IntOption(Engine.FormatOpts.get(), "packetsize"), 2324);
  EXPECT_EQ(Engine.OptNames, (std::vector<std::string>{"ab", "b", "g", "packetsize"}));

  const std::vector<std::string> Before = Engine.OptNames;
  for (const char* Unknown : {"no_such_option_anywhere", "V"}) EXPECT_FALSE(Engine.SetGenericOption(Unknown, "1"));
  EXPECT_FALSE(Engine.SetGenericOption("b", "  "));
  EXPECT_FALSE(Engine.SetGenericOption(" ", "1"));
  EXPECT_EQ(Engine.OptNames, Before) << "nothing recorded for a refused option";
}

TEST_F(FFmpegOptions, OptionsMovedIntoEncodersAndMuxersAreKept) {
  EXPECT_TRUE(Engine.SetGenericOption("muxrate", "1411200"));
  EXPECT_EQ(Engine.FormatPrivateOptions["muxrate"], "1411200");
  EXPECT_TRUE(Engine.SetGenericOption("flags", "+scan_offset"));
  EXPECT_EQ(Engine.CodecPrivateOptions["scan_offset"], "1");
  EXPECT_TRUE(Engine.SetGenericOption("flags", "+scan_offset+qscale"));
  EXPECT_TRUE(IntOption(Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(), "flags") & AV_CODEC_FLAG_QSCALE)
      << "the flags that stayed are set on the holder";
  EXPECT_TRUE(Engine.SetGenericOption("joint_stereo", "0")) << "an option of libmp3lame";
  EXPECT_EQ(Engine.CodecPrivateOptions["joint_stereo"], "0");
}

TEST_F(FFmpegOptions, DebugSettingRaisesTheLogLevel) {
  EXPECT_TRUE(Engine.SetGenericOption("debug", "pict"));
  EXPECT_EQ(Engine.Verbose, 2);
  EXPECT_EQ(GlobalLogLevel.load(), 2);
  EXPECT_EQ(av::av_log_get_level(), AV_LOG_DEBUG);
  Engine.SetVerbose(-1);
  EXPECT_EQ(GlobalLogLevel.load(), -1);
  EXPECT_EQ(av::av_log_get_level(), AV_LOG_QUIET);
}

TEST_F(FFmpegOptions, LowBitrateWarning) {
  const std::string Warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  EXPECT_TRUE(Engine.SetBitrate("ab", "64"));
  EXPECT_EQ(LogMessages(1), std::vector<std::string>{Warning});
  Log.clear();
  EXPECT_TRUE(Engine.SetBitrate("b", "64000"));
  EXPECT_TRUE(Engine.SetBitrate("ab", "192000"));
  EXPECT_TRUE(Log.empty());
  EXPECT_FALSE(Engine.SetBitrate("", "64"));
  Engine.OnLogHandler = nullptr;
  EXPECT_TRUE(Engine.SetBitrate("vb", "10"));
}

TEST_F(FFmpegOptions, MatrixParsing) {
  std::string Sixty4, Sixty3;
  for (int I = 1; I <= 64; ++I) Sixty4 += (I > 1 ? "," : "") + std::to_string(I * 2);
  Sixty3 = Sixty4.substr(0, Sixty4.rfind(','));
  Engine.SetIntraMatrix(Sixty4);
  ASSERT_NE(Engine.IntraMatrix, nullptr);
  for (int I = 0; I < 64; ++I) EXPECT_EQ(Engine.IntraMatrix.get()[I], (I + 1) * 2) << I;
  EXPECT_EQ(FailureOf([&] { Engine.SetInterMatrix(Sixty3); }),
            "Syntax error in matrix \"" + Sixty3 + "\" at coeff 62");
  Engine.SetInterMatrix(Sixty4 + ",999,junk");
  EXPECT_EQ(Engine.InterMatrix.get()[63], 128) << "text after the 64th coefficient is ignored";
  std::string Holes = "x";
  for (int I = 1; I < 64; ++I) Holes += ",7";
  Engine.SetInterMatrix(Holes);
  EXPECT_EQ(Engine.InterMatrix.get()[0], 0) << "no number reads as 0";
  EXPECT_EQ(Engine.InterMatrix.get()[1], 7);
}

TEST_F(FFmpegOptions, MatrixCoefficientsAfterBlanksAndInRange) {
  std::string Spaced;
  for (int I = 1; I <= 64; ++I) Spaced += (I > 1 ? ", " : " ") + std::to_string(I);
  Engine.SetIntraMatrix(Spaced);
  for (int I = 0; I < 64; ++I) EXPECT_EQ(Engine.IntraMatrix.get()[I], I + 1) << "blanks before a coefficient, " << I;
  std::string Rest;
  for (int I = 1; I < 64; ++I) Rest += ",16";
  Engine.SetIntraMatrix("65535" + Rest);
  EXPECT_EQ(Engine.IntraMatrix.get()[0], 65535);
  // A coefficient that does not fit is refused rather than wrapped.
  for (const std::string First : {"-1", "65536", "99999999999999999999"})
    EXPECT_EQ(FailureOf([&] { Engine.SetIntraMatrix(First + Rest); }),
              "Coefficient out of range in matrix \"" + First + Rest + "\" at coeff 0")
        << First;
}

TEST_F(FFmpegOptions, PadColours) {
  struct TCase {
    uint32_t Rgb;
    std::array<int32_t, 3> Yuv;
  } Cases[] = {{0x0000FF, {76, 85, 255}}, {0, {0, 128, 128}}, {0xFFFFFF, {255, 128, 128}}, {0xFF0000, {29, 255, 107}}};
  for (const TCase& C : Cases) {
    Engine.SetPadColor(C.Rgb);
    EXPECT_EQ(Engine.PadColor, C.Yuv) << std::hex << C.Rgb;
  }
}

TEST_F(FFmpegOptions, VStatsFileNames) {
  std::tm At{};
  At.tm_hour = 14;
  At.tm_min = 5;
  At.tm_sec = 9;
  EXPECT_EQ(TCustomFFmpeg::VStatsFileNameFor(At), Platform::ProgramFolder() + "vstats_140509.log");
  Engine.SetVStats(true);
  EXPECT_EQ(Engine.VStatsFileName.rfind(Platform::ProgramFolder() + "vstats_", 0), 0u);
  EXPECT_EQ(Engine.VStatsFileName.size(), Platform::ProgramFolder().size() + std::string("vstats_hhnnss.log").size());
  Engine.SetVStats(false);
  EXPECT_EQ(Engine.VStatsFileName, "");
  Engine.SetVStatsFile("/tmp/v.log");
  EXPECT_EQ(Engine.VStatsFileName, "/tmp/v.log");
}

TEST_F(FFmpegOptions, BitstreamFilters) {
  Engine.AddBitstreamFilter("vbsf", "=h264_mp4toannexb");
  Engine.AddBitstreamFilter("vbsf", "");
  EXPECT_TRUE(Engine.VideoBsfChain.empty());
  Engine.AddBitstreamFilter("vbsf", "h264_mp4toannexb");
  Engine.AddBitstreamFilter("vbsf", "noise=amount=5");
  Engine.AddBitstreamFilter("absf", "aac_adtstoasc");
  Engine.AddBitstreamFilter("sbsf", "null");
  EXPECT_EQ(Engine.VideoBsfChain, (TBitstreamFilterChain{"h264_mp4toannexb", "noise=amount=5"}));
  EXPECT_EQ(Engine.AudioBsfChain, TBitstreamFilterChain{"aac_adtstoasc"});
  EXPECT_EQ(Engine.SubtitleBsfChain, TBitstreamFilterChain{"null"});
  EXPECT_EQ(FailureOf([&] { Engine.AddBitstreamFilter("absf", "no_such_bsf=1 "); }),
            "Unknown bitstream filter no_such_bsf=1");
}

TEST_F(FFmpegOptions, Formats) {
  Engine.SetInputFormat("wav");
  ASSERT_NE(Engine.InputFormat, nullptr);
  EXPECT_STREQ(Engine.InputFormat->name, "wav");
  EXPECT_EQ(FailureOf([&] { Engine.SetInputFormat("nope"); }), "Unknown input format: nope");
  EXPECT_EQ(FailureOf([&] { Engine.SetOutputFormat("nope"); }), "Unknown output format: nope");
  EXPECT_EQ(FailureOf([&] { Engine.SetFormat("nope"); }), "Unknown input or output format: nope");
  Engine.SetFormat("mp3");
  EXPECT_STREQ(Engine.InputFormat->name, "mp3");
  EXPECT_STREQ(Engine.OutputFormat->name, "mp3");
  Engine.SetOutputFormat("pgmyuv");
  EXPECT_EQ(Engine.PgmyuvCompat, 1);
  EXPECT_STREQ(Engine.OutputFormat->name, "image2");
  EXPECT_EQ(LogMessages(1), std::vector<std::string>{"pgmyuv format is deprecated, use image2"});
}

TEST_F(FFmpegOptions, CodecTags) {
  Engine.SetVideoTag("XVID");
  EXPECT_EQ(Engine.VideoCodecTag, uint32_t('X' | 'V' << 8 | 'I' << 16 | 'D' << 24));
  for (const char* Bad : {"XVI", "XVIDX"}) {
    try {
      Engine.SetAudioTag(Bad);
      FAIL() << Bad;
    } catch (const FFMpegException&) {
      FAIL() << "an assertion, not an engine exception";
    } catch (const std::exception& E) {
      EXPECT_EQ(std::string(E.what()).rfind("audio tag parameter must be 4 chars", 0), 0u);
    }
  }
  EXPECT_THROW(Engine.SetVideoTag("ab"), TAssertionFailure);
  Engine.SetAudioTag("");
  EXPECT_EQ(Engine.AudioCodecTag, 0u);
}

TEST_F(FFmpegOptions, PixelAndSampleFormats) {
  Engine.SetPixelFormat("yuv420p");
  EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_YUV420P);
  Engine.SetPixelFormat("no-such-format");
  EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_NONE);
  Engine.SetSampleFormat("s16");
  EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_S16);

  Engine.SetPixelFormat("list");
  size_t Descriptors = 0;
  for (const AVPixFmtDescriptor* D = av::av_pix_fmt_desc_next(nullptr); D; D = av::av_pix_fmt_desc_next(D))
    ++Descriptors;
  ASSERT_EQ(LogMessages(1).size(), Descriptors + 1);
  EXPECT_EQ(LogMessages(1)[0].rfind("name", 0), 0u);
  EXPECT_EQ(LogMessages(1)[1].rfind("yuv420p ", 0), 0u);
  EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_NONE) << "listing changes nothing";
  Log.clear();
  Engine.SetSampleFormat("list");
  ASSERT_EQ(LogMessages(1).size(), size_t(AV_SAMPLE_FMT_NB) + 1);
  EXPECT_EQ(LogMessages(1)[1].rfind("u8", 0), 0u);
  EXPECT_EQ(LogMessages(1)[1], Trim(LogMessages(1)[1]));
  Log.clear();
  Engine.OnLogHandler = nullptr;
  Engine.SetPixelFormat("list");
  EXPECT_TRUE(Log.empty());
}

TEST_F(FFmpegOptions, StreamAndMetaDataMaps) {
  Engine.AddStreamMap("0.1");
  Engine.AddStreamMap("1.2:0.3");
  Engine.AddStreamMap("0x2.010");
  ASSERT_EQ(Engine.StreamMapCount, 3);
  auto Fields = [](const TStreamMap& M) {
    return std::array<int32_t, 4>{M.FileIndex, M.StreamIndex, M.SyncFileIndex, M.SyncStreamIndex};
  };
  EXPECT_EQ(Fields(Engine.StreamMaps[0]), (std::array<int32_t, 4>{0, 1, 0, 1}));
  EXPECT_EQ(Fields(Engine.StreamMaps[1]), (std::array<int32_t, 4>{1, 2, 0, 3}));
  EXPECT_EQ(Fields(Engine.StreamMaps[2]), (std::array<int32_t, 4>{2, 8, 2, 8}));
  Engine.AddMetaDataMap("1:0");
  EXPECT_EQ(Engine.MetaDataMaps[0].OutFile, 1);
  EXPECT_EQ(Engine.MetaDataMaps[0].InFile, 0);
}

TEST_F(FFmpegOptions, SettersThatKeepTheOldValueForOutOfRangeInput) {
  struct TCase {
    const char* What;
    std::function<void(TCustomFFmpeg&)> Set;
    std::function<int64_t(const TCustomFFmpeg&)> Get;
    int64_t Expected;
  } Cases[] = {
      {"rate 0", [](auto& E) { E.SetAudioSampleRate(0); }, [](auto& E) { return E.AudioSampleRate; }, 44100},
      {"rate 8000", [](auto& E) { E.SetAudioSampleRate(8000); }, [](auto& E) { return E.AudioSampleRate; }, 8000},
      {"channels -1", [](auto& E) { E.SetAudioChannels(-1); }, [](auto& E) { return E.AudioChannels; }, 2},
      {"channels 1", [](auto& E) { E.SetAudioChannels(1); }, [](auto& E) { return E.AudioChannels; }, 1},
      {"volume -1", [](auto& E) { E.SetVolume(-1); }, [](auto& E) { return E.AudioVolume; }, 256},
      {"volume 0", [](auto& E) { E.SetVolume(0); }, [](auto& E) { return E.AudioVolume; }, 0},
      {"program -1", [](auto& E) { E.SetProgramId(-1); }, [](auto& E) { return E.ProgramId; }, 0},
      {"program 3", [](auto& E) { E.SetProgramId(3); }, [](auto& E) { return E.ProgramId; }, 3},
      {"year 0", [](auto& E) { E.SetYear(0); }, [](auto& E) { return E.Year; }, 0},
      {"track 7", [](auto& E) { E.SetTrack(7); }, [](auto& E) { return E.Track; }, 7},
      {"preload 0", [](auto& E) { E.SetMuxPreload(0); }, [](auto& E) { return int64_t(E.MuxPreload * 100); }, 50},
      {"delay 0.2", [](auto& E) { E.SetMuxMaxDelay(0.2f); }, [](auto& E) { return int64_t(E.MuxMaxDelay * 100 + 0.5); }, 20},
      {"pass 2", [](auto& E) { E.SetPass(2); }, [](auto& E) { return E.DoPass; }, 2},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg E;
    C.Set(E);
    EXPECT_EQ(C.Get(E), C.Expected) << C.What;
  }
  EXPECT_EQ(FailureOf([&] { Engine.SetPass(3); }), "pass number can be only 1 or 2");
  Engine.SetTitle("A");
  Engine.SetTitle("");
  EXPECT_EQ(Engine.Title, "A");
  Engine.SetVideoFilters("scale=320:240");
  Engine.SetVideoFilters("");
  EXPECT_EQ(Engine.VideoFilters, "scale=320:240") << "an empty text cannot clear it";
}

TEST_F(FFmpegOptions, FindCodec) {
  int32_t Id = -1;
  EXPECT_TRUE(Engine.FindCodec("", AVMEDIA_TYPE_AUDIO, Id, true));
  EXPECT_EQ(Id, AV_CODEC_ID_NONE);
  EXPECT_TRUE(Engine.FindCodec("libmp3lame", AVMEDIA_TYPE_AUDIO, Id, true));
  EXPECT_EQ(Id, AV_CODEC_ID_MP3);
  EXPECT_FALSE(Engine.FindCodec("mpeg4", AVMEDIA_TYPE_AUDIO, Id, true));
  EXPECT_EQ(Engine.LastError, "Invalid encoder type 'mpeg4'");
  EXPECT_FALSE(Engine.FindCodec("nothing", AVMEDIA_TYPE_AUDIO, Id, false));
  EXPECT_EQ(Engine.LastError, "Unknown decoder 'nothing'");
  EXPECT_TRUE(Engine.FindCodec("vorbis", AVMEDIA_TYPE_AUDIO, Id, false));
  EXPECT_EQ(Id, AV_CODEC_ID_VORBIS);
}

TEST_F(FFmpegOptions, GenericOptionsAreAppliedByTheirFlags) {
  ASSERT_TRUE(Engine.SetGenericOption("b", "300000"));
  ASSERT_TRUE(Engine.SetGenericOption("g", "48"));
  TCodecContextPtr Video(av::avcodec_alloc_context3(nullptr));
  Engine.ApplyGenericOptions(Video.get(), Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(),
                             AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(Video->bit_rate, 300000);
  EXPECT_EQ(Video->gop_size, 48);
  TCodecContextPtr Subtitle(av::avcodec_alloc_context3(nullptr));
  Engine.ApplyGenericOptions(Subtitle.get(), Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(),
                             AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_NE(Subtitle->gop_size, 48) << "a video-only option is not applied to subtitles";
}

TEST_F(FFmpegOptions, StreamsNeedAnOutput) {
  EXPECT_EQ(FailureOf([&] { Engine.AddStreamToLastOutput(AVMEDIA_TYPE_VIDEO); }),
            "At least one output file must be specified");
}

TEST_F(FFmpegOptions, VideoHookModules) {
  const std::string Module = Fixtures + "/hooks/hookmodule.so";
  const std::string Before = Platform::CurrentDirectory();
  Engine.AddVideoHook(Module + " first second");
  EXPECT_TRUE(Engine.UsingVHook);
  EXPECT_EQ(Platform::CurrentDirectory(), Before);
  void* Handle = dlopen(Module.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(Handle, nullptr);
  auto* Argc = static_cast<int*>(dlsym(Handle, "PemmetHookArgc"));
  auto* Args = static_cast<char(*)[4096]>(dlsym(Handle, "PemmetHookArgs"));
  auto* Released = static_cast<int*>(dlsym(Handle, "PemmetHookReleased"));
  EXPECT_EQ(*Argc, 3);
  EXPECT_STREQ(Args[0], Module.c_str());
  EXPECT_STREQ(Args[2], "second");

  Engine.AddVideoHook(Module + "|one arg|two");
  EXPECT_EQ(*Argc, 3);
  EXPECT_STREQ(Args[1], "one arg") << "with a | only | separates";
  EXPECT_EQ(Engine.FrameHookList.size(), 2u);

  EXPECT_EQ(FailureOf([&] { Engine.AddVideoHook(Module + " refuse"); }),
            "Failed to add video hook function: " + Module + " refuse");
  const std::string NoProcess = Fixtures + "/cwdprobe/libpemmetcwdprobe.so";
  EXPECT_EQ(FailureOf([&] { Engine.AddVideoHook(NoProcess); }), "Failed to add video hook function: " + NoProcess);
  EXPECT_EQ(FailureOf([&] { Engine.AddVideoHook("/no/such/module.so"); }),
            "Failed to add video hook function: /no/such/module.so");
  EXPECT_EQ(Engine.FrameHookList.size(), 2u);

  Engine.Cleanup();
  EXPECT_EQ(*Released, 2) << "clean-up releases every module's context";
  EXPECT_TRUE(Engine.FrameHookList.empty());
  dlclose(Handle);
}
