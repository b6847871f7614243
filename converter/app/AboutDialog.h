// The converter's About box: icon, name and version, and an OK button.
#pragma once

#include <QDialog>

namespace orvale::converter {

class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace orvale::converter
