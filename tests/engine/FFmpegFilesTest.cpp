#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FFmpeg.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

class FFmpegFiles : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    Engine.Init();
    Engine.SetVerbose(-1);  // keep the library's stream dumps out of the test output
    Engine.Verbose = 0;
    Engine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      Log.push_back({ALevel, AMessage});
    };
  }

  std::string Tone(const std::string& AName, double ASeconds, int ARate = 44100, int AChannels = 2) {
    const std::string File = Dir.File(AName);
    WriteToneWav(File, ASeconds, ARate, AChannels);
    return File;
  }

  AVStream* OutputStream(int AFile, int AStream) { return Engine.OutputFiles[AFile]->streams[AStream]; }

  TTempDir Dir;
  TCustomFFmpeg Engine;
  std::vector<std::pair<int, std::string>> Log;
};

}  // namespace

TEST_F(FFmpegFiles, MissingInputFails) {
  Engine.SetVideoCodec("mpeg4");
  const std::string Missing = Dir.File("nothing.wav");
  EXPECT_FALSE(Engine.AddInputFile(Missing));
  EXPECT_EQ(Engine.LastError, Missing + ": no such file or directory");
  EXPECT_EQ(Engine.InputFileCount, 0);
  EXPECT_EQ(Engine.VideoCodecName, "") << "the per-input options are used up";

  WriteTextFile(Dir.File("notes.wav"), "these are not samples");
  EXPECT_FALSE(Engine.AddInputFile(Dir.File("notes.wav")));
  EXPECT_EQ(Engine.LastError, Dir.File("notes.wav") + ": Unknown format");
}

TEST_F(FFmpegFiles, UnknownOrMistypedDecoderFails) {
  const std::string In = Tone("a.wav", 0.2);
  struct TCase {
    void (TCustomFFmpeg::*Set)(const std::string&);
    const char* Name;
    const char* Error;
  } Cases[] = {{&TCustomFFmpeg::SetAudioCodec, "nosuchcodec", "Unknown decoder 'nosuchcodec'"},
               {&TCustomFFmpeg::SetAudioCodec, "mpeg4", "Invalid decoder type 'mpeg4'"},
               {&TCustomFFmpeg::SetVideoCodec, "mp3", "Invalid decoder type 'mp3'"}};
  for (const TCase& C : Cases) {
    (Engine.*C.Set)(C.Name);
    EXPECT_FALSE(Engine.AddInputFile(In)) << C.Name;
    EXPECT_EQ(Engine.LastError, C.Error);
    EXPECT_EQ(Engine.AudioCodecName, "");
    EXPECT_EQ(Engine.InputFileCount, 0);
  }
}

TEST_F(FFmpegFiles, AudioInputSetsAudioDefaultsOnly) {
  Engine.FrameWidth = 320;
  Engine.FrameHeight = 240;
  Engine.SetFrameRate("15");
  ASSERT_TRUE(Engine.AddInputFile(Tone("mono.wav", 0.5, 22050, 1))) << Engine.LastError;
  EXPECT_EQ(Engine.FrameWidth, 320);
  EXPECT_EQ(Engine.FrameHeight, 240);
  EXPECT_EQ(Engine.FrameRate.num, 15);
  EXPECT_EQ(Engine.AudioChannels, 1);
  EXPECT_EQ(Engine.AudioSampleRate, 22050);
  EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(Engine.TotalDuration, 500);
  ASSERT_EQ(Engine.InputCodecs[0].size(), 1u) << "one decoder context per stream";
  EXPECT_EQ(Engine.InputCodecs[0][0]->codec_id, AV_CODEC_ID_PCM_S16LE);

  ASSERT_TRUE(Engine.AddInputFile(Tone("stereo.wav", 0.25, 48000, 2)));
  EXPECT_EQ(Engine.AudioChannels, 2) << "the last input wins";
  EXPECT_EQ(Engine.AudioSampleRate, 48000);
  EXPECT_EQ(Engine.InputFileCount, 2);
}

TEST_F(FFmpegFiles, TotalDurationIsTheLongestInput) {
  ASSERT_TRUE(Engine.AddInputFile(Tone("short.wav", 1.0, 8000, 1)));
  ASSERT_TRUE(Engine.AddInputFile(Tone("long.wav", 1.5, 8000, 1)));
  ASSERT_TRUE(Engine.AddInputFile(Tone("mid.wav", 1.25, 8000, 1)));
  EXPECT_EQ(Engine.TotalDuration, 1500);
}

TEST_F(FFmpegFiles, StartPositionAndInputOffsets) {
  const std::string In = Tone("t.wav", 2.0, 8000, 1);
  struct TCase {
    bool CopyTs;
    int64_t Offset, Expected;
  } Cases[] = {{false, 0, -500000}, {false, 1000000, 500000}, {true, 0, 0}, {true, 1000000, 1000000}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg E;
    E.Init();
    E.Verbose = -1;
    E.CopyTs = C.CopyTs;
    E.InputTsOffset = C.Offset;
    E.SetStartTime(500000);
    ASSERT_TRUE(E.AddInputFile(In)) << E.LastError;
    EXPECT_EQ(E.StartTime, 0) << "used up by the seek";
    EXPECT_EQ(E.InputTsOffsets[0], C.Expected) << C.CopyTs << " " << C.Offset;
  }
}

TEST_F(FFmpegFiles, TheTwentyFirstInputIsRefused) {
  const std::string In = Tone("x.wav", 0.05, 8000, 1);
  for (int I = 0; I < MAX_FILES; ++I) ASSERT_TRUE(Engine.AddInputFile(In)) << I;
  EXPECT_FALSE(Engine.AddInputFile(In));
  EXPECT_EQ(Engine.LastError, "Too many input files (at most 20)");
  EXPECT_EQ(Engine.InputFileCount, MAX_FILES);
}

TEST_F(FFmpegFiles, Mp3OutputAfterAnAudioInputGetsOneAudioStream) {
  ASSERT_TRUE(Engine.AddInputFile(Tone("in.wav", 0.2, 32000, 1)));
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("out.mp3"))) << Engine.LastError;
  ASSERT_EQ(Engine.OutputFileCount, 1);
  AVFormatContext* Out = Engine.OutputFiles[0].get();
  EXPECT_STREQ(Out->oformat->name, "mp3");
  ASSERT_EQ(Out->nb_streams, 1u);
  AVCodecContext* Enc = Engine.OutputCodecs[0][0].Codec.get();
  EXPECT_EQ(Enc->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(Enc->codec_id, Out->oformat->audio_codec);
  EXPECT_EQ(Enc->sample_rate, 32000);
  EXPECT_EQ(Enc->ch_layout.nb_channels, 1);
  EXPECT_EQ(Enc->time_base.den, 32000);
  EXPECT_NE(Enc->sample_fmt, AV_SAMPLE_FMT_NONE) << "falls back to a format the encoder takes";
  EXPECT_EQ(Out->streams[0]->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_TRUE(FileExists(Dir.File("out.mp3")));
  EXPECT_EQ(Engine.OutputFormat, nullptr);

  Engine.SetAudioCodec("mp2");
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("named.mp3"))) << Engine.LastError;
  EXPECT_EQ(Engine.OutputCodecs[1][0].Codec->codec_id, AV_CODEC_ID_MP2);
  Engine.Cleanup();
  EXPECT_FALSE(FileExists(Dir.File("out.mp3"))) << "an output that received nothing is removed";
}

TEST_F(FFmpegFiles, AudioCodecThatIsAVideoCodecFailsTheOutput) {
  ASSERT_TRUE(Engine.AddInputFile(Tone("in.wav", 0.1)));
  Engine.SetAudioCodec("mpeg4");
  Engine.AudioLanguage = "english";
  EXPECT_FALSE(Engine.AddOutputFile(Dir.File("out.mp3")));
  EXPECT_EQ(Engine.LastError, "new_audio_stream fail: Invalid encoder type 'mpeg4'");
  EXPECT_EQ(Engine.OutputFileCount, 0);
  EXPECT_EQ(Engine.AudioCodecName, "");
  EXPECT_EQ(Engine.AudioLanguage, "");
  EXPECT_FALSE(FileExists(Dir.File("out.mp3"))) << "nothing was created";
}

TEST_F(FFmpegFiles, FiltersWithCropsOrResizingWithPads) {
  struct TCase {
    const char* Filters;
    int Crop, Pad;
    const char* Error;  // empty: accepted
  } Cases[] = {
      {"hflip", 2, 0, "Cannot enable crop options and filters at the same time."},
      {"Scale=320:240", 0, 8,
       "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
       "transpose, etc.)"},
      {"hflip,transpose=1", 0, 8,
       "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
       "transpose, etc.)"},
      {"hflip,vflip", 0, 8, ""},
      {"scaler_like", 0, 8, ""},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg E;
    E.Init();
    E.VideoFilters = C.Filters;
    E.CropTop = C.Crop;
    E.PadTop = C.Pad;
    E.FrameWidth = 320;
    E.FrameHeight = 240;
    E.SetAudioCodec("mp2");
    const bool Added = E.AddOutputFile(Dir.File("f.mkv"));
    EXPECT_EQ(Added, std::string(C.Error).empty()) << C.Filters;
    EXPECT_EQ(Added ? std::string() : E.LastError, C.Error) << C.Filters;
    if (Added) {
      EXPECT_TRUE(E.FiltersActive);
    }
  }
}

TEST_F(FFmpegFiles, VideoStreamSettings) {
  Engine.FrameWidth = 352;
  Engine.FrameHeight = 288;
  Engine.FrameAspectRatio = 4.0f / 3;
  Engine.SetVideoCodec("mpeg1video");
  Engine.SetFrameRate("26");
  Engine.SetRcOverride("0,100,5/101,200,-50");
  Engine.SetVideoQScale(4);
  Engine.IntraOnly = 1;
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("v.mpg"))) << Engine.LastError;
  const TOutputStreamCodec& Video = Engine.OutputCodecs[0][0];
  AVCodecContext* Enc = Video.Codec.get();
  ASSERT_EQ(Enc->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(Enc->codec_id, AV_CODEC_ID_MPEG1VIDEO);
  EXPECT_EQ(Enc->time_base.num, 1) << "26 fps picks the nearest rate the encoder takes";
  EXPECT_EQ(Enc->time_base.den, 25);
  EXPECT_EQ(Enc->width, 352);
  EXPECT_EQ(Enc->height, 288);
  EXPECT_EQ(Enc->pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(Enc->gop_size, 0);
  EXPECT_TRUE(Enc->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_FLOAT_EQ(Video.Quality, 4 * FF_QP2LAMBDA);
  EXPECT_EQ(Enc->global_quality, 4 * FF_QP2LAMBDA);
  EXPECT_EQ(Enc->sample_aspect_ratio.num, 12);
  EXPECT_EQ(Enc->sample_aspect_ratio.den, 11);
  EXPECT_EQ(OutputStream(0, 0)->sample_aspect_ratio.num, 12);
  ASSERT_EQ(Enc->rc_override_count, 2);
  EXPECT_EQ(Enc->rc_override[0].start_frame, 0);
  EXPECT_EQ(Enc->rc_override[0].end_frame, 100);
  EXPECT_EQ(Enc->rc_override[0].qscale, 5);
  EXPECT_FLOAT_EQ(Enc->rc_override[0].quality_factor, 1.0f);
  EXPECT_EQ(Enc->rc_override[1].start_frame, 101);
  EXPECT_EQ(Enc->rc_override[1].end_frame, 200);
  EXPECT_EQ(Enc->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(Enc->rc_override[1].quality_factor, 0.5f);
  EXPECT_EQ(Engine.VideoCodecName, "") << "used up by the stream";
}

TEST_F(FFmpegFiles, RateControlOverrideTexts) {
  struct TCase {
    const char* Text;
    bool Ok;
    int Count;    // overrides
    int LastEnd;  // end frame of the last one
    int LastQ;    // qscale of the last one
  } Cases[] = {
      {"0,100,5", true, 1, 100, 5},
      {" 0, 100, 5", true, 1, 100, 5},     // blanks before each number
      {"0,100,", true, 1, 100, 0},         // no q reads as 0
      {"0,1,2x/3,4,6", true, 2, 4, 6},     // what follows q up to the next "/" is ignored
      {"0,100,-50/", false, 0, 0, 0},      // an empty override after the "/"
      {"x,1,2", false, 0, 0, 0},
      {"0 ,1,2", false, 0, 0, 0},
      {"0,100", false, 0, 0, 0},           // the comma before q is needed
      {"4294967296,1,2", false, 0, 0, 0},  // out of range, not wrapped to 0
      {"0,1,4294967297", false, 0, 0, 0},
  };
  Engine.FrameWidth = 352;
  Engine.FrameHeight = 288;
  int N = 0;
  for (const TCase& C : Cases) {
    Engine.SetVideoCodec("mpeg1video");
    Engine.SetRcOverride(C.Text);
    const bool Added = Engine.AddOutputFile(Dir.File("rc" + std::to_string(N++) + ".mpg"));
    ASSERT_EQ(Added, C.Ok) << C.Text << ": " << Engine.LastError;
    if (!Added) {
      EXPECT_EQ(Engine.LastError, "new_video_stream fail: error parsing rc_override") << C.Text;
      continue;
    }
    const AVCodecContext* Enc = Engine.OutputCodecs[Engine.OutputFileCount - 1][0].Codec.get();
    ASSERT_EQ(Enc->rc_override_count, C.Count) << C.Text;
    EXPECT_EQ(Enc->rc_override[C.Count - 1].end_frame, C.LastEnd) << C.Text;
    EXPECT_EQ(Enc->rc_override[C.Count - 1].qscale, C.LastQ) << C.Text;
  }
}

TEST_F(FFmpegFiles, FrameRatePickFromTheEncodersList) {
  struct TCase {
    const char* Asked;
    int Num, Den;
  } Cases[] = {{"25", 25, 1}, {"26", 25, 1}, {"24000/1001", 24000, 1001}, {"23.9", 24000, 1001}, {"100", 60, 1}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg E;
    E.Init();
    E.FrameWidth = 320;
    E.FrameHeight = 240;
    E.SetVideoCodec("mpeg1video");
    E.SetFrameRate(C.Asked);
    E.AudioDisable = 1;
    ASSERT_TRUE(E.AddOutputFile(Dir.File("r.mpg"))) << E.LastError;
    const AVRational Tb = E.OutputCodecs[0][0].Codec->time_base;
    EXPECT_EQ(Tb.den, C.Num) << C.Asked;
    EXPECT_EQ(Tb.num, C.Den) << C.Asked;
  }
}

TEST_F(FFmpegFiles, RcOverrideErrors) {
  for (const char* Bad : {"0,100,5/", "0", ",100,5", "0,,5"}) {
    TCustomFFmpeg E;
    E.Init();
    E.FrameWidth = 320;
    E.FrameHeight = 240;
    E.SetVideoCodec("mpeg4");
    E.SetRcOverride(Bad);
    EXPECT_FALSE(E.AddOutputFile(Dir.File("rc.avi"))) << Bad;
    EXPECT_EQ(E.LastError, "new_video_stream fail: error parsing rc_override") << Bad;
    EXPECT_EQ(E.OutputFileCount, 0);
    EXPECT_EQ(E.VideoCodecName, "");
  }
}

TEST_F(FFmpegFiles, LanguagesMetaDataAndWhatTheNextOutputKeeps) {
  ASSERT_TRUE(Engine.AddInputFile(Tone("in.wav", 0.1)));
  Engine.AudioLanguage = "english";
  Engine.SetTitle(std::string(600, 't'));
  Engine.SetGenre(std::string(40, 'g'));
  Engine.SetYear(1999);
  Engine.SetAudioCodec("copy");
  Engine.AudioDisable = 0;
  Engine.SetOption("ab", "96000");
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("first.mka"))) << Engine.LastError;
  AVFormatContext* First = Engine.OutputFiles[0].get();
  EXPECT_STREQ(av::av_dict_get(First->streams[0]->metadata, "language", nullptr, 0)->value, "eng");
  EXPECT_EQ(Engine.AudioLanguage, "");
  EXPECT_EQ(std::string(av::av_dict_get(First->metadata, "title", nullptr, 0)->value).size(), 511u);
  EXPECT_EQ(std::string(av::av_dict_get(First->metadata, "genre", nullptr, 0)->value).size(), 31u);
  EXPECT_STREQ(av::av_dict_get(First->metadata, "date", nullptr, 0)->value, "1999");
  EXPECT_TRUE(Engine.OutputCodecs[0][0].StreamCopy);

  Engine.AudioDisable = 1;
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("second.mka")));
  EXPECT_EQ(Engine.OutputFiles[1]->nb_streams, 0u) << "the disable flag applies to this output";
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("third.mka")));
  ASSERT_EQ(Engine.OutputFiles[2]->nb_streams, 1u) << "and not to the next one";
  const TOutputStreamCodec& Third = Engine.OutputCodecs[2][0];
  EXPECT_FALSE(Third.StreamCopy) << "the copy flag is used up";
  EXPECT_EQ(Third.Codec->bit_rate, 96000) << "generic options stay";
  EXPECT_EQ(av::av_dict_get(Engine.OutputFiles[2]->streams[0]->metadata, "language", nullptr, 0), nullptr);
  EXPECT_EQ(std::string(av::av_dict_get(Engine.OutputFiles[2]->metadata, "title", nullptr, 0)->value).size(), 511u)
      << "meta-data stays for later outputs";
}

TEST_F(FFmpegFiles, OutputFailuresLeaveNoListedOutput) {
  EXPECT_FALSE(Engine.AddOutputFile(Dir.File("out.unknownext")));
  EXPECT_EQ(Engine.LastError, "Unable to find a suitable output format for '" + Dir.File("out.unknownext") + "'");
  Engine.SetOutputFormat("mp3");
  EXPECT_FALSE(Engine.AddOutputFile(Dir.File("no/such/folder/out.mp3")));
  EXPECT_EQ(Engine.LastError, "Could not open '" + Dir.File("no/such/folder/out.mp3") + "'");
  EXPECT_EQ(Engine.OutputFileCount, 0);
  EXPECT_EQ(Engine.OutputFormat, nullptr);
  EXPECT_TRUE(Engine.OutputCodecs[0].empty());
}

TEST_F(FFmpegFiles, AnInputIsNeverOverwritten) {
  const std::string In = Tone("keep.wav", 0.2);
  const int64_t Size = FileSizeOf(In);
  ASSERT_TRUE(Engine.AddInputFile(In));
  Engine.SetOutputFormat("wav");
  EXPECT_FALSE(Engine.AddOutputFile(Dir.Path() + "/./keep.wav"));
  EXPECT_EQ(Engine.LastError, "Output file '" + Dir.Path() + "/./keep.wav' is input file #0");
  EXPECT_EQ(FileSizeOf(In), Size);
  EXPECT_EQ(Engine.OutputFileCount, 0);
}

TEST_F(FFmpegFiles, StreamsAddedToTheLastOutput) {
  ASSERT_TRUE(Engine.AddInputFile(Tone("in.wav", 0.1)));
  ASSERT_TRUE(Engine.AddOutputFile(Dir.File("out.mka")));
  Engine.SetAudioCodec("flac");
  Engine.AudioBsfChain = {"null"};
  Engine.AddStreamToLastOutput(AVMEDIA_TYPE_AUDIO);
  ASSERT_EQ(Engine.OutputFiles[0]->nb_streams, 2u);
  EXPECT_EQ(Engine.OutputCodecs[0][1].Codec->codec_id, AV_CODEC_ID_FLAC);
  EXPECT_EQ(Engine.BitstreamFilters[0][1], TBitstreamFilterChain{"null"}) << "its own output's row";
  Engine.SetAudioCodec("mpeg4");
  EXPECT_THROW(Engine.AddStreamToLastOutput(AVMEDIA_TYPE_AUDIO), FFMpegException);
}
