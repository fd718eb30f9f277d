// The add, convert and stop workflows of the real window, with real conversions.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSet>
#include <QThread>

#include <filesystem>

#include "WindowFixture.h"

namespace fs = std::filesystem;

namespace {

// What the list went through: every status text each row showed, the most rows
// converting at once, and whether anything changed away from the window's thread.
class TListWatch {
public:
  explicit TListWatch(TfrmMain& AWindow) : FModel(AWindow.Model()) {
    QObject::connect(&FModel, &QAbstractItemModel::dataChanged, &FModel, [this](const QModelIndex& AFrom, const QModelIndex& ATo) {
      Note();
      for (int R = AFrom.row(); R <= ATo.row(); ++R) Seen[R].insert(TFileListModel::StatusText(FModel.Row(R)));
      int Moving = 0;
      for (int R = 0; R < FModel.Count(); ++R) {
        const TFileRow& Row = FModel.Row(R);
        Moving += Row.Status == TRowStatus::Converting && Row.Percent > 0 && Row.Percent < 100;
      }
      MostMoving = std::max(MostMoving, Moving);
    }, Qt::DirectConnection);
    QObject::connect(&FModel, &QAbstractItemModel::rowsInserted, &FModel, [this] { Note(); }, Qt::DirectConnection);
    QObject::connect(&AWindow, &QWidget::windowTitleChanged, &AWindow, [this](const QString& ATitle) {
      Note();
      Captions << ATitle;
    }, Qt::DirectConnection);
  }

  bool SawProgress(int ARow) const {
    for (const QString& Text : Seen.value(ARow))
      if (Text.startsWith("{|")) return true;
    return false;
  }

  QHash<int, QSet<QString>> Seen;
  QStringList Captions;
  int MostMoving = 0;
  int OffThread = 0;

private:
  void Note() { OffThread += QThread::currentThread() != qApp->thread(); }
  TFileListModel& FModel;
};

QString OutputIn(const std::string& AFolder, const std::string& AName) {
  return QString::fromStdString(AFolder + "/" + AName + " (MP3 MPEG Layer-3).mp3");
}

}  // namespace

// Ready, then bars, then Done; the caption and the button follow the batch, every
// output is its own input's, and the desktop hears of the end.
TEST_F(WindowTest, ConvertingTheListShowsBarsThenDone) {
  const QStringList Files = {Tone("a/long.wav", 40, 44100, 2), Tone("a/short.wav", 0.6), Tone("a/middle.wav", 1.7)};
  Open();
  TListWatch Watch(*Window);
  AddFiles(Files);
  ASSERT_EQ(Model().Count(), 3);
  EXPECT_EQ(Caption(), "Pemmet [Ready]");
  for (int R = 0; R < 3; ++R) EXPECT_EQ(StatusOf(R), "Ready");

  ClickConvert();
  EXPECT_EQ(Caption(), "Pemmet [Converting...]");
  EXPECT_EQ(Button("btnConvert")->text(), "Stop");
  for (const char* Name : {"btnOpen", "btnAddFolder", "btnFolderChange"}) EXPECT_FALSE(Button(Name)->isEnabled()) << Name;
  ASSERT_TRUE(WaitBatchEnd());

  EXPECT_EQ(Caption(), "Pemmet [Done]");
  EXPECT_EQ(Button("btnConvert")->text(), "Convert!");
  EXPECT_TRUE(Button("btnOpen")->isEnabled());
  EXPECT_TRUE(Watch.SawProgress(0)) << "the long file's row showed its bar";
  const double Seconds[] = {40, 0.6, 1.7};
  for (int R = 0; R < 3; ++R) {
    EXPECT_EQ(StatusOf(R), "Done");
    EXPECT_NEAR(DecodedSeconds(Model().Row(R).Output), Seconds[R], 0.02) << Model().Row(R).Output.toStdString();
  }
  EXPECT_EQ(Model().Row(1).Output, OutputIn(Out, "short"));
  EXPECT_EQ(Notifier.Notes, QStringList{"Pemmet: conversion done|3 file(s) converted"});
  EXPECT_TRUE(Services.Failures.isEmpty());
  EXPECT_EQ(Watch.OffThread, 0);
}

// The second press asks first: No leaves everything as it was, Yes converts again
// beside the first outputs.
TEST_F(WindowTest, ConvertingAgainAsksFirst) {
  const QString File = Tone("again/song.wav", 0.5);
  Open();
  AddFiles({File});
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  ASSERT_EQ(StatusOf(0), "Done");

  Services.Answers = {false};
  ClickConvert();
  ASSERT_EQ(Services.Asked.size(), 1);
  EXPECT_EQ(Services.Asked[0],
            "Information|File(s) from the list was already converted to this format\r\nMP3 MPEG Layer-3 (*.mp3)\r\n"
            "Do you wish to convert agin?");
  EXPECT_FALSE(Window->Converting());
  EXPECT_EQ(StatusOf(0), "Done");
  EXPECT_EQ(Caption(), "Pemmet [Done]");
  EXPECT_EQ(std::distance(fs::directory_iterator(Out), fs::directory_iterator()), 1);

  Services.Answers = {true};
  ClickConvert();
  EXPECT_EQ(Services.Asked.size(), 2);
  ASSERT_TRUE(WaitBatchEnd());
  EXPECT_EQ(StatusOf(0), "Done");
  EXPECT_EQ(Model().Row(0).Output, QString::fromStdString(Out + "/song (MP3 MPEG Layer-3 [1]).mp3"));
  EXPECT_NEAR(DecodedSeconds(Model().Row(0).Output), 0.5, 0.02);
}

// Stop: the running file ends early, the others never start; every row that is not
// Done reads Canceled, and the window is ready for the next batch.
TEST_F(WindowTest, StopCancelsTheBatch) {
  WriteSettings("strOutput=" + Out + "\nintJobs=1\n");
  QStringList Files;
  for (int I = 0; I < 4; ++I) Files << Tone("stop/s" + std::to_string(I) + ".wav", 40, 44100, 2);
  Open();
  TListWatch Watch(*Window);
  AddFiles(Files);
  ClickConvert();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Watch.SawProgress(0); }, 30000));
  ClickConvert();
  EXPECT_FALSE(Button("btnConvert")->isEnabled()) << "a stop is asked once";
  ASSERT_TRUE(WaitBatchEnd());

  EXPECT_EQ(Caption(), "Pemmet [Job Canceled]");
  EXPECT_EQ(Button("btnConvert")->text(), "Convert!");
  EXPECT_TRUE(Button("btnConvert")->isEnabled());
  EXPECT_TRUE(Button("btnOpen")->isEnabled());
  for (int R = 0; R < 4; ++R) EXPECT_EQ(StatusOf(R), "Canceled") << R;
  EXPECT_FALSE(fs::exists(OutputIn(Out, "s3").toStdString())) << "a file that never started has no output";
  ASSERT_EQ(Notifier.Notes.size(), 1);
  EXPECT_TRUE(Notifier.Notes[0].startsWith("Pemmet: conversion stopped|"));
}

// A finished batch's list makes way for the next files; before a batch, files are
// appended.
TEST_F(WindowTest, AddingAfterAFinishedBatchStartsANewList) {
  Open();
  AddFiles({Tone("first/one.wav", 0.3)});
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());

  AddFiles({Tone("next/two.wav", 0.3), Tone("next/three.wav", 0.3)});
  ASSERT_EQ(Model().Count(), 2);
  EXPECT_EQ(Model().Row(0).Name, "two.wav");
  EXPECT_EQ(StatusOf(0), "Ready");
  EXPECT_EQ(Caption(), "Pemmet [Ready]");

  AddFiles({Tone("next/four.wav", 0.3)});
  EXPECT_EQ(Model().Count(), 3);
  ClickConvert();
  EXPECT_TRUE(Services.Asked.isEmpty()) << "new files are not asked about";
  ASSERT_TRUE(WaitBatchEnd());
  for (int R = 0; R < 3; ++R) EXPECT_EQ(StatusOf(R), "Done");
}

// A file gone before the rebuild fails alone: the rows after it still show their own
// files' outcomes and outputs.
TEST_F(WindowTest, AFileDeletedBeforeTheRebuildFailsAlone) {
  const QStringList Files = {Tone("del/a.wav", 0.4), Tone("del/b.wav", 0.9), Tone("del/c.wav", 1.4)};
  Open();
  AddFiles(Files);
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  fs::remove(Files[1].toStdString());
  fs::remove_all(Out);

  Services.Answers = {true};
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  EXPECT_EQ(StatusOf(0), "Done");
  EXPECT_EQ(StatusOf(1), "Failed");
  EXPECT_EQ(StatusOf(2), "Done");
  EXPECT_NEAR(DecodedSeconds(Model().Row(0).Output), 0.4, 0.02);
  EXPECT_NEAR(DecodedSeconds(Model().Row(2).Output), 1.4, 0.02);
  EXPECT_EQ(Caption(), "Pemmet [Done, 1 failed]");
  ASSERT_EQ(Services.FailureLines.size(), 1);
  EXPECT_TRUE(Services.FailureLines[0].startsWith(Files[1] + ": ")) << Services.FailureLines[0].toStdString();
}

// Nothing left to convert: the window says so and is back to its list, not stuck
// in " [Converting...]".
TEST_F(WindowTest, ARebuildWithNothingLeftReturnsToTheList) {
  const QStringList Files = {Tone("gone/a.wav", 0.3), Tone("gone/b.wav", 0.3)};
  Open();
  AddFiles(Files);
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  for (const QString& File : Files) fs::remove(File.toStdString());

  Services.Answers = {true};
  ClickConvert();
  EXPECT_FALSE(Window->Converting());
  EXPECT_EQ(Caption(), "Pemmet [Ready]");
  EXPECT_EQ(Button("btnConvert")->text(), "Convert!");
  EXPECT_TRUE(Services.Informed.contains("Information|None of the listed files can be found any more."));
  EXPECT_EQ(StatusOf(0), "Failed");
}

// With the same-folder box ticked (from the settings) each output lies beside its
// input, and the folder controls are off.
TEST_F(WindowTest, SameFolderWritesBesideEachInput) {
  WriteSettings("strOutput=" + Out + "\nbooSameFolder=1\n");
  const QString A = Tone("here/song.wav", 0.4);
  const QString B = Tone("there/tune.wav", 0.6);
  Open();
  auto* Same = Control<QCheckBox>("chkSameFolder");
  EXPECT_TRUE(Same->isVisible());
  EXPECT_TRUE(Same->isChecked());
  EXPECT_FALSE(Control<QLineEdit>("txtOutput")->isEnabled());
  EXPECT_FALSE(Button("btnFolderChange")->isEnabled());
  EXPECT_FALSE(Button("btnBrowse")->isEnabled());
  AddFiles({A, B});
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  EXPECT_EQ(Model().Row(0).Output, QString::fromStdString(Dir.File("here/song (MP3 MPEG Layer-3).mp3")));
  EXPECT_EQ(Model().Row(1).Output, QString::fromStdString(Dir.File("there/tune (MP3 MPEG Layer-3).mp3")));
  EXPECT_NEAR(DecodedSeconds(Model().Row(1).Output), 0.6, 0.02);
  EXPECT_FALSE(fs::exists(Out));

  Same->click();
  EXPECT_TRUE(Control<QLineEdit>("txtOutput")->isEnabled());
  EXPECT_TRUE(Button("btnFolderChange")->isEnabled());
  EXPECT_TRUE(Button("btnBrowse")->isEnabled());
}

TEST_F(WindowTest, AMissingOutputFolderIsCreatedWithItsParents) {
  const std::string Deep = Dir.File("not/yet/there");
  WriteSettings("strOutput=" + Deep + "\n");
  Open();
  AddFiles({Tone("deep/song.wav", 0.3)});
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  EXPECT_EQ(StatusOf(0), "Done");
  EXPECT_TRUE(fs::is_regular_file(OutputIn(Deep, "song").toStdString()));
}

// A file that cannot be converted shows Failed with its reason, in its tooltip and
// its details, and the batch's caption counts it.
TEST_F(WindowTest, AFailingFileShowsFailedWithItsReason) {
  const QString Good = Tone("fail/good.wav", 0.4);
  const QString Bad = Tone("fail/bad.wav", 0.4);
  const QString After = Tone("fail/after.wav", 1.1);
  Open();
  AddFiles({Good, Bad, After});
  // Listed while it was sound; spoilt before it converts.
  WriteTextFile(Bad.toStdString(), "no longer a sound file\n");
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  EXPECT_EQ(StatusOf(0), "Done");
  EXPECT_EQ(StatusOf(1), "Failed");
  EXPECT_EQ(StatusOf(2), "Done");
  EXPECT_NEAR(DecodedSeconds(Model().Row(2).Output), 1.1, 0.02) << "the row after a failure keeps its own output";
  const TFileRow& Row = Model().Row(1);
  EXPECT_FALSE(Row.Message.isEmpty());
  EXPECT_TRUE(Row.Output.isEmpty());
  const QString Tip = Model().data(Model().index(1, TFileListModel::StatusColumn), Qt::ToolTipRole).toString();
  EXPECT_TRUE(Tip.contains(Row.Message)) << Tip.toStdString();
  EXPECT_EQ(Caption(), "Pemmet [Done, 1 failed]");
  EXPECT_EQ(Services.FailureLines, QStringList{Bad + ": " + Row.Message});
  EXPECT_EQ(Notifier.Notes, QStringList{"Pemmet: conversion done|2 file(s) converted, 1 failed"});

  auto* List = Window->findChild<QAbstractItemView*>("lvFiles");
  const QRect Cell = List->visualRect(Model().index(1, 0));
  QTest::mouseClick(List->viewport(), Qt::LeftButton, Qt::NoModifier, Cell.center());
  QTest::mouseDClick(List->viewport(), Qt::LeftButton, Qt::NoModifier, Cell.center());
  ASSERT_FALSE(Services.Informed.isEmpty());
  EXPECT_EQ(Services.Informed.last(), "Failed|" + Bad + "\n\n" + Row.Message);
}

// Two conversions at once: both rows' bars move in the same stretch of time.
TEST_F(WindowTest, TwoParallelConversionsMoveTwoBars) {
  WriteSettings("strOutput=" + Out + "\nintJobs=2\n");
  Open();
  TListWatch Watch(*Window);
  AddFiles({Tone("par/a.wav", 50, 44100, 2), Tone("par/b.wav", 50, 44100, 2)});
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd(120000));
  EXPECT_EQ(Watch.MostMoving, 2);
  EXPECT_EQ(StatusOf(0), "Done");
  EXPECT_EQ(StatusOf(1), "Done");
  EXPECT_EQ(Watch.OffThread, 0);
}

// Without the libraries, Add and Convert say so and change nothing; an empty list
// asks for a file.
TEST_F(WindowTest, MessagesBeforeAnyConversion) {
  Open();
  ClickConvert();
  EXPECT_EQ(Services.Informed, QStringList{"Information|Please choose a file."});
  EXPECT_TRUE(Button("btnOpen")->hasFocus());

  Services.LibrariesLoad = false;
  Services.FileAnswers.push_back({Tone("lib/a.wav", 0.3)});
  Button("btnOpen")->click();
  EXPECT_EQ(Services.Errors, QStringList{"Error: Lib cannot be loaded."});
  EXPECT_TRUE(Services.FileCaptions.isEmpty()) << "no dialog without the libraries";
  EXPECT_EQ(Model().Count(), 0);
}

// "pemmet FILE..." lists the files at start.
TEST_F(WindowTest, FilesGivenAtStartAreListed) {
  const QStringList Files = {Tone("start/a.wav", 0.3), Tone("start/b.wav", 0.3)};
  Open(Files);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Model().Count() == 2 && !Window->Loading(); }, 30000));
  EXPECT_EQ(Model().Row(1).Path(), Files[1]);
  EXPECT_EQ(Caption(), "Pemmet [Ready]");
}
