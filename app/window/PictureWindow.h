// The picture shown after the main window closes: closes on its button, on Escape,
// or by itself after a few seconds; a click on the picture opens the documentation.
#pragma once

#include <QDialog>
#include <functional>

class TfrmSplash : public QDialog {
  Q_OBJECT
public:
  explicit TfrmSplash(std::function<void()> AOnPictureClick, int ACloseAfterMs = 5000, QWidget* AParent = nullptr);

protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override;

private:
  std::function<void()> FOnPictureClick;
  QWidget* FPicture = nullptr;
};
