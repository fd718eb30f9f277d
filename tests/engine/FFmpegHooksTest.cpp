#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FFmpeg.h"
#include "MediaGenerator.h"
#include "RvAVConverter.h"
#include "TestSupport.h"

namespace {

using TOptions = std::function<void(TCustomFFmpeg&)>;

// What the custom hook saw of one picture.
struct THookCall {
  int FrameNumber;
  int64_t Pts;
  int Width, Height;
};

// The red the tests paint, as blue, green, red bytes.
void PaintRed(THookBitmap* ABitmap, int AWidth, int AHeight) {
  for (int Y = 0; Y < AHeight; ++Y) {
    uint8_t* Row = ABitmap->ScanLine(Y);
    for (int X = 0; X < AWidth; ++X) {
      Row[3 * X] = 0;
      Row[3 * X + 1] = 0;
      Row[3 * X + 2] = 255;
    }
  }
}

// Red in limited-range YUV: low luma, high red-difference.
bool LooksRed(const TDecodedPicture& APicture, int AX, int AY) {
  return std::abs(APicture.At(0, AX, AY) - 81) < 12 && APicture.At(2, AX / 2, AY / 2) > 220;
}

int MaxDifference(const TDecodedPicture& A, const TDecodedPicture& B, int APlane, int AFromRow) {
  int Max = 0;
  const int Width = A.PlaneWidth[APlane];
  const int Rows = static_cast<int>(A.Planes[APlane].size()) / Width;
  for (int Y = AFromRow; Y < Rows; ++Y)
    for (int X = 0; X < Width; ++X) Max = std::max(Max, std::abs(A.At(APlane, X, Y) - B.At(APlane, X, Y)));
  return Max;
}

// The share of pixels whose luma, after a trip through the bitmap's format and back,
// lies within 3 levels of the original's. The trip rounds, and the pattern's saturated
// colours lie partly outside what 8-bit RGB holds, so some pixels come back further off;
// a moved, flipped or recoloured picture has hardly any close pixels.
double CloseLumaShare(const TDecodedPicture& ATripped, const TDecodedPicture& AOriginal, int AFromRow) {
  int Close = 0, All = 0;
  const int Width = ATripped.PlaneWidth[0];
  const int Rows = static_cast<int>(ATripped.Planes[0].size()) / Width;
  for (int Y = AFromRow; Y < Rows; ++Y)
    for (int X = 0; X < Width; ++X, ++All) Close += std::abs(ATripped.At(0, X, Y) - AOriginal.At(0, X, Y)) <= 3;
  return All ? double(Close) / All : 0;
}

class FFmpegHooks : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    TVideoSpec Spec;
    Spec.FileName = Dir.File("in.avi");
    Spec.WithAudio = false;
    MakeVideo(Spec);
    Input = Spec.FileName;
  }

  // Re-encodes the input losslessly, so that the pictures read back are the ones the
  // hooks left.
  void Convert(TCustomFFmpeg& AEngine, const std::string& AOutput, const TOptions& AOptions = nullptr,
               const std::string& AInput = "") {
    AEngine.Init();
    AEngine.SetVerbose(-1);
    AEngine.OnLogHandler = [this](TCustomFFmpeg*, int ALevel, const std::string& AMessage) {
      Log.push_back({ALevel, AMessage});
    };
    ASSERT_TRUE(AEngine.AddInputFile(AInput.empty() ? Input : AInput)) << AEngine.LastError;
    AEngine.SetVideoCodec("ffv1");
    if (AOptions) AOptions(AEngine);
    ASSERT_TRUE(AEngine.AddOutputFile(AOutput)) << AEngine.LastError;
    AEngine.Run(false);
    ASSERT_FALSE(AEngine.ExceptionRaised) << AEngine.ExceptionMessage;
    ASSERT_TRUE(AEngine.Finished);
  }

  bool Logged(const std::string& AMessage) const {
    for (const auto& [Level, Message] : Log)
      if (Level == 0 && Message == AMessage) return true;
    return false;
  }

  // A custom hook that records each call and paints the top-left 64 x 32 pixels red
  // when APaint says so for that call.
  TCustomHookHandler RecordingHook(std::vector<THookCall>& ACalls, std::function<bool(int)> APaint,
                                   std::function<void(int, bool&, bool&)> ADecide) {
    return [&ACalls, APaint, ADecide](TCustomFFmpeg*, THookBitmap* ABitmap, int AFrameNumber, int64_t APTS,
                                      bool& AUpdate, bool& AStopHook) {
      ACalls.push_back({AFrameNumber, APTS, ABitmap->Width(), ABitmap->Height()});
      if (APaint(AFrameNumber)) PaintRed(ABitmap, 64, 32);
      if (ADecide) ADecide(AFrameNumber, AUpdate, AStopHook);
    };
  }

  TTempDir Dir;
  std::string Input;
  std::vector<std::pair<int, std::string>> Log;
};

TEST_F(FFmpegHooks, TheCustomHookPaintsWhatItTakesBackAndNothingElse) {
  TCustomFFmpeg Plain;
  Convert(Plain, Dir.File("plain.mkv"));
  const TDecodedVideo Baseline = DecodeVideo(Dir.File("plain.mkv"));
  ASSERT_EQ(Baseline.Frames(), 25u);

  struct TCase {
    const char* Name;
    bool Update;
    bool Paint;
  } Cases[] = {{"painted and taken back", true, true}, {"painted, not taken back", false, true},
               {"taken back unpainted", true, false}};
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    std::vector<THookCall> Calls;
    const std::string Out = Dir.File("hooked.mkv");
    Convert(Engine, Out, [&](TCustomFFmpeg& E) {
      E.OnCustomHookHandler = RecordingHook(
          Calls, [&](int) { return C.Paint; }, [&](int, bool& AUpdate, bool&) { AUpdate = C.Update; });
    });
    const TDecodedVideo V = DecodeVideo(Out);
    ASSERT_EQ(V.Frames(), 25u) << C.Name;
    EXPECT_EQ(Calls.size(), 25u) << C.Name;
    if (C.Update && C.Paint) {
      // Rows are top first and the bytes blue, green, red.
      for (const TDecodedPicture* P : {&V.First, &V.Last}) {
        EXPECT_TRUE(LooksRed(*P, 4, 4)) << C.Name;
        EXPECT_TRUE(LooksRed(*P, 60, 28)) << C.Name;
        EXPECT_FALSE(LooksRed(*P, 4, 200)) << C.Name;
        EXPECT_FALSE(LooksRed(*P, 100, 4)) << C.Name;
      }
      EXPECT_GE(CloseLumaShare(V.Last, Baseline.Last, 40), 0.6) << C.Name << ": the rest stays as it was";
    } else if (!C.Update) {
      EXPECT_EQ(MaxDifference(V.First, Baseline.First, 0, 0), 0) << C.Name;
      EXPECT_EQ(MaxDifference(V.Last, Baseline.Last, 1, 0), 0) << C.Name;
      EXPECT_EQ(MaxDifference(V.Last, Baseline.Last, 2, 0), 0) << C.Name;
    } else {
      // Only the trip through the bitmap's format and back.
      EXPECT_LT(CloseLumaShare(V.Last, Baseline.First, 0), 0.5) << "the measure tells pictures apart";
      EXPECT_GE(CloseLumaShare(V.Last, Baseline.Last, 0), 0.6) << C.Name;
    }
  }
}

TEST_F(FFmpegHooks, TheCustomHookSeesNumbersAndTimesInOrderUntilItStops) {
  TCustomFFmpeg Engine;
  std::vector<THookCall> Calls;
  Convert(Engine, Dir.File("order.mkv"), [&](TCustomFFmpeg& E) {
    E.OnCustomHookHandler = RecordingHook(Calls, [](int) { return false; }, nullptr);
  });
  ASSERT_EQ(Calls.size(), 25u);
  for (size_t I = 0; I < Calls.size(); ++I) {
    EXPECT_EQ(Calls[I].FrameNumber, static_cast<int>(I) + 1);
    EXPECT_EQ(Calls[I].Pts, Calls[0].Pts + static_cast<int64_t>(I) * 40000) << "25 pictures a second, in µs";
    EXPECT_EQ(Calls[I].Width, 320);
    EXPECT_EQ(Calls[I].Height, 240);
  }

  // Stopping on the first picture: its drawing is still taken back, no call follows.
  TCustomFFmpeg Stopping;
  std::vector<THookCall> Stopped;
  const std::string Out = Dir.File("stopped.mkv");
  Convert(Stopping, Out, [&](TCustomFFmpeg& E) {
    E.OnCustomHookHandler = RecordingHook(
        Stopped, [](int) { return true; }, [](int AFrame, bool&, bool& AStop) { AStop = AFrame == 1; });
  });
  EXPECT_EQ(Stopped.size(), 1u);
  EXPECT_FALSE(Stopping.OnCustomHookHandler);
  EXPECT_EQ(Stopping.HookAction, haStop);
  EXPECT_EQ(Stopping.HookFrameNumber, 25) << "every picture is still counted";
  const TDecodedVideo V = DecodeVideo(Out);
  ASSERT_EQ(V.Frames(), 25u);
  EXPECT_TRUE(LooksRed(V.First, 4, 4));
  EXPECT_FALSE(LooksRed(V.Last, 4, 4));
}

TEST_F(FFmpegHooks, ACustomHookThatRaisesLosesThatPicturesDrawingOnly) {
  TCustomFFmpeg Engine;
  std::vector<THookCall> Calls;
  const std::string Out = Dir.File("raising.mkv");
  Convert(Engine, Out, [&](TCustomFFmpeg& E) {
    E.OnCustomHookHandler = RecordingHook(Calls, [](int) { return true; }, [](int AFrame, bool&, bool&) {
      if (AFrame == 1) throw std::runtime_error("brush broke");
    });
  });
  EXPECT_EQ(Calls.size(), 25u) << "hooking goes on";
  EXPECT_TRUE(Logged("Error occurs OnCustomHook: brush broke"));
  const TDecodedVideo V = DecodeVideo(Out);
  ASSERT_EQ(V.Frames(), 25u);
  EXPECT_FALSE(LooksRed(V.First, 4, 4));
  EXPECT_TRUE(LooksRed(V.Last, 4, 4));

}

TEST_F(FFmpegHooks, HooksNeverWriteIntoTheDecodersPictures) {
  // 23 pictures with a key picture every 12: the last is predicted from the 13th on.
  TVideoSpec Spec;
  Spec.FileName = Dir.File("predicted.avi");
  Spec.WithAudio = false;
  Spec.Seconds = 0.92;
  MakeVideo(Spec);
  TCustomFFmpeg Plain, Engine;
  Convert(Plain, Dir.File("plain.mkv"), nullptr, Spec.FileName);
  std::vector<THookCall> Calls;
  Convert(
      Engine, Dir.File("hooked.mkv"),
      [&](TCustomFFmpeg& E) { E.OnCustomHookHandler = RecordingHook(Calls, [](int N) { return N == 14; }, nullptr); },
      Spec.FileName);
  const TDecodedVideo Baseline = DecodeVideo(Dir.File("plain.mkv")), V = DecodeVideo(Dir.File("hooked.mkv"));
  ASSERT_EQ(V.Frames(), 23u);
  EXPECT_FALSE(LooksRed(V.Last, 4, 4));
  EXPECT_GE(CloseLumaShare(V.Last, Baseline.Last, 0), 0.6) << "the pictures after it come from a clean reference";
}

TEST_F(FFmpegHooks, DeinterlacingWorksOnTheCopyTheHooksSee) {
  TCustomFFmpeg Plain, Deinterlaced, Hooked;
  Convert(Plain, Dir.File("plain.mkv"));
  Convert(Deinterlaced, Dir.File("deint.mkv"), [](TCustomFFmpeg& E) { E.DoDeinterlace = 1; });
  std::vector<THookCall> Calls;
  Convert(Hooked, Dir.File("deint-hooked.mkv"), [&](TCustomFFmpeg& E) {
    E.DoDeinterlace = 1;
    E.OnCustomHookHandler = RecordingHook(
        Calls, [](int) { return false; }, [](int, bool& AUpdate, bool&) { AUpdate = false; });
  });
  const TDecodedVideo P = DecodeVideo(Dir.File("plain.mkv")), D = DecodeVideo(Dir.File("deint.mkv")),
                      H = DecodeVideo(Dir.File("deint-hooked.mkv"));
  ASSERT_EQ(D.Frames(), 25u);
  EXPECT_GT(MaxDifference(D.Last, P.Last, 0, 0), 0) << "the second field is filtered";
  EXPECT_EQ(Calls.size(), 25u);
  EXPECT_EQ(MaxDifference(H.Last, D.Last, 0, 0), 0);
  EXPECT_EQ(MaxDifference(H.Last, D.Last, 2, 0), 0);
}

TEST_F(FFmpegHooks, TheBitmapFollowsAPictureSizeChange) {
  const std::string Changing = Dir.File("sizes.avi");
  // Growing: rows of the larger picture would run past a bitmap of the first size.
  MakeVideoWithSizeChange(Changing, 176, 144, 320, 240, 10);
  TCustomFFmpeg Engine;
  std::vector<THookCall> Calls;
  Convert(
      Engine, Dir.File("sizes.mkv"),
      [&](TCustomFFmpeg& E) {
        E.SetFrameSize("320x240");
        E.OnCustomHookHandler = RecordingHook(Calls, [](int) { return true; }, nullptr);
      },
      Changing);
  ASSERT_EQ(Calls.size(), 20u);
  EXPECT_EQ(Calls.front().Width, 176);
  EXPECT_EQ(Calls.front().Height, 144);
  EXPECT_EQ(Calls.back().Width, 320);
  EXPECT_EQ(Calls.back().Height, 240);
  const TDecodedVideo V = DecodeVideo(Dir.File("sizes.mkv"));
  EXPECT_TRUE(LooksRed(V.Last, 4, 4)) << "the larger pictures are painted too";
}

TEST_F(FFmpegHooks, NoConversionToTheBitmapFormatEndsHooking) {
  TCustomFFmpeg Engine;
  std::vector<THookCall> Calls;
  Convert(Engine, Dir.File("noformat.mkv"), [&](TCustomFFmpeg& E) {
    E.HookPixFmt = AV_PIX_FMT_NONE;
    E.OnCustomHookHandler = RecordingHook(Calls, [](int) { return true; }, nullptr);
  });
  EXPECT_TRUE(Calls.empty());
  EXPECT_TRUE(Logged("Cannot initialize the toRGB conversion context"));
  EXPECT_FALSE(Engine.OnCustomHookHandler);
  EXPECT_EQ(Engine.HookAction, haStop);
}

// The fixture module, loaded once per process, and its counters.
class FFmpegHookModules : public FFmpegHooks {
protected:
  void SetUp() override {
    FFmpegHooks::SetUp();
    Module = PEMMET_TEST_FIXTURES "/hooks/hookmodule.so";
    Handle = dlopen(Module.c_str(), RTLD_NOW);
    ASSERT_NE(Handle, nullptr);
    Processed = static_cast<int*>(dlsym(Handle, "PemmetHookProcessed"));
    Pts = static_cast<int64_t*>(dlsym(Handle, "PemmetHookPts"));
    ASSERT_TRUE(Processed && Pts);
  }
  void TearDown() override {
    if (Handle) dlclose(Handle);
  }

  // The times the module processed in the last run.
  std::vector<int64_t> ProcessedTimes() const { return std::vector<int64_t>(Pts, Pts + std::min(*Processed, 256)); }

  void ConvertWithModule(TCustomFFmpeg& AEngine, const std::string& AOutput, const std::string& AArguments,
                         const TOptions& AOptions = nullptr) {
    *Processed = 0;
    Convert(AEngine, AOutput, [&](TCustomFFmpeg& E) {
      E.AddVideoHook(Module + AArguments);
      if (AOptions) AOptions(E);
    });
  }

  std::string Module;
  void* Handle = nullptr;
  int* Processed = nullptr;
  int64_t* Pts = nullptr;
};

TEST_F(FFmpegHookModules, ModulesChangeThePicturesThatGoOn) {
  TCustomFFmpeg Plain;
  Convert(Plain, Dir.File("plain.mkv"));
  const TDecodedVideo Baseline = DecodeVideo(Dir.File("plain.mkv"));
  TCustomFFmpeg Engine;
  const std::string Out = Dir.File("module.mkv");
  ConvertWithModule(Engine, Out, " paint");
  EXPECT_EQ(*Processed, 25) << "without handler or ranges every picture goes to the modules";
  EXPECT_TRUE(Engine.UsingVHook);
  const TDecodedVideo V = DecodeVideo(Out);
  ASSERT_EQ(V.Frames(), 25u);
  for (const TDecodedPicture* P : {&V.First, &V.Last}) {
    EXPECT_EQ(P->At(0, 10, 0), 255);
    EXPECT_EQ(P->At(0, 300, 15), 255);
    EXPECT_NE(P->At(0, 10, 100), 255);
  }
  // The module painted a copy: the decoder's own pictures, which later ones are
  // predicted from, stay clean.
  EXPECT_EQ(MaxDifference(V.Last, Baseline.Last, 0, 16), 0);
}

TEST_F(FFmpegHookModules, RangesChooseThePicturesAndThePastLastRangeEndsHooking) {
  const int64_t Base = [&] {
    TCustomFFmpeg Probe;
    std::vector<THookCall> Calls;
    Convert(Probe, Dir.File("probe.mkv"), [&](TCustomFFmpeg& E) {
      E.OnCustomHookHandler = RecordingHook(Calls, [](int) { return false; }, nullptr);
    });
    return Calls.empty() ? int64_t(0) : Calls[0].Pts;
  }();
  auto At = [Base](int AFrame) { return Base + AFrame * int64_t(40000); };
  struct TCase {
    const char* Name;
    std::vector<THookRange> Ranges;
    std::vector<int> Frames;  // pictures (from 0) that reach the module
    bool StillHooking;
  } Cases[] = {
      // Both ends belong to a range; the last range's end stops hooking for good.
      {"two ranges", {{At(15), At(17)}, {At(5), At(10)}}, {5, 6, 7, 8, 9, 10, 15, 16, 17}, false},
      {"overlapping", {{At(3), At(8)}, {At(2), At(4)}}, {2, 3, 4, 5, 6, 7, 8}, false},
      {"open to the end", {{At(20), At(100)}}, {20, 21, 22, 23, 24}, true},
      {"one microsecond past", {{At(3), At(3) + 1}}, {3}, false},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    ConvertWithModule(Engine, Dir.File("ranges.mkv"), "", [&](TCustomFFmpeg& E) { E.SetHookRanges(C.Ranges); });
    std::vector<int64_t> Expected;
    for (int F : C.Frames) Expected.push_back(At(F));
    EXPECT_EQ(ProcessedTimes(), Expected) << C.Name;
    EXPECT_EQ(Engine.UsingVHook, C.StillHooking) << C.Name;
  }
}

TEST_F(FFmpegHookModules, TheBeforeHookDecidesPerPicture) {
  struct TCase {
    const char* Name;
    std::function<void(int, THookAction&)> Decide;  // picture number from 1
    int Processed;
    bool StillHooking;
  } Cases[] = {
      {"odd pictures only", [](int N, THookAction& A) { A = N % 2 ? haContinue : haIgnore; }, 13, true},
      // Left untouched, the previous picture's decision stands.
      {"ignore from the fourth on",
       [](int N, THookAction& A) {
         if (N == 4) A = haIgnore;
       },
       3, true},
      {"stop at the sixth", [](int N, THookAction& A) { A = N >= 6 ? haStop : haContinue; }, 5, false},
      {"raise at the third",
       [](int N, THookAction&) {
         if (N == 3) throw std::runtime_error("host gone");
       },
       2, false},
  };
  for (const TCase& C : Cases) {
    TCustomFFmpeg Engine;
    Log.clear();
    int Calls = 0;
    ConvertWithModule(Engine, Dir.File("before.mkv"), "", [&](TCustomFFmpeg& E) {
      E.OnBeforeHookHandler = [&](TCustomFFmpeg* ASender, int64_t, THookAction& AAction) {
        ++Calls;
        C.Decide(ASender->HookFrameNumber, AAction);
      };
    });
    EXPECT_EQ(*Processed, C.Processed) << C.Name;
    EXPECT_EQ(Engine.UsingVHook, C.StillHooking) << C.Name;
    EXPECT_EQ(Calls, C.StillHooking ? 25 : C.Processed + 1) << C.Name << ": no question after the stop";
  }
  EXPECT_TRUE(Logged("Error occurs OnBeforeHook: host gone"));
}

TEST_F(FFmpegHookModules, TheCustomHookExcludesTheModules) {
  TCustomFFmpeg Engine;
  std::vector<THookCall> Calls;
  ConvertWithModule(Engine, Dir.File("both.mkv"), "", [&](TCustomFFmpeg& E) {
    E.OnCustomHookHandler = RecordingHook(
        Calls, [](int) { return false; }, [](int AFrame, bool&, bool& AStop) { AStop = AFrame == 2; });
  });
  EXPECT_EQ(Calls.size(), 2u);
  EXPECT_EQ(*Processed, 0) << "not even once the custom hook has stopped";
}

// A component with two short video tasks whose output records ask for a hook.
class FFmpegHooksComponent : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSystemLibraries();
    ASSERT_TRUE(Converter.LoadLibraries("", true)) << Converter.LastErrorText();
    Converter.OnTerminate = [this](int32_t AIndex, bool, bool AException, const std::string& AMessage) {
      std::lock_guard<std::mutex> Guard(Mutex);
      EXPECT_FALSE(AException) << AMessage;
      if (AIndex == -1) BatchEnded = true;
      Ended.notify_all();
    };
  }

  void RunTwoTasks(const std::function<void(TOutputOptions&)>& AChange) {
    for (int I = 0; I < 2; ++I) {
      TVideoSpec Spec;
      Spec.FileName = Dir.File("task" + std::to_string(I) + ".avi");
      Spec.Seconds = 0.4;
      Spec.Video.Width = 160;
      Spec.Video.Height = 120;
      MakeVideo(Spec);
      const int32_t Index = Converter.AddTask(Spec.FileName);
      ASSERT_EQ(Index, I) << Converter.LastErrorText();
      TOutputOptions Options;
      ResetOutputOptions(Options);
      Options.VideoCodec = "mpeg4";
      Options.DisableAudio = true;
      AChange(Options);
      ASSERT_TRUE(Converter.SetTaskOutput(Index, Dir.File("task" + std::to_string(I) + "-out.avi"), &Options))
          << Converter.LastErrorText();
    }
    Converter.StartConversion(1);
    std::unique_lock<std::mutex> Guard(Mutex);
    ASSERT_TRUE(Ended.wait_for(Guard, std::chrono::seconds(60), [&] { return BatchEnded; }));
  }

  // Ten pictures of each task, in order.
  static std::vector<std::pair<int32_t, int64_t>> TenPicturesEach(const std::function<int64_t(int32_t)>& AValue) {
    std::vector<std::pair<int32_t, int64_t>> Expected;
    for (int32_t Task = 0; Task < 2; ++Task)
      for (int32_t Picture = 0; Picture < 10; ++Picture) Expected.push_back({Task, AValue(Picture)});
    return Expected;
  }

  TTempDir Dir;
  TRvAVConverter Converter;
  std::mutex Mutex;
  std::condition_variable Ended;
  bool BatchEnded = false;
  std::vector<std::pair<int32_t, int64_t>> Seen;  // task index, frame number or time
};

TEST_F(FFmpegHooksComponent, TheCustomHookReachesTheHostWithTheTaskIndex) {
  Converter.OnCustomHook = [&](int32_t AIndex, THookBitmap* ABitmap, int32_t AFrameNumber, int64_t, bool& AUpdate,
                               bool&) {
    std::lock_guard<std::mutex> Guard(Mutex);
    Seen.push_back({AIndex, AFrameNumber});
    EXPECT_EQ(ABitmap->Width(), 160);
    AUpdate = false;
  };
  RunTwoTasks([](TOutputOptions& AOptions) { AOptions.CustomHook = true; });
  EXPECT_EQ(Seen, TenPicturesEach([](int32_t APicture) { return APicture + 1; }));
}

TEST_F(FFmpegHooksComponent, TheBeforeHookReachesTheHostWithTheTaskIndex) {
  Converter.OnBeforeHook = [&](int32_t AIndex, int64_t APTS, THookAction& AAction) {
    std::lock_guard<std::mutex> Guard(Mutex);
    Seen.push_back({AIndex, APTS});
    AAction = haContinue;
  };
  RunTwoTasks([](TOutputOptions& AOptions) {
    AOptions.BeforeHook = true;
    AOptions.ExtraOptions = "vhook=" PEMMET_TEST_FIXTURES "/hooks/hookmodule.so";
  });
  ASSERT_EQ(Seen.size(), 20u);
  const int64_t Base = Seen[0].second;
  EXPECT_EQ(Seen, TenPicturesEach([Base](int32_t APicture) { return Base + APicture * int64_t(40000); }));
}

}  // namespace
