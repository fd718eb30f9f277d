#include "PictureWindow.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "About.h"

TfrmSplash::TfrmSplash(std::function<void()> AOnPictureClick, int ACloseAfterMs, QWidget* AParent)
    : QDialog(AParent, Qt::FramelessWindowHint | Qt::Dialog), FOnPictureClick(std::move(AOnPictureClick)) {
  setObjectName("frmSplash");
  setWindowTitle(ProductTitle);
  auto* Layout = new QVBoxLayout(this);
  auto* Picture = new QLabel(this);
  Picture->setObjectName("imgPicture");
  Picture->setPixmap(MakeBanner(QSize(480, 200), devicePixelRatioF(), "Thank you for converting with Pemmet"));
  Picture->setCursor(Qt::PointingHandCursor);
  Picture->installEventFilter(this);
  FPicture = Picture;
  auto* Close = new QPushButton("Close", this);
  Close->setObjectName("btnClose");
  Close->setDefault(true);
  connect(Close, &QPushButton::clicked, this, &QDialog::accept);
  Layout->addWidget(Picture);
  Layout->addWidget(Close, 0, Qt::AlignRight);
  if (ACloseAfterMs > 0) QTimer::singleShot(ACloseAfterMs, this, &QDialog::accept);
}

bool TfrmSplash::eventFilter(QObject* AObject, QEvent* AEvent) {
  if (AObject == FPicture && AEvent->type() == QEvent::MouseButtonRelease && FOnPictureClick) {
    FOnPictureClick();
    return true;
  }
  return QDialog::eventFilter(AObject, AEvent);
}
