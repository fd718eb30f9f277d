// The product: its title, its documentation page, its parts, and the banner picture.
#pragma once

#include <QPixmap>
#include <QString>
#include <QUrl>
#include <QVector>

inline const char* const ProductTitle = "Pemmet";

// The installed README when the program is installed, else the one of the source tree
// it was built from.
QUrl DocumentationUrl();

struct TProduct {
  QString Name;
  QString Line;
};
// The window, the console converter and the engine library, one line each.
QVector<TProduct> Products();

// The banner: the title over a band of colour, drawn for any size and scale.
QPixmap MakeBanner(const QSize& ASize, qreal ADevicePixelRatio, const QString& ASubtitle);
