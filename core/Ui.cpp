#include "core/Ui.h"

namespace rv8 {

void SelectItem(QComboBox& box, int index) {
    box.setCurrentIndex(index);
    emit box.activated(box.currentIndex());
}

void WriteDisabledBox(QLineEdit& box, const QString& text) {
    box.setEnabled(true);
    box.setText(text);
    box.setEnabled(false);
}

}  // namespace rv8
