#pragma once

#include <QString>

class QWidget;

namespace doodle {

// The program's modal dialogs, behind an interface so that tests can answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal box with one OK button and no icon; returns when it is dismissed.
    virtual void showMessage(QWidget* parent, const QString& title, const QString& text) = 0;
};

class QtDialogs final : public Dialogs {
public:
    void showMessage(QWidget* parent, const QString& title, const QString& text) override;
};

} // namespace doodle
