// The file list: its rows and status cells, the progress cells' drawing, drops,
// Delete, and many files added at once.
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTimer>

#include <filesystem>

#include "ProgressDelegate.h"
#include "WindowFixture.h"

namespace fs = std::filesystem;

namespace {

// What a Status cell reads for a progress report; a length that is not positive
// gives the busy bar, never a division.
TEST(FileListModel, ProgressCells) {
  const struct {
    qint64 DoneMs, TotalMs;
    QString Text;
    int Percent;
  } Cases[] = {
      {0, 1000, "{|0", 0},        {500, 1000, "{|50", 50},   {999, 1000, "{|99", 99},
      {2500, 1000, "{|100", 100}, {-20, 1000, "{|0", 0},     {500, 0, "{|", -1},
      {500, -40, "{|", -1},       {0, 0, "{|", -1},          {3000000000LL, 6000000000LL, "{|50", 50},
  };
  for (const auto& C : Cases) {
    TFileListModel Model;
    Model.Append({"/music/a.ogg"});
    Model.SetProgress(Model.Row(0).Key, C.DoneMs, C.TotalMs);
    SCOPED_TRACE(std::to_string(C.DoneMs) + " of " + std::to_string(C.TotalMs));
    EXPECT_EQ(Model.data(Model.index(0, TFileListModel::StatusColumn), Qt::DisplayRole).toString(), C.Text);
    EXPECT_EQ(Model.data(Model.index(0, TFileListModel::StatusColumn), TFileListModel::PercentRole).toInt(), C.Percent);
    EXPECT_EQ(Model.AnyBusy(), C.Percent < 0);
  }
}

// Rows keep their keys when others go, so a conversion's reports still find their row.
TEST(FileListModel, KeysFollowTheirRows) {
  TFileListModel Model;
  EXPECT_EQ(Model.Append({"/m/a.ogg", "/m/b.ogg", "/m/c.ogg", "/m/d.ogg", "/m/b.ogg"}), 4) << "a file is listed once";
  const quint64 C = Model.Row(2).Key, D = Model.Row(3).Key;
  Model.Remove({1, 0});
  ASSERT_EQ(Model.Count(), 2);
  Model.SetEnded(D, TRowStatus::Failed, "bad", QString());
  Model.SetProgress(C, 1, 2);
  EXPECT_EQ(Model.Row(0).Name, "c.ogg");
  EXPECT_EQ(TFileListModel::StatusText(Model.Row(0)), "{|50");
  EXPECT_EQ(Model.Row(1).Status, TRowStatus::Failed);
  EXPECT_EQ(Model.RowOfKey(Model.Row(1).Key), 1);
  EXPECT_EQ(Model.RowOfKey(Model.Row(0).Key - 2), -1) << "a removed row's key finds nothing";
  EXPECT_TRUE(Model.Append({"/m/a.ogg"})) << "a removed file may come back";
}

// The cell as the delegate draws it, for one status.
QImage PaintStatus(TFileListModel& AModel, int AWidth, int AHeight) {
  QTableView View;
  View.setModel(&AModel);
  TProgressDelegate Delegate;
  QImage Image(AWidth, AHeight, QImage::Format_RGB32);
  Image.fill(Qt::magenta);
  QPainter Painter(&Image);
  QStyleOptionViewItem Option;
  Option.initFrom(&View);
  Option.rect = QRect(0, 0, AWidth, AHeight);
  Delegate.paint(&Painter, Option, AModel.index(0, TFileListModel::StatusColumn));
  return Image;
}

bool IsSkyBlue(QRgb APixel) { return qBlue(APixel) > 200 && qRed(APixel) < 180 && qGreen(APixel) > 170; }

// A bar fills its share from sky blue toward white; a busy bar is a sky-blue block
// that moves, on a white ground.
TEST(ProgressDelegate, DrawsBarsOfKnownAndUnknownLength) {
  TFileListModel Model;
  Model.Append({"/m/a.ogg"});
  Model.SetProgress(Model.Row(0).Key, 300, 1000);
  const QImage Third = PaintStatus(Model, 200, 22);
  EXPECT_TRUE(IsSkyBlue(Third.pixel(4, 4))) << "the bar starts sky blue";
  EXPECT_EQ(Third.pixel(190, 4), qRgb(255, 255, 255)) << "beyond the bar the cell is white";

  Model.SetProgress(Model.Row(0).Key, 300, 0);
  // Pictures a fifth of a sweep apart: the block shows in some and is not where it was.
  QVector<QImage> Busy;
  for (int I = 0; I < 5; ++I) {
    Busy << PaintStatus(Model, 200, 22);
    QTest::qSleep(300);
  }
  int WithBlue = 0;
  for (const QImage& Image : Busy) {
    bool Blue = false;
    for (int X = 3; X < 197; ++X) Blue = Blue || IsSkyBlue(Image.pixel(X, 4));
    WithBlue += Blue;
  }
  EXPECT_GE(WithBlue, 3);
  EXPECT_FALSE(std::all_of(Busy.begin(), Busy.end(), [&](const QImage& AImage) { return AImage == Busy[0]; }))
      << "the busy block moves";

  Model.SetEnded(Model.Row(0).Key, TRowStatus::Done, QString(), QString());
  const QImage Done = PaintStatus(Model, 200, 22);
  EXPECT_FALSE(IsSkyBlue(Done.pixel(4, 4))) << "a Done cell is text, not a bar";
}

QDropEvent* DropOf(const QStringList& APaths, QMimeData& AData, QPoint AAt) {
  QList<QUrl> Urls;
  for (const QString& Path : APaths) Urls << QUrl::fromLocalFile(Path);
  AData.setUrls(Urls);
  return new QDropEvent(AAt, Qt::CopyAction, &AData, Qt::LeftButton, Qt::NoModifier);
}

// Two files and a folder dropped onto the list: the files and the folder's media
// files (its subfolders too) are listed; what holds no sound is left out.
TEST_F(WindowTest, DroppedFilesAndFoldersAreListed) {
  const QString A = Tone("drop/a.wav", 0.2), B = Tone("drop/b.wav", 0.2);
  Tone("drop/folder/c.wav", 0.2);
  Tone("drop/folder/deeper/d.wav", 0.2);
  WriteTextFile(Dir.File("drop/folder/notes.txt"), "not sound\n");
  Open();
  auto* List = Control<QTableView>("lvFiles");
  QMimeData Data;
  std::unique_ptr<QDropEvent> Drop(DropOf({A, B, QString::fromStdString(Dir.File("drop/folder"))}, Data, QPoint(20, 20)));
  QDragEnterEvent Enter(QPoint(20, 20), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(List->viewport(), &Enter);
  EXPECT_TRUE(Enter.isAccepted());
  QApplication::sendEvent(List->viewport(), Drop.get());
  EXPECT_TRUE(Drop->isAccepted());
  WaitListed();
  QStringList Names;
  for (int R = 0; R < Model().Count(); ++R) Names << Model().Row(R).Name;
  EXPECT_EQ(Names, (QStringList{"a.wav", "b.wav", "c.wav", "d.wav"}));
}

// Delete removes the selected rows and nothing else; "Clear list" empties the list.
TEST_F(WindowTest, DeleteRemovesTheSelectedRows) {
  QStringList Files;
  for (const char* Name : {"one", "two", "three", "four"}) Files << Tone(std::string("del/") + Name + ".wav", 0.2);
  Open();
  AddFiles(Files);
  auto* List = Control<QTableView>("lvFiles");
  List->setFocus();
  List->selectionModel()->select(Model().index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  List->selectionModel()->select(Model().index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::keyClick(List, Qt::Key_Delete);
  ASSERT_EQ(Model().Count(), 2);
  EXPECT_EQ(Model().Row(0).Name, "one.wav");
  EXPECT_EQ(Model().Row(1).Name, "three.wav");

  auto* Clear = Window->findChild<QAction*>("Clear1");
  ASSERT_NE(Clear, nullptr);
  Clear->trigger();
  EXPECT_EQ(Model().Count(), 0);
  EXPECT_EQ(Caption(), "Pemmet");
}

}  // namespace
