#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AVProbe.h"
#include "AVUtilHlpr.h"
#include "ConsoleReport.h"
#include "ConvertArgs.h"
#include "ConvertWorkflow.h"
#include "FFmpeg.h"
#include "MediaGenerator.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Pieces

TEST(ConvertArgs, OptionsAreReadAndBadOnesRefusedWithAReason) {
  TConvertArgs Args;
  std::string Error;
  ASSERT_TRUE(ParseConvertArgs({"-o", "out", "-j", "0", "-b", "128", "--opt", "ar=22050", "--opt=ac=1",
                                "--log-level", "debug", "--same-folder", "a.ogg", "--", "-b.wav"},
                               Args, Error))
      << Error;
  EXPECT_EQ(Args.Batch.OutputFolder, "out");
  EXPECT_EQ(Args.Batch.Jobs, 0);
  EXPECT_EQ(Args.Batch.BitrateKbits, 128);
  EXPECT_EQ(Args.Batch.ExtraLines, (std::vector<std::string>{"ar=22050", "ac=1"}));
  EXPECT_EQ(Args.Batch.LogLevel, llDebug);
  EXPECT_TRUE(Args.Batch.SameFolder);
  EXPECT_EQ(Args.Files, (std::vector<std::string>{"a.ogg", "-b.wav"}));

  ASSERT_TRUE(ParseConvertArgs({"x.wav"}, Args, Error));
  EXPECT_EQ(Args.Batch.Jobs, -1);
  EXPECT_EQ(Args.Batch.LogLevel, llError);
  EXPECT_TRUE(ParseConvertArgs({"--demo"}, Args, Error));
  EXPECT_TRUE(ParseConvertArgs({"--help"}, Args, Error));

  const std::vector<std::vector<std::string>> Bad = {
      {},          {"-j", "x", "a"},     {"-j", "-1", "a"},   {"-b", "0", "a"}, {"-b", "1000", "a"},
      {"-o"},      {"--opt", "novalue", "a"}, {"--opt", "=1", "a"}, {"--log-level", "loud", "a"},
      {"--frob", "a"}, {"-o", "", "a"}};
  for (const auto& Case : Bad) {
    Error.clear();
    EXPECT_FALSE(ParseConvertArgs(Case, Args, Error)) << ::testing::PrintToString(Case);
    EXPECT_FALSE(Error.empty());
  }
}

TEST(ConvertWorkflow, FormatTextGivesExtensionAndLabel) {
  EXPECT_EQ(FormatExtension(Mp3FormatText), ".mp3");
  EXPECT_EQ(FormatLabel(Mp3FormatText), "MP3 MPEG Layer-3");
  EXPECT_EQ(FormatLabel("Any *Star* (*.xyz)"), "Any xStarx");
  EXPECT_EQ(FormatExtension("No brackets"), "");
  EXPECT_EQ(FormatLabel("No brackets"), "No brackets");
}

TEST(ConvertWorkflow, RatesAndBitRatesAreBroughtIntoMp3sRange) {
  const std::pair<int, int> Rates[] = {{8000, 8000},   {44100, 44100}, {96000, 48000}, {88200, 44100},
                                       {192000, 48000}, {7000, 8000},  {37800, 32000}, {46000, 44100}};
  for (auto [In, Out] : Rates) EXPECT_EQ(Mp3SampleRate(In), Out) << In;
  struct TCase {
    int BitRate, SampleRate, Expected;
  };
  const TCase BitRates[] = {{1411200, 44100, 320000}, {128000, 44100, 128000}, {500, 44100, 32000},
                            {100000, 44100, 96000},   {256000, 22050, 160000}, {6000, 8000, 8000},
                            {12200, 8000, 16000},     {499999, 48000, 320000}};
  for (const TCase& Case : BitRates)
    EXPECT_EQ(Mp3BitRate(Case.BitRate, Case.SampleRate), Case.Expected) << Case.BitRate << " at " << Case.SampleRate;

  TOutputOptions Options;
  ResetOutputOptions(Options);
  Options.AudioChannels = 6;
  Options.AudioSampleRate = 96000;
  Options.AudioBitrate = 0;
  FitToMp3(Options);
  EXPECT_EQ(Options.AudioChannels, 2);
  EXPECT_EQ(Options.AudioSampleRate, 48000);
  EXPECT_EQ(Options.AudioBitrate, -1);  // unknown: the encoder's default
}

TEST(ConsoleReport, LinesShowProgressAndResults) {
  TFileState File;
  File.Input = "/music/song.ogg";
  File.Output = "/out/song (MP3 MPEG Layer-3).mp3";
  File.TotalMs = 200000;
  File.DoneMs = 50000;
  File.Speed = 10;
  EXPECT_EQ(ProgressLine(File, 80), "  song.ogg  [#####---------------]  25%  10.0x  0:15 left");
  EXPECT_LE(ProgressLine(File, 30).size(), 80u);
  File.Outcome = TFileOutcome::Done;
  EXPECT_EQ(ResultLine(File), "Done     song.ogg -> /out/song (MP3 MPEG Layer-3).mp3");
  File.Outcome = TFileOutcome::Stopped;
  EXPECT_EQ(ResultLine(File), "Stopped  song.ogg -> /out/song (MP3 MPEG Layer-3).mp3 (incomplete: 0:50 of 3:20)");
  File.Outcome = TFileOutcome::Failed;
  File.Message = "/music/song.ogg: I/O error occurred\r\nUsually that means that input file is truncated";
  EXPECT_EQ(ResultLine(File), "Failed   /music/song.ogg: I/O error occurred\n    Usually that means that input file is truncated");
  EXPECT_EQ(FormatDuration(3723000), "1:02:03");
}

// ---------------------------------------------------------------------------
// The program

struct TRun {
  int Status = -1;
  std::string Output;
};

std::string Quote(const std::string& AText) {
  std::string Quoted = "'";
  for (char C : AText) Quoted += C == '\'' ? std::string("'\\''") : std::string(1, C);
  return Quoted + "'";
}

TRun RunConvert(const std::vector<std::string>& AArgs) {
  std::string Command = Quote(PEMMET_CONVERT_BINARY);
  for (const std::string& Arg : AArgs) Command += " " + Quote(Arg);
  Command += " 2>&1";
  TRun Run;
  FILE* Pipe = popen(Command.c_str(), "r");
  if (!Pipe) return Run;
  char Buffer[4096];
  for (size_t N; (N = std::fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0;) Run.Output.append(Buffer, N);
  const int Status = pclose(Pipe);
  Run.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  return Run;
}

double DecodedSeconds(const TDecodedAudio& AAudio) {
  return AAudio.SampleRate > 0 ? static_cast<double>(AAudio.Frames()) / AAudio.SampleRate : 0;
}

std::string Mp3NameOf(const std::string& AFolder, const std::string& AInput) {
  return AFolder + "/" + fs::path(AInput).stem().string() + " (MP3 MPEG Layer-3).mp3";
}

class ConvertCli : public ::testing::Test {
protected:
  void SetUp() override { LoadSystemLibraries(); }

  std::string Audio(const std::string& AName, const std::string& AFormat, const std::string& ACodec, int ARate,
                    int AChannels, double ASeconds, int64_t ABitRate = 0) {
    TMediaSpec Spec;
    Spec.FileName = Dir.File(AName);
    Spec.Format = AFormat;
    Spec.Seconds = ASeconds;
    TAudioTrack Track;
    Track.Codec = ACodec;
    Track.SampleRate = ARate;
    Track.Channels = AChannels;
    Track.Frequencies = {440.0, 660.0};
    Track.BitRate = ABitRate;
    Spec.Audio.push_back(Track);
    MakeMedia(Spec);
    return Spec.FileName;
  }

  TTempDir Dir;
};

TEST_F(ConvertCli, AMixedFolderBecomesMp3FilesOfTheSourcesDurations) {
  struct TInput {
    std::string File;
    int Channels;  // of the MP3
    int Rate;      // of the MP3
  };
  std::vector<TInput> Inputs = {
      {Audio("speech.ogg", "ogg", VorbisEncoderName(), 22050, 1, 1.5), 1, 22050},
      {Audio("music.flac", "flac", "flac", 44100, 2, 1.5), 2, 44100},
      {Audio("pcm16.wav", "wav", "pcm_s16le", 48000, 2, 1.0), 2, 48000},
      {Audio("speech8.wav", "wav", "pcm_u8", 11025, 1, 1.0), 1, 11025},
      {Audio("aac.m4a", "mp4", "aac", 44100, 2, 1.5, 128000), 2, 44100},
      {Audio("voice.opus", "ogg", "libopus", 48000, 2, 1.5, 64000), 2, 48000},
      {Audio("layer2.mp2", "mp2", "mp2", 44100, 2, 1.0, 192000), 2, 44100},
      {Audio("surround.ac3", "ac3", "ac3", 48000, 6, 1.0, 384000), 2, 48000},
      {Audio("windows.wma", "asf", "wmav2", 44100, 2, 1.5, 128000), 2, 44100},
  };
  TVideoSpec Video;
  Video.FileName = Dir.File("clip.avi");
  Video.Seconds = 1.0;
  MakeVideo(Video);
  Inputs.push_back({Video.FileName, 2, 44100});
  // Bad inputs: missing, empty, not media, truncated to its first bytes.
  WriteTextFile(Dir.File("empty.ogg"), "");
  WriteTextFile(Dir.File("notes.ogg"), "These are not sounds.\n");
  {
    std::ifstream In(Inputs[1].File, std::ios::binary);
    std::string Head(40, '\0');
    In.read(Head.data(), 40);
    WriteTextFile(Dir.File("cut.flac"), Head);
  }
  const std::vector<std::string> BadFiles = {Dir.File("missing.ogg"), Dir.File("empty.ogg"), Dir.File("notes.ogg"),
                                             Dir.File("cut.flac")};

  const std::string Out = Dir.File("out/nested");
  std::vector<std::string> Args = {"-o", Out, "-j", "2"};
  for (const TInput& Input : Inputs) Args.push_back(Input.File);
  Args.insert(Args.end(), BadFiles.begin(), BadFiles.end());
  const TRun Run = RunConvert(Args);
  EXPECT_EQ(Run.Status, 1) << Run.Output;

  for (const TInput& Input : Inputs) {
    const std::string Mp3 = Mp3NameOf(Out, Input.File);
    ASSERT_TRUE(fs::exists(Mp3)) << Input.File << "\n" << Run.Output;
    EXPECT_NE(Run.Output.find("Done     " + fs::path(Input.File).filename().string() + " -> " + Mp3),
              std::string::npos);
    const TDecodedAudio Source = DecodeAudio(Input.File);
    const TDecodedAudio Result = DecodeAudio(Mp3);
    EXPECT_EQ(Result.Channels, Input.Channels) << Mp3;
    EXPECT_EQ(Result.SampleRate, Input.Rate) << Mp3;
    // The encoder's delay and padding are recorded in the file and trimmed again.
    EXPECT_NEAR(DecodedSeconds(Result), DecodedSeconds(Source), 0.002) << Mp3;
  }
  for (const std::string& Bad : BadFiles) {
    EXPECT_NE(Run.Output.find("Failed   " + Bad + ":"), std::string::npos) << Bad << "\n" << Run.Output;
    EXPECT_FALSE(fs::exists(Mp3NameOf(Out, Bad))) << Bad;
  }
  EXPECT_NE(Run.Output.find("10 converted, 4 failed, 0 stopped, of 14 file(s)"), std::string::npos) << Run.Output;
}

TEST_F(ConvertCli, WhatTheUserNamesWinsOverWhatTheInputSuggests) {
  const std::string Input = Audio("tone.flac", "flac", "flac", 44100, 2, 4.0);
  const std::string Out = Dir.File("out");
  const TRun Run = RunConvert({"-o", Out, "-j", "0", "-b", "64", "--opt", "ar=22050", "--opt", "ac=1", "--opt",
                               "ss=1", "--opt", "t=2", Input});
  ASSERT_EQ(Run.Status, 0) << Run.Output;
  const std::string Mp3 = Mp3NameOf(Out, Input);
  const TDecodedAudio Result = DecodeAudio(Mp3);
  EXPECT_EQ(Result.SampleRate, 22050);
  EXPECT_EQ(Result.Channels, 1);
  EXPECT_NEAR(DecodedSeconds(Result), 2.0, 0.002);
  TAVProbe Probe;
  Probe.Enable();
  ASSERT_TRUE(Probe.Open(Mp3));
  EXPECT_EQ(Probe.AudioInfo().BitRate, 64000);
}

TEST_F(ConvertCli, ExistingOutputsAndTwinNamesAreNeverOverwritten) {
  fs::create_directories(Dir.File("a"));
  fs::create_directories(Dir.File("b"));
  const std::string First = Audio("a/song.flac", "flac", "flac", 44100, 2, 0.5);
  const std::string Second = Audio("b/song.flac", "flac", "flac", 22050, 1, 0.5);
  const std::string Out = Dir.File("out");
  fs::create_directories(Out);
  const std::string Taken = Out + "/song (MP3 MPEG Layer-3).mp3";
  WriteTextFile(Taken, "keep me");

  const TRun Run = RunConvert({"-o", Out, First, Second});
  ASSERT_EQ(Run.Status, 0) << Run.Output;
  std::ifstream Kept(Taken);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(Kept), {}), "keep me");
  EXPECT_EQ(DecodeAudio(Out + "/song (MP3 MPEG Layer-3 [1]).mp3").SampleRate, 44100);
  EXPECT_EQ(DecodeAudio(Out + "/song (MP3 MPEG Layer-3 [2]).mp3").SampleRate, 22050);
}

TEST_F(ConvertCli, AnOutputFolderThatCannotTakeFilesIsReportedBeforeAnyConversion) {
  const std::string Input = Audio("tone.wav", "wav", "pcm_s16le", 44100, 2, 0.5);
  WriteTextFile(Dir.File("plainfile"), "x");
  const std::string ReadOnly = Dir.File("readonly");
  fs::create_directories(ReadOnly);
  fs::permissions(ReadOnly, fs::perms::owner_read | fs::perms::owner_exec);
  std::vector<std::string> Folders = {Dir.File("plainfile/sub"), Dir.File("plainfile")};
  // Root may write anywhere; the read-only case only tells for other users.
  if (geteuid() != 0) Folders.push_back(ReadOnly);
  for (const std::string& Folder : Folders) {
    const TRun Run = RunConvert({"-o", Folder, Input});
    EXPECT_EQ(Run.Status, 1) << Folder;
    EXPECT_NE(Run.Output.find("pemmet-convert: "), std::string::npos) << Run.Output;
    EXPECT_NE(Run.Output.find(Folder), std::string::npos) << Run.Output;
    EXPECT_EQ(Run.Output.find("Done"), std::string::npos) << Run.Output;
  }
  fs::permissions(ReadOnly, fs::perms::owner_all);
}

// Tags written by the engine: the container's own for FLAC, the audio stream's for Ogg.
TEST_F(ConvertCli, TagsOfTheInputReachTheMp3) {
  const std::string Source = Audio("plain.wav", "wav", "pcm_s16le", 44100, 2, 0.5);
  for (const std::string Name : {"tagged.flac", "tagged.ogg"}) {
    {
      TCustomFFmpeg Engine;
      Engine.Init();
      ASSERT_TRUE(Engine.AddInputFile(Source)) << Engine.LastError;
      Engine.SetTitle("Morning Song");
      Engine.SetAuthor("The Pemmet Band");
      Engine.SetAlbum("Tests");
      Engine.SetYear(2026);
      Engine.SetTrack(7);
      if (Name == "tagged.ogg") Engine.SetAudioCodec(VorbisEncoderName());
      ASSERT_TRUE(Engine.AddOutputFile(Dir.File(Name))) << Engine.LastError;
      Engine.Run(false);
      ASSERT_TRUE(Engine.Finished) << Engine.ExceptionMessage;
    }
    const TRun Run = RunConvert({"-o", Dir.File("out"), Dir.File(Name)});
    ASSERT_EQ(Run.Status, 0) << Run.Output;
    TAVProbe Probe;
    Probe.Enable();
    ASSERT_TRUE(Probe.Open(Mp3NameOf(Dir.File("out"), Name)));
    auto Tag = [&](const char* AKey) {
      const AVDictionaryEntry* Entry = av::av_dict_get(Probe.Context()->metadata, AKey, nullptr, 0);
      return std::string(Entry ? Entry->value : "");
    };
    EXPECT_EQ(Tag("title"), "Morning Song") << Name;
    EXPECT_EQ(Tag("artist"), "The Pemmet Band") << Name;
    EXPECT_EQ(Tag("album"), "Tests") << Name;
    EXPECT_EQ(Tag("date"), "2026") << Name;
    EXPECT_EQ(Tag("track"), "7") << Name;
  }
}

TEST_F(ConvertCli, UsageErrorsHelpAndVersion) {
  EXPECT_EQ(RunConvert({}).Status, 2);
  const TRun Bad = RunConvert({"-j", "many", "x.wav"});
  EXPECT_EQ(Bad.Status, 2);
  EXPECT_NE(Bad.Output.find("-j takes"), std::string::npos);
  const TRun Help = RunConvert({"--help"});
  EXPECT_EQ(Help.Status, 0);
  EXPECT_NE(Help.Output.find("Usage: pemmet-convert"), std::string::npos);
  const TRun Version = RunConvert({"--version"});
  EXPECT_EQ(Version.Status, 0);
  EXPECT_NE(Version.Output.find("converter component 2.2"), std::string::npos);
}

TEST_F(ConvertCli, TheDemoConvertsItsExample) {
  const std::string Out = Dir.File("demo");
  const TRun Run = RunConvert({"--demo", "-o", Out});
  ASSERT_EQ(Run.Status, 0) << Run.Output;
  const std::string Mp3 = Out + "/Pemmet example chord (MP3 MPEG Layer-3).mp3";
  const TDecodedAudio Result = DecodeAudio(Mp3);
  EXPECT_NEAR(DecodedSeconds(Result), 8.0, 0.002);
  EXPECT_EQ(Result.Channels, 2);
  EXPECT_NE(Run.Output.find("The MP3 file decodes to 8.000 s, 44100 Hz, 2 channel(s), 320 kbit/s"), std::string::npos)
      << Run.Output;
}

TEST_F(ConvertCli, CtrlCStopsTheBatchAndLeavesCompleteShorterOutputs) {
  const std::string Long = Audio("long.flac", "flac", "flac", 44100, 2, 240.0);
  const std::string Waiting = Audio("waiting.flac", "flac", "flac", 44100, 2, 1.0);
  const std::string Out = Dir.File("out");
  const std::string Log = Dir.File("log.txt");
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    freopen(Log.c_str(), "w", stdout);
    execl(PEMMET_CONVERT_BINARY, "pemmet-convert", "-j", "1", "-o", Out.c_str(), Long.c_str(), Waiting.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Interrupt once the long conversion has made progress.
  const std::string Mp3 = Mp3NameOf(Out, Long);
  for (int Waited = 0; Waited < 300 && FileSizeOf(Mp3) < 100000; ++Waited) Platform::SleepMs(20);
  kill(Child, SIGINT);
  int Status = 0;
  waitpid(Child, &Status, 0);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 130);

  std::ifstream In(Log);
  const std::string Printed((std::istreambuf_iterator<char>(In)), {});
  EXPECT_NE(Printed.find("Stopped  long.flac -> " + Mp3 + " (incomplete: "), std::string::npos) << Printed;
  EXPECT_NE(Printed.find("Stopped  waiting.flac (not started, no output)"), std::string::npos) << Printed;
  const TDecodedAudio Result = DecodeAudio(Mp3);
  EXPECT_GT(DecodedSeconds(Result), 0.5);
  EXPECT_LT(DecodedSeconds(Result), 240.0);
  EXPECT_FALSE(fs::exists(Mp3NameOf(Out, Waiting)));
}

}  // namespace
