#include "app/QtMessages.h"

#include <algorithm>
#include <cstdio>

namespace rv8 {

namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::None:
            return QMessageBox::NoIcon;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtMessages::show(const QString& title, const QString& text, MessageIcon icon) {
    QMessageBox box(QtIcon(icon), title, text, QMessageBox::Ok, parent_);
    box.exec();
}

void QtMessages::notify(const QString& title, const QString& text, MessageIcon icon) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    notes_.erase(std::remove_if(notes_.begin(), notes_.end(),
                                [](const QPointer<QMessageBox>& b) { return b.isNull(); }),
                 notes_.end());
    for (const QPointer<QMessageBox>& b : notes_) {
        if (b->isVisible() && b->windowTitle() == title && b->text() == text) {
            b->raise();
            return;
        }
    }
    auto* box = new QMessageBox(QtIcon(icon), title, text, QMessageBox::Ok, parent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    notes_.emplace_back(box);
    box->open();
}

std::vector<QMessageBox*> QtMessages::notificationsUp() const {
    std::vector<QMessageBox*> up;
    for (const QPointer<QMessageBox>& b : notes_) {
        if (!b.isNull() && b->isVisible()) up.push_back(b.data());
    }
    return up;
}

}  // namespace rv8
