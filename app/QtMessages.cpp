#include "app/QtMessages.h"

#include <QMessageBox>

namespace rv8 {

void QtMessages::show(const QString& title, const QString& text, MessageIcon icon) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
        case MessageIcon::None:
            qicon = QMessageBox::NoIcon;
            break;
        case MessageIcon::Information:
            qicon = QMessageBox::Information;
            break;
        case MessageIcon::Warning:
            qicon = QMessageBox::Warning;
            break;
        case MessageIcon::Critical:
            qicon = QMessageBox::Critical;
            break;
    }
    QMessageBox box(qicon, title, text, QMessageBox::Ok, parent_);
    box.exec();
}

}  // namespace rv8
