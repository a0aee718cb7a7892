#include "app/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

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

ClipAnswer QtDialogs::askAboutClipping(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    const auto button = [](std::string_view caption) {
        return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    };
    QPushButton* normalize = box.addButton(button(kClipNormalizeCaption), QMessageBox::AcceptRole);
    QPushButton* asIs = box.addButton(button(kClipAsIsCaption), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(button(kClipCancelCaption), QMessageBox::RejectRole);
    box.setDefaultButton(normalize);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == normalize) {
        return ClipAnswer::Normalize;
    }
    return box.clickedButton() == asIs ? ClipAnswer::ExportAsIs : ClipAnswer::Cancel;
}

} // namespace doodle
