// The batch driver: files opened only when their turn comes, outcomes kept per file,
// outputs named late but never twice and never over an existing file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "BatchDriver.h"
#include "MediaGenerator.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

class TRecorder : public TBatchReporter {
public:
  void FileProgress(const TFileState& AFile, const TBatchTotals& ATotals) override {
    ++Progress;
    EXPECT_EQ(AFile.Outcome, TFileOutcome::Running);
    EXPECT_LE(ATotals.DoneMs, ATotals.TotalMs + 1000) << "the batch never counts more audio than it holds";
  }
  void FileEnded(const TFileState& AFile, const TBatchTotals& ATotals) override {
    EXPECT_TRUE(Ended.emplace(AFile.Id, AFile).second) << "file " << AFile.Id << " ended twice";
    Last = ATotals;
    if (OnEnded) OnEnded(AFile);
  }
  void Message(const std::string& AText) override { Messages.push_back(AText); }

  std::map<int32_t, TFileState> Ended;
  std::vector<std::string> Messages;
  TBatchTotals Last;
  int Progress = 0;
  std::function<void(const TFileState&)> OnEnded;
};

double DecodedSeconds(const std::string& AFileName) {
  const TDecodedAudio Audio = DecodeAudio(AFileName);
  return Audio.SampleRate > 0 ? static_cast<double>(Audio.Frames()) / Audio.SampleRate : 0;
}

std::set<std::string> FilesIn(const std::string& AFolder) {
  std::set<std::string> Names;
  for (const auto& Entry : fs::directory_iterator(AFolder)) Names.insert(Entry.path().string());
  return Names;
}

class BatchDriver : public ::testing::Test {
protected:
  void SetUp() override { LoadSystemLibraries(); }

  // A tone of ASeconds; distinct lengths let a test tell whose output is whose.
  std::string Tone(const std::string& AName, double ASeconds) {
    const std::string Name = Dir.File(AName);
    fs::create_directories(fs::path(Name).parent_path());
    WriteToneWav(Name, ASeconds, 22050, 1);
    return Name;
  }

  TBatchSettings Settings(int AJobs) {
    TBatchSettings S;
    S.OutputFolder = Out;
    S.Jobs = AJobs;
    S.LogLevel = llQuiet;
    return S;
  }

  void RunBatch(TBatchDriver& ADriver, const std::vector<std::string>& AFiles) {
    std::string Error;
    ASSERT_TRUE(ADriver.LoadLibraries(Error)) << Error;
    ASSERT_TRUE(ADriver.PrepareOutputFolder(Error)) << Error;
    ADriver.AddFiles(AFiles);
    ADriver.Run();
  }

  TTempDir Dir;
  std::string Out = Dir.File("out");
};

// Each output decodes to its own input's length: the driver never mixes up which
// component's events belong to which file, in any mode.
TEST_F(BatchDriver, EveryFileBecomesItsOwnMp3InEveryMode) {
  for (int Jobs : {0, 1, 2}) {
    SCOPED_TRACE("jobs " + std::to_string(Jobs));
    std::vector<std::string> Inputs;
    for (int I = 0; I < 5; ++I)
      Inputs.push_back(Tone("j" + std::to_string(Jobs) + "/in" + std::to_string(I) + ".wav", 0.4 + 0.3 * I));
    TRecorder Recorder;
    TBatchDriver Driver(Settings(Jobs), Recorder);
    RunBatch(Driver, Inputs);
    EXPECT_EQ(Driver.ExitStatus(), 0);
    ASSERT_EQ(Recorder.Ended.size(), Inputs.size());
    for (const auto& [Id, File] : Recorder.Ended) {
      EXPECT_EQ(File.Input, Inputs[Id]);
      ASSERT_EQ(File.Outcome, TFileOutcome::Done) << File.Input << ": " << File.Message;
      EXPECT_NEAR(DecodedSeconds(File.Output), 0.4 + 0.3 * Id, 0.01) << File.Output;
    }
    EXPECT_EQ(Recorder.Last.Done, 5);
    EXPECT_FALSE(Recorder.Last.TotalIsEstimate);
    EXPECT_NEAR(Recorder.Last.DoneMs, Recorder.Last.TotalMs, 5);
    EXPECT_NEAR(Recorder.Last.TotalMs, 1000 * (0.4 + 0.7 + 1.0 + 1.3 + 1.6), 20);
    EXPECT_LE(Driver.PeakOpenFiles(), std::max(Jobs, 1) + 1);
    fs::remove_all(Out);
  }
}

// A batch far larger than the open-file limit: only a few files are open at a time.
TEST_F(BatchDriver, ABatchLargerThanTheOpenFileLimitConvertsEveryFile) {
  std::vector<std::string> Inputs;
  const std::string First = Tone("many/first.wav", 0.05);
  for (int I = 0; I < 120; ++I) {
    const std::string Name = Dir.File("many/f" + std::to_string(I) + ".wav");
    fs::copy_file(First, Name);
    Inputs.push_back(Name);
  }
  rlimit Saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &Saved), 0);
  rlimit Low = Saved;
  Low.rlim_cur = 48;  // the libraries, the test runner and a few files
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &Low), 0);
  TRecorder Recorder;
  {
    TBatchDriver Driver(Settings(2), Recorder);
    RunBatch(Driver, Inputs);
    EXPECT_EQ(Driver.Count(TFileOutcome::Done), 120);
    EXPECT_EQ(Driver.ExitStatus(), 0);
    EXPECT_LE(Driver.PeakOpenFiles(), 3);
  }
  setrlimit(RLIMIT_NOFILE, &Saved);
  for (const auto& [Id, File] : Recorder.Ended) EXPECT_EQ(File.Outcome, TFileOutcome::Done) << File.Message;
  EXPECT_EQ(FilesIn(Out).size(), 120u);
}

// A stop half-way: the files that had started keep a whole, playable MP3; the others
// leave nothing behind and say so.
TEST_F(BatchDriver, AStopInTheMiddleLeavesNoOutputForFilesNotStarted) {
  std::vector<std::string> Inputs;
  for (int I = 0; I < 40; ++I) Inputs.push_back(Tone("stop/s" + std::to_string(I) + ".wav", 0.6));
  TRecorder Recorder;
  TBatchDriver Driver(Settings(2), Recorder);
  Recorder.OnEnded = [&](const TFileState&) {
    if (Recorder.Ended.size() == 6) Driver.RequestStop();
  };
  RunBatch(Driver, Inputs);
  EXPECT_EQ(Driver.ExitStatus(), 130);
  ASSERT_EQ(Recorder.Ended.size(), Inputs.size()) << "every file has an outcome";

  std::set<std::string> Written;
  int NotStarted = 0;
  for (const auto& [Id, File] : Recorder.Ended) {
    if (File.Output.empty()) {
      EXPECT_EQ(File.Outcome, TFileOutcome::Stopped) << File.Message;
      ++NotStarted;
      continue;
    }
    Written.insert(File.Output);
    EXPECT_NE(File.Outcome, TFileOutcome::Failed) << File.Message;
    const double Seconds = DecodedSeconds(File.Output);
    if (File.Outcome == TFileOutcome::Done) {
      EXPECT_NEAR(Seconds, 0.6, 0.01) << File.Output;
    } else {
      EXPECT_GT(Seconds, 0) << "a stopped output is kept only with sound in it: " << File.Output;
      EXPECT_LE(Seconds, 0.6) << File.Output;
    }
  }
  EXPECT_GE(NotStarted, 30);
  EXPECT_EQ(FilesIn(Out), Written) << "no output for a file that never started";
}

// Files that cannot be converted sit between good ones; each keeps its own reason.
TEST_F(BatchDriver, FailedFilesBetweenGoodOnesKeepTheirOwnMessages) {
  const std::string Good1 = Tone("mixed/good1.wav", 0.3);
  const std::string Missing = Dir.File("mixed/missing.wav");
  const std::string Text = Dir.File("mixed/notes.wav");
  WriteTextFile(Text, "these are not samples\n");
  const std::string Good2 = Tone("mixed/good2.wav", 0.5);
  const std::string Folder = Dir.File("mixed/folder.wav");
  fs::create_directories(Folder);
  const std::string Good3 = Tone("mixed/good3.wav", 0.7);
  const std::vector<std::string> Inputs = {Good1, Missing, Text, Good2, Folder, Good3};

  TRecorder Recorder;
  TBatchDriver Driver(Settings(2), Recorder);
  RunBatch(Driver, Inputs);
  EXPECT_EQ(Driver.ExitStatus(), 1);
  ASSERT_EQ(Recorder.Ended.size(), Inputs.size());
  const struct {
    int Id;
    TFileOutcome Outcome;
    std::string Message;
  } Expected[] = {
      {0, TFileOutcome::Done, ""},
      {1, TFileOutcome::Failed, Missing + ": no such file or directory"},
      {2, TFileOutcome::Failed, Text + ": Unknown format"},
      {3, TFileOutcome::Done, ""},
      {4, TFileOutcome::Failed, Folder + ": not a file"},
      {5, TFileOutcome::Done, ""},
  };
  for (const auto& E : Expected) {
    const TFileState& File = Recorder.Ended.at(E.Id);
    EXPECT_EQ(File.Outcome, E.Outcome) << File.Input;
    EXPECT_EQ(File.Message, E.Message) << File.Input;
    if (E.Outcome == TFileOutcome::Failed) {
      EXPECT_TRUE(File.Output.empty());
    }
  }
  EXPECT_NEAR(DecodedSeconds(Recorder.Ended.at(5).Output), 0.7, 0.01);
  EXPECT_EQ(FilesIn(Out).size(), 3u);
  EXPECT_EQ(Recorder.Last.Failed, 3);
}

// Two inputs of one name, and an output of the first name that exists already: the
// names are chosen as each conversion starts, yet none is given twice or overwritten.
TEST_F(BatchDriver, TwinNamesChosenLateGetOutputsOfTheirOwn) {
  const std::string A = Tone("a/song.wav", 0.4);
  const std::string B = Tone("b/song.wav", 0.9);
  const std::string C = Tone("c/song.wav", 1.3);
  fs::create_directories(Out);
  const std::string Existing = Out + "/song (MP3 MPEG Layer-3).mp3";
  WriteTextFile(Existing, "keep me");

  TRecorder Recorder;
  TBatchDriver Driver(Settings(2), Recorder);
  RunBatch(Driver, {A, B, C});
  ASSERT_EQ(Driver.ExitStatus(), 0);
  std::set<std::string> Outputs;
  const double Seconds[] = {0.4, 0.9, 1.3};
  for (const auto& [Id, File] : Recorder.Ended) {
    Outputs.insert(File.Output);
    EXPECT_NEAR(DecodedSeconds(File.Output), Seconds[Id], 0.01) << File.Output;
  }
  EXPECT_EQ(Outputs, (std::set<std::string>{Out + "/song (MP3 MPEG Layer-3 [1]).mp3",
                                            Out + "/song (MP3 MPEG Layer-3 [2]).mp3",
                                            Out + "/song (MP3 MPEG Layer-3 [3]).mp3"}));
  std::ifstream Kept(Existing);
  std::string Content;
  std::getline(Kept, Content);
  EXPECT_EQ(Content, "keep me");
}

// A WAV whose header says 16-bit PCM but whose data is a compressed stream, as some
// rippers write them: the libraries recognise the stream inside, even with the
// driver's short codec probe for WAV files, instead of converting it as noise.
std::string WrapInPcmWav(const std::string& ACompressed, const std::string& AWav) {
  std::ifstream In(ACompressed, std::ios::binary);
  const std::string Data((std::istreambuf_iterator<char>(In)), {});
  auto U32 = [](uint32_t V) { return std::string{char(V), char(V >> 8), char(V >> 16), char(V >> 24)}; };
  auto U16 = [](uint16_t V) { return std::string{char(V), char(V >> 8)}; };
  const std::string Format = U16(1) + U16(2) + U32(44100) + U32(44100 * 4) + U16(4) + U16(16);
  const std::string Riff = "WAVEfmt " + U32(Format.size()) + Format + "data" + U32(Data.size()) + Data;
  std::ofstream Out(AWav, std::ios::binary);
  Out << "RIFF" << U32(Riff.size()) << Riff;
  return AWav;
}

TEST_F(BatchDriver, CompressedAudioUnderAPcmHeaderIsRecognised) {
  const struct {
    const char* Format;
    const char* Codec;
    int Channels;
  } Cases[] = {{"ac3", "ac3", 2}, {"mp3", "libmp3lame", 2}, {"ac3", "ac3", 6}};
  std::vector<std::string> Inputs;
  for (const auto& C : Cases) {
    TMediaSpec Spec;
    Spec.FileName = Dir.File(std::string("raw-") + std::to_string(C.Channels) + "." + C.Format);
    Spec.Format = C.Format;
    Spec.Seconds = 3.0;
    TAudioTrack Track;
    Track.Codec = C.Codec;
    Track.SampleRate = 48000;
    Track.Channels = C.Channels;
    Spec.Audio.push_back(Track);
    MakeMedia(Spec);
    Inputs.push_back(WrapInPcmWav(Spec.FileName, Spec.FileName + ".wav"));
  }
  TRecorder Recorder;
  TBatchDriver Driver(Settings(2), Recorder);
  RunBatch(Driver, Inputs);
  ASSERT_EQ(Recorder.Ended.size(), Inputs.size());
  for (const auto& [Id, File] : Recorder.Ended) {
    ASSERT_EQ(File.Outcome, TFileOutcome::Done) << File.Input << ": " << File.Message;
    // Read as PCM the data would last 3 s x (compressed rate / 1411 kbit/s): far less.
    EXPECT_NEAR(DecodedSeconds(File.Output), 3.0, 0.1) << File.Input;
    EXPECT_EQ(DecodeAudio(File.Output).SampleRate, 48000) << File.Input;
  }
}

// A library line from the driver's own thread (an input being opened) belongs to no
// task; it is told once, not once per lane.
TEST_F(BatchDriver, ALibraryLineOfNoTaskIsToldOnce) {
  const std::string First = Tone("first.wav", 0.2);
  const std::string Second = Tone("second.wav", 0.3);
  TRecorder Recorder;
  TBatchSettings S = Settings(2);
  S.LogLevel = llAll;
  TBatchDriver Driver(S, Recorder);
  RunBatch(Driver, {First, Second});
  // Each input's summary, logged while it is opened, names its length once.
  int Durations = 0;
  for (const std::string& Line : Recorder.Messages) Durations += Line.find("Duration: ") != std::string::npos;
  EXPECT_EQ(Durations, 2);
}

}  // namespace
