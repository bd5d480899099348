// Answers the window's modal messages at once and remembers them, with its non-blocking
// notifications.
#pragma once

#include <functional>
#include <vector>

#include "core/Messages.h"

namespace rv8::testing {

class FakeMessages : public Messages {
  public:
    struct Shown {
        QString title;
        QString text;
        MessageIcon icon;
        bool modal = true;  // false: given to notify()
    };
    // Every message in order, modal or not.
    std::vector<Shown> shown;
    std::function<void()> whileShown;  // runs while a modal message is "up"

    void show(const QString& title, const QString& text, MessageIcon icon) override {
        shown.push_back({title, text, icon, true});
        if (whileShown) whileShown();
    }
    void notify(const QString& title, const QString& text, MessageIcon icon) override {
        shown.push_back({title, text, icon, false});
    }
};

}  // namespace rv8::testing
