// Draws a Status cell that reads "{|N" as a bar of N percent, and "{|" alone as a
// busy bar: a block that sweeps across while a file of unknown length converts.
#pragma once

#include <QStyledItemDelegate>

class TProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* APainter, const QStyleOptionViewItem& AOption, const QModelIndex& AIndex) const override;

  // The bar's own colours: light, so its dark text reads the same in any theme.
  static QColor BarStart() { return QColor(0x87, 0xCE, 0xEB); }  // sky blue
  static QColor BarEnd() { return Qt::white; }

  // Where the busy block is at a time, in [0, 1): one sweep in 1.5 s.
  static double BusyPhase(qint64 AMsecs) { return (AMsecs % 1500) / 1500.0; }

private:
  void PaintBar(QPainter* APainter, const QRect& ACell, int APercent) const;
};
