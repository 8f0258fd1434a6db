#include "ui/shell/prompts.h"

using namespace Qt::StringLiterals;

namespace corvane {

const QString Prompts::Title = u"Corvane"_s;

void Prompts::error(QWidget *parent, const QString &text) {
    show(parent, Icon::Error, Title, text, QMessageBox::Ok);
}

void Prompts::information(QWidget *parent, const QString &text) {
    show(parent, Icon::Information, Title, text, QMessageBox::Ok);
}

bool Prompts::askYesNo(QWidget *parent, const QString &text) {
    return show(parent, Icon::Information, Title, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

QMessageBox::StandardButton MessageBoxPrompts::show(QWidget *parent, Icon icon,
                                                    const QString &title, const QString &text,
                                                    QMessageBox::StandardButtons buttons) {
    QMessageBox::Icon shown = QMessageBox::Information;
    switch (icon) {
    case Icon::Information:
        break;
    case Icon::Error:
        shown = QMessageBox::Critical;
        break;
    case Icon::Question:
        shown = QMessageBox::Question;
        break;
    }
    QMessageBox box(shown, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    // A question guards something that cannot be undone: Enter alone must not confirm it.
    if (icon == Icon::Question && buttons.testFlag(QMessageBox::No))
        box.setDefaultButton(QMessageBox::No);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace corvane
