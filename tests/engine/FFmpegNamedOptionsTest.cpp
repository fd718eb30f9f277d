#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

using TSnapshot = std::map<std::string, std::string>;

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

std::string Num(double AValue) { return FormatText("%g", AValue); }
std::string Num(int64_t AValue) { return std::to_string(AValue); }

std::string Join(const std::vector<std::string>& AItems) {
  std::string Result;
  for (const std::string& Item : AItems) Result += (Result.empty() ? "" : ",") + Item;
  return Result;
}

// Every engine value that one of the named options may write, as text, so that a
// case can state exactly which values its option changes.
TSnapshot Snapshot(const TCustomFFmpeg& E) {
  TSnapshot S;
  const auto Int = [&](const char* AName, int64_t AValue) { S[AName] = Num(AValue); };
  const auto Float = [&](const char* AName, double AValue) { S[AName] = Num(AValue); };
  const auto Text = [&](const char* AName, const std::string& AValue) { S[AName] = AValue; };
  const auto Format = [&](const char* AName, const char* AFormatName) { S[AName] = AFormatName ? AFormatName : "-"; };

  Format("InputFormat", E.InputFormat ? E.InputFormat->name : nullptr);
  Format("OutputFormat", E.OutputFormat ? E.OutputFormat->name : nullptr);
  Int("FrameWidth", E.FrameWidth);
  Int("FrameHeight", E.FrameHeight);
  Float("FrameAspectRatio", E.FrameAspectRatio);
  Int("FramePixFmt", E.FramePixFmt);
  Text("FrameRate", FormatText("%d/%d", E.FrameRate.num, E.FrameRate.den));
  Int("PadTop", E.PadTop);
  Int("PadBottom", E.PadBottom);
  Int("PadLeft", E.PadLeft);
  Int("PadRight", E.PadRight);
  Text("PadColor", FormatText("%d,%d,%d", E.PadColor[0], E.PadColor[1], E.PadColor[2]));
  Int("CropTop", E.CropTop);
  Int("CropBottom", E.CropBottom);
  Int("CropLeft", E.CropLeft);
  Int("CropRight", E.CropRight);
  for (int I = 0; I < 4; ++I) S["MaxFrames" + std::to_string(I)] = Num(int64_t{E.MaxFrames[I]});
  Float("VideoQScale", E.VideoQScale);
  Text("IntraMatrix", E.IntraMatrix ? FormatText("%d..%d", E.IntraMatrix.get()[0], E.IntraMatrix.get()[63]) : "-");
  Text("InterMatrix", E.InterMatrix ? FormatText("%d..%d", E.InterMatrix.get()[0], E.InterMatrix.get()[63]) : "-");
  Text("VideoRcOverride", E.VideoRcOverride);
  Int("VideoDisable", E.VideoDisable);
  Int("VideoDiscard", E.VideoDiscard);
  Text("VideoCodecName", E.VideoCodecName);
  Int("VideoCodecTag", E.VideoCodecTag);
  Int("SameQuality", E.SameQuality);
  Int("DoDeinterlace", E.DoDeinterlace);
  Int("TopFieldFirst", E.TopFieldFirst);
  Int("MeThreshold", E.MeThreshold);
  Int("IntraDcPrecision", E.IntraDcPrecision);
  Int("LoopInput", E.LoopInput);
  Int("LoopOutput", E.LoopOutput);
  Int("QpHist", E.QpHist);
  Text("VideoFilters", E.VideoFilters);
  Int("IntraOnly", E.IntraOnly);
  Int("VideoChannel", E.VideoChannel);
  Text("VideoStandard", E.VideoStandard);
  Int("VideoGlobalHeader", E.VideoGlobalHeader);
  Int("VideoSyncMethod", E.VideoSyncMethod);
  Int("AudioSampleRate", E.AudioSampleRate);
  Float("AudioQScale", E.AudioQScale);
  Int("AudioDisable", E.AudioDisable);
  Int("AudioChannels", E.AudioChannels);
  Text("AudioCodecName", E.AudioCodecName);
  Int("AudioCodecTag", E.AudioCodecTag);
  Text("AudioLanguage", E.AudioLanguage);
  Int("AudioSampleFmt", E.AudioSampleFmt);
  Int("AudioVolume", E.AudioVolume);
  Int("AudioSyncMethod", E.AudioSyncMethod);
  Float("AudioDriftThreshold", E.AudioDriftThreshold);
  Int("SubtitleDisable", E.SubtitleDisable);
  Text("SubtitleCodecName", E.SubtitleCodecName);
  Text("SubtitleLanguage", E.SubtitleLanguage);
  Int("AudioStreamCopy", E.AudioStreamCopy);
  Int("VideoStreamCopy", E.VideoStreamCopy);
  Int("SubtitleStreamCopy", E.SubtitleStreamCopy);
  Int("RecordingTime", E.RecordingTime);
  Int("TotalDuration", E.TotalDuration);
  Int("StartTime", E.StartTime);
  Int("RecTimestamp", E.RecTimestamp);
  Int("InputTsOffset", E.InputTsOffset);
  Float("InputTsScale0_3", E.InputTsScale[0][3]);
  Float("MuxPreload", E.MuxPreload);
  Float("MuxMaxDelay", E.MuxMaxDelay);
  Int("CopyTs", E.CopyTs);
  Int("Shortest", E.Shortest);
  Float("DtsDeltaThreshold", E.DtsDeltaThreshold);
  Int("LimitFileSize", E.LimitFileSize);
  Int("InputSync", E.InputSync);
  Int("RateEmu", E.RateEmu);
  Int("ProgramId", E.ProgramId);
  Int("ThreadCount", E.ThreadCount);
  Text("Title", E.Title);
  Text("Author", E.Author);
  Text("Copyright", E.Copyright);
  Text("Comment", E.Comment);
  Text("Genre", E.Genre);
  Text("Album", E.Album);
  Int("Verbose", E.Verbose);
  Int("DoBenchmark", E.DoBenchmark);
  Int("DoHexDump", E.DoHexDump);
  Int("DoPktDump", E.DoPktDump);
  Int("DoPsnr", E.DoPsnr);
  Int("DoPass", E.DoPass);
  Text("PassLogFilePrefix", E.PassLogFilePrefix);
  Text("VStatsFileName", E.VStatsFileName);
  Int("ExitOnError", E.ExitOnError);
  Int("OptNameCount", E.OptNameCount());
  Text("VideoBsfChain", Join(E.VideoBsfChain));
  Text("AudioBsfChain", Join(E.AudioBsfChain));
  Text("SubtitleBsfChain", Join(E.SubtitleBsfChain));
  Int("InputFileCount", E.InputFileCount);
  Int("OutputFileCount", E.OutputFileCount);
  Int("StreamMapCount", E.StreamMapCount);
  Text("StreamMap0", FormatText("%d.%d:%d.%d", E.StreamMaps[0].FileIndex, E.StreamMaps[0].StreamIndex,
                                E.StreamMaps[0].SyncFileIndex, E.StreamMaps[0].SyncStreamIndex));
  Int("MetaDataMapCount", E.MetaDataMapCount);
  Text("MetaDataMap0", FormatText("%d:%d", E.MetaDataMaps[0].OutFile, E.MetaDataMaps[0].InFile));
  Int("UsingVHook", E.UsingVHook);
  return S;
}

// What changed between two snapshots, with the later values.
TSnapshot Changes(const TSnapshot& ABefore, const TSnapshot& AAfter) {
  TSnapshot Result;
  for (const auto& [Key, Value] : AAfter)
    if (ABefore.at(Key) != Value) Result[Key] = Value;
  return Result;
}

std::string Matrix(int AFirst) {
  std::string Text;
  for (int I = 0; I < 64; ++I) Text += (I ? "," : "") + std::to_string(AFirst + I);
  return Text;
}

class FFmpegNamedOptions : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    Engine.Init();
    Engine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      Log.push_back({ALevel, AMessage});
    };
  }
  void TearDown() override { av::av_log_set_level(AV_LOG_INFO); }

  TCustomFFmpeg Engine;
  std::vector<std::pair<int, std::string>> Log;
};

}  // namespace

// One case per vocabulary entry that writes engine values: the option must change
// exactly its own values, so an entry bound to a neighbouring field is caught.
TEST_F(FFmpegNamedOptions, EachOptionWritesItsOwnValues) {
  const struct {
    const char* Name;
    std::string Value;
    TSnapshot Expected;
  } Cases[] = {
      // Integers
      {"v", "2", {{"Verbose", "2"}}},
      {"vframes", "7", {{"MaxFrames0", "7"}}},
      {"aframes", "8", {{"MaxFrames1", "8"}}},
      {"dframes", "9", {{"MaxFrames2", "9"}}},
      {"loop_output", "3", {{"LoopOutput", "3"}}},
      {"vsync", "2", {{"VideoSyncMethod", "2"}}},
      {"async", "5", {{"AudioSyncMethod", "5"}}},
      {"vglobal", "1", {{"VideoGlobalHeader", "1"}}},
      {"programid", "-3", {{"ProgramId", "-3"}}},
      {"croptop", "4", {{"CropTop", "4"}, {"FrameHeight", "476"}}},
      {"cropbottom", "6", {{"CropBottom", "6"}, {"FrameHeight", "474"}}},
      {"cropleft", "8", {{"CropLeft", "8"}, {"FrameWidth", "632"}}},
      {"cropright", "10", {{"CropRight", "10"}, {"FrameWidth", "630"}}},
      {"padtop", "2", {{"PadTop", "2"}}},
      {"padbottom", "4", {{"PadBottom", "4"}}},
      {"padleft", "6", {{"PadLeft", "6"}}},
      {"padright", "8", {{"PadRight", "8"}}},
      {"padcolor", "255", {{"PadColor", "76,85,255"}}},
      {"vdt", "8", {{"VideoDiscard", "8"}}},
      {"me_threshold", "11", {{"MeThreshold", "11"}}},
      {"top", "0", {{"TopFieldFirst", "0"}}},
      {"dc", "10", {{"IntraDcPrecision", "10"}}},
      {"pass", "2", {{"DoPass", "2"}}},
      {"ar", "22050", {{"AudioSampleRate", "22050"}}},
      {"ac", "6", {{"AudioChannels", "6"}}},
      {"vol", "-5", {{"AudioVolume", "-5"}}},
      {"vc", "3", {{"VideoChannel", "3"}}},
      {"fs", "5000000000", {{"LimitFileSize", "5000000000"}}},
      // Floating-point values
      {"qscale", "2.5", {{"VideoQScale", "2.5"}}},
      {"aq", "3.25", {{"AudioQScale", "3.25"}}},
      {"adrift_threshold", "0.5", {{"AudioDriftThreshold", "0.5"}}},
      {"dts_delta_threshold", "4.5", {{"DtsDeltaThreshold", "4.5"}}},
      {"muxdelay", "-1.5", {{"MuxMaxDelay", "-1.5"}}},
      {"muxpreload", "0", {{"MuxPreload", "0"}}},
      // Texts stored as they are
      {"alang", "eng", {{"AudioLanguage", "eng"}}},
      {"slang", "ger", {{"SubtitleLanguage", "ger"}}},
      {"passlogfile", "/tmp/two-pass", {{"PassLogFilePrefix", "/tmp/two-pass"}}},
      // Switches, even with a value that reads as off
      {"intra", "0", {{"IntraOnly", "1"}}},
      {"vn", "0", {{"VideoDisable", "1"}}},
      {"an", "0", {{"AudioDisable", "1"}}},
      {"sn", "0", {{"SubtitleDisable", "1"}}},
      {"sameq", "0", {{"SameQuality", "1"}}},
      {"deinterlace", "0", {{"DoDeinterlace", "1"}}},
      {"psnr", "0", {{"DoPsnr", "1"}}},
      {"qphist", "0", {{"QpHist", "1"}}},
      {"dump", "0", {{"DoPktDump", "1"}}},
      {"hex", "0", {{"DoHexDump", "1"}}},
      {"re", "0", {{"RateEmu", "1"}}},
      {"loop_input", "0", {{"LoopInput", "1"}}},
      {"copyts", "0", {{"CopyTs", "1"}}},
      {"shortest", "no", {{"Shortest", "1"}}},
      {"xerror", "", {{"ExitOnError", "1"}}},
      {"isync", "0", {{"InputSync", "1"}}},
      // Setters
      {"f", "avi", {{"InputFormat", "avi"}, {"OutputFormat", "avi"}}},
      {"map", "1.2", {{"StreamMapCount", "1"}, {"StreamMap0", "1.2:1.2"}}},
      {"map_meta_data", "0:1", {{"MetaDataMapCount", "1"}, {"MetaDataMap0", "0:1"}}},
      {"t", "10", {{"RecordingTime", "10000000"}, {"TotalDuration", "10000"}}},
      {"ss", "5", {{"StartTime", "5000000"}}},
      {"itsoffset", "2", {{"InputTsOffset", "2000000"}}},
      {"itsscale", "3:0.5", {{"InputTsScale0_3", "0.5"}}},
      {"timestamp", "1970-01-02T00:00:00Z", {{"RecTimestamp", "86400"}}},
      {"title", "T", {{"Title", "T"}}},
      {"author", "A", {{"Author", "A"}}},
      {"copyright", "C", {{"Copyright", "C"}}},
      {"comment", "N", {{"Comment", "N"}}},
      {"genre", "G", {{"Genre", "G"}}},
      {"album", "L", {{"Album", "L"}}},
      {"r", "30000/1001", {{"FrameRate", "30000/1001"}}},
      {"s", "320x240", {{"FrameWidth", "320"}, {"FrameHeight", "240"}}},
      {"aspect", "16:9", {{"FrameAspectRatio", Num(16.0f / 9)}}},
      {"pix_fmt", "yuv422p", {{"FramePixFmt", Num(int64_t{AV_PIX_FMT_YUV422P})}}},
      {"rc_override", "0,10,2", {{"VideoRcOverride", "0,10,2"}}},
      {"vcodec", "mpeg4", {{"VideoCodecName", "mpeg4"}}},
      {"acodec", "copy", {{"AudioStreamCopy", "1"}}},
      {"scodec", "ass", {{"SubtitleCodecName", "ass"}}},
      {"vtag", "XVID", {{"VideoCodecTag", Num(int64_t{0x44495658})}}},
      {"atag", "abcd", {{"AudioCodecTag", Num(int64_t{0x64636261})}}},
      {"vstats_file", "/tmp/stats.log", {{"VStatsFileName", "/tmp/stats.log"}}},
      {"vfilters", "hflip", {{"VideoFilters", "hflip"}}},
      {"intra_matrix", Matrix(1), {{"IntraMatrix", "1..64"}}},
      {"inter_matrix", Matrix(2), {{"InterMatrix", "2..65"}}},
      {"sample_fmt", "s16", {{"AudioSampleFmt", Num(int64_t{AV_SAMPLE_FMT_S16})}}},
      {"tvstd", "pal", {{"VideoStandard", "pal"}}},
      {"absf", "null", {{"AudioBsfChain", "null"}}},
      {"vbsf", "null", {{"VideoBsfChain", "null"}}},
      {"sbsf", "null", {{"SubtitleBsfChain", "null"}}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.Name) + "=" + C.Value);
    TCustomFFmpeg E;
    E.Init();
    E.FrameWidth = 640;
    E.FrameHeight = 480;
    const TSnapshot Before = Snapshot(E);
    E.SetOptionByName(C.Name, C.Value);
    EXPECT_EQ(Changes(Before, Snapshot(E)), C.Expected);
  }
}

TEST_F(FFmpegNamedOptions, BitRatesGoToTheirCodecHolders) {
  void* Video = Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get();
  void* Audio = Engine.CodecOpts[AVMEDIA_TYPE_AUDIO].get();
  const int64_t AudioDefault = IntOption(Audio, "b");
  Engine.SetOptionByName("vb", "800000");
  EXPECT_EQ(IntOption(Video, "b"), 800000);
  EXPECT_EQ(IntOption(Audio, "b"), AudioDefault);
  Engine.SetOptionByName("ab", "128000");
  EXPECT_EQ(IntOption(Audio, "b"), 128000);
  EXPECT_EQ(IntOption(Video, "b"), 800000);
  Engine.SetOptionByName("b", "900000");
  EXPECT_EQ(IntOption(Video, "b"), 900000);
  EXPECT_TRUE(Log.empty());

  // Kilobits by mistake: stored, and the caller is warned.
  Engine.SetOptionByName("ab", "64");
  EXPECT_EQ(IntOption(Audio, "b"), 64);
  ASSERT_EQ(Log.size(), 1u);
  EXPECT_EQ(Log[0].first, 1);
  EXPECT_EQ(Log[0].second,
            "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

TEST_F(FFmpegNamedOptions, OptionsWithoutEffectAreReported) {
  TTempDir Dir;
  const std::string Input = Dir.File("in.wav");
  WriteToneWav(Input, 0.1);
  for (const char* Name : {"L", "h", "version", "formats", "i", "y", "benchmark", "apre", "vpre", "spre"}) {
    SCOPED_TRACE(Name);
    Log.clear();
    const TSnapshot Before = Snapshot(Engine);
    Engine.SetOptionByName(Name, Input);
    EXPECT_EQ(Changes(Before, Snapshot(Engine)), TSnapshot{}) << "\"i\" opens no input, \"benchmark\" sets nothing";
    ASSERT_EQ(Log.size(), 1u);
    EXPECT_EQ(Log[0].first, 1);
    EXPECT_EQ(Log[0].second, std::string("Do nothing: option - ") + Name);
  }

  // Without a handler there is nobody to tell, and nothing else happens.
  TCustomFFmpeg Quiet;
  Quiet.Init();
  const TSnapshot Before = Snapshot(Quiet);
  EXPECT_NO_THROW(Quiet.SetOptionByName("y", ""));
  EXPECT_EQ(Changes(Before, Snapshot(Quiet)), TSnapshot{});
}

TEST_F(FFmpegNamedOptions, ThreadsIsRefused) {
  const TSnapshot Before = Snapshot(Engine);
  EXPECT_EQ(FailureOf([&] { Engine.SetOptionByName("threads", "4"); }), "TODO: option - threads");
  EXPECT_EQ(Changes(Before, Snapshot(Engine)), TSnapshot{});
  EXPECT_TRUE(Log.empty());
}

TEST_F(FFmpegNamedOptions, NamesOutsideTheVocabularyGoToTheLibraries) {
  // A library parameter by its own name.
  Engine.SetOptionByName("g", "30");
  EXPECT_EQ(IntOption(Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(), "g"), 30);
  EXPECT_EQ(Engine.OptNames, std::vector<std::string>{"g"});

  // Names match case-sensitively: "V" is not "v", and no library knows it.
  const TSnapshot Before = Snapshot(Engine);
  EXPECT_NO_THROW(Engine.SetOptionByName("V", "2"));
  EXPECT_NO_THROW(Engine.SetOptionByName("no_such_option_anywhere", "1"));
  EXPECT_NO_THROW(Engine.SetOptionByName("VN", "1"));
  EXPECT_NO_THROW(Engine.SetOptionByName("", "1"));
  EXPECT_EQ(Changes(Before, Snapshot(Engine)), TSnapshot{});
  EXPECT_TRUE(Log.empty());

  Engine.SetOptionByName("v", "0");
  EXPECT_EQ(Engine.Verbose, 0);
}

TEST_F(FFmpegNamedOptions, NumbersMustBeWhole) {
  const struct {
    const char* Name;
    const char* Value;
    const char* Message;
  } Refused[] = {
      {"vframes", "abc", "'abc' is not a valid integer value for option vframes"},
      {"vframes", "12abc", "'12abc' is not a valid integer value for option vframes"},
      {"vframes", "", "'' is not a valid integer value for option vframes"},
      {"vframes", " 12", "' 12' is not a valid integer value for option vframes"},
      {"vframes", "1.5", "'1.5' is not a valid integer value for option vframes"},
      {"vframes", "+-1", "'+-1' is not a valid integer value for option vframes"},
      {"ar", "4294967296", "'4294967296' is not a valid integer value for option ar"},
      {"fs", "1e9", "'1e9' is not a valid 64-bit integer value for option fs"},
      {"fs", "99999999999999999999", "'99999999999999999999' is not a valid 64-bit integer value for option fs"},
      {"qscale", "1,5", "'1,5' is not a valid floating-point value for option qscale"},
      {"muxpreload", "fast", "'fast' is not a valid floating-point value for option muxpreload"},
      {"aq", "", "'' is not a valid floating-point value for option aq"},
      {"aq", "inf", "'inf' is not a valid floating-point value for option aq"},
  };
  for (const auto& C : Refused) {
    SCOPED_TRACE(std::string(C.Name) + "=" + C.Value);
    const TSnapshot Before = Snapshot(Engine);
    try {
      Engine.SetOptionByName(C.Name, C.Value);
      ADD_FAILURE() << "accepted";
    } catch (const FFMpegException& E) {
      ADD_FAILURE() << "a conversion failure is no engine failure: " << E.what();
    } catch (const TConvertError& E) {
      EXPECT_EQ(std::string(E.what()), C.Message);
    }
    EXPECT_EQ(Changes(Before, Snapshot(Engine)), TSnapshot{});
  }

  const struct {
    const char* Name;
    const char* Value;
    const char* Field;
    const char* Stored;
  } Accepted[] = {
      {"vframes", "+5", "MaxFrames0", "5"},
      {"vframes", "-2147483648", "MaxFrames0", "-2147483648"},
      {"fs", "-1", "LimitFileSize", "-1"},
      {"aq", "1e2", "AudioQScale", "100"},
      {"aq", ".5", "AudioQScale", "0.5"},
      {"aq", "-3", "AudioQScale", "-3"},
  };
  for (const auto& C : Accepted) {
    SCOPED_TRACE(std::string(C.Name) + "=" + C.Value);
    Engine.SetOptionByName(C.Name, C.Value);
    EXPECT_EQ(Snapshot(Engine).at(C.Field), C.Stored);
  }
}

TEST_F(FFmpegNamedOptions, SetterFailuresPassThrough) {
  EXPECT_EQ(FailureOf([&] { Engine.SetOptionByName("pass", "3"); }), "pass number can be only 1 or 2");
  EXPECT_EQ(FailureOf([&] { Engine.SetOptionByName("t", "soon"); }), "Invalid duration specification for t: soon");
  EXPECT_EQ(FailureOf([&] { Engine.SetOptionByName("qscale", "0"); }), "qscale must be > 0.0 and <= 255");
  EXPECT_EQ(FailureOf([&] { Engine.SetOptionByName("vhook", "/no/such/hook.so"); }),
            "Failed to add video hook function: /no/such/hook.so");
  EXPECT_EQ(FailureOf([&] { Engine.SetOptionByName("newvideo", ""); }), "At least one output file must be specified");
  EXPECT_EQ(FailureOf([&] { Engine.SetOptionByName("target", "PAL-vcd"); }), "frame_rate is invalid.");
  EXPECT_THROW(Engine.SetOptionByName("vtag", "XVID2"), TAssertionFailure);
}

TEST_F(FFmpegNamedOptions, TargetAndStatisticsFile) {
  Engine.SetOptionByName("target", "pal-vcd");
  ASSERT_NE(Engine.OutputFormat, nullptr);
  EXPECT_STREQ(Engine.OutputFormat->name, "vcd");
  EXPECT_EQ(Engine.FrameWidth, 352);
  EXPECT_EQ(Engine.FrameHeight, 288);
  EXPECT_EQ(IntOption(Engine.CodecOpts[AVMEDIA_TYPE_VIDEO].get(), "b"), 1150000);

  Engine.SetOptionByName("vstats", "ignored");
  const std::string Name = Engine.VStatsFileName;
  EXPECT_EQ(Name.rfind(Platform::ProgramFolder() + "vstats_", 0), 0u) << Name;
  EXPECT_EQ(Name.size(), Platform::ProgramFolder().size() + std::string("vstats_hhnnss.log").size()) << Name;
}

TEST_F(FFmpegNamedOptions, NewStreamsOfEachTypeForTheLastOutput) {
  TTempDir Dir;
  const std::string Input = Dir.File("in.wav");
  WriteToneWav(Input, 0.1);
  Engine.SetVerbose(-1);
  ASSERT_TRUE(Engine.AddInputFile(Input)) << Engine.LastError;
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("out.mkv"))) << Engine.LastError;
  ASSERT_EQ(Engine.OutputCodecs[0].size(), 1u);

  Engine.FrameWidth = 64;
  Engine.FrameHeight = 48;
  Engine.FrameRate = {25, 1};
  Engine.SetOptionByName("vcodec", "mpeg4");
  Engine.SetOptionByName("newvideo", "");
  Engine.SetOptionByName("acodec", "flac");
  Engine.SetOptionByName("newaudio", "");
  Engine.SetOptionByName("scodec", "ass");
  Engine.SetOptionByName("newsubtitle", "");

  const auto& Streams = Engine.OutputCodecs[0];
  ASSERT_EQ(Streams.size(), 4u);
  EXPECT_EQ(Streams[1].Codec->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(Streams[1].Codec->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(Streams[2].Codec->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(Streams[2].Codec->codec_id, AV_CODEC_ID_FLAC);
  EXPECT_EQ(Streams[3].Codec->codec_type, AVMEDIA_TYPE_SUBTITLE);
  EXPECT_EQ(Streams[3].Codec->codec_id, AV_CODEC_ID_ASS);
}
