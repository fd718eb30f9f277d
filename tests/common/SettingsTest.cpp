#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "OutputNaming.h"
#include "Settings.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string ReadTextFile(const std::string& AFileName) {
  std::ifstream In(AFileName, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

const std::string Label = "MP3 MPEG Layer-3";

class Settings : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(ProgramFolder());
    fs::create_directories(Dir.File("home"));
  }
  std::string ProgramFolder() const { return Dir.File("prog") + "/"; }
  std::string UserFolder() const { return Dir.File("config/pemmet") + "/"; }
  TSettingsPlaces Places() const { return {ProgramFolder(), UserFolder(), Dir.File("home")}; }
  std::string ConfFile() const { return ProgramFolder() + "conf.ini"; }

  TTempDir Dir;
};

}  // namespace

// ---------------------------------------------------------------------------
// Settings file

TEST_F(Settings, MissingFileGivesTheDefaults) {
  TSettings S(Places());
  S.Output = "changed";
  S.SameFolder = true;
  EXPECT_TRUE(S.Load());
  EXPECT_EQ(S.Output, Dir.File("home") + "/PemmetVideo");
  EXPECT_FALSE(S.SameFolder);
  EXPECT_EQ(S.FileName(), ConfFile());

  // A home folder given with a trailing separator gets no doubled one.
  TSettings Slashed({ProgramFolder(), UserFolder(), Dir.File("home") + "/"});
  EXPECT_EQ(Slashed.DefaultOutput(), Dir.File("home") + "/PemmetVideo");
  TSettings Root({ProgramFolder(), UserFolder(), "/"});
  EXPECT_EQ(Root.DefaultOutput(), "/PemmetVideo");
}

TEST_F(Settings, ValuesSurviveARoundTrip) {
  for (const bool Same : {true, false}) {
    TSettings S(Places());
    S.Output = "/srv/media/out put";
    S.SameFolder = Same;
    ASSERT_TRUE(S.Save());
    EXPECT_EQ(ReadTextFile(ConfFile()),
              "[Main]\nstrOutput=/srv/media/out put\nbooSameFolder=" + std::string(Same ? "1" : "0") + "\n");
    TSettings Again(Places());
    ASSERT_TRUE(Again.Load());
    EXPECT_EQ(Again.Output, "/srv/media/out put");
    EXPECT_EQ(Again.SameFolder, Same);
  }
}

TEST_F(Settings, OtherKeysAndSectionsStayAsTheyWere) {
  WriteTextFile(ConfFile(),
                "; written by hand\r\n"
                "[Window]\r\n"
                "Left=10\r\n"
                "\r\n"
                "[main]\r\n"
                "Language=de\r\n"
                "  STROUTPUT = /old\r\n"
                "; keep me\r\n"
                "\r\n"
                "[Last]\r\n"
                "booSameFolder=7\r\n");
  TSettings S(Places());
  ASSERT_TRUE(S.Load());
  EXPECT_EQ(S.Output, "/old");  // names match without regard to case; blanks around go
  EXPECT_FALSE(S.SameFolder);   // only the "Main" section counts
  S.Output = "/new";
  S.SameFolder = true;
  ASSERT_TRUE(S.Save());
  EXPECT_EQ(ReadTextFile(ConfFile()),
            "; written by hand\r\n"
            "[Window]\r\n"
            "Left=10\r\n"
            "\r\n"
            "[main]\r\n"
            "Language=de\r\n"
            "STROUTPUT=/new\r\n"
            "; keep me\r\n"
            "booSameFolder=1\r\n"
            "\r\n"
            "[Last]\r\n"
            "booSameFolder=7\r\n");
}

TEST_F(Settings, SaveKeepsWhatChangedOnDiskSinceLoading) {
  TSettings S(Places());
  ASSERT_TRUE(S.Load());
  WriteTextFile(ConfFile(), "[Main]\nWidth=800\n");
  S.Output = "/x";
  ASSERT_TRUE(S.Save());
  EXPECT_EQ(ReadTextFile(ConfFile()), "[Main]\nWidth=800\nstrOutput=/x\nbooSameFolder=0\n");
}

TEST_F(Settings, SameFolderIsAnyNonZeroInteger) {
  struct TCase {
    const char* Value;
    bool Same;
  } Cases[] = {{"1", true},   {"0", false},   {"-3", true},  {"2", true},   {" 1 ", true},
               {"00", false}, {"yes", false}, {"", false},   {"1x", false}, {"+", false},
               {"true", false}, {"99999999999999999999", true}};
  for (const TCase& Case : Cases) {
    WriteTextFile(ConfFile(), std::string("[Main]\nbooSameFolder=") + Case.Value + "\n");
    TSettings S(Places());
    ASSERT_TRUE(S.Load());
    EXPECT_EQ(S.SameFolder, Case.Same) << "\"" << Case.Value << "\"";
  }
}

TEST_F(Settings, ProgramFolderThatCannotBeWrittenSendsTheFileToTheUserFolder) {
  TSettings S({Dir.File("no-such-folder") + "/", UserFolder(), Dir.File("home")});
  EXPECT_EQ(S.FileName(), UserFolder() + "conf.ini");
  S.Output = "/u";
  ASSERT_TRUE(S.Save());  // creates the folder with its parents
  EXPECT_EQ(ReadTextFile(UserFolder() + "conf.ini"), "[Main]\nstrOutput=/u\nbooSameFolder=0\n");
  TSettings Again({Dir.File("no-such-folder") + "/", UserFolder(), Dir.File("home")});
  ASSERT_TRUE(Again.Load());
  EXPECT_EQ(Again.Output, "/u");
}

TEST_F(Settings, UnreadableFileGivesDefaultsAndIsNotReplaced) {
  fs::create_directories(ConfFile() + "/inside");  // a folder where the file should be
  TSettings S(Places());
  S.Output = "/x";
  EXPECT_FALSE(S.Load());
  EXPECT_EQ(S.Output, S.DefaultOutput());
  EXPECT_FALSE(S.SameFolder);
  S.Output = "/y";
  EXPECT_FALSE(S.Save());
  EXPECT_TRUE(fs::is_directory(ConfFile() + "/inside"));
}

TEST_F(Settings, UnwritablePlaceLosesTheChangesButSaysSo) {
  WriteTextFile(Dir.File("plain-file"), "");
  const TSettingsPlaces Blocked{Dir.File("no-such-folder") + "/", Dir.File("plain-file") + "/pemmet/",
                                Dir.File("home")};
  TSettings S(Blocked);
  S.Output = "/lost";
  EXPECT_FALSE(S.Save());
  TSettings Again(Blocked);
  EXPECT_TRUE(Again.Load());  // nothing there: defaults
  EXPECT_EQ(Again.Output, Again.DefaultOutput());
}

TEST_F(Settings, LineBreakInAValueIsNotWritten) {
  WriteTextFile(ConfFile(), "[Main]\nstrOutput=/old\n");
  TSettings S(Places());
  S.Output = "/a\n[Other]\nkey=1";
  EXPECT_FALSE(S.Save());
  EXPECT_EQ(ReadTextFile(ConfFile()), "[Main]\nstrOutput=/old\n");
}

TEST_F(Settings, LinkedFileIsWrittenThrough) {
  const std::string Real = Dir.File("real.ini");
  WriteTextFile(Real, "[Main]\nstrOutput=/old\n");
  fs::create_symlink(Real, ConfFile());
  TSettings S(Places());
  ASSERT_TRUE(S.Load());
  S.Output = "/new";
  ASSERT_TRUE(S.Save());
  EXPECT_TRUE(fs::is_symlink(ConfFile()));
  EXPECT_EQ(ReadTextFile(Real), "[Main]\nstrOutput=/new\nbooSameFolder=0\n");
}

TEST(SettingsPlaces, UserFolderFollowsTheConfigurationHome) {
  struct TCase {
    const char *Xdg, *Home, *Folder;
  } Cases[] = {
      {"/xdg", "/home/u", "/xdg/pemmet/"},
      {"/xdg/", "/home/u", "/xdg/pemmet/"},
      {"", "/home/u", "/home/u/.config/pemmet/"},
      {"relative/path", "/home/u", "/home/u/.config/pemmet/"},
      {"", "/home/u/", "/home/u/.config/pemmet/"},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(UserSettingsFolder(Case.Xdg, Case.Home), Case.Folder) << Case.Xdg << " " << Case.Home;
}

// ---------------------------------------------------------------------------
// Output names

TEST(OutputNames, LabelReplacesTheLastExtension) {
  const TNameTaken Nothing = [](const std::string&) { return false; };
  struct TCase {
    const char *Input, *Output;
  } Cases[] = {
      {"/music/song.ogg", "/music/song (MP3 MPEG Layer-3).mp3"},
      {"/music/my.song.ogg", "/music/my.song (MP3 MPEG Layer-3).mp3"},
      {"/music/song", "/music/song (MP3 MPEG Layer-3).mp3"},
      {"/music.d/song", "/music.d/song (MP3 MPEG Layer-3).mp3"},  // a dot in a folder is no extension
      {"/music/song.", "/music/song (MP3 MPEG Layer-3).mp3"},
      {"/music/.hidden", "/music/.hidden (MP3 MPEG Layer-3).mp3"},
      {"/music/.hidden.ogg", "/music/.hidden (MP3 MPEG Layer-3).mp3"},
      {"song.ogg", "song (MP3 MPEG Layer-3).mp3"},
      {"/out//song.ogg", "/out//song (MP3 MPEG Layer-3).mp3"},  // a doubled separator stays
  };
  for (const TCase& Case : Cases) EXPECT_EQ(MakeOutputName(Case.Input, ".mp3", Label, Nothing), Case.Output);
}

TEST(OutputNames, ExistingFilesAreNeverNamed) {
  TTempDir Dir;
  const std::string Input = Dir.File("song.ogg");
  EXPECT_EQ(MakeOutputName(Input, ".mp3", Label), Dir.File("song (MP3 MPEG Layer-3).mp3"));
  WriteTextFile(Dir.File("song (MP3 MPEG Layer-3).mp3"), "x");
  EXPECT_EQ(MakeOutputName(Input, ".mp3", Label), Dir.File("song (MP3 MPEG Layer-3 [1]).mp3"));
  WriteTextFile(Dir.File("song (MP3 MPEG Layer-3 [1]).mp3"), "x");
  EXPECT_EQ(MakeOutputName(Input, ".mp3", Label), Dir.File("song (MP3 MPEG Layer-3 [2]).mp3"));
  // The numbers are tried in order: a free gap is taken.
  WriteTextFile(Dir.File("song (MP3 MPEG Layer-3 [3]).mp3"), "x");
  EXPECT_EQ(MakeOutputName(Input, ".mp3", Label), Dir.File("song (MP3 MPEG Layer-3 [2]).mp3"));
  // Through a doubled separator the existing file is found all the same.
  EXPECT_EQ(MakeOutputName(Dir.Path() + "//song.ogg", ".mp3", Label),
            Dir.Path() + "//song (MP3 MPEG Layer-3 [2]).mp3");
}

TEST(OutputNames, AFolderOrALinkTakesTheNameToo) {
  TTempDir Dir;
  // A file of that name could not be created over a folder, nor through a link.
  fs::create_directory(Dir.File("clip (MP3 MPEG Layer-3).mp3"));
  EXPECT_EQ(MakeOutputName(Dir.File("clip.avi"), ".mp3", Label), Dir.File("clip (MP3 MPEG Layer-3 [1]).mp3"));
  fs::create_symlink(Dir.File("nowhere"), Dir.File("tune (MP3 MPEG Layer-3).mp3"));
  EXPECT_EQ(MakeOutputName(Dir.File("tune.flac"), ".mp3", Label), Dir.File("tune (MP3 MPEG Layer-3 [1]).mp3"));
}

TEST(OutputNames, BatchGivesEachOutputItsOwnName) {
  TTempDir Dir;
  const std::string Out = Dir.Path();
  TOutputNameReservations Batch;
  // Same file name from two folders, converted into one output folder.
  EXPECT_EQ(Batch.MakeOutputName(Out + "/song.ogg", ".mp3", Label), Out + "/song (MP3 MPEG Layer-3).mp3");
  EXPECT_EQ(Batch.MakeOutputName(Out + "/song.ogg", ".mp3", Label), Out + "/song (MP3 MPEG Layer-3 [1]).mp3");
  // Written another way, the same place is still the same name.
  EXPECT_EQ(Batch.MakeOutputName(Out + "//./song.ogg", ".mp3", Label),
            Out + "//./song (MP3 MPEG Layer-3 [2]).mp3");
  EXPECT_EQ(Batch.Count(), 3u);
  // Names on disk and names reserved both count.
  WriteTextFile(Out + "/song (MP3 MPEG Layer-3 [3]).mp3", "x");
  EXPECT_EQ(Batch.MakeOutputName(Out + "/song.wav", ".mp3", Label), Out + "/song (MP3 MPEG Layer-3 [4]).mp3");
  // A name given back can be given out again; a separate batch knows nothing of these.
  Batch.Release(Out + "/song (MP3 MPEG Layer-3 [1]).mp3");
  EXPECT_FALSE(Batch.IsReserved(Out + "/song (MP3 MPEG Layer-3 [1]).mp3"));
  EXPECT_EQ(Batch.MakeOutputName(Out + "/song.mp2", ".mp3", Label), Out + "/song (MP3 MPEG Layer-3 [1]).mp3");
  TOutputNameReservations Other;
  EXPECT_EQ(Other.MakeOutputName(Out + "/song.ogg", ".mp3", Label), Out + "/song (MP3 MPEG Layer-3).mp3");
  Batch.Clear();
  EXPECT_EQ(Batch.Count(), 0u);
}

TEST(OutputNames, ReservationsSeeThroughLinkedAndMissingFolders) {
  TTempDir Dir;
  fs::create_directory(Dir.File("out"));
  fs::create_directory_symlink(Dir.File("out"), Dir.File("link"));
  TOutputNameReservations Batch;
  EXPECT_EQ(Batch.MakeOutputName(Dir.File("out/a.ogg"), ".mp3", Label), Dir.File("out/a (MP3 MPEG Layer-3).mp3"));
  EXPECT_EQ(Batch.MakeOutputName(Dir.File("link/a.ogg"), ".mp3", Label),
            Dir.File("link/a (MP3 MPEG Layer-3 [1]).mp3"));
  // The output folder is made only when the first output is written.
  EXPECT_EQ(Batch.MakeOutputName(Dir.File("new/sub/a.ogg"), ".mp3", Label),
            Dir.File("new/sub/a (MP3 MPEG Layer-3).mp3"));
  EXPECT_EQ(Batch.MakeOutputName(Dir.File("new/x/../sub/a.ogg"), ".mp3", Label),
            Dir.File("new/x/../sub/a (MP3 MPEG Layer-3 [1]).mp3"));
  EXPECT_FALSE(Batch.Reserve(Dir.File("new/sub/a (MP3 MPEG Layer-3).mp3")));
  EXPECT_TRUE(Batch.Reserve(Dir.File("new/sub/b.mp3")));
}

TEST(OutputNames, RelativeNamesMeetTheirAbsoluteSpelling) {
  TTempDir Dir;
  const std::string Old = fs::current_path().string();
  fs::current_path(Dir.Path());
  TOutputNameReservations Batch;
  const std::string First = Batch.MakeOutputName("a.ogg", ".mp3", Label);
  const std::string Second = Batch.MakeOutputName(Dir.File("a.ogg"), ".mp3", Label);
  fs::current_path(Old);
  EXPECT_EQ(First, "a (MP3 MPEG Layer-3).mp3");
  EXPECT_EQ(Second, Dir.File("a (MP3 MPEG Layer-3 [1]).mp3"));
}
