// The rows of the file list: one file each, with its state in the current batch.
// Changed only on the window's thread; conversions reach it through queued calls.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

enum class TRowStatus { Ready, Converting, Done, Failed, Canceled };

struct TFileRow {
  QString Name;    // without folder
  QString Folder;  // with its trailing "/"
  TRowStatus Status = TRowStatus::Ready;
  int Percent = 0;  // while converting; -1 when the length is unknown
  QString Message;  // why it failed
  QString Output;   // the file it became
  quint64 Key = 0;  // stays the row's while rows come and go
  QString Path() const { return Folder + Name; }
};

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum TColumn { SourceColumn, StatusColumn, PathColumn, ColumnCount };
  // The Status cell's percentage, -1 for a length that is not known.
  static constexpr int PercentRole = Qt::UserRole + 1;
  static constexpr int StatusRole = Qt::UserRole + 2;
  // A Status cell beginning with this is drawn as a bar.
  static constexpr const char* ProgressPrefix = "{|";

  explicit TFileListModel(QObject* AParent = nullptr);

  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override;

  // Files already listed are left out; returns how many were added.
  int Append(const QStringList& APaths);
  void Clear();
  // Rows by position, in any order.
  void Remove(QList<int> ARows);

  const TFileRow& Row(int ARow) const { return FRows[ARow]; }
  int Count() const { return FRows.size(); }
  // -1 when the row is gone.
  int RowOfKey(quint64 AKey) const { return FRowOfKey.value(AKey, -1); }
  int CountOf(TRowStatus AStatus) const;
  bool AnyBusy() const;

  void SetAllReady();
  // ATotalMs not positive: the bar shows that the file converts, not how far.
  void SetProgress(quint64 AKey, qint64 ADoneMs, qint64 ATotalMs);
  void SetEnded(quint64 AKey, TRowStatus AStatus, const QString& AMessage, const QString& AOutput);
  // After a stop: every row that did not end as Done or Failed.
  void CancelUnfinished();

  static QString StatusText(const TFileRow& ARow);

private:
  void RowChanged(int ARow);
  void IndexKeys();

  QVector<TFileRow> FRows;
  QHash<quint64, int> FRowOfKey;
  QSet<QString> FPaths;
  quint64 FNextKey = 1;
};
