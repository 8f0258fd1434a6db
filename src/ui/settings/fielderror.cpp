#include "ui/settings/fielderror.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

QLabel *addFieldWithError(QFormLayout *form, const QString &label, QLineEdit *field) {
    // The field and its error line share one cell, so a hidden line takes no room.
    auto *cell = new QWidget(field->parentWidget());
    auto *column = new QVBoxLayout(cell);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(field);
    auto *line = new QLabel(cell);
    line->setObjectName(field->objectName() + u"Error"_s);
    line->setWordWrap(true);
    // No palette role carries an error colour; this red reads on light and dark themes.
    line->setStyleSheet(u"color: #d32f2f;"_s);
    line->hide();
    column->addWidget(line);
    form->addRow(label, cell);
    if (auto *caption = qobject_cast<QLabel *>(form->labelForField(cell)))
        caption->setBuddy(field);
    QObject::connect(field, &QLineEdit::textEdited, line, &QLabel::hide);
    return line;
}

bool showFieldError(QLabel *line, const QString &text) {
    line->setText(text);
    line->setVisible(!text.isEmpty());
    return !text.isEmpty();
}

bool showFieldErrors(std::initializer_list<FieldVerdict> verdicts) {
    QLineEdit *first = nullptr;
    for (const FieldVerdict &v : verdicts)
        if (showFieldError(v.line, v.problem) && !first)
            first = v.field;
    if (first) {
        first->setFocus();
        // The lines wrap: the window grows to show them whole.
        first->window()->adjustSize();
    }
    return first != nullptr;
}

} // namespace corvane
