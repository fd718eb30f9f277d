// The window's controls, its settings, its links, and the picture and product windows.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

#include "About.h"
#include "MediaFilter.h"
#include "PictureWindow.h"
#include "ProductList.h"
#include "WindowFixture.h"

namespace {

TEST_F(WindowTest, EveryControlHasItsTextAndHint) {
  Open();
  EXPECT_EQ(Caption(), "Pemmet");
  const struct {
    const char* Name;
    QString Text, Hint;
  } Buttons[] = {
      {"btnOpen", "Add...", "Open one or more videos to the list"},
      {"btnConvert", "Convert!", "Convert all the videos from the list"},
      {"btnFolderChange", "Change", ""},
      {"btnBrowse", "Browse", "Open the output folder in the file manager"},
      {"btnAddFolder", "Add Folder...", "Add every media file of a folder and its subfolders"},
  };
  for (const auto& B : Buttons) {
    EXPECT_EQ(Button(B.Name)->text(), B.Text) << B.Name;
    EXPECT_EQ(Button(B.Name)->toolTip(), B.Hint) << B.Name;
    EXPECT_TRUE(Button(B.Name)->isVisible()) << B.Name;
  }
  const struct {
    const char* Name;
    QString Text;
  } Labels[] = {{"StaticText1", "Output Format:"}, {"StaticText2", "Output Folder:"}};
  for (const auto& L : Labels) EXPECT_EQ(Control<QLabel>(L.Name)->text(), L.Text);
  EXPECT_TRUE(Control<QLabel>("lnkMore")->text().contains(">More Software<"));
  EXPECT_TRUE(Control<QLabel>("lnkWebsite")->text().contains(">Website<"));
  auto* Format = Control<QComboBox>("selFormat");
  EXPECT_EQ(Format->count(), 1);
  EXPECT_EQ(Format->currentText(), "MP3 MPEG Layer-3 (*.mp3)");
  auto* Bitrate = Control<QComboBox>("selBitrate");
  QList<int> Rates;
  for (int I = 0; I < Bitrate->count(); ++I) Rates << Bitrate->itemData(I).toInt();
  EXPECT_EQ(Rates, (QList<int>{-1, 128, 160, 192, 224, 256, 320}));
  EXPECT_TRUE(Control<QLineEdit>("txtOutput")->isReadOnly());
  EXPECT_EQ(Control<QCheckBox>("chkSameFolder")->text(), "Use the same directory to the source file");
  EXPECT_TRUE(Control<QCheckBox>("chkSameFolder")->isEnabled());

  auto* List = Control<QTableView>("lvFiles");
  QStringList Columns;
  for (int C = 0; C < List->model()->columnCount(); ++C) Columns << List->model()->headerData(C, Qt::Horizontal).toString();
  EXPECT_EQ(Columns, (QStringList{"Source", "Status", "Path"}));
  EXPECT_TRUE(List->showGrid());
  EXPECT_EQ(List->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_GE(List->verticalHeader()->defaultSectionSize(), 22);

  EXPECT_GT(Window->minimumSize().width(), 630);
  EXPECT_GT(Window->minimumSize().height(), 432);
  Window->resize(400, 300);
  EXPECT_GT(Window->width(), 630) << "the window does not shrink below its smallest size";
}

// The open dialog offers what the libraries read, and takes several files at once;
// a file without sound is left out.
TEST_F(WindowTest, TheOpenDialogOffersEveryReadableExtension) {
  const QString A = Tone("open/a.wav", 0.2), B = Tone("open/b.wav", 0.2);
  const QString Text = QString::fromStdString(Dir.File("open/readme.txt"));
  WriteTextFile(Text.toStdString(), "words\n");
  Open();
  AddFiles({A, Text, B});
  ASSERT_EQ(Services.Filters.size(), 1);
  const QString Filter = Services.Filters[0];
  for (const char* Pattern : {"*.ogg", "*.flac", "*.wav", "*.mp3", "*.mp2", "*.mkv", "*.m4a", "*.avi", "*.opus"})
    EXPECT_TRUE(Filter.contains(QString(" ") + Pattern + " ") || Filter.contains(QString("(") + Pattern + " "))
        << Pattern;
  EXPECT_TRUE(Filter.startsWith("All Supported Files ("));
  EXPECT_TRUE(Filter.endsWith(";;All files (*)"));
  EXPECT_EQ(ReadableExtensions().count("wav"), 1) << "each extension once";
  EXPECT_EQ(Model().Count(), 2);
}

// Read at start, written at close: the shared keys, the window's own, and every
// other line of the file as it was.
TEST_F(WindowTest, SettingsRoundTrip) {
  const std::string First = Dir.File("first"), Chosen = Dir.File("chosen");
  WriteTextFile(Program + "/conf.ini",
                "; kept\n[Main]\nstrOutput=" + First + "\nbooSameFolder=0\nintBitrate=192\nbooShowPicture=0\n"
                "[Other]\nkey=value\n");
  Open();
  auto* Output = Control<QLineEdit>("txtOutput");
  EXPECT_EQ(Output->text().toStdString(), First);
  EXPECT_EQ(Control<QComboBox>("selBitrate")->currentData().toInt(), 192);
  EXPECT_FALSE(Window->ShowPictureAtClose());

  Services.FolderAnswers = {QString(), QString::fromStdString(Chosen)};
  Button("btnFolderChange")->click();
  EXPECT_EQ(Output->text().toStdString(), First) << "a cancelled chooser changes nothing";
  QTest::mouseDClick(Output, Qt::LeftButton);
  EXPECT_EQ(Services.FolderCaptions, (QStringList{"Select an Output Folder:", "Select an Output Folder:"}));
  EXPECT_EQ(Output->text().toStdString(), Chosen);
  Control<QCheckBox>("chkSameFolder")->click();
  Control<QComboBox>("selBitrate")->setCurrentIndex(Control<QComboBox>("selBitrate")->findData(320));
  Window->resize(700, 520);
  Close();

  const std::string Text = ReadSettings();
  for (const std::string& Line : {std::string("; kept"), "strOutput=" + Chosen, std::string("booSameFolder=1"),
                                  std::string("intBitrate=320"), std::string("booShowPicture=0"),
                                  std::string("[Other]\nkey=value")})
    EXPECT_NE(Text.find(Line), std::string::npos) << Line << " in\n" << Text;
  EXPECT_NE(Text.find("strWindow="), std::string::npos);

  Open();
  EXPECT_EQ(Control<QLineEdit>("txtOutput")->text().toStdString(), Chosen);
  EXPECT_TRUE(Control<QCheckBox>("chkSameFolder")->isChecked());
  EXPECT_EQ(Window->size(), QSize(700, 520)) << "the window's size is remembered";
}

// Website, the banner, Browse and "More Software" reach the desktop or the product list.
TEST_F(WindowTest, LinksOpenTheirPlaces) {
  Open();
  Control<QLabel>("lnkWebsite")->linkActivated("#");
  auto* Banner = Control<QWidget>("Image1");
  QTest::mouseClick(Banner, Qt::LeftButton, Qt::NoModifier, Banner->rect().center());
  ASSERT_EQ(Services.Opened.size(), 2);
  for (const QUrl& Url : Services.Opened) {
    EXPECT_EQ(Url, DocumentationUrl());
    EXPECT_TRUE(Url.isLocalFile() && QFileInfo::exists(Url.toLocalFile())) << Url.toString().toStdString();
  }
  Button("btnBrowse")->click();
  EXPECT_EQ(Services.Opened.last(), QUrl::fromLocalFile(QString::fromStdString(Out)));

  Control<QLabel>("lnkMore")->linkActivated("#");
  auto* Products = Window->findChild<TfrmProducts*>("frmProducts");
  ASSERT_NE(Products, nullptr);
  EXPECT_TRUE(Products->isVisible());
  EXPECT_FALSE(Products->isModal());
  QStringList Lines;
  for (QLabel* Label : Products->findChildren<QLabel*>()) Lines << Label->text();
  ASSERT_EQ(Lines.size(), 3);
  EXPECT_TRUE(Lines[0].startsWith("<b>pemmet</b>"));
  EXPECT_TRUE(Lines[1].startsWith("<b>pemmet-convert</b>"));
  EXPECT_TRUE(Lines[2].contains("engine"));
}

// After a batch the status bar offers the output folder.
TEST_F(WindowTest, TheOutputFolderIsOfferedAfterABatch) {
  Open();
  AddFiles({Tone("offer/a.wav", 0.3)});
  auto* OpenOutput = Button("btnOpenOutput");
  EXPECT_FALSE(OpenOutput->isVisible());
  ClickConvert();
  ASSERT_TRUE(WaitBatchEnd());
  EXPECT_TRUE(OpenOutput->isVisible());
  OpenOutput->click();
  EXPECT_EQ(Services.Opened.last(), QUrl::fromLocalFile(QString::fromStdString(Out)));
}

// The picture window goes on its button, on Escape, and by itself.
TEST(PictureWindow, ClosesThreeWays) {
  const struct {
    const char* Way;
    int CloseAfterMs;
    std::function<void(TfrmSplash&)> Act;
  } Cases[] = {
      {"button", 0, [](TfrmSplash& S) { S.findChild<QPushButton*>("btnClose")->click(); }},
      {"Escape", 0, [](TfrmSplash& S) { QTest::keyClick(&S, Qt::Key_Escape); }},
      {"by itself", 150, [](TfrmSplash&) {}},
  };
  for (const auto& C : Cases) {
    int Clicks = 0;
    TfrmSplash Splash([&] { ++Clicks; }, C.CloseAfterMs);
    Splash.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Splash)) << C.Way;
    auto* Picture = Splash.findChild<QLabel*>("imgPicture");
    QTest::mouseClick(Picture, Qt::LeftButton);
    EXPECT_EQ(Clicks, 1) << "a click on the picture opens the page";
    C.Act(Splash);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Splash.isVisible(); }, 3000)) << C.Way;
  }
}

}  // namespace
