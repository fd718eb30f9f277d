#include "ProductList.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "About.h"

TfrmProducts::TfrmProducts(QWidget* AParent) : QDialog(AParent) {
  setObjectName("frmProducts");
  setWindowTitle(QString(ProductTitle) + " - More Software");
  auto* Layout = new QVBoxLayout(this);
  for (const TProduct& Product : Products()) {
    auto* Line = new QLabel("<b>" + Product.Name.toHtmlEscaped() + "</b> \u2014 " + Product.Line.toHtmlEscaped(), this);
    Line->setWordWrap(true);
    Layout->addWidget(Line);
  }
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  Layout->addWidget(Buttons);
}
