// The "More Software" window: the parts of the product, one line each.
#pragma once

#include <QDialog>

class TfrmProducts : public QDialog {
  Q_OBJECT
public:
  explicit TfrmProducts(QWidget* AParent = nullptr);
};
