#include "FileListModel.h"

#include <QFileInfo>

#include <algorithm>

TFileListModel::TFileListModel(QObject* AParent) : QAbstractTableModel(AParent) {}

int TFileListModel::rowCount(const QModelIndex& AParent) const { return AParent.isValid() ? 0 : FRows.size(); }

int TFileListModel::columnCount(const QModelIndex& AParent) const { return AParent.isValid() ? 0 : ColumnCount; }

QString TFileListModel::StatusText(const TFileRow& ARow) {
  switch (ARow.Status) {
    case TRowStatus::Ready: return QStringLiteral("Ready");
    case TRowStatus::Converting:
      return ARow.Percent < 0 ? QString(ProgressPrefix) : QString(ProgressPrefix) + QString::number(ARow.Percent);
    case TRowStatus::Done: return QStringLiteral("Done");
    case TRowStatus::Failed: return QStringLiteral("Failed");
    case TRowStatus::Canceled: return QStringLiteral("Canceled");
  }
  return QString();
}

QVariant TFileListModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid() || AIndex.row() >= FRows.size()) return QVariant();
  const TFileRow& R = FRows[AIndex.row()];
  switch (ARole) {
    case Qt::DisplayRole:
      if (AIndex.column() == SourceColumn) return R.Name;
      if (AIndex.column() == StatusColumn) return StatusText(R);
      return R.Folder;
    case Qt::ToolTipRole:
      if (R.Status == TRowStatus::Failed) return R.Path() + "\nFailed: " + R.Message;
      if (R.Status == TRowStatus::Done && !R.Output.isEmpty()) return R.Path() + "\n\u2192 " + R.Output;
      return R.Path();
    case PercentRole: return R.Status == TRowStatus::Converting ? R.Percent : QVariant();
    case StatusRole: return static_cast<int>(R.Status);
    default: return QVariant();
  }
}

QVariant TFileListModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
  if (AOrientation != Qt::Horizontal || ARole != Qt::DisplayRole) return QVariant();
  static const char* const Titles[ColumnCount] = {"Source", "Status", "Path"};
  return ASection >= 0 && ASection < ColumnCount ? QString(Titles[ASection]) : QVariant();
}

int TFileListModel::Append(const QStringList& APaths) {
  QVector<TFileRow> New;
  for (const QString& Path : APaths) {
    const QString Absolute = QFileInfo(Path).absoluteFilePath();
    if (FPaths.contains(Absolute)) continue;
    FPaths.insert(Absolute);
    const qsizetype Slash = Absolute.lastIndexOf('/');
    TFileRow Row;
    Row.Name = Absolute.mid(Slash + 1);
    Row.Folder = Absolute.left(Slash + 1);
    Row.Key = FNextKey++;
    New.push_back(std::move(Row));
  }
  if (New.isEmpty()) return 0;
  const int First = FRows.size();
  beginInsertRows(QModelIndex(), First, First + New.size() - 1);
  for (TFileRow& Row : New) {
    FRowOfKey.insert(Row.Key, FRows.size());
    FRows.push_back(std::move(Row));
  }
  endInsertRows();
  return New.size();
}

void TFileListModel::Clear() {
  if (FRows.isEmpty()) return;
  beginResetModel();
  FRows.clear();
  FRowOfKey.clear();
  FPaths.clear();
  endResetModel();
}

void TFileListModel::Remove(QList<int> ARows) {
  std::sort(ARows.begin(), ARows.end(), std::greater<int>());
  ARows.erase(std::unique(ARows.begin(), ARows.end()), ARows.end());
  // Each run of neighbours goes in one step, from the end, so positions still hold.
  for (qsizetype I = 0; I < ARows.size();) {
    qsizetype J = I;
    while (J + 1 < ARows.size() && ARows[J + 1] == ARows[J] - 1) ++J;
    const int Last = ARows[I], First = ARows[J];
    if (First >= 0 && Last < FRows.size()) {
      beginRemoveRows(QModelIndex(), First, Last);
      for (int R = First; R <= Last; ++R) FPaths.remove(FRows[R].Path());
      FRows.erase(FRows.begin() + First, FRows.begin() + Last + 1);
      endRemoveRows();
    }
    I = J + 1;
  }
  IndexKeys();
}

void TFileListModel::IndexKeys() {
  FRowOfKey.clear();
  for (int R = 0; R < FRows.size(); ++R) FRowOfKey.insert(FRows[R].Key, R);
}

int TFileListModel::CountOf(TRowStatus AStatus) const {
  return static_cast<int>(
      std::count_if(FRows.begin(), FRows.end(), [AStatus](const TFileRow& R) { return R.Status == AStatus; }));
}

bool TFileListModel::AnyBusy() const {
  return std::any_of(FRows.begin(), FRows.end(),
                     [](const TFileRow& R) { return R.Status == TRowStatus::Converting && R.Percent < 0; });
}

void TFileListModel::RowChanged(int ARow) { emit dataChanged(index(ARow, 0), index(ARow, ColumnCount - 1)); }

void TFileListModel::SetAllReady() {
  if (FRows.isEmpty()) return;
  for (TFileRow& R : FRows) {
    R.Status = TRowStatus::Ready;
    R.Percent = 0;
    R.Message.clear();
    R.Output.clear();
  }
  emit dataChanged(index(0, 0), index(FRows.size() - 1, ColumnCount - 1));
}

void TFileListModel::SetProgress(quint64 AKey, qint64 ADoneMs, qint64 ATotalMs) {
  const int R = RowOfKey(AKey);
  if (R < 0) return;
  TFileRow& Row = FRows[R];
  const int Percent = ATotalMs > 0 ? static_cast<int>(std::clamp<qint64>(ADoneMs * 100 / ATotalMs, 0, 100)) : -1;
  if (Row.Status == TRowStatus::Converting && Row.Percent == Percent) return;
  Row.Status = TRowStatus::Converting;
  Row.Percent = Percent;
  RowChanged(R);
}

void TFileListModel::SetEnded(quint64 AKey, TRowStatus AStatus, const QString& AMessage, const QString& AOutput) {
  const int R = RowOfKey(AKey);
  if (R < 0) return;
  TFileRow& Row = FRows[R];
  Row.Status = AStatus;
  Row.Message = AMessage;
  Row.Output = AOutput;
  RowChanged(R);
}

void TFileListModel::CancelUnfinished() {
  for (int R = 0; R < FRows.size(); ++R)
    if (FRows[R].Status != TRowStatus::Done && FRows[R].Status != TRowStatus::Failed) {
      FRows[R].Status = TRowStatus::Canceled;
      RowChanged(R);
    }
}
