// Answers the window's modal messages at once and remembers them.
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
    };
    std::vector<Shown> shown;
    std::function<void()> whileShown;  // runs while the message is "up"

    void show(const QString& title, const QString& text, MessageIcon icon) override {
        shown.push_back({title, text, icon});
        if (whileShown) whileShown();
    }
};

}  // namespace rv8::testing
