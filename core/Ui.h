// Small helpers for driving controls from code exactly as a user would.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>

namespace rv8 {

// Selects an item of a drop-down list and runs its selection handler at once, as a user's
// pick does (handlers listen to QComboBox::activated, which a plain setCurrentIndex skips).
void SelectItem(QComboBox& box, int index);

// Display and read-back boxes stay disabled: enable, write the text, disable again.
// Writing a box's text from code runs its change handler when the text differs.
void WriteDisabledBox(QLineEdit& box, const QString& text);

}  // namespace rv8
