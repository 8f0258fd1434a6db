#include "ui/rules/wordpairdialog.h"

#include "ui/shell/windowplacement.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

WordPairDialog::WordPairDialog(RuleLists &lists, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_lists(lists) {
    setObjectName(u"WordPairDialog"_s);
    setWindowTitle(u"Subject x and y to blacklist"_s);

    instructionLabel = new QLabel(
        u"This is a special type of filter, it allows you to hit two words in a subject for "
        u"example - subject contains FREE and SHOP. So if an email has that those 2 words "
        u"anywhere in the subject  (FREE local SHOP or FREE SHOP) then it will be marked as "
        u"spam."_s,
        this);
    instructionLabel->setObjectName(u"instructionLabel"_s);
    instructionLabel->setWordWrap(true);

    fieldsBox = new QGroupBox(this);
    fieldsBox->setObjectName(u"fieldsBox"_s);
    wordsLabel = new QLabel(u"The two words to scan the subject for"_s, fieldsBox);
    wordsLabel->setObjectName(u"wordsLabel"_s);
    firstWordEdit = new QLineEdit(fieldsBox);
    firstWordEdit->setObjectName(u"firstWordEdit"_s);
    secondWordEdit = new QLineEdit(fieldsBox);
    secondWordEdit->setObjectName(u"secondWordEdit"_s);
    wordsLabel->setBuddy(firstWordEdit);
    descriptionLabel =
        new QLabel(u"Description for the item (not needed by recommended)"_s, fieldsBox);
    descriptionLabel->setObjectName(u"descriptionLabel"_s);
    descriptionEdit = new QLineEdit(fieldsBox);
    descriptionEdit->setObjectName(u"descriptionEdit"_s);
    descriptionLabel->setBuddy(descriptionEdit);
    auto *words = new QHBoxLayout;
    words->addWidget(firstWordEdit);
    words->addWidget(secondWordEdit);
    auto *fields = new QVBoxLayout(fieldsBox);
    fields->addWidget(wordsLabel);
    fields->addLayout(words);
    wordsError = new QLabel(fieldsBox);
    wordsError->setObjectName(u"wordsError"_s);
    wordsError->setStyleSheet(u"color: #b00020;"_s);
    wordsError->setWordWrap(true);
    wordsError->hide();
    fields->addWidget(wordsError);
    fields->addSpacing(6);
    fields->addWidget(descriptionLabel);
    fields->addWidget(descriptionEdit);

    auto *buttons = new QDialogButtonBox(this);
    okButton = buttons->addButton(u"Add Item"_s, QDialogButtonBox::AcceptRole);
    okButton->setObjectName(u"okButton"_s);
    okButton->setDefault(true);
    cancelButton = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(u"cancelButton"_s);
    connect(okButton, &QPushButton::clicked, this, &WordPairDialog::acceptPair);
    connect(cancelButton, &QPushButton::clicked, this, &WordPairDialog::cancelPair);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(instructionLabel);
    layout->addWidget(fieldsBox);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void WordPairDialog::openMode(Mode mode, std::optional<QString> first,
                              std::optional<QString> second, std::optional<QString> description) {
    const bool edit = mode == Mode::EditXY;
    setWindowTitle(edit ? u"Subject x and y to edit in blacklist"_s
                        : u"Subject x and y to blacklist"_s);
    okButton->setText(edit ? u"Edit Item"_s : u"Add Item"_s);
    m_mode = mode;
    if (first)
        firstWordEdit->setText(*first);
    if (second)
        secondWordEdit->setText(*second);
    if (description)
        descriptionEdit->setText(*description);
    show();
    raise();
    activateWindow();
    firstWordEdit->setFocus();
}

void WordPairDialog::acceptPair() {
    // A pair matches only a subject that contains both words, and no subject contains an
    // empty word: such an entry would never catch anything, so it is refused.
    QLineEdit *missing = firstWordEdit->text().isEmpty()    ? firstWordEdit
                         : secondWordEdit->text().isEmpty() ? secondWordEdit
                                                            : nullptr;
    if ((m_mode == Mode::AddXY || m_mode == Mode::EditXY) && missing) {
        wordsError->setText(missing == firstWordEdit
                                ? u"Type the first word."_s
                                : u"Type the second word: a pair with an empty "
                                  u"word never matches."_s);
        wordsError->show();
        missing->setFocus();
        return;
    }
    wordsError->hide();
    RuleList &list = m_lists.XandY;
    if (m_mode == Mode::AddXY) {
        list.add(firstWordEdit->text(), {secondWordEdit->text(), descriptionEdit->text()});
        Q_EMIT listChanged(ListKind::XandY);
    } else if (m_mode == Mode::EditXY) {
        // With no entry selected any more there is nothing to change.
        const qsizetype selected = m_selection ? m_selection() : -1;
        if (selected >= 0 && selected < list.size()) {
            RuleEntry changed = list.at(selected);
            changed.Caption = firstWordEdit->text();
            // An entry read from a file written elsewhere may lack sub-items; they are added.
            while (changed.SubItems.size() < 2)
                changed.SubItems.append(QString());
            changed.SubItems[0] = secondWordEdit->text();
            changed.SubItems[1] = descriptionEdit->text();
            list.replace(selected, changed);
            Q_EMIT listChanged(ListKind::XandY);
        }
    }
    m_mode = Mode::None;
    accept();
}

void WordPairDialog::cancelPair() {
    reject();
}

void WordPairDialog::done(int result) {
    firstWordEdit->clear();
    secondWordEdit->clear();
    descriptionEdit->clear();
    wordsError->hide();
    QDialog::done(result);
}

void WordPairDialog::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
