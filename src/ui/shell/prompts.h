#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace corvane {

// Every message box of the program goes through one of these, so that tests can answer them
// without a modal loop. The application's boxes carry the title "Corvane".
class Prompts {
public:
    enum class Icon { Information, Error, Question };

    static const QString Title; // "Corvane"

    virtual ~Prompts() = default;

    // Shows a box and returns the button chosen. A Question box with a No button has No as
    // its default: it asks before something that cannot be undone.
    virtual QMessageBox::StandardButton show(QWidget *parent, Icon icon, const QString &title,
                                             const QString &text,
                                             QMessageBox::StandardButtons buttons) = 0;

    // The default error box: error icon, one OK button.
    void error(QWidget *parent, const QString &text);
    // A notice: information icon, one OK button.
    void information(QWidget *parent, const QString &text);
    // A question with Yes and No; true for Yes.
    bool askYesNo(QWidget *parent, const QString &text);
};

// The boxes of the running program: modal QMessageBox dialogs.
class MessageBoxPrompts final : public Prompts {
public:
    QMessageBox::StandardButton show(QWidget *parent, Icon icon, const QString &title,
                                     const QString &text,
                                     QMessageBox::StandardButtons buttons) override;
};

} // namespace corvane
