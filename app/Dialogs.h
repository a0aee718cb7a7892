#pragma once

#include "program/ExportCaptions.h"
#include "program/ProgramView.h"

#include <QString>

class QWidget;

namespace doodle {

// The program's modal dialogs, behind an interface so that tests can answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal box with one OK button and no icon; returns when it is dismissed.
    virtual void showMessage(QWidget* parent, const QString& title, const QString& text) = 0;
    // A save dialog starting at `proposedPath` (a folder, or a folder and a name) with a
    // one-entry filter. A name typed without `extension` (".sav") gets it, and an existing file
    // under the final name is replaced only after the person said so. Returns the chosen path,
    // empty when cancelled.
    virtual QString chooseSaveFile(QWidget* parent, const QString& title,
                                   const QString& proposedPath, const QString& filter,
                                   const QString& extension) = 0;
    // An open dialog; the chosen file need not exist, its folder must. Empty when cancelled.
    virtual QString chooseOpenFile(QWidget* parent, const QString& title, const QString& folder,
                                   const QString& filter) = 0;
    // Save, Discard or Cancel, asked before unsaved lines go.
    virtual SaveChoice askSaveChanges(QWidget* parent, const QString& title,
                                      const QString& text) = 0;

    // A modal question about an exported sound that passes full scale, with the buttons of
    // ClipAnswer's captions; Escape and closing it answer ClipAnswer::Cancel.
    virtual ClipAnswer askAboutClipping(QWidget* parent, const QString& title,
                                        const QString& text) = 0;
};

class QtDialogs final : public Dialogs {
public:
    void showMessage(QWidget* parent, const QString& title, const QString& text) override;
    QString chooseSaveFile(QWidget* parent, const QString& title, const QString& proposedPath,
                           const QString& filter, const QString& extension) override;
    QString chooseOpenFile(QWidget* parent, const QString& title, const QString& folder,
                           const QString& filter) override;
    SaveChoice askSaveChanges(QWidget* parent, const QString& title, const QString& text) override;

    ClipAnswer askAboutClipping(QWidget* parent, const QString& title,
                                const QString& text) override;
};

} // namespace doodle
