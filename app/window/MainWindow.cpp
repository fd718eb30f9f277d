#include "MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "About.h"
#include "BatchRun.h"
#include "ConvertWorkflow.h"
#include "FileListModel.h"
#include "FileListView.h"
#include "FileScanner.h"
#include "MediaFilter.h"
#include "MyUtils.h"
#include "ProductList.h"
#include "ProgressDelegate.h"

namespace {

const char* const LibraryError = "Error: Lib cannot be loaded.";

// The banner: drawn for its current size, so it follows the window and the scale.
class TBanner : public QWidget {
public:
  TBanner(std::function<void()> AOnClick, QWidget* AParent) : QWidget(AParent), FOnClick(std::move(AOnClick)) {
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(60);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }
  QSize sizeHint() const override { return QSize(761, 100); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter P(this);
    P.drawPixmap(0, 0, MakeBanner(size(), devicePixelRatioF(), "Audio and video files to MP3"));
  }
  void mouseReleaseEvent(QMouseEvent* AEvent) override {
    if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()) && FOnClick) FOnClick();
  }

private:
  std::function<void()> FOnClick;
};

QPushButton* BigButton(const QString& AText, const QString& AHint, const QString& AName, QWidget* AParent) {
  auto* Button = new QPushButton(AText, AParent);
  Button->setObjectName(AName);
  Button->setToolTip(AHint);
  Button->setMinimumSize(94, 72);
  Button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  return Button;
}

QLabel* Link(const QString& AText, const QString& AName, QWidget* AParent) {
  auto* Label = new QLabel("<a href=\"#\">" + AText + "</a>", AParent);
  Label->setObjectName(AName);
  Label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  return Label;
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up

TfrmMain::TfrmMain(TWindowOptions AOptions, QWidget* AParent)
    : QMainWindow(AParent), FOptions(std::move(AOptions)), FSettings(FOptions.Places) {
  FServices = FOptions.Services;
  if (!FServices) {
    FOwnServices = std::make_unique<TDesktopServices>();
    FServices = FOwnServices.get();
  }
  FNotifier = FOptions.Notifier;
  if (!FNotifier) {
    FOwnNotifier = std::make_unique<TDBusNotifier>();
    FNotifier = FOwnNotifier.get();
  }
  setObjectName("frmMain");
  FModel = new TFileListModel(this);
  FScanner = new TFileScanner(this);
  connect(FScanner, &TFileScanner::Found, this, &TfrmMain::OnFilesFound);
  connect(FScanner, &TFileScanner::Finished, this, &TfrmMain::OnScanFinished);
  BuildControls();
  ReadSettings();
  SetCaption(QString());
  ApplyState();
  if (!FOptions.Files.isEmpty()) {
    const QStringList Files = FOptions.Files;
    QTimer::singleShot(0, this, [this, Files] { AddPaths(Files); });
  }
}

TfrmMain::~TfrmMain() {
  // The batch stops and its thread ends before the rows it reports to go.
  delete FRun;
  FRun = nullptr;
}

void TfrmMain::BuildControls() {
  auto* Central = new QWidget(this);
  auto* Layout = new QVBoxLayout(Central);
  Layout->setContentsMargins(5, 5, 5, 5);
  Layout->setSpacing(8);
  Image1 = new TBanner([this] { OpenDocumentation(); }, Central);
  Image1->setObjectName("Image1");
  Image1->setToolTip("Open the Pemmet documentation");
  Layout->addWidget(Image1);
  Layout->addWidget(BuildTopRow());

  lvFiles = new TFileListView(Central);
  lvFiles->setObjectName("lvFiles");
  lvFiles->setModel(FModel);
  lvFiles->setItemDelegateForColumn(TFileListModel::StatusColumn, new TProgressDelegate(lvFiles));
  lvFiles->horizontalHeader()->resizeSection(TFileListModel::SourceColumn, 333);
  lvFiles->horizontalHeader()->resizeSection(TFileListModel::StatusColumn, 199);
  connect(lvFiles, &TFileListView::PathsDropped, this, &TfrmMain::AddPaths);
  connect(lvFiles, &TFileListView::DeletePressed, this, &TfrmMain::RemoveSelected);
  connect(lvFiles, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& AIndex) {
    if (FModel->Row(AIndex.row()).Status == TRowStatus::Failed) ShowDetails(AIndex.row());
  });
  Layout->addWidget(lvFiles, 1);
  Layout->addWidget(BuildFolderRow());
  setCentralWidget(Central);
  BuildStatusBar();
  BuildContextMenu();

  // A bar of unknown length sweeps: the list is repainted while one is shown.
  FBusyTimer = new QTimer(this);
  FBusyTimer->setInterval(80);
  connect(FBusyTimer, &QTimer::timeout, this, [this] {
    if (FModel->AnyBusy()) lvFiles->viewport()->update();
  });

  setMinimumSize(SmallestWidth, SmallestHeight);
  resize(771, 571);
}

QWidget* TfrmMain::BuildTopRow() {
  auto* Row = new QWidget(this);
  auto* Layout = new QHBoxLayout(Row);
  Layout->setContentsMargins(0, 0, 0, 0);
  btnOpen = BigButton("Add...", "Open one or more videos to the list", "btnOpen", Row);
  btnAddFolder = BigButton("Add Folder...", "Add every media file of a folder and its subfolders", "btnAddFolder", Row);
  btnConvert = BigButton("Convert!", "Convert all the videos from the list", "btnConvert", Row);
  connect(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
  connect(btnAddFolder, &QPushButton::clicked, this, &TfrmMain::btnAddFolderClick);
  connect(btnConvert, &QPushButton::clicked, this, &TfrmMain::btnConvertClick);
  Layout->addWidget(btnOpen);
  Layout->addWidget(btnAddFolder);
  Layout->addWidget(btnConvert);
  Layout->addSpacing(12);

  auto* Grid = new QGridLayout();
  auto* StaticText1 = new QLabel("Output Format:", Row);
  StaticText1->setObjectName("StaticText1");
  selFormat = new QComboBox(Row);
  selFormat->setObjectName("selFormat");
  selFormat->addItem(Mp3FormatText);
  selFormat->setCurrentIndex(0);
  selFormat->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  selFormat->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  auto* BitrateLabel = new QLabel("Bit rate:", Row);
  selBitrate = new QComboBox(Row);
  selBitrate->setObjectName("selBitrate");
  selBitrate->setToolTip("The MP3's bit rate: the source's, or a constant one");
  selBitrate->addItem("Source", -1);
  for (int Kbits : {128, 160, 192, 224, 256, 320}) selBitrate->addItem(QString("%1 kbit/s CBR").arg(Kbits), Kbits);
  BitrateLabel->setBuddy(selBitrate);
  lnkMore = Link("More Software", "lnkMore", Row);
  lnkWebsite = Link("Website", "lnkWebsite", Row);
  connect(lnkMore, &QLabel::linkActivated, this, &TfrmMain::ShowProducts);
  connect(lnkWebsite, &QLabel::linkActivated, this, &TfrmMain::OpenDocumentation);
  auto* Second = new QHBoxLayout();
  Second->addWidget(selBitrate);
  Second->addSpacing(16);
  Second->addWidget(lnkMore);
  Second->addStretch(1);
  Second->addWidget(lnkWebsite);
  Second->addStretch(1);
  Grid->addWidget(StaticText1, 0, 0);
  Grid->addWidget(selFormat, 0, 1);
  Grid->addWidget(BitrateLabel, 1, 0);
  Grid->addLayout(Second, 1, 1);
  Grid->setColumnStretch(1, 1);
  Layout->addLayout(Grid, 1);
  return Row;
}

QWidget* TfrmMain::BuildFolderRow() {
  auto* Box = new QWidget(this);
  auto* Grid = new QGridLayout(Box);
  Grid->setContentsMargins(0, 0, 0, 0);
  auto* StaticText2 = new QLabel("Output Folder:", Box);
  StaticText2->setObjectName("StaticText2");
  txtOutput = new QLineEdit(Box);
  txtOutput->setObjectName("txtOutput");
  txtOutput->setReadOnly(true);
  txtOutput->setToolTip("Double click to choose another folder");
  txtOutput->installEventFilter(this);
  btnFolderChange = new QPushButton("Change", Box);
  btnFolderChange->setObjectName("btnFolderChange");
  btnBrowse = new QPushButton("Browse", Box);
  btnBrowse->setObjectName("btnBrowse");
  btnBrowse->setToolTip("Open the output folder in the file manager");
  chkSameFolder = new QCheckBox("Use the same directory to the source file", Box);
  chkSameFolder->setObjectName("chkSameFolder");
  connect(btnFolderChange, &QPushButton::clicked, this, &TfrmMain::btnFolderChangeClick);
  connect(btnBrowse, &QPushButton::clicked, this, &TfrmMain::btnBrowseClick);
  connect(chkSameFolder, &QCheckBox::toggled, this, &TfrmMain::ApplyState);
  for (QPushButton* Button : {btnFolderChange, btnBrowse}) Button->setMinimumWidth(94);
  Grid->addWidget(StaticText2, 0, 0);
  Grid->addWidget(txtOutput, 0, 1);
  Grid->addWidget(btnFolderChange, 0, 2);
  Grid->addWidget(btnBrowse, 0, 3);
  Grid->addWidget(chkSameFolder, 1, 1, 1, 3);
  Grid->setColumnStretch(1, 1);
  return Box;
}

void TfrmMain::BuildStatusBar() {
  lblTimeLeft = new QLabel(this);
  lblTimeLeft->setObjectName("lblTimeLeft");
  pbOverall = new QProgressBar(this);
  pbOverall->setObjectName("pbOverall");
  pbOverall->setRange(0, 1000);
  pbOverall->setTextVisible(false);
  pbOverall->setMaximumWidth(220);
  pbOverall->hide();
  btnOpenOutput = new QPushButton("Open output folder", this);
  btnOpenOutput->setObjectName("btnOpenOutput");
  btnOpenOutput->setFlat(true);
  btnOpenOutput->hide();
  connect(btnOpenOutput, &QPushButton::clicked, this,
          [this] { FServices->OpenUrl(QUrl::fromLocalFile(FLastOutputFolder)); });
  statusBar()->addPermanentWidget(lblTimeLeft);
  statusBar()->addPermanentWidget(pbOverall);
  statusBar()->addPermanentWidget(btnOpenOutput);
}

void TfrmMain::BuildContextMenu() {
  auto* Menu = new QMenu(this);
  Menu->setObjectName("mnuFiles");
  QAction* AddFiles1 = Menu->addAction("Add File(s)", this, &TfrmMain::btnOpenClick);
  AddFiles1->setObjectName("AddFiles1");
  QAction* AddFolder1 = Menu->addAction("Add Folder...", this, &TfrmMain::btnAddFolderClick);
  AddFolder1->setObjectName("AddFolder1");
  Menu->addSeparator();
  QAction* Remove1 = Menu->addAction("Remove", this, &TfrmMain::RemoveSelected);
  Remove1->setObjectName("Remove1");
  Remove1->setShortcut(QKeySequence::Delete);
  QAction* Clear1 = Menu->addAction("Clear list", this, &TfrmMain::ClearList);
  Clear1->setObjectName("Clear1");
  QAction* Details1 = Menu->addAction("Details...");
  Details1->setObjectName("Details1");
  connect(lvFiles, &QWidget::customContextMenuRequested, this, [=, this](const QPoint& APos) {
    const bool Idle = !FRun;
    const QModelIndex At = lvFiles->indexAt(APos);
    AddFiles1->setEnabled(Idle);
    AddFolder1->setEnabled(Idle);
    Remove1->setEnabled(Idle && !lvFiles->SelectedRows().isEmpty());
    Clear1->setEnabled(Idle && FModel->Count() > 0);
    Details1->setEnabled(At.isValid() && FModel->Row(At.row()).Status == TRowStatus::Failed);
    if (Menu->exec(lvFiles->viewport()->mapToGlobal(APos)) == Details1) ShowDetails(At.row());
  });
}

void TfrmMain::ReadSettings() {
  FSettings.Load();
  txtOutput->setText(QString::fromStdString(FSettings.Common.Output));
  chkSameFolder->setChecked(FSettings.Common.SameFolder);
  const int Bitrate = selBitrate->findData(FSettings.BitrateKbits);
  selBitrate->setCurrentIndex(Bitrate >= 0 ? Bitrate : 0);
  if (!FSettings.Geometry.isEmpty()) restoreGeometry(FSettings.Geometry);
}

void TfrmMain::WriteSettings() {
  FSettings.Common.Output = txtOutput->text().toStdString();
  FSettings.Common.SameFolder = chkSameFolder->isChecked();
  FSettings.BitrateKbits = selBitrate->currentData().toInt();
  FSettings.Geometry = saveGeometry();
  FSettings.Save();  // a settings file that cannot be written loses the changes
}

void TfrmMain::closeEvent(QCloseEvent* AEvent) {
  WriteSettings();
  FScanner->Cancel();
  // Conversions still running end now, with complete (shorter) outputs.
  delete FRun;
  FRun = nullptr;
  if (FProducts) FProducts->close();
  AEvent->accept();
}

bool TfrmMain::eventFilter(QObject* AObject, QEvent* AEvent) {
  if (AObject == txtOutput && AEvent->type() == QEvent::MouseButtonDblClick) {
    if (txtOutput->isEnabled()) btnFolderChangeClick();
    return true;
  }
  return QMainWindow::eventFilter(AObject, AEvent);
}

// ---------------------------------------------------------------------------
// State

void TfrmMain::SetCaption(const QString& ASuffix) { setWindowTitle(QString(ProductTitle) + ASuffix); }

bool TfrmMain::Loading() const { return FScanner->Busy(); }

QString TfrmMain::FormatText() const { return selFormat->currentText(); }

QString TfrmMain::OutputFolderText() const {
  const QString Text = txtOutput->text();
  return Text.isEmpty() ? QString::fromStdString(FSettings.Common.DefaultOutput()) : Text;
}

void TfrmMain::ApplyState() {
  const bool Converting = FRun != nullptr;
  const bool Same = chkSameFolder->isChecked();
  for (QWidget* W : std::initializer_list<QWidget*>{btnOpen, btnAddFolder, selFormat, selBitrate, chkSameFolder})
    W->setEnabled(!Converting);
  txtOutput->setEnabled(!Converting && !Same);
  btnFolderChange->setEnabled(!Converting && !Same);
  btnBrowse->setEnabled(!Same);
  btnConvert->setText(Converting ? "Stop" : "Convert!");
  // A stop is asked once; the batch ends as soon as its running files have.
  btnConvert->setEnabled(Converting ? !FRun->StopRequested() : !Loading());
  lvFiles->SetEditable(!Converting);
}

// ---------------------------------------------------------------------------
// Adding files

bool TfrmMain::LibrariesReady() {
  QString Error;
  if (FServices->LoadLibraries(Error)) return true;
  FServices->ShowError(this, LibraryError);
  return false;
}

void TfrmMain::btnOpenClick() {
  if (FRun || !LibrariesReady()) return;
  if (FOpenFilter.isEmpty()) FOpenFilter = OpenDialogFilter(ReadableExtensions());
  AddPaths(FServices->ChooseFiles(this, "Add Files", FOpenFilter));
}

void TfrmMain::btnAddFolderClick() {
  if (FRun || !LibrariesReady()) return;
  const QString Folder = FServices->ChooseFolder(this, "Select a Folder to Add:");
  if (!Folder.isEmpty()) AddPaths({Folder});
}

void TfrmMain::AddPaths(const QStringList& APaths) {
  if (FRun || APaths.isEmpty() || !LibrariesReady()) return;
  // A list that has been converted makes way for the new files.
  if (FListBatched) {
    FScanner->Cancel();
    FModel->Clear();
    FListBatched = false;
    FConvertedFormat.clear();
    FMissing.clear();
  }
  btnOpenOutput->hide();
  FScanner->Scan(APaths);
  SetCaption(QString(" [Loading File %1...]").arg(FModel->Count() + 1));
  ApplyState();
}

void TfrmMain::OnFilesFound(const QStringList& AFiles) {
  FModel->Append(AFiles);
  SetCaption(QString(" [Loading File %1...]").arg(FModel->Count()));
}

void TfrmMain::OnScanFinished(int AChecked, int AFound) {
  SetCaption(FModel->Count() > 0 ? " [Ready]" : "");
  if (AFound < AChecked)
    statusBar()->showMessage(
        QString("%1 of %2 file(s) hold no sound that can be converted and were left out.").arg(AChecked - AFound).arg(AChecked),
        8000);
  ApplyState();
  selFormat->setFocus();
}

void TfrmMain::RemoveSelected() {
  if (FRun) return;
  FModel->Remove(lvFiles->SelectedRows());
  if (FModel->Count() == 0 && !Loading()) SetCaption(QString());
}

void TfrmMain::ClearList() {
  if (FRun) return;
  FScanner->Cancel();
  FModel->Clear();
  FListBatched = false;
  FConvertedFormat.clear();
  SetCaption(QString());
  ApplyState();
}

void TfrmMain::ShowDetails(int ARow) {
  if (ARow < 0 || ARow >= FModel->Count()) return;
  const TFileRow& Row = FModel->Row(ARow);
  FServices->Inform(this, "Failed", Row.Path() + "\n\n" + Row.Message);
}

// ---------------------------------------------------------------------------
// Converting

void TfrmMain::btnConvertClick() {
  if (FRun) {
    StopBatch();
    return;
  }
  if (FModel->Count() == 0) {
    FServices->Inform(this, "Information", "Please choose a file.");
    btnOpen->setFocus();
    return;
  }
  if (FListBatched && FConvertedFormat == FormatText() &&
      !FServices->Ask(this, "Information",
                      "File(s) from the list was already converted to this format\r\n" + FConvertedFormat +
                          "\r\nDo you wish to convert agin?"))
    return;
  if (!LibrariesReady()) return;
  StartBatch();
}

void TfrmMain::StartBatch() {
  FModel->SetAllReady();
  FBatchKeys.clear();
  FMissing.clear();
  std::vector<std::string> Files;
  for (int R = 0; R < FModel->Count(); ++R) {
    const TFileRow& Row = FModel->Row(R);
    if (!QFileInfo::exists(Row.Path())) {
      // Gone since it was listed: its row says so and the others keep their own files.
      FModel->SetEnded(Row.Key, TRowStatus::Failed, "the file is no longer there", QString());
      FMissing << Row.Path();
      continue;
    }
    FBatchKeys.push_back(Row.Key);
    Files.push_back(Row.Path().toStdString());
  }
  FListBatched = true;
  FConvertedFormat.clear();
  if (Files.empty()) {
    SetCaption(" [Ready]");
    FServices->Inform(this, "Information", "None of the listed files can be found any more.");
    return;
  }
  TBatchSettings Settings;
  Settings.SameFolder = chkSameFolder->isChecked();
  if (!Settings.SameFolder) Settings.OutputFolder = OutputFolderText().toStdString();
  Settings.Jobs = FSettings.Jobs;
  Settings.BitrateKbits = selBitrate->currentData().toInt();
  Settings.LogLevel = llQuiet;

  auto Run = std::make_unique<TBatchRun>(Settings);
  QString Error;
  bool LibrariesFailed = false;
  if (!Run->Prepare(Files, Error, LibrariesFailed)) {
    SetCaption(" [Ready]");
    FServices->ShowError(this, LibrariesFailed ? QString(LibraryError) : "Error: " + Error);
    return;
  }
  FRun = Run.release();
  connect(FRun, &TBatchRun::Progress, this, &TfrmMain::OnProgress);
  connect(FRun, &TBatchRun::Ended, this, &TfrmMain::OnEnded);
  connect(FRun, &TBatchRun::TotalsChanged, this, &TfrmMain::OnTotals);
  connect(FRun, &TBatchRun::Finished, this, &TfrmMain::OnBatchFinished);
  FCancelled = false;
  FLastOutputFolder = Settings.SameFolder ? QString() : FRun->OutputFolder();
  btnOpenOutput->hide();
  pbOverall->setValue(0);
  pbOverall->show();
  lblTimeLeft->setText(QString("0 of %1 file(s)").arg(Files.size()));
  SetCaption(" [Converting...]");
  ApplyState();
  FBusyTimer->start();
  FRun->Start();
}

void TfrmMain::StopBatch() {
  FCancelled = true;
  FRun->Stop();
  ApplyState();
}

void TfrmMain::OnProgress(int AId, qint64 ADoneMs, qint64 ATotalMs) {
  if (AId >= 0 && static_cast<size_t>(AId) < FBatchKeys.size()) FModel->SetProgress(FBatchKeys[AId], ADoneMs, ATotalMs);
}

void TfrmMain::OnEnded(int AId, TFileOutcome AOutcome, const QString& AMessage, const QString& AOutput) {
  if (AId < 0 || static_cast<size_t>(AId) >= FBatchKeys.size()) return;
  const quint64 Key = FBatchKeys[AId];
  switch (AOutcome) {
    case TFileOutcome::Done: FModel->SetEnded(Key, TRowStatus::Done, QString(), AOutput); break;
    case TFileOutcome::Failed: FModel->SetEnded(Key, TRowStatus::Failed, AMessage, QString()); break;
    default: FModel->SetEnded(Key, TRowStatus::Canceled, AMessage, AOutput); break;
  }
  if (AOutcome == TFileOutcome::Done && FLastOutputFolder.isEmpty())
    FLastOutputFolder = QFileInfo(AOutput).absolutePath();
}

void TfrmMain::OnTotals(const TBatchTotals& ATotals) {
  if (ATotals.TotalMs > 0)
    pbOverall->setValue(static_cast<int>(std::min<int64_t>(1000, ATotals.DoneMs * 1000 / ATotals.TotalMs)));
  QString Text = QString("%1 of %2 file(s)").arg(ATotals.Ended()).arg(ATotals.Files);
  if (ATotals.SecondsLeft >= 0) Text += ", about " + QString::fromStdString(FormatDuration(static_cast<int64_t>(ATotals.SecondsLeft * 1000))) + " left";
  lblTimeLeft->setText(Text);
}

void TfrmMain::OnBatchFinished() {
  TBatchRun* Run = FRun;
  FRun = nullptr;
  const TBatchTotals Totals = Run->Totals();
  Run->deleteLater();
  FBusyTimer->stop();
  const bool Cancelled = FCancelled;
  if (Cancelled) {
    FModel->CancelUnfinished();
  } else {
    FConvertedFormat = FormatText();
  }
  ReportBatchEnd(Cancelled, Totals.Done, Totals.Failed + static_cast<int>(FMissing.size()));
  ApplyState();
  emit BatchFinished();
}

void TfrmMain::ReportBatchEnd(bool ACancelled, int ADone, int AFailed) {
  QString Suffix = ACancelled ? " [Job Canceled]" : " [Done]";
  if (!ACancelled && AFailed > 0) Suffix = QString(" [Done, %1 failed]").arg(AFailed);
  SetCaption(Suffix);
  // Stopped files count as ended in the batch's audio; the bar shows what was converted.
  const int Files = std::max(ADone + AFailed, FModel->Count());
  pbOverall->setValue(ACancelled ? (Files > 0 ? ADone * 1000 / Files : 0) : 1000);
  lblTimeLeft->setText(QString("%1 converted, %2 failed").arg(ADone).arg(AFailed));
  btnOpenOutput->setVisible(ADone > 0 && !FLastOutputFolder.isEmpty());

  QString Body = QString("%1 file(s) converted").arg(ADone);
  if (AFailed > 0) Body += QString(", %1 failed").arg(AFailed);
  FNotifier->Notify(ACancelled ? "Pemmet: conversion stopped" : "Pemmet: conversion done", Body);

  if (AFailed == 0) return;
  QStringList Lines;
  for (int R = 0; R < FModel->Count(); ++R) {
    const TFileRow& Row = FModel->Row(R);
    if (Row.Status == TRowStatus::Failed) Lines << Row.Path() + ": " + Row.Message;
  }
  FServices->ShowFailures(this, "Conversion failures", QString("%1 file(s) could not be converted.").arg(AFailed),
                          Lines);
}

// ---------------------------------------------------------------------------
// Folders and links

void TfrmMain::btnFolderChangeClick() {
  const QString Folder = FServices->ChooseFolder(this, "Select an Output Folder:");
  if (!Folder.isEmpty()) txtOutput->setText(Folder);
}

void TfrmMain::btnBrowseClick() { FServices->OpenUrl(QUrl::fromLocalFile(OutputFolderText())); }

void TfrmMain::OpenDocumentation() { FServices->OpenUrl(DocumentationUrl()); }

void TfrmMain::ShowProducts() {
  if (!FProducts) {
    FProducts = new TfrmProducts(this);
    FProducts->setAttribute(Qt::WA_DeleteOnClose);
  }
  FProducts->show();
  FProducts->raise();
}
