#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "AVOptionRecords.h"
#include "FFmpeg.h"
#include "TestSupport.h"

namespace {

constexpr int64_t Int64Max = std::numeric_limits<int64_t>::max();

// The message of the exception AAction raises; empty when it raises none.
std::string FailureOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const std::exception& E) {
    return E.what();
  }
  return "";
}

int64_t IntOption(void* AHolder, const char* AName) {
  int64_t Value = -12345;
  EXPECT_GE(av::av_opt_get_int(AHolder, AName, 0, &Value), 0) << AName;
  return Value;
}

// Sets the process's time zone for one test and puts the old one back.
class TTimeZone {
public:
  explicit TTimeZone(const char* AZone) {
    if (const char* Old = std::getenv("TZ")) {
      FHadOld = true;
      FOld = Old;
    }
    setenv("TZ", AZone, 1);
    tzset();
  }
  ~TTimeZone() {
    if (FHadOld)
      setenv("TZ", FOld.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  bool FHadOld = false;
  std::string FOld;
};

const char* const CentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

class OptionRecords : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    Engine.Init();
    Engine.OnLogHandler = [this](TCustomFFmpeg*, int, const std::string& AMessage) { Log.push_back(AMessage); };
  }
  bool Logged(const std::string& AMessage) const {
    for (const std::string& Line : Log)
      if (Line == AMessage) return true;
    return false;
  }

  TCustomFFmpeg Engine;
  std::vector<std::string> Log;
};

}  // namespace

// ---------------------------------------------------------------------------
// Defaults

TEST(OptionRecordDefaults, ResetPutsBackEveryDefaultThatIsNotZeroOrEmpty) {
  TOutputOptions Output;
  Output.FileName = "x";
  Output.AudioSync = 3;
  Output.VideoSync = 2;
  Output.MuxDelay = 4;
  Output.Timestamp = 5;
  Output.TargetFallbackNorm = 0;
  Output.PadColor = 0xFFFFFF;
  Output.CustomHook = true;
  Output.Title = "t";
  ResetOutputOptions(Output);
  EXPECT_EQ(Output.FileName, "");
  EXPECT_EQ(Output.AudioSync, 0);
  EXPECT_EQ(Output.VideoSync, -1);
  EXPECT_EQ(Output.MuxDelay, -1.0f);
  EXPECT_EQ(Output.MuxPreload, -1.0f);
  EXPECT_EQ(Output.Timestamp, -1.0);
  EXPECT_EQ(Output.TargetFallbackNorm, 1);
  EXPECT_EQ(Output.Target, 0);
  EXPECT_EQ(Output.PadColor, 0);
  EXPECT_FALSE(Output.CustomHook);
  EXPECT_EQ(Output.Title, "");
  EXPECT_EQ(Output.CropTop, -1);
  EXPECT_EQ(Output.PadRight, -1);
  EXPECT_EQ(Output.VideoBufferSize, -1);

  TInputOptions Input;
  Input.StartTimeMs = 10;
  Input.ProgramId = 2;
  Input.ExtraOptions = "vn";
  ResetInputOptions(Input);
  EXPECT_EQ(Input.StartTimeMs, -1);
  EXPECT_EQ(Input.ProgramId, -1);
  EXPECT_EQ(Input.ExtraOptions, "");
}

TEST_F(OptionRecords, DefaultOutputRecordLeavesTheEngineDefaultsButWritesItsOwnValues) {
  // Values a default record writes over.
  Engine.AudioSyncMethod = 1;
  Engine.VideoSyncMethod = 2;
  Engine.CopyTs = true;
  Engine.AudioLanguage = "eng";
  Engine.SubtitleLanguage = "ger";
  ApplyOutputOptionFields(Engine, TOutputOptions{});

  EXPECT_EQ(Engine.AudioSyncMethod, 0);
  EXPECT_EQ(Engine.VideoSyncMethod, -1);
  EXPECT_FALSE(Engine.CopyTs);
  EXPECT_EQ(Engine.AudioLanguage, "");
  EXPECT_EQ(Engine.SubtitleLanguage, "");
  EXPECT_EQ(Engine.PadColor, (std::array<int32_t, 3>{0, 128, 128}));  // black, not the engine's 16

  // Everything else is as a fresh engine has it.
  TCustomFFmpeg Fresh;
  EXPECT_EQ(Engine.OutputFormat, nullptr);
  EXPECT_TRUE(Engine.OptNames.empty());
  EXPECT_TRUE(Engine.FormatPrivateOptions.empty());
  EXPECT_EQ(Engine.MuxPreload, Fresh.MuxPreload);
  EXPECT_EQ(Engine.MuxMaxDelay, Fresh.MuxMaxDelay);
  EXPECT_EQ(Engine.AudioCodecName, "");
  EXPECT_EQ(Engine.AudioDisable, 0);
  EXPECT_EQ(Engine.AudioVolume, Fresh.AudioVolume);
  EXPECT_EQ(Engine.AudioChannels, Fresh.AudioChannels);
  EXPECT_EQ(Engine.AudioSampleRate, Fresh.AudioSampleRate);
  EXPECT_EQ(Engine.AudioCodecTag, 0u);
  EXPECT_EQ(Engine.VideoCodecName, "");
  EXPECT_EQ(Engine.VideoDisable, 0);
  EXPECT_EQ(Engine.FrameRate.den, 0);
  EXPECT_EQ(Engine.FrameWidth, 0);
  EXPECT_EQ(Engine.FrameAspectRatio, 0.0f);
  EXPECT_EQ(Engine.CropTop + Engine.CropBottom + Engine.CropLeft + Engine.CropRight, 0);
  EXPECT_EQ(Engine.PadTop + Engine.PadBottom + Engine.PadLeft + Engine.PadRight, 0);
  EXPECT_EQ(Engine.VideoFilters, "");
  EXPECT_EQ(Engine.SubtitleDisable, 0);
  EXPECT_EQ(Engine.RecordingTime, Fresh.RecordingTime);
  EXPECT_EQ(Engine.TotalDuration, Fresh.TotalDuration);
  EXPECT_EQ(Engine.RecTimestamp, 0);
  EXPECT_EQ(Engine.Year, 0);
  EXPECT_EQ(Engine.Track, 0);
  EXPECT_EQ(Engine.Title + Engine.Author + Engine.Copyright + Engine.Comment + Engine.Album + Engine.Genre, "");
  EXPECT_TRUE(Log.empty());
}

// ---------------------------------------------------------------------------
// Extra options

TEST_F(OptionRecords, ExtraOptionsAreLinesOfNameAndValue) {
  // Blanks around the whole text go; lines end in CR LF, a lone CR or LF; empty lines
  // are harmless; a line is split at its first "="; a line without "=" is a switch.
  ApplyExtraOptions(Engine, " \t ar=22050\r\nvn\r\r\ntitle=a=b c \nasync=1  \r\n");
  EXPECT_EQ(Engine.AudioSampleRate, 22050);
  EXPECT_EQ(Engine.VideoDisable, 1);
  EXPECT_EQ(Engine.Title, "a=b c ");  // blanks inside the text are passed on
  EXPECT_EQ(Engine.AudioSyncMethod, 1);
}

TEST_F(OptionRecords, ExtraOptionNamesAreNotTrimmed) {
  ApplyExtraOptions(Engine, "ar=22050\n vn\nsn \nasync=1");
  EXPECT_EQ(Engine.AudioSampleRate, 22050);
  EXPECT_EQ(Engine.VideoDisable, 0);
  EXPECT_EQ(Engine.SubtitleDisable, 0);
  EXPECT_EQ(Engine.AudioSyncMethod, 1);
}

TEST_F(OptionRecords, EmptyExtraOptionsChangeNothing) {
  ApplyExtraOptions(Engine, " \r\n\t ");
  EXPECT_TRUE(Engine.OptNames.empty());
  EXPECT_EQ(Engine.VideoDisable, 0);
}

TEST_F(OptionRecords, ExtraOptionErrorsReachTheCaller) {
  EXPECT_EQ(FailureOf([&] { ApplyExtraOptions(Engine, "ar=22050\nf=nosuchformat\nvn"); }),
            "Unknown input or output format: nosuchformat");
  EXPECT_EQ(Engine.AudioSampleRate, 22050);
  EXPECT_EQ(Engine.VideoDisable, 0);  // the line after the failing one is not reached
}

// ---------------------------------------------------------------------------
// Input options

TEST_F(OptionRecords, InputStartTimeIsMillisecondsAndOnlyAPositiveOneCounts) {
  struct TCase {
    int32_t StartTimeMs;
    int64_t StartTime;
  } Cases[] = {{1500, 1500000}, {0, 0}, {-1, 0}, {3000000, 3000000000LL}, {INT32_MAX, int64_t(INT32_MAX) * 1000}};
  for (const TCase& Case : Cases) {
    TCustomFFmpeg Fresh;
    TInputOptions Input;
    Input.StartTimeMs = Case.StartTimeMs;
    ApplyInputOptions(Fresh, Input);
    EXPECT_EQ(Fresh.StartTime, Case.StartTime) << Case.StartTimeMs;
  }
}

TEST_F(OptionRecords, InputFieldsComeAfterTheExtraOptions) {
  TInputOptions Input;
  Input.ExtraOptions = "ss=5\nf=flac";
  Input.FormatName = "wav";
  Input.StartTimeMs = 1500;
  Input.ProgramId = 3;
  ApplyInputOptions(Engine, Input);
  EXPECT_EQ(Engine.StartTime, 1500000);
  ASSERT_NE(Engine.InputFormat, nullptr);
  EXPECT_STREQ(Engine.InputFormat->name, "wav");
  EXPECT_EQ(Engine.ProgramId, 3);

  // Defaults leave what the extra options set.
  TCustomFFmpeg Other;
  Other.Init();
  Input = TInputOptions{};
  Input.ExtraOptions = "ss=5\nf=flac";
  ApplyInputOptions(Other, Input);
  EXPECT_EQ(Other.StartTime, 5000000);
  ASSERT_NE(Other.InputFormat, nullptr);
  EXPECT_STREQ(Other.InputFormat->name, "flac");
  EXPECT_EQ(Other.ProgramId, 0);
}

TEST_F(OptionRecords, UnknownInputFormatStopsBeforeTheStartTime) {
  TInputOptions Input;
  Input.FormatName = "nosuchformat";
  Input.StartTimeMs = 1500;
  EXPECT_EQ(FailureOf([&] { ApplyInputOptions(Engine, Input); }), "Unknown input format: nosuchformat");
  EXPECT_EQ(Engine.StartTime, 0);
}

// ---------------------------------------------------------------------------
// Output options: order of application

TEST_F(OptionRecords, TypedFieldsOverrideTheExtraOptions) {
  struct TCase {
    const char* What;
    std::function<void(TOutputOptions&)> Fill;
    std::function<void(const TCustomFFmpeg&)> Check;
  } Cases[] = {
      {"codec",
       [](TOutputOptions& R) {
         R.ExtraOptions = "acodec=mp2";
         R.AudioCodec = "libmp3lame";
       },
       [](const TCustomFFmpeg& E) { EXPECT_EQ(E.AudioCodecName, "libmp3lame"); }},
      {"copyts", [](TOutputOptions& R) { R.ExtraOptions = "copyts"; },
       [](const TCustomFFmpeg& E) { EXPECT_FALSE(E.CopyTs); }},
      {"async", [](TOutputOptions& R) { R.ExtraOptions = "async=1"; },
       [](const TCustomFFmpeg& E) { EXPECT_EQ(E.AudioSyncMethod, 0); }},
      {"vsync", [](TOutputOptions& R) { R.ExtraOptions = "vsync=1"; },
       [](const TCustomFFmpeg& E) { EXPECT_EQ(E.VideoSyncMethod, -1); }},
      {"alang", [](TOutputOptions& R) { R.ExtraOptions = "alang=eng\nslang=ger"; },
       [](const TCustomFFmpeg& E) { EXPECT_EQ(E.AudioLanguage + E.SubtitleLanguage, ""); }},
      // A field at its default does not undo what an extra option set.
      {"ar kept", [](TOutputOptions& R) { R.ExtraOptions = "ar=22050\nac=1\nvn\nt=3"; },
       [](const TCustomFFmpeg& E) {
         EXPECT_EQ(E.AudioSampleRate, 22050);
         EXPECT_EQ(E.AudioChannels, 1);
         EXPECT_EQ(E.VideoDisable, 1);
         EXPECT_EQ(E.RecordingTime, 3000000);
       }},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TCustomFFmpeg Fresh;
    Fresh.Init();
    TOutputOptions R;
    Case.Fill(R);
    ApplyOutputOptionFields(Fresh, R);
    Case.Check(Fresh);
  }
}

TEST_F(OptionRecords, AFailingFieldStopsTheRestOfTheRecord) {
  TOutputOptions R;
  R.AudioCodec = "mp2";
  R.FrameSize = "bad";
  R.CropTop = 4;
  R.Title = "Title";
  R.Target = 3;
  R.TargetNorm = 1;
  EXPECT_EQ(FailureOf([&] { ApplyOutputOptionFields(Engine, R); }), "Incorrect frame size");
  EXPECT_EQ(Engine.AudioCodecName, "mp2");
  EXPECT_EQ(Engine.CropTop, 0);
  EXPECT_EQ(Engine.Title, "");
  EXPECT_EQ(Engine.OutputFormat, nullptr);  // no preset
}

TEST_F(OptionRecords, FrameSizeComesBeforeCropAndPad) {
  TOutputOptions R;
  R.FrameSize = "640x480";
  R.CropTop = 4;
  R.CropLeft = 8;
  R.PadBottom = 2;
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.FrameHeight, 476);
  EXPECT_EQ(Engine.FrameWidth, 632);
  EXPECT_EQ(Engine.PadBottom, 2);

  // Without a frame size the crop has nothing to cut from.
  TCustomFFmpeg Other;
  Other.Init();
  R.FrameSize.clear();
  EXPECT_NE(FailureOf([&] { ApplyOutputOptionFields(Other, R); }).find("Vertical crop dimensions"),
            std::string::npos);
}

TEST_F(OptionRecords, TargetPresetComesLast) {
  TOutputOptions R;
  R.AudioSampleRate = 22050;
  R.AudioCodec = "libmp3lame";
  R.FrameSize = "320x240";
  R.Target = 3;
  R.TargetNorm = 1;
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.AudioSampleRate, 48000);
  EXPECT_EQ(Engine.AudioCodecName, "ac3");
  EXPECT_EQ(Engine.FrameWidth, 720);
  EXPECT_EQ(Engine.FrameHeight, 576);
}

TEST_F(OptionRecords, InvalidTagIsTheSettersOwnFailure) {
  TOutputOptions R;
  R.AudioTag = "abc";
  EXPECT_THROW(ApplyOutputOptionFields(Engine, R), TAssertionFailure);
  R.AudioTag = "abcd";
  R.VideoTag = "XVID";
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.AudioCodecTag, 0x64636261u);
  EXPECT_EQ(Engine.VideoCodecTag, 0x44495658u);
}

// ---------------------------------------------------------------------------
// Output options: single fields

TEST_F(OptionRecords, GenericIntegerFieldsAreSetOnlyWhenPositive) {
  TOutputOptions R;
  R.AudioBitrate = 128000;
  R.AudioBitrateTolerance = 4000;
  R.VideoBitrate = 800000;
  R.VideoMaxRate = 900000;
  R.VideoMinRate = 100000;
  R.VideoBitrateTolerance = 5000;
  R.VideoBufferSize = 327680;
  R.GopSize = 12;
  R.PacketSize = 2048;
  ApplyOutputOptionFields(Engine, R);
  void* Audio = Engine.CodecOpts[AVMEDIA_TYPE_AUDIO].get();
  void* Video = Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get();
  EXPECT_EQ(IntOption(Audio, "b"), 128000);
  EXPECT_EQ(IntOption(Audio, "bt"), 4000);
  EXPECT_EQ(IntOption(Video, "b"), 800000);
  EXPECT_EQ(IntOption(Video, "maxrate"), 900000);
  EXPECT_EQ(IntOption(Video, "minrate"), 100000);
  EXPECT_EQ(IntOption(Video, "bt"), 5000);
  EXPECT_EQ(IntOption(Video, "bufsize"), 327680);
  EXPECT_EQ(IntOption(Video, "g"), 12);
  EXPECT_EQ(IntOption(Engine.FormatOpts.get(), "packetsize"), 2048);

  for (int32_t Value : {0, -1, -5}) {
    TCustomFFmpeg Fresh;
    Fresh.Init();
    TOutputOptions Off;
    Off.AudioBitrate = Off.AudioBitrateTolerance = Off.VideoBitrate = Off.VideoMaxRate = Value;
    Off.VideoMinRate = Off.VideoBitrateTolerance = Off.VideoBufferSize = Off.GopSize = Value;
    Off.PacketSize = Off.MuxRate = Value;
    ApplyOutputOptionFields(Fresh, Off);
    EXPECT_TRUE(Fresh.OptNames.empty()) << Value;
    EXPECT_TRUE(Fresh.FormatPrivateOptions.empty()) << Value;
  }
}

TEST_F(OptionRecords, MuxRateGoesToTheMuxersOwnOptions) {
  TOutputOptions R;
  R.MuxRate = 1411200;
  ApplyOutputOptionFields(Engine, R);
  ASSERT_EQ(Engine.FormatPrivateOptions.count("muxrate"), 1u);
  EXPECT_EQ(Engine.FormatPrivateOptions["muxrate"], "1411200");
}

TEST_F(OptionRecords, PadColorHasRedInTheLowByte) {
  struct TCase {
    int32_t Color;
    std::array<int32_t, 3> Yuv;
  } Cases[] = {
      {0x000000, {0, 128, 128}},
      {0x0000FF, {76, 85, 255}},              // red
      {0xFF0000, {29, 255, 107}},             // blue
      {static_cast<int32_t>(0x800000FFu), {76, 85, 255}},  // the top byte means nothing here
      {0xFFFFFF, {255, 128, 128}},
  };
  for (const TCase& Case : Cases) {
    TCustomFFmpeg Fresh;
    Fresh.Init();
    TOutputOptions R;
    R.PadColor = Case.Color;
    ApplyOutputOptionFields(Fresh, R);
    EXPECT_EQ(Fresh.PadColor, Case.Yuv) << std::hex << Case.Color;
  }
}

TEST_F(OptionRecords, SwitchesAndStoredFields) {
  TOutputOptions R;
  R.FormatName = "mp3";
  R.MuxDelay = 0.2f;
  R.MuxPreload = 0.3f;
  R.DisableAudio = true;
  R.AudioVolume = 0;
  R.AudioChannels = 1;
  R.AudioLanguage = "eng";
  R.AudioSync = 1;
  R.VideoCodec = "copy";
  R.DisableVideo = true;
  R.FrameRate = "25";
  R.AspectRatio = "16:9";
  R.VideoSync = 0;
  R.VideoFilters = "null";
  R.DisableSubtitle = true;
  R.SubtitleLanguage = "ger";
  R.CopyTimestamps = true;
  R.DurationMs = 2500;
  R.Year = 2009;
  R.Track = 7;
  R.Album = "Album";
  ApplyOutputOptionFields(Engine, R);
  ASSERT_NE(Engine.OutputFormat, nullptr);
  EXPECT_STREQ(Engine.OutputFormat->name, "mp3");
  EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.2f);
  EXPECT_FLOAT_EQ(Engine.MuxPreload, 0.3f);
  EXPECT_EQ(Engine.AudioDisable, 1);
  EXPECT_EQ(Engine.AudioVolume, 0);
  EXPECT_EQ(Engine.AudioChannels, 1);
  EXPECT_EQ(Engine.AudioLanguage, "eng");
  EXPECT_EQ(Engine.AudioSyncMethod, 1);
  EXPECT_EQ(Engine.VideoStreamCopy, 1);
  EXPECT_EQ(Engine.VideoDisable, 1);
  EXPECT_EQ(Engine.FrameRate.num, 25);
  EXPECT_EQ(Engine.FrameRate.den, 1);
  EXPECT_NEAR(Engine.FrameAspectRatio, 16.0 / 9.0, 1e-6);
  EXPECT_EQ(Engine.VideoSyncMethod, 0);
  EXPECT_EQ(Engine.VideoFilters, "null");
  EXPECT_EQ(Engine.SubtitleDisable, 1);
  EXPECT_EQ(Engine.SubtitleLanguage, "ger");
  EXPECT_TRUE(Engine.CopyTs);
  EXPECT_EQ(Engine.RecordingTime, 2500000);
  EXPECT_EQ(Engine.TotalDuration, 2500);
  EXPECT_EQ(Engine.Year, 2009);
  EXPECT_EQ(Engine.Track, 7);
  EXPECT_EQ(Engine.Album, "Album");
}

TEST_F(OptionRecords, MetaDataTextsAreCutLikeTheirFixedArrays) {
  const std::string Accent = "\xC3\xA9";  // one character, two bytes
  struct TCase {
    const char* What;
    std::string Title, Genre;
    std::string EngineTitle, EngineGenre;
  } Cases[] = {
      {"fits", std::string(511, 't'), std::string(31, 'g'), std::string(511, 't'), std::string(31, 'g')},
      {"too long", std::string(600, 't'), std::string(40, 'g'), std::string(511, 't'), std::string(31, 'g')},
      {"up to the first zero", std::string("ab\0cd", 5), std::string("x\0y", 3), "ab", "x"},
      {"no half character", std::string(510, 't') + Accent, std::string(30, 'g') + Accent, std::string(510, 't'),
       std::string(30, 'g')},
      {"whole character fits", std::string(509, 't') + Accent, std::string(29, 'g') + Accent,
       std::string(509, 't') + Accent, std::string(29, 'g') + Accent},
  };
  for (const TCase& Case : Cases) {
    TCustomFFmpeg Fresh;
    Fresh.Init();
    TOutputOptions R;
    R.Title = R.Author = R.Copyright = R.Comment = R.Album = Case.Title;
    R.Genre = Case.Genre;
    ApplyOutputOptionFields(Fresh, R);
    EXPECT_EQ(Fresh.Title, Case.EngineTitle) << Case.What;
    EXPECT_EQ(Fresh.Author, Case.EngineTitle) << Case.What;
    EXPECT_EQ(Fresh.Copyright, Case.EngineTitle) << Case.What;
    EXPECT_EQ(Fresh.Comment, Case.EngineTitle) << Case.What;
    EXPECT_EQ(Fresh.Album, Case.EngineTitle) << Case.What;
    EXPECT_EQ(Fresh.Genre, Case.EngineGenre) << Case.What;
  }
}

// ---------------------------------------------------------------------------
// Recording time stamp

TEST(RecordingTimestamp, LocalDaysBecomeUnixSeconds) {
  struct TCase {
    double Days;
    int32_t Bias;
    int64_t Seconds;
  } Cases[] = {
      {25569.0, 0, 0},
      {25570.0, 0, 86400},
      {25569.0, -60, -3600},   // an hour east of Greenwich: local midnight is 23:00 UTC
      {25569.0, 300, 18000},   // five hours west
      {25569.0 + 1 / 256.0, 0, 338},   // 337.5 s: halves go to the even second
      {25569.0 + 3 / 256.0, 0, 1012},  // 1012.5 s
      {25569.0 - 1 / 256.0, 0, -338},  // -337.5 s
      {25569.0 + 1 / 1024.0, 0, 84},   // 84.375 s
      {44378.5, -120, 1625133600},     // 2021-07-01 12:00 at UTC+2
      {1e300, 0, Int64Max},
      {-1e300, 0, std::numeric_limits<int64_t>::min()},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(TimestampToUnixSeconds(Case.Days, Case.Bias), Case.Seconds) << Case.Days << " " << Case.Bias;
}

TEST(RecordingTimestamp, SummerDatesUseTheDaylightSavingOffset) {
  TTimeZone Zone(CentralEurope);
  EXPECT_EQ(LocalBiasMinutesAt(44378.5), -120);  // 2021-07-01 12:00
  EXPECT_EQ(LocalBiasMinutesAt(44211.5), -60);   // 2021-01-15 12:00
  int64_t Seconds = 0;
  ASSERT_TRUE(RecTimestampFor(44378.5, Seconds));
  EXPECT_EQ(Seconds, 1625133600);  // 10:00 UTC, not 11:00
  ASSERT_TRUE(RecTimestampFor(44211.5, Seconds));
  EXPECT_EQ(Seconds, 1610708400);  // 11:00 UTC
}

TEST(RecordingTimestamp, ZeroIsNowInAnyZone) {
  for (const char* ZoneName : {"UTC0", "XXX-5", "YYY+7", CentralEurope}) {
    TTimeZone Zone(ZoneName);
    int64_t Seconds = 0;
    const std::time_t Before = std::time(nullptr);
    ASSERT_TRUE(RecTimestampFor(0.0, Seconds));
    const std::time_t After = std::time(nullptr);
    EXPECT_GE(Seconds, Before) << ZoneName;
    EXPECT_LE(Seconds, After + 1) << ZoneName;
  }
}

TEST(RecordingTimestamp, NegativeOrNotANumberLeavesItAlone) {
  int64_t Seconds = 42;
  EXPECT_FALSE(RecTimestampFor(-1.0, Seconds));
  EXPECT_FALSE(RecTimestampFor(-0.5, Seconds));
  EXPECT_FALSE(RecTimestampFor(std::nan(""), Seconds));
  EXPECT_EQ(Seconds, 42);
}

TEST_F(OptionRecords, TimestampFieldSetsRecTimestamp) {
  TTimeZone Zone("UTC0");
  TOutputOptions R;
  R.Timestamp = -1.0;
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.RecTimestamp, 0);
  R.Timestamp = 25570.0;
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.RecTimestamp, 86400);
  R.Timestamp = -1.0;
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.RecTimestamp, 86400);  // a negative value keeps what was there
  R.Timestamp = 0.0;
  const std::time_t Before = std::time(nullptr);
  ApplyOutputOptionFields(Engine, R);
  EXPECT_GE(Engine.RecTimestamp, Before);
  EXPECT_LE(Engine.RecTimestamp, std::time(nullptr) + 1);
}

// ---------------------------------------------------------------------------
// Hook ranges

TEST(HookRanges, ParsedFromMillisecondPairs) {
  struct TCase {
    const char* Text;
    std::vector<std::pair<int64_t, int64_t>> Ranges;
  } Cases[] = {
      {"1000-2000,5000-4000,7000", {{1000000, 2000000}}},
      {"  1000 - 2000 , 3000-3000 ", {{1000000, 2000000}, {3000000, 3000000}}},
      {"x-3000", {{-1000, 3000000}}},  // a start that is no number still leaves a valid range
      {"", {}},
      {" , ,", {}},
      {",,1-2,", {{1000, 2000}}},
      {"5-1x", {}},
      {"5-", {}},
      {"-7", {{-1000, 7000}}},
      {"0-99999999999999999999", {}},  // beyond int64: no number
      {"0-9223372036854775807", {{0, Int64Max}}},  // held at the limit, not wrapped
      {"6000-7000,1000-2000", {{6000000, 7000000}, {1000000, 2000000}}},  // sorting is the engine's
  };
  for (const TCase& Case : Cases) {
    std::vector<std::pair<int64_t, int64_t>> Got;
    for (const THookRange& Range : ParseHookRanges(Case.Text)) Got.emplace_back(Range.Start, Range.End);
    EXPECT_EQ(Got, Case.Ranges) << "\"" << Case.Text << "\"";
  }
}

TEST(HookRanges, EngineKeepsASortedCopy) {
  TCustomFFmpeg Engine;
  Engine.HookRangeIndex = 2;
  std::vector<THookRange> Ranges{{5000000, 6000000}, {1000000, 2000000}, {0, 2000000}, {4000000, 4500000}};
  Engine.SetHookRanges(Ranges);
  Ranges[0].End = 1;  // a copy: the caller's table can change afterwards
  ASSERT_EQ(Engine.HookRangeCount, 4);
  EXPECT_EQ(Engine.HookRangeIndex, 0);
  const std::vector<std::pair<int64_t, int64_t>> Expected{
      {1000000, 2000000}, {0, 2000000}, {4000000, 4500000}, {5000000, 6000000}};
  std::vector<std::pair<int64_t, int64_t>> Got;
  for (const THookRange& Range : Engine.HookRanges) Got.emplace_back(Range.Start, Range.End);
  EXPECT_EQ(Got, Expected);

  Engine.HookRangeIndex = 3;
  Engine.SetHookRanges({});
  EXPECT_EQ(Engine.HookRangeCount, 0);
  EXPECT_EQ(Engine.HookRangeIndex, 0);
  EXPECT_TRUE(Engine.HookRanges.empty());
}

// ---------------------------------------------------------------------------
// Target presets

TEST(TargetFields, MapToPresetNormAndFallback) {
  struct TCase {
    int32_t Target, Norm, Fallback;
    bool Applies;
    const char *Kind, *NormText, *FallbackText;
  } Cases[] = {
      {0, 1, 1, false, "", "", ""},
      {1, 0, 1, true, "vcd", "auto", "pal"},
      {2, 1, 0, true, "svcd", "pal", "ntsc"},
      {3, 2, 2, true, "dvd", "ntsc", "ntsc"},
      {3, 0, 1, true, "dvd", "auto", "pal"},
      {3, 7, 1, true, "dvd", "auto", "pal"},
      {3, -1, -1, true, "dvd", "auto", "ntsc"},
      {4, 1, 1, false, "", "", ""},
      {-1, 1, 1, false, "", "", ""},
  };
  for (const TCase& Case : Cases) {
    TOutputOptions R;
    R.Target = Case.Target;
    R.TargetNorm = Case.Norm;
    R.TargetFallbackNorm = Case.Fallback;
    std::string Kind, Norm, Fallback;
    ASSERT_EQ(TargetArguments(R, Kind, Norm, Fallback), Case.Applies) << Case.Target;
    if (!Case.Applies) continue;
    EXPECT_EQ(Kind, Case.Kind);
    EXPECT_EQ(Norm, Case.NormText) << Case.Norm;
    EXPECT_EQ(Fallback, Case.FallbackText) << Case.Fallback;
  }
}

TEST_F(OptionRecords, AutomaticNormFallsBackAsTheRecordSays) {
  // 15 frames per second decides no norm, so the fallback chooses.
  struct TCase {
    int32_t Fallback;
    int32_t Height;
    const char* Message;
  } Cases[] = {{1, 576, "Assuming PAL for target."}, {0, 480, "Assuming NTSC for target."}};
  for (const TCase& Case : Cases) {
    TCustomFFmpeg Fresh;
    Fresh.Init();
    Log.clear();
    Fresh.OnLogHandler = Engine.OnLogHandler;
    TOutputOptions R;
    R.FrameRate = "15";
    R.Target = 3;
    R.TargetFallbackNorm = Case.Fallback;
    ApplyOutputOptionFields(Fresh, R);
    EXPECT_EQ(Fresh.FrameWidth, 720);
    EXPECT_EQ(Fresh.FrameHeight, Case.Height);
    EXPECT_TRUE(Logged(Case.Message)) << Case.Message;
  }
}

TEST_F(OptionRecords, NamedNormIsNotDetected) {
  TOutputOptions R;
  R.Target = 1;
  R.TargetNorm = 2;
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.FrameHeight, 240);
  EXPECT_EQ(Engine.FrameRate.num, 30000);
  EXPECT_FALSE(Logged("Assuming NTSC for target."));
}

TEST_F(OptionRecords, NoTargetCallsNoPreset) {
  TOutputOptions R;
  R.Target = 5;
  R.TargetNorm = 1;
  ApplyOutputOptionFields(Engine, R);
  EXPECT_EQ(Engine.OutputFormat, nullptr);
  EXPECT_EQ(Engine.FrameWidth, 0);
}
