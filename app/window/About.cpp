#include "About.h"

#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "Platform.h"

QUrl DocumentationUrl() {
  const QString Installed = QString::fromStdString(Platform::ProgramFolder()) + "../share/doc/pemmet/README.md";
  if (QFileInfo::exists(Installed)) return QUrl::fromLocalFile(QFileInfo(Installed).canonicalFilePath());
  return QUrl::fromLocalFile(QStringLiteral(PEMMET_SOURCE_README));
}

QVector<TProduct> Products() {
  return {
      {"pemmet", "The window: list files, pick a folder, press Convert! and watch each file become an MP3."},
      {"pemmet-convert", "The console converter: the same conversions from a terminal or a script."},
      {"Pemmet engine", "The conversion library underneath both: the FFmpeg libraries' transcoder as an object."},
  };
}

QPixmap MakeBanner(const QSize& ASize, qreal ADevicePixelRatio, const QString& ASubtitle) {
  QPixmap Picture(ASize * ADevicePixelRatio);
  Picture.setDevicePixelRatio(ADevicePixelRatio);
  QPainter P(&Picture);
  P.setRenderHint(QPainter::Antialiasing);
  const QRectF Area(QPointF(0, 0), QSizeF(ASize));
  QLinearGradient Band(Area.topLeft(), Area.topRight());
  Band.setColorAt(0, QColor(0x12, 0x3a, 0x6b));
  Band.setColorAt(1, QColor(0x3f, 0x9c, 0xd6));
  P.fillRect(Area, Band);
  // A few sound waves behind the title.
  P.setPen(QPen(QColor(255, 255, 255, 60), 2));
  for (int Wave = 0; Wave < 3; ++Wave) {
    QPainterPath Path;
    const qreal Mid = Area.height() * (0.35 + 0.15 * Wave);
    Path.moveTo(0, Mid);
    for (qreal X = 0; X <= Area.width(); X += 4)
      Path.lineTo(X, Mid + std::sin(X / (30.0 + 12 * Wave)) * Area.height() * 0.12);
    P.drawPath(Path);
  }
  QFont Title = P.font();
  Title.setBold(true);
  Title.setPixelSize(std::max(12, static_cast<int>(Area.height() * 0.42)));
  P.setFont(Title);
  P.setPen(Qt::white);
  const QRectF Text = Area.adjusted(Area.height() * 0.3, 0, 0, -Area.height() * 0.38);
  P.drawText(Text, Qt::AlignLeft | Qt::AlignVCenter, ProductTitle);
  QFont Small = P.font();
  Small.setBold(false);
  Small.setPixelSize(std::max(9, static_cast<int>(Area.height() * 0.16)));
  P.setFont(Small);
  P.drawText(Area.adjusted(Area.height() * 0.3, Area.height() * 0.62, 0, 0), Qt::AlignLeft | Qt::AlignTop,
             ASubtitle);
  return Picture;
}
