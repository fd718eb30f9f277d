#include "FileListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>

#include <algorithm>

namespace {

QStringList LocalPaths(const QMimeData* AData) {
  QStringList Paths;
  if (!AData) return Paths;
  for (const QUrl& Url : AData->urls())
    if (Url.isLocalFile()) Paths << Url.toLocalFile();
  return Paths;
}

}  // namespace

TFileListView::TFileListView(QWidget* AParent) : QTableView(AParent) {
  setSelectionBehavior(SelectRows);
  setSelectionMode(ExtendedSelection);
  setEditTriggers(NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setContextMenuPolicy(Qt::CustomContextMenu);
  verticalHeader()->hide();
  // Rows of one fixed height: the list never measures rows, however many it holds.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(std::max(22, fontMetrics().height() + 8));
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setHighlightSections(false);
}

QList<int> TFileListView::SelectedRows() const {
  QList<int> Rows;
  if (!selectionModel()) return Rows;
  for (const QModelIndex& Index : selectionModel()->selectedRows()) Rows << Index.row();
  return Rows;
}

void TFileListView::dragEnterEvent(QDragEnterEvent* AEvent) {
  if (FEditable && !LocalPaths(AEvent->mimeData()).isEmpty())
    AEvent->acceptProposedAction();
  else
    AEvent->ignore();
}

void TFileListView::dragMoveEvent(QDragMoveEvent* AEvent) {
  if (FEditable && !LocalPaths(AEvent->mimeData()).isEmpty())
    AEvent->acceptProposedAction();
  else
    AEvent->ignore();
}

void TFileListView::dropEvent(QDropEvent* AEvent) {
  const QStringList Paths = LocalPaths(AEvent->mimeData());
  if (!FEditable || Paths.isEmpty()) {
    AEvent->ignore();
    return;
  }
  AEvent->acceptProposedAction();
  emit PathsDropped(Paths);
}

void TFileListView::keyPressEvent(QKeyEvent* AEvent) {
  if (AEvent->key() == Qt::Key_Delete && AEvent->modifiers() == Qt::NoModifier) {
    if (FEditable) emit DeletePressed();
    AEvent->accept();
    return;
  }
  QTableView::keyPressEvent(AEvent);
}
