#pragma once

#include <QString>

#include <initializer_list>

class QFormLayout;
class QLabel;
class QLineEdit;

namespace corvane {

// Adds a labelled field to a form with an error line beneath it that stays hidden until the
// field's input is refused. Returns the error line.
QLabel *addFieldWithError(QFormLayout *form, const QString &label, QLineEdit *field);

// Shows text under its field (hides the line when text is empty); returns whether it showed.
// Typing in the field hides its line again.
bool showFieldError(QLabel *line, const QString &text);

// A field, its error line and what is wrong with its input (empty: nothing).
struct FieldVerdict {
    QLineEdit *field;
    QLabel *line;
    QString problem;
};
// Shows every verdict beneath its field and puts the focus on the first refused field; true
// when any field was refused.
bool showFieldErrors(std::initializer_list<FieldVerdict> verdicts);

} // namespace corvane
