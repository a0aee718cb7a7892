#include "app/Dialogs.h"

#include <QMessageBox>

namespace doodle {

void QtDialogs::showMessage(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace doodle
