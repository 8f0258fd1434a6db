#pragma once

#include <QString>

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

} // namespace corvane
