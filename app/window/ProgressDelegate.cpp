#include "ProgressDelegate.h"

#include <QDateTime>
#include <algorithm>
#include <QLinearGradient>
#include <QPainter>

#include "FileListModel.h"

void TProgressDelegate::paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
                              const QModelIndex& AIndex) const {
  const QString Text = AIndex.data(Qt::DisplayRole).toString();
  if (!Text.startsWith(TFileListModel::ProgressPrefix)) {
    QStyledItemDelegate::paint(APainter, AOption, AIndex);
    return;
  }
  const QVariant Percent = AIndex.data(TFileListModel::PercentRole);
  PaintBar(APainter, AOption.rect, Percent.isValid() ? Percent.toInt() : -1);
}

void TProgressDelegate::PaintBar(QPainter* APainter, const QRect& ACell, int APercent) const {
  APainter->save();
  const QRect Frame = ACell.adjusted(2, 2, -2, -2);
  APainter->fillRect(Frame, BarEnd());
  QRect Bar = Frame;
  if (APercent >= 0) {
    Bar.setWidth(Frame.width() * APercent / 100);
  } else {
    const int Block = std::max(Frame.width() / 4, 1);
    const double Phase = BusyPhase(QDateTime::currentMSecsSinceEpoch());
    Bar = QRect(Frame.left() + static_cast<int>(Phase * (Frame.width() + Block)) - Block, Frame.top(), Block,
                Frame.height())
              .intersected(Frame);
  }
  QLinearGradient Fill(Bar.topLeft(), Bar.topRight());
  Fill.setColorAt(0, BarStart());
  Fill.setColorAt(1, BarEnd());
  APainter->fillRect(Bar, Fill);
  APainter->setPen(QColor(0x87, 0xCE, 0xEB).darker(130));
  APainter->drawRect(Frame.adjusted(0, 0, -1, -1));

  QLinearGradient Ink(Frame.topLeft(), Frame.topRight());
  Ink.setColorAt(0, Qt::black);
  Ink.setColorAt(1, QColor(0, 0, 0x80));  // navy
  APainter->setPen(QPen(QBrush(Ink), 1));
  const QString Label = APercent >= 0 ? QString::number(APercent) + "%" : QStringLiteral("converting");
  APainter->drawText(Frame, Qt::AlignCenter, Label);
  APainter->restore();
}
