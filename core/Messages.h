// Messages to the user go through this interface, so that tests can answer them without a
// person.
#pragma once

#include <QString>

namespace rv8 {

enum class MessageIcon { None, Information, Warning, Critical };

class Messages {
  public:
    virtual ~Messages() = default;
    // Shows a modal message with one OK button and returns when it is closed. Only for
    // messages that must be answered before anything else happens (start-up, a refused name).
    virtual void show(const QString& title, const QString& text, MessageIcon icon) = 0;
    // Shows a message with one OK button and returns at once; the message stays up until it is
    // closed. For failures met while the acquisition loop runs: the loop must not wait for a
    // person. An implementation that cannot show messages without waiting may use show().
    virtual void notify(const QString& title, const QString& text, MessageIcon icon) {
        show(title, text, icon);
    }
};

}  // namespace rv8
