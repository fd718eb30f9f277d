// The report list: whole rows selected, grid lines, rows of one height, files and
// folders dropped onto it, Delete for the selected rows.
#pragma once

#include <QStringList>
#include <QTableView>

class TFileListView : public QTableView {
  Q_OBJECT
public:
  explicit TFileListView(QWidget* AParent = nullptr);
  // Drops and Delete are turned off while a batch converts.
  void SetEditable(bool AEditable) { FEditable = AEditable; }
  QList<int> SelectedRows() const;

signals:
  void PathsDropped(const QStringList& APaths);
  void DeletePressed();

protected:
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dragMoveEvent(QDragMoveEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;
  void keyPressEvent(QKeyEvent* AEvent) override;

private:
  bool FEditable = true;
};
