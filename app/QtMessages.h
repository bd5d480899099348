// Modal messages shown with Qt's message box.
#pragma once

#include <QWidget>

#include "core/Messages.h"

namespace rv8 {

class QtMessages final : public Messages {
  public:
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const QString& title, const QString& text, MessageIcon icon) override;

  private:
    QWidget* parent_ = nullptr;
};

}  // namespace rv8
