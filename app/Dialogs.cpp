#include "app/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace doodle {

void QtDialogs::showMessage(QWidget* parent, const QString& title, const QString& text) {
    // An empty title would make Qt show the executable's name in its place on X11; a blank
    // one shows nothing.
    const QString shownTitle = title.isEmpty() ? QStringLiteral(" ") : title;
    QMessageBox box(QMessageBox::NoIcon, shownTitle, text, QMessageBox::Ok, parent);
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
