#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "FFmpegRun.h"
#include "MediaGenerator.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

using TOptions = std::function<void(TCustomFFmpeg&)>;

class FFmpegVideo : public ::testing::Test {
protected:
  void SetUp() override { LoadSystemLibraries(); }

  // A short test pattern, by default one second of 320 x 240 MPEG-4 at 25 frames per
  // second in AVI, without sound.
  std::string Video(const std::string& AName, const std::function<void(TVideoSpec&)>& AChange = nullptr) {
    TVideoSpec Spec;
    Spec.FileName = Dir.File(AName);
    Spec.WithAudio = false;
    if (AChange) AChange(Spec);
    MakeVideo(Spec);
    return Spec.FileName;
  }

  // Converts AInput into AOutput with the options given before the output is added;
  // the engine stays for its counters. AAfter runs after the output was added.
  void Convert(TCustomFFmpeg& AEngine, const std::string& AInput, const std::string& AOutput,
               const TOptions& AOptions = nullptr, const TOptions& AAfter = nullptr) {
    AEngine.Init();
    AEngine.SetVerbose(-1);
    AEngine.Verbose = 1;
    AEngine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      Log.push_back({ALevel, AMessage});
    };
    ASSERT_TRUE(AEngine.AddInputFile(AInput)) << AEngine.LastError;
    if (AOptions) AOptions(AEngine);
    ASSERT_TRUE(AEngine.AddOutputFile(AOutput)) << AEngine.LastError;
    if (AAfter) AAfter(AEngine);
    AEngine.Run(false);
  }

  bool Logged(const std::string& AMessage) const {
    for (const auto& [Level, Message] : Log)
      if (Message == AMessage) return true;
    return false;
  }

  static std::vector<std::string> Lines(const std::string& AFileName) {
    std::ifstream In(AFileName);
    std::vector<std::string> Result;
    for (std::string Line; std::getline(In, Line);) Result.push_back(Line);
    return Result;
  }

  TTempDir Dir;
  std::vector<std::pair<int, std::string>> Log;
};

}  // namespace

TEST_F(FFmpegVideo, ReEncodesIntoOtherCodecsAndContainers) {
  const std::string Avi = Video("in.avi");
  const std::string Mkv = Video("in.mkv", [](TVideoSpec& S) { S.Format = "matroska"; });
  struct TCase {
    std::string Input, Output, Codec, PixelFormat;
  } Cases[] = {
      {Avi, "mpeg4.avi", "mpeg4", ""},
      {Avi, "mpeg2.mkv", "mpeg2video", ""},
      // This library generation's MJPEG encoder wants full-range pictures: the scaler
      // converts them.
      {Mkv, "mjpeg.avi", "mjpeg", "yuvj420p"},
      {Mkv, "mpeg4.mkv", "mpeg4", ""},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File(C.Output);
    Convert(Engine, C.Input, Out, [&](TCustomFFmpeg& E) {
      E.SetVideoCodec(C.Codec);
      if (!C.PixelFormat.empty()) E.SetPixelFormat(C.PixelFormat);
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << C.Output << ": " << Engine.ExceptionMessage;
    EXPECT_TRUE(Engine.Finished);
    const TDecodedVideo V = DecodeVideo(Out);
    EXPECT_EQ(V.Codec, C.Codec) << C.Output;
    EXPECT_EQ(V.Width, 320) << C.Output;
    EXPECT_EQ(V.Height, 240) << C.Output;
    EXPECT_EQ(V.Frames(), 25u) << C.Output;
    EXPECT_GT(Engine.VideoSize, 0) << C.Output;
    EXPECT_EQ(Engine.FramesDup, 0) << C.Output;
    EXPECT_EQ(Engine.FramesDrop, 0) << C.Output;
  }
}

TEST_F(FFmpegVideo, CropScaleAndPadGiveTheEncodersGeometry) {
  const std::string In = Video("geometry.avi");
  struct TCase {
    const char* Name;
    TOptions Options;
    int Width, Height;
  } Cases[] = {
      {"crop", [](TCustomFFmpeg& E) { E.SetCropTop(16); E.SetCropBottom(16); E.SetCropLeft(16); E.SetCropRight(16); },
       288, 208},
      {"scale", [](TCustomFFmpeg& E) { E.SetFrameSize("160x120"); }, 160, 120},
      {"pad", [](TCustomFFmpeg& E) { E.SetPadTop(16); E.SetPadBottom(16); }, 320, 272},
      {"crop, scale and pad",
       [](TCustomFFmpeg& E) {
         E.SetCropLeft(8);
         E.SetCropRight(8);
         E.SetFrameSize("200x150");
         E.SetPadLeft(20);
         E.SetPadRight(20);
       },
       240, 150},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File("geometry-out.avi");
    Convert(Engine, In, Out, [&](TCustomFFmpeg& E) {
      E.SetVideoCodec("mpeg4");
      C.Options(E);
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << C.Name << ": " << Engine.ExceptionMessage;
    const TDecodedVideo V = DecodeVideo(Out);
    EXPECT_EQ(V.Width, C.Width) << C.Name;
    EXPECT_EQ(V.Height, C.Height) << C.Name;
    EXPECT_EQ(V.First.Width, C.Width) << C.Name;
    EXPECT_EQ(V.Frames(), 25u) << C.Name;
  }
}

TEST_F(FFmpegVideo, PaddingIsFilledWithThePadColour) {
  const std::string In = Video("pad.avi");
  struct TCase {
    int64_t Colour;  // red in the low byte; -1: the default colour
    int Y, U, V;     // what the border holds
  } Cases[] = {{-1, 16, 128, 128}, {0x000000, 0, 128, 128}, {0x0000FF, 76, 85, 255}, {0xFF0000, 29, 255, 107}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File("pad-out.mkv");
    Convert(Engine, In, Out, [&](TCustomFFmpeg& E) {
      E.SetVideoCodec("mpeg4");
      E.SetOptionByName("qscale", "2");
      E.SetPadTop(32);
      E.SetPadLeft(32);
      if (C.Colour >= 0) E.SetPadColor(static_cast<uint32_t>(C.Colour));
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
    const TDecodedVideo V = DecodeVideo(Out);
    ASSERT_EQ(V.First.Width, 352);
    ASSERT_EQ(V.First.Height, 272);
    const TDecodedPicture& P = V.First;
    for (const auto& [X, Y] : {std::pair{4, 4}, std::pair{300, 8}, std::pair{8, 200}}) {
      EXPECT_NEAR(P.At(0, X, Y), C.Y, 6) << std::hex << C.Colour << std::dec << " at " << X << "," << Y;
      EXPECT_NEAR(P.At(1, X / 2, Y / 2), C.U, 6) << std::hex << C.Colour;
      EXPECT_NEAR(P.At(2, X / 2, Y / 2), C.V, 6) << std::hex << C.Colour;
    }
    // The picture itself is there, inside the border: its bright bar starts at column 0.
    EXPECT_GT(P.At(0, 32 + 4, 32 + 100), 200);
  }
}

TEST_F(FFmpegVideo, FrameRateChangesDuplicateOrDropPictures) {
  const std::string In = Video("rate.avi");
  {
    TCustomFFmpeg Engine;
    Convert(Engine, In, Dir.File("fast.mkv"), [](TCustomFFmpeg& E) {
      E.SetVideoCodec("mpeg4");
      E.SetFrameRate("50");
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
    const TDecodedVideo V = DecodeVideo(Dir.File("fast.mkv"));
    EXPECT_GE(V.Frames(), 48u);
    EXPECT_LE(V.Frames(), 50u);
    EXPECT_EQ(V.Frames(), 25u + Engine.FramesDup) << "each duplicate counts once";
    EXPECT_EQ(Engine.FramesDrop, 0);
    ASSERT_GE(V.Times.size(), 3u);
    EXPECT_NEAR(V.Times[2] - V.Times[1], 0.02, 0.001);
  }
  {
    TCustomFFmpeg Engine;
    Convert(Engine, In, Dir.File("slow.mkv"), [](TCustomFFmpeg& E) {
      E.SetVideoCodec("mpeg4");
      E.SetFrameRate("10");
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
    const TDecodedVideo V = DecodeVideo(Dir.File("slow.mkv"));
    EXPECT_GE(V.Frames(), 10u);
    EXPECT_LE(V.Frames(), 12u);
    EXPECT_EQ(V.Frames() + Engine.FramesDrop, 25u);
    EXPECT_EQ(Engine.FramesDup, 0);
  }
  struct TCase {
    int SyncMethod;
    double Step;  // between output pictures, seconds
  } NoDuplicates[] = {{0, 0.04}, {2, 0.04}};
  for (const TCase& C : NoDuplicates) {
    TCustomFFmpeg Engine;
    Convert(Engine, In, Dir.File("vsync.mkv"), [&](TCustomFFmpeg& E) {
      E.SetVideoCodec("mpeg4");
      E.SetFrameRate("50");
      E.SetVideoSyncMethod(C.SyncMethod);
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
    const TDecodedVideo V = DecodeVideo(Dir.File("vsync.mkv"));
    EXPECT_EQ(V.Frames(), 25u) << "vsync " << C.SyncMethod;
    EXPECT_EQ(Engine.FramesDup, 0) << "vsync " << C.SyncMethod;
    ASSERT_GE(V.Times.size(), 3u);
    EXPECT_NEAR(V.Times[2] - V.Times[1], C.Step, 0.001) << "vsync " << C.SyncMethod;
  }
}

TEST_F(FFmpegVideo, FrameLimitCutsDuplicatesShort) {
  const std::string In = Video("limit.avi");
  for (const char* Rate : {"25", "50"}) {
    TCustomFFmpeg Engine;
    Convert(Engine, In, Dir.File("limit.mkv"), [&](TCustomFFmpeg& E) {
      E.SetVideoCodec("mpeg4");
      E.SetFrameRate(Rate);
      E.SetOptionByName("vframes", "7");
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
    EXPECT_TRUE(Engine.Finished);
    EXPECT_EQ(DecodeVideo(Dir.File("limit.mkv")).Frames(), 7u) << Rate;
  }
}

TEST_F(FFmpegVideo, StatisticsFileHasOneLinePerEncodedPicture) {
  const std::string In = Video("stats.avi");
  TCustomFFmpeg Engine;
  const std::string Stats = Dir.File("vstats.log");
  Convert(Engine, In, Dir.File("stats-out.avi"), [&](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetVStatsFile(Stats);
    E.SetOptionByName("psnr", "");
  });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  const std::vector<std::string> L = Lines(Stats);
  ASSERT_EQ(L.size(), 25u);
  // A picture the encoder reports without error has an infinite PSNR.
  const std::regex Line(
      R"(frame= +(\d+) q= +\d+\.\d PSNR= +(?:\d+\.\d\d|inf) f_size= +(\d+) s_size= +\d+kB time= \d+\.\d{3} )"
      R"(br= +\d+\.\dkbits/s avg_br= +\d+\.\dkbits/s type= ([IPB]))");
  int64_t Bytes = 0;
  for (size_t I = 0; I < L.size(); ++I) {
    std::smatch M;
    ASSERT_TRUE(std::regex_match(L[I], M, Line)) << L[I];
    EXPECT_EQ(std::stoi(M[1]), static_cast<int>(I + 1)) << L[I];
    Bytes += std::stoll(M[2]);
    if (I == 0) {
      EXPECT_EQ(M[3], "I") << "the first picture is a key frame";
    }
  }
  EXPECT_EQ(Bytes, Engine.VideoSize) << "the lines add up to the encoded video";
  EXPECT_NE(L.back().find("time= 1.000"), std::string::npos) << L.back();
}

TEST_F(FFmpegVideo, ReportShowsQualityHistogramAndPsnr) {
  const std::string In = Video("report.avi");
  TCustomFFmpeg Engine;
  std::vector<std::pair<int, float>> Progress;  // frame number, quality
  Convert(Engine, In, Dir.File("report-out.avi"), [&](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetOptionByName("qscale", "4");
    E.SetOptionByName("psnr", "");
    E.SetOptionByName("qphist", "");
  });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  std::string Last;
  for (const auto& [Level, Message] : Log)
    if (Message.rfind("frame=", 0) == 0) Last = Message;
  const std::regex Report(R"(frame= +25 fps= *\d+ q=4\.0 L([0-9A-F]{32})PSNR=Y:(\d+\.\d\d) U:\d+\.\d\d V:\d+\.\d\d \*:\d+\.\d\d size=.*)");
  std::smatch M;
  ASSERT_TRUE(std::regex_match(Last, M, Report)) << Last;
  EXPECT_EQ(std::string(M[1]).substr(4, 1), "1") << "the last report counted quantiser 4 once: " << M[1];
  EXPECT_GT(std::stod(M[2]), 25.0) << "a fair picture at quantiser 4";
  EXPECT_EQ(Engine.QpHistogram[4], 1);

  TCustomFFmpeg WithHandler;
  Log.clear();
  Convert(WithHandler, In, Dir.File("report-out2.avi"), [&](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetOptionByName("qscale", "5");
    E.OnProgressHandler = [&](TCustomFFmpeg*, int AFrame, int, int, float AQ, float, int64_t, int) {
      Progress.push_back({AFrame, AQ});
    };
  });
  ASSERT_FALSE(WithHandler.ExceptionRaised) << WithHandler.ExceptionMessage;
  ASSERT_FALSE(Progress.empty());
  EXPECT_EQ(Progress.back().first, 25);
  EXPECT_FLOAT_EQ(Progress.back().second, 5.0f);
}

TEST_F(FFmpegVideo, AudioAndVideoTogetherKeepBothDurations) {
  const std::string In = Video("av.avi", [](TVideoSpec& S) {
    S.WithAudio = true;
    S.Seconds = 2.0;
  });
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("av-out.avi");
  Convert(Engine, In, Out, [](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetAudioCodec("libmp3lame");
  });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_TRUE(Logged("  Stream #0.0 -> #0.0"));
  EXPECT_TRUE(Logged("  Stream #0.1 -> #0.1"));
  EXPECT_EQ(DecodeVideo(Out).Frames(), 50u);
  EXPECT_NEAR(DecodeAudio(Out).Frames() / 44100.0, 2.0, 0.1);
  EXPECT_GT(Engine.AudioSize, 0);
  EXPECT_GT(Engine.VideoSize, 0);
}

TEST_F(FFmpegVideo, SubtitlesAreReEncoded) {
  TSubtitledSpec Spec;
  Spec.FileName = Dir.File("subs.mkv");
  MakeSubtitled(Spec);
  struct TCase {
    std::string Output, Codec;
  } Cases[] = {{"subs-out.mkv", "ass"}, {"subs-out.srt", "subrip"}, {"subs-out.vtt", "webvtt"}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File(C.Output);
    Convert(Engine, Spec.FileName, Out, [&](TCustomFFmpeg& E) {
      E.SetOptionByName("an", "");
      E.SetSubtitleCodec(C.Codec);
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << C.Output << ": " << Engine.ExceptionMessage;
    const TStreamPackets P = ReadPackets(Out, AVMEDIA_TYPE_SUBTITLE);
    EXPECT_EQ(P.Codec, C.Codec) << C.Output;
    ASSERT_EQ(P.Packets.size(), 2u) << C.Output;
    ASSERT_EQ(P.Texts.size(), 2u) << C.Output;
    EXPECT_NE(P.Texts[0].find("Hello"), std::string::npos) << C.Output << ": " << P.Texts[0];
    EXPECT_NE(P.Texts[1].find("World"), std::string::npos) << C.Output << ": " << P.Texts[1];
    EXPECT_NEAR(P.Packets[0].Pts, 0.1, 0.002) << C.Output;
    EXPECT_NEAR(P.Packets[1].Pts, 0.7, 0.002) << C.Output;
    EXPECT_NEAR(P.Packets[0].Duration, 0.5, 0.002) << C.Output << ": the display time is kept";
  }
}

TEST_F(FFmpegVideo, DvbSubtitlesAreShownAndTakenAway) {
  TSubtitledSpec Spec;
  Spec.FileName = Dir.File("bitmaps.mkv");
  Spec.Subtitle.Codec = "dvdsub";
  MakeBitmapSubtitled(Spec);
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("dvb.mkv");
  Convert(Engine, Spec.FileName, Out, [](TCustomFFmpeg& E) {
    E.SetOptionByName("an", "");
    E.SetSubtitleCodec("dvbsub");
  });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  const TStreamPackets P = ReadPackets(Out, AVMEDIA_TYPE_SUBTITLE);
  EXPECT_EQ(P.Codec, "dvb_subtitle");
  ASSERT_EQ(P.Packets.size(), 4u) << "two packets per subtitle";
  // Each pair: shown at the start, cleared at the end of the display time, whatever
  // the output's time base (DVD subtitles keep their times in steps of about 11 ms).
  EXPECT_NEAR(P.Packets[0].Pts, 0.1, 0.002);
  EXPECT_NEAR(P.Packets[1].Pts, 0.6, 0.012);
  EXPECT_NEAR(P.Packets[2].Pts, 0.7, 0.002);
  EXPECT_NEAR(P.Packets[3].Pts, 1.2, 0.012);
  ASSERT_EQ(P.Texts.size(), 4u);
  EXPECT_EQ(P.Texts[0], "bitmap");
  EXPECT_EQ(P.Texts[1], "") << "the second packet shows nothing";
}

TEST_F(FFmpegVideo, FailuresGiveTheirMessages) {
  const std::string In = Video("fail.avi");
  struct TCase {
    const char* Name;
    TOptions Before, After;
    std::string Message;
  } Cases[] = {
      {"unknown size", [](TCustomFFmpeg& E) { E.FrameWidth = E.FrameHeight = 0; }, nullptr,
       "Unknown frame size for output stream #0.0: set a frame size"},
      {"filters", [](TCustomFFmpeg& E) { E.SetVideoFilters("nosuchfilter"); }, nullptr, "Error opening filters!"},
      {"crop beyond the picture", nullptr, [](TCustomFFmpeg& E) { E.CropTop = 120; E.CropBottom = 120; },
       "Vertical crop dimensions are outside the range of the original image.\n"
       "Remember to crop first and scale second."},
      {"odd crop", nullptr, [](TCustomFFmpeg& E) { E.CropLeft = 3; E.ExitOnError = true; }, "error cropping picture"},
      {"odd pad", [](TCustomFFmpeg& E) { E.PadLeft = 3; E.PadRight = 3; }, [](TCustomFFmpeg& E) { E.ExitOnError = true; },
       "error padding picture"},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    Convert(Engine, In, Dir.File("fail-out.avi"),
            [&](TCustomFFmpeg& E) {
              E.SetVideoCodec("mpeg4");
              if (C.Before) C.Before(E);
            },
            C.After);
    EXPECT_TRUE(Engine.ExceptionRaised) << C.Name;
    EXPECT_EQ(Engine.ExceptionMessage, C.Message) << C.Name;
    EXPECT_TRUE(Engine.OutputStreamList.empty()) << C.Name << ": nothing stays open";
    EXPECT_TRUE(Engine.InputStreamList.empty()) << C.Name;
  }

  // Without the exit-on-error option such a picture is skipped with a message.
  TCustomFFmpeg Lenient;
  Log.clear();
  Convert(Lenient, In, Dir.File("lenient.avi"), [](TCustomFFmpeg& E) { E.SetVideoCodec("mpeg4"); },
          [](TCustomFFmpeg& E) { E.CropLeft = 3; });
  EXPECT_FALSE(Lenient.ExceptionRaised) << Lenient.ExceptionMessage;
  int Skipped = 0;
  for (const auto& [Level, Message] : Log) Skipped += Level == 0 && Message == "error cropping picture";
  EXPECT_EQ(Skipped, 25);

  TCustomFFmpeg Setter;
  Setter.Init();
  ASSERT_TRUE(Setter.AddInputFile(In));
  EXPECT_THROW(
      try { Setter.SetCropTop(3); } catch (const FFMpegException& E) {
        EXPECT_STREQ(E.what(), "Top crop size must be a multiple of 2");
        throw;
      },
      FFMpegException);
}

TEST_F(FFmpegVideo, TwoPassEncodingWritesAndReadsItsLog) {
  const std::string In = Video("pass.avi");
  const std::string Prefix = Dir.File("passlog");
  TCustomFFmpeg First;
  Convert(First, In, Dir.File("pass1.avi"), [&](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetOptionByName("passlogfile", Prefix);
    E.SetPass(1);
  });
  ASSERT_FALSE(First.ExceptionRaised) << First.ExceptionMessage;
  const std::vector<std::string> Log1 = Lines(Prefix + "-0.log");
  EXPECT_EQ(Log1.size(), 25u) << "one statistics line per picture";

  TCustomFFmpeg Second;
  Convert(Second, In, Dir.File("pass2.avi"), [&](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetOptionByName("passlogfile", Prefix);
    E.SetPass(2);
    E.SetBitrate("b", "300000");
  });
  ASSERT_FALSE(Second.ExceptionRaised) << Second.ExceptionMessage;
  EXPECT_EQ(DecodeVideo(Dir.File("pass2.avi")).Frames(), 25u);

  TCustomFFmpeg Missing;
  Convert(Missing, In, Dir.File("pass3.avi"), [&](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetOptionByName("passlogfile", Dir.File("nothing"));
    E.SetPass(2);
  });
  EXPECT_EQ(Missing.ExceptionMessage, "creat open fail: " + Dir.File("nothing") + "-0.log");
}

TEST_F(FFmpegVideo, DeinterlacingFiltersTheSecondField) {
  // Rows alternate between 200 and 0: the first field stays, the second field's rows
  // take the low-pass of their neighbours.
  const int W = 4, H = 6;
  std::vector<uint8_t> Y(W * H), U(2 * 3, 128), V(2 * 3, 128), OutY(W * H), OutU(6), OutV(6);
  for (int R = 0; R < H; ++R)
    for (int X = 0; X < W; ++X) Y[R * W + X] = R % 2 ? 0 : 200;
  TPictureView Source, Target;
  Source.Format = Target.Format = AV_PIX_FMT_YUV420P;
  Source.Width = Target.Width = W;
  Source.Height = Target.Height = H;
  uint8_t* SourcePlanes[3] = {Y.data(), U.data(), V.data()};
  uint8_t* TargetPlanes[3] = {OutY.data(), OutU.data(), OutV.data()};
  for (int P = 0; P < 3; ++P) {
    Source.Data[P] = SourcePlanes[P];
    Target.Data[P] = TargetPlanes[P];
    Source.Lines[P] = Target.Lines[P] = P ? 2 : W;
  }
  ASSERT_EQ(DeinterlacePicture(Target, Source), 0);
  const int Expected[H] = {200, 175, 200, 200, 200, 100};  // the edges repeat the outer rows
  for (int R = 0; R < H; ++R) EXPECT_EQ(OutY[R * W + 1], Expected[R]) << "row " << R;
  EXPECT_EQ(OutU, U);
  Source.Format = Target.Format = AV_PIX_FMT_RGB24;
  EXPECT_LT(DeinterlacePicture(Target, Source), 0) << "only planar 8-bit YUV";

  TCustomFFmpeg Engine;
  Convert(Engine, Video("interlaced.avi"), Dir.File("deinterlaced.avi"), [](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.SetOptionByName("deinterlace", "");
  });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_EQ(DecodeVideo(Dir.File("deinterlaced.avi")).Frames(), 25u);
  EXPECT_FALSE(Logged("Deinterlacing failed."));
}

TEST_F(FFmpegVideo, StopLeavesACompleteShorterVideo) {
  const std::string In = Video("long.avi", [](TVideoSpec& S) { S.Seconds = 4.0; });
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("stopped.avi");
  Convert(Engine, In, Out, [](TCustomFFmpeg& E) {
    E.SetVideoCodec("mpeg4");
    E.ProgressIntervalUs = 0;
    E.OnProgressHandler = [](TCustomFFmpeg* AEngine, int AFrame, int, int, float, float, int64_t, int) {
      if (AFrame >= 10) AEngine->Stop();
    };
  });
  EXPECT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_FALSE(Engine.Finished);
  const size_t Frames = DecodeVideo(Out).Frames();
  EXPECT_GE(Frames, 10u);
  EXPECT_LT(Frames, 100u);
}

TEST_F(FFmpegVideo, PicturesThatChangeSizeAreScaledToTheEncoders) {
  const std::string In = Dir.File("changing.avi");
  MakeVideoWithSizeChange(In, 320, 240, 160, 120, 10);
  const TDecodedVideo Source = DecodeVideo(In);
  ASSERT_EQ(Source.Frames(), 20u);
  struct TCase {
    const char* Name;
    TOptions Options;
    int Width, Height;
  } Cases[] = {
      {"same size", nullptr, 320, 240},
      {"crop", [](TCustomFFmpeg& E) { E.SetCropLeft(16); E.SetCropTop(8); }, 304, 232},
      {"pad", [](TCustomFFmpeg& E) { E.SetPadBottom(16); }, 320, 256},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File("changing-out.mkv");
    Convert(Engine, In, Out, [&](TCustomFFmpeg& E) {
      E.SetVideoCodec("mpeg4");
      if (C.Options) C.Options(E);
    });
    ASSERT_FALSE(Engine.ExceptionRaised) << C.Name << ": " << Engine.ExceptionMessage;
    const TDecodedVideo V = DecodeVideo(Out);
    EXPECT_EQ(V.Frames(), 20u) << C.Name;
    EXPECT_EQ(V.Width, C.Width) << C.Name;
    EXPECT_EQ(V.Height, C.Height) << C.Name;
    if (C.Options && std::string(C.Name) != "pad") continue;
    // The last picture is the small one, scaled up: it looks like the source's.
    ASSERT_EQ(Source.Last.Width, 160);
    double Difference = 0;
    for (int Y = 0; Y < 240; ++Y)
      for (int X = 0; X < 320; ++X) Difference += std::abs(V.Last.At(0, X, Y) - Source.Last.At(0, X / 2, Y / 2));
    EXPECT_LT(Difference / (320 * 240), 12.0) << C.Name;
  }
}
