#include "app/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace doodle {

void QtDialogs::showMessage(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

namespace {

QString runFileDialog(QWidget* parent, const QString& title, const QString& start,
                      const QString& filter, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, title, start, filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString QtDialogs::chooseSaveFile(QWidget* parent, const QString& title,
                                  const QString& proposedPath, const QString& filter) {
    return runFileDialog(parent, title, proposedPath, filter, QFileDialog::AcceptSave);
}

QString QtDialogs::chooseOpenFile(QWidget* parent, const QString& title, const QString& folder,
                                  const QString& filter) {
    return runFileDialog(parent, title, folder, filter, QFileDialog::AcceptOpen);
}

} // namespace doodle
