// Modal messages go through this interface, so that tests can answer them without a person.
#pragma once

#include <QString>

namespace rv8 {

enum class MessageIcon { None, Information, Warning, Critical };

class Messages {
  public:
    virtual ~Messages() = default;
    // Shows a modal message with one OK button and returns when it is closed.
    virtual void show(const QString& title, const QString& text, MessageIcon icon) = 0;
};

}  // namespace rv8
