#include "converter/app/MessageBoxes.h"

namespace orvale::converter {

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const message_box_s& box) {
    QMessageBox message(box.icon, box.caption, box.text, box.buttons, parent);
    return static_cast<QMessageBox::StandardButton>(message.exec());
}

}  // namespace orvale::converter
