// TfrmMain: the list of files, the output folder and format, and the add, convert and
// stop workflows. Conversions run through a batch driver on a thread of their own;
// everything they report reaches the window through queued calls.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

#include "BatchDriver.h"
#include "WindowServices.h"
#include "WindowSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TBatchRun;
class TFileListModel;
class TFileListView;
class TFileScanner;
class TfrmProducts;

struct TWindowOptions {
  TWindowServices* Services = nullptr;  // not owned; null: the desktop's
  TNotifier* Notifier = nullptr;        // not owned; null: freedesktop notifications
  TSettingsPlaces Places = TSettingsPlaces::OfThisProgram();
  QStringList Files;  // listed at start
};

class TfrmMain : public QMainWindow {
  Q_OBJECT
public:
  static constexpr int SmallestWidth = 631;  // a size is taken only above 630 x 432
  static constexpr int SmallestHeight = 433;

  explicit TfrmMain(TWindowOptions AOptions = TWindowOptions(), QWidget* AParent = nullptr);
  ~TfrmMain() override;

  // Files and folders (walked with their subfolders), checked off the window's thread.
  void AddPaths(const QStringList& APaths);
  TFileListModel& Model() const { return *FModel; }
  bool Converting() const { return FRun != nullptr; }
  bool Loading() const;
  bool ShowPictureAtClose() const { return FSettings.ShowPicture; }
  // The output folder of the last batch ("Open output folder").
  QString LastOutputFolder() const { return FLastOutputFolder; }

signals:
  // A batch has ended and the window shows its outcome.
  void BatchFinished();

protected:
  void closeEvent(QCloseEvent* AEvent) override;
  bool eventFilter(QObject* AObject, QEvent* AEvent) override;

private:
  void BuildControls();
  QWidget* BuildTopRow();
  QWidget* BuildFolderRow();
  void BuildStatusBar();
  void BuildContextMenu();
  void ReadSettings();
  void WriteSettings();

  void btnOpenClick();
  void btnAddFolderClick();
  void btnConvertClick();
  void btnFolderChangeClick();
  void btnBrowseClick();
  void OpenDocumentation();
  void ShowProducts();
  void RemoveSelected();
  void ClearList();
  void ShowDetails(int ARow);

  bool LibrariesReady();
  void StartBatch();
  void StopBatch();
  void OnFilesFound(const QStringList& AFiles);
  void OnScanFinished(int AChecked, int AFound);
  void OnProgress(int AId, qint64 ADoneMs, qint64 ATotalMs);
  void OnEnded(int AId, TFileOutcome AOutcome, const QString& AMessage, const QString& AOutput);
  void OnTotals(const TBatchTotals& ATotals);
  void OnBatchFinished();
  void ReportBatchEnd(bool ACancelled, int ADone, int AFailed);

  void SetCaption(const QString& ASuffix);
  void ApplyState();
  QString FormatText() const;
  QString OutputFolderText() const;

  TWindowOptions FOptions;
  std::unique_ptr<TWindowServices> FOwnServices;
  std::unique_ptr<TNotifier> FOwnNotifier;
  TWindowServices* FServices = nullptr;
  TNotifier* FNotifier = nullptr;
  TWindowSettings FSettings;

  TFileListModel* FModel = nullptr;
  TFileScanner* FScanner = nullptr;
  TBatchRun* FRun = nullptr;          // the batch converting now
  std::vector<quint64> FBatchKeys;    // a driver file's Id -> its row's key
  QStringList FMissing;               // rows whose file was gone when the batch began
  bool FCancelled = false;            // "Stop" was pressed in this batch
  bool FListBatched = false;          // the rows have been through a batch
  QString FConvertedFormat;           // the format the rows were last converted to
  QString FLastOutputFolder;
  QString FOpenFilter;                // built once the libraries are loaded

  QWidget* Image1 = nullptr;
  QPushButton* btnOpen = nullptr;
  QPushButton* btnAddFolder = nullptr;
  QPushButton* btnConvert = nullptr;
  QComboBox* selFormat = nullptr;
  QComboBox* selBitrate = nullptr;
  QLabel* lnkMore = nullptr;
  QLabel* lnkWebsite = nullptr;
  TFileListView* lvFiles = nullptr;
  QLineEdit* txtOutput = nullptr;
  QPushButton* btnFolderChange = nullptr;
  QPushButton* btnBrowse = nullptr;
  QCheckBox* chkSameFolder = nullptr;
  QProgressBar* pbOverall = nullptr;
  QLabel* lblTimeLeft = nullptr;
  QPushButton* btnOpenOutput = nullptr;
  QTimer* FBusyTimer = nullptr;
  QPointer<TfrmProducts> FProducts;
};
