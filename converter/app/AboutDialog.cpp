#include "converter/app/AboutDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "converter/app/AppIcon.h"

namespace orvale::converter {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("zolvane 정보"));
    auto* icon = new QLabel;
    icon->setPixmap(AppIcon().pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("zolvane, 버전 1.0"));
    auto* ok = new QPushButton(QStringLiteral("확인"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    setLayout(row);
    setFixedSize(sizeHint());
}

}  // namespace orvale::converter
