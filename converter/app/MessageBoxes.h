// The converter's message boxes as values, shown through a replaceable
// function: the program shows them modally, tests answer them without a
// window.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace orvale::converter {

struct message_box_s {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Answers the button the operator chose.
using MessageBoxFn = std::function<QMessageBox::StandardButton(QWidget*, const message_box_s&)>;

// A modal box over `parent`.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const message_box_s& box);

}  // namespace orvale::converter
