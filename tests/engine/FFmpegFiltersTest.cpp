#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "FFmpeg.h"
#include "MediaGenerator.h"
#include "TestSupport.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

using TOptions = std::function<void(TCustomFFmpeg&)>;

class FFmpegFilters : public ::testing::Test {
protected:
  void SetUp() override { LoadSystemLibraries(); }

  // One second of the 320 x 240 test pattern at 25 frames per second, without sound.
  const std::string& Pattern() {
    if (FPattern.empty()) {
      TVideoSpec Media;
      Media.FileName = Dir.File("pattern.avi");
      Media.WithAudio = false;
      MakeVideo(Media);
      FPattern = Media.FileName;
    }
    return FPattern;
  }

  // Converts AInput into AOutput; AOptions run before the output is added, AAfter after.
  // Without a codec named, the video is FFV1, so pictures come back exactly.
  void Convert(TCustomFFmpeg& AEngine, const std::string& AInput, const std::string& AOutput,
               const TOptions& AOptions = nullptr, const TOptions& AAfter = nullptr) {
    AEngine.Init();
    AEngine.SetVerbose(-1);
    AEngine.OnLogHandler = [](TCustomFFmpeg*, int, const std::string&) {};
    ASSERT_TRUE(AEngine.AddInputFile(AInput)) << AEngine.LastError;
    AEngine.SetVideoCodec("ffv1");
    if (AOptions) AOptions(AEngine);
    ASSERT_TRUE(AEngine.AddOutputFile(AOutput)) << AEngine.LastError;
    if (AAfter) AAfter(AEngine);
    AEngine.Run(false);
  }

  // The pattern converted with AOptions, decoded again; fails the test when the run fails.
  TDecodedVideo Filtered(const std::string& AName, const TOptions& AOptions) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File(AName);
    Convert(Engine, Pattern(), Out, AOptions);
    EXPECT_FALSE(Engine.ExceptionRaised) << AName << ": " << Engine.ExceptionMessage;
    return DecodeVideo(Out);
  }

  // Largest difference of the luma of ATest against AReference seen through AMap,
  // which gives the reference position of a test pixel.
  static int LumaDifference(const TDecodedPicture& AReference, const TDecodedPicture& ATest,
                            const std::function<std::pair<int, int>(int, int)>& AMap) {
    int Worst = 0;
    for (int Y = 0; Y < ATest.Height; ++Y)
      for (int X = 0; X < ATest.Width; ++X) {
        const auto [RX, RY] = AMap(X, Y);
        Worst = std::max(Worst, std::abs(int(ATest.At(0, X, Y)) - int(AReference.At(0, RX, RY))));
      }
    return Worst;
  }

  TTempDir Dir;

private:
  std::string FPattern;
};

}  // namespace

TEST_F(FFmpegFilters, ChainsChangeThePicturesAsTheFiltersSay) {
  const TDecodedVideo Plain = Filtered("plain.mkv", nullptr);
  ASSERT_EQ(Plain.Frames(), 25u);
  const int W = Plain.Width, H = Plain.Height;
  struct TCase {
    const char* Name;
    const char* Chain;
    std::function<std::pair<int, int>(int, int)> Map;
  } Cases[] = {
      {"hflip", "hflip", [W](int X, int Y) { return std::pair{W - 1 - X, Y}; }},
      {"two filters", "hflip, vflip", [W, H](int X, int Y) { return std::pair{W - 1 - X, H - 1 - Y}; }},
      {"a filter twice", "hflip,hflip", [](int X, int Y) { return std::pair{X, Y}; }},
  };
  for (const TCase& C : Cases) {
    const TDecodedVideo V = Filtered(std::string(C.Name) + ".mkv", [&](TCustomFFmpeg& E) { E.SetVideoFilters(C.Chain); });
    ASSERT_EQ(V.Width, W) << C.Name;
    ASSERT_EQ(V.Height, H) << C.Name;
    EXPECT_EQ(V.Frames(), Plain.Frames()) << C.Name;
    EXPECT_EQ(V.Times, Plain.Times) << C.Name << ": the graph keeps the pictures' times";
    EXPECT_EQ(LumaDifference(Plain.First, V.First, C.Map), 0) << C.Name;
    EXPECT_EQ(LumaDifference(Plain.Last, V.Last, C.Map), 0) << C.Name;
  }
  // The pattern is not symmetric, so a mirror that did nothing would show.
  EXPECT_GT(LumaDifference(Plain.First, Plain.First, [W](int X, int Y) { return std::pair{W - 1 - X, Y}; }), 16);
}

TEST_F(FFmpegFilters, OutputSizeFollowsTheRequestOrTheChain) {
  struct TCase {
    const char* Name;
    TOptions Options;
    int Width, Height;
  } Cases[] = {
      // The asked size is made before the chain.
      {"size with hflip", [](TCustomFFmpeg& E) { E.SetFrameSize("160x120"); E.SetVideoFilters("hflip"); }, 160, 120},
      // A chain that resizes decides the encoder's size.
      {"scale in the chain", [](TCustomFFmpeg& E) { E.SetVideoFilters("scale=160:120"); }, 160, 120},
      {"size and scale in the chain",
       [](TCustomFFmpeg& E) {
         E.SetFrameSize("640x480");
         E.SetVideoFilters("scale=160:120");
       },
       160, 120},
      {"crop in the chain", [](TCustomFFmpeg& E) { E.SetVideoFilters("crop=200:100:10:20"); }, 200, 100},
      // Padding frames a chain that keeps the size.
      {"pad around hflip",
       [](TCustomFFmpeg& E) {
         E.SetVideoFilters("hflip");
         E.SetPadTop(16);
         E.SetPadBottom(16);
       },
       320, 272},
  };
  for (const TCase& C : Cases) {
    const TDecodedVideo V = Filtered("size.mkv", C.Options);
    EXPECT_EQ(V.Width, C.Width) << C.Name;
    EXPECT_EQ(V.Height, C.Height) << C.Name;
    EXPECT_EQ(V.Last.Width, C.Width) << C.Name;
    EXPECT_EQ(V.Last.Height, C.Height) << C.Name;
    EXPECT_EQ(V.Frames(), 25u) << C.Name;
  }
}

TEST_F(FFmpegFilters, CropByTheChainShowsTheWindowOfThePicture) {
  const TDecodedVideo Plain = Filtered("plain.mkv", nullptr);
  const TDecodedVideo V = Filtered("crop.mkv", [](TCustomFFmpeg& E) { E.SetVideoFilters("crop=200:100:10:20"); });
  ASSERT_EQ(V.Width, 200);
  EXPECT_EQ(LumaDifference(Plain.First, V.First, [](int X, int Y) { return std::pair{X + 10, Y + 20}; }), 0);
}

TEST_F(FFmpegFilters, PaddingFramesTheFilteredPicture) {
  const TOptions Pad = [](TCustomFFmpeg& E) {
    E.SetPadLeft(16);
    E.SetPadColor(0x00ff00);
  };
  const TDecodedVideo Padded = Filtered("padded.mkv", Pad);
  const TDecodedVideo V = Filtered("padded-hflip.mkv", [&](TCustomFFmpeg& E) {
    E.SetVideoFilters("hflip");
    Pad(E);
  });
  ASSERT_EQ(V.Width, 336);
  ASSERT_EQ(V.Height, 240);
  // The border is the one padding alone gives; the picture inside it is mirrored.
  EXPECT_EQ(LumaDifference(Padded.First, V.First,
                           [](int X, int Y) { return std::pair{X < 16 ? X : 16 + 335 - X, Y}; }),
            0);
}

TEST_F(FFmpegFilters, GraphEndsInTheEncodersPixelFormat) {
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("mjpeg.avi");
  Convert(Engine, Pattern(), Out, [](TCustomFFmpeg& E) {
    E.SetVideoCodec("mjpeg");
    E.SetPixelFormat("yuvj420p");
    E.SetVideoFilters("hflip");
  });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  const TDecodedVideo V = DecodeVideo(Out);
  EXPECT_EQ(V.Format, AV_PIX_FMT_YUVJ420P);
  EXPECT_EQ(V.Frames(), 25u);
}

TEST_F(FFmpegFilters, PicturesTheGraphHoldsAtTheEndAreEncoded) {
  // tpad gives its added pictures only once it learns that the input has ended.
  const TDecodedVideo V = Filtered("tpad.mkv", [](TCustomFFmpeg& E) { E.SetVideoFilters("tpad=stop=5"); });
  EXPECT_EQ(V.Frames(), 30u);
}

TEST_F(FFmpegFilters, ChainsTheGraphCannotBuildFailTheRun) {
  struct TCase {
    const char* Name;
    TOptions Before, After;
    const char* Message;
  } Cases[] = {
      {"unknown filter", [](TCustomFFmpeg& E) { E.SetVideoFilters("nosuchfilter"); }, nullptr,
       "Error opening filters!"},
      {"malformed chain", [](TCustomFFmpeg& E) { E.SetVideoFilters("hflip,[in"); }, nullptr, "Error opening filters!"},
      {"bad filter option", [](TCustomFFmpeg& E) { E.SetVideoFilters("scale=nosuchoption=1"); }, nullptr,
       "Error opening filters!"},
      {"unconnected output", [](TCustomFFmpeg& E) { E.SetVideoFilters("split"); }, nullptr, "Error opening filters!"},
      // Set after the output was added, so only the graph's set-up can see them.
      {"crop options", [](TCustomFFmpeg& E) { E.SetVideoFilters("hflip"); },
       [](TCustomFFmpeg& E) { E.SetCropTop(16); },
       "Error opening filters: Cannot enable crop options and filters at the same time."},
      // "pad" is not among the names the output set-up knows to resize.
      {"padding around a resizing chain",
       [](TCustomFFmpeg& E) {
         E.SetVideoFilters("pad=400:300");
         E.SetPadTop(16);
       },
       nullptr,
       "Error opening filters: Cannot enable pad options and the filters which resize frame at the same time. "
       "(crop, rotate, scale, transpose, etc.)"},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File("failed.mkv");
    Convert(Engine, Pattern(), Out, C.Before, C.After);
    EXPECT_TRUE(Engine.ExceptionRaised) << C.Name;
    EXPECT_EQ(Engine.ExceptionMessage, C.Message) << C.Name;
  }
}

TEST_F(FFmpegFilters, AudioOnlyRunsIgnoreTheChain) {
  const std::string In = Dir.File("tone.wav");
  WriteToneWav(In, 1.0);
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("tone.mp2");
  Engine.Init();
  Engine.SetVerbose(-1);
  ASSERT_TRUE(Engine.AddInputFile(In)) << Engine.LastError;
  Engine.SetVideoFilters("hflip");
  ASSERT_TRUE(Engine.AddOutputFile(Out)) << Engine.LastError;
  Engine.Run(false);
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  const TDecodedAudio A = DecodeAudio(Out);
  EXPECT_EQ(A.SampleRate, 44100);
  EXPECT_GT(A.Frames(), 40000);
}

TEST_F(FFmpegFilters, VideoWithSoundKeepsItsSoundUnderAChain) {
  TVideoSpec Media;
  Media.FileName = Dir.File("withsound.avi");
  MakeVideo(Media);
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("withsound.mkv");
  Convert(Engine, Media.FileName, Out, [](TCustomFFmpeg& E) { E.SetVideoFilters("vflip"); });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  EXPECT_EQ(DecodeVideo(Out).Frames(), 25u);
  EXPECT_GT(DecodeAudio(Out).Frames(), 40000);
}

TEST_F(FFmpegFilters, PicturesOfAnotherSizeReachTheGraphInItsSize) {
  const std::string In = Dir.File("sizechange.avi");
  MakeVideoWithSizeChange(In, 320, 240, 160, 120, 10);
  struct TCase {
    const char* Chain;
    int Width, Height;
  } Cases[] = {{"hflip", 320, 240}, {"crop=100:80:4:4", 100, 80}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    const std::string Out = Dir.File("sizechange.mkv");
    Convert(Engine, In, Out, [&](TCustomFFmpeg& E) { E.SetVideoFilters(C.Chain); });
    ASSERT_FALSE(Engine.ExceptionRaised) << C.Chain << ": " << Engine.ExceptionMessage;
    const TDecodedVideo V = DecodeVideo(Out);
    EXPECT_EQ(V.Frames(), 20u) << C.Chain;
    EXPECT_EQ(V.Last.Width, C.Width) << C.Chain;
    EXPECT_EQ(V.Last.Height, C.Height) << C.Chain;
  }
}

TEST_F(FFmpegFilters, PicturesLeaveTheGraphAtTheTimesItGives) {
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("slow.mkv");
  // Twice as slow: the encoder's constant rate fills the gaps with copies.
  Convert(Engine, Pattern(), Out, [](TCustomFFmpeg& E) { E.SetVideoFilters("setpts=2*PTS"); });
  ASSERT_FALSE(Engine.ExceptionRaised) << Engine.ExceptionMessage;
  const TDecodedVideo V = DecodeVideo(Out);
  ASSERT_GE(V.Frames(), 48u);
  EXPECT_LE(V.Frames(), 50u);
  EXPECT_NEAR(V.Times.back(), 1.92, 0.05);
  EXPECT_GT(Engine.FramesDup, 0);
}
