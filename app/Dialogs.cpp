#include "app/Dialogs.h"

#include "program/Exports.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
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

QString QtDialogs::chooseSaveFile(QWidget* parent, const QString& title,
                                  const QString& proposedPath, const QString& filter,
                                  const QString& extension) {
    QFileDialog dialog(parent, title, proposedPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog adds the extension before it checks for a file to replace, so that the
    // question is asked about the name the file gets.
    dialog.setDefaultSuffix(extension.startsWith(u'.') ? extension.mid(1) : extension);
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        // Qt adds no suffix to a name with a dot ("take.2"), which the program then extends:
        // that name is asked about here, as the dialog asks about the others.
        const QString chosen = dialog.selectedFiles().constFirst();
        const QString stored = QString::fromStdString(
            fileNameWithExtension(chosen.toStdString(), extension.toStdString()));
        if (stored == chosen || !QFileInfo::exists(stored) ||
            QMessageBox::warning(&dialog, title,
                                 QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                     .arg(QFileInfo(stored).fileName()),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes) {
            return stored;
        }
    }
    return {};
}

QString QtDialogs::chooseOpenFile(QWidget* parent, const QString& title, const QString& folder,
                                  const QString& filter) {
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name that names nothing is answered by the reader's reason, as any other.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

SaveChoice QtDialogs::askSaveChanges(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    // Letters that answer without the mouse: S saves, D discards, Escape cancels.
    box.button(QMessageBox::Save)->setText(QStringLiteral("&Save"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("&Discard"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveChoice::Save;
    case QMessageBox::Discard:
        return SaveChoice::Discard;
    default:
        return SaveChoice::Cancel;
    }
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
