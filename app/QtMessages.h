// Messages shown with Qt's message box: modal ones wait for OK, notifications return at once.
#pragma once

#include <vector>

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "core/Messages.h"

namespace rv8 {

class QtMessages final : public Messages {
  public:
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const QString& title, const QString& text, MessageIcon icon) override;
    // A window-modal box over the window (QMessageBox::open): the event loop, and with it the
    // acquisition loop, goes on while it is up. The text also goes to standard error, for an
    // instrument nobody watches. A notification equal to one still up is not shown twice.
    void notify(const QString& title, const QString& text, MessageIcon icon) override;
    // The notifications still up, oldest first.
    std::vector<QMessageBox*> notificationsUp() const;

  private:
    QWidget* parent_ = nullptr;
    std::vector<QPointer<QMessageBox>> notes_;
};

}  // namespace rv8
