#include "ui/rules/listentrydialog.h"

#include "ui/shell/windowplacement.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

struct ModeTexts {
    QString title;
    QString instruction;
    QString fieldLabel;
};

// The example address and domains in the e-mail instructions are reserved example names.
const QString kDescriptionAdvice = u"A description isn't required but I would suggest it so you "
                                   u"can keep track of why you added it."_s;

ModeTexts textsFor(ListEntryDialog::Mode mode) {
    const QString friendly =
        u"Type in the email address (someone@example.com) that you want to get mail from always "
        u"in the box below. You can also add friendly domains like @example.com - "_s +
        kDescriptionAdvice;
    switch (mode) {
    case ListEntryDialog::Mode::None:
    case ListEntryDialog::Mode::AddSubject:
        return {u"Add Subject To Blacklist"_s,
                u"Type in the subject that you want to black list in the box below. Make sure not "
                u"to blacklist common words like 'the' or 'that'. "_s +
                    kDescriptionAdvice,
                u"Subject to blacklist (can be whole subject, or part of subject)"_s};
    case ListEntryDialog::Mode::EditSubject:
        return {u"Edit Subject In The Blacklist"_s,
                u"Edit the subject is in the black list in the box below. Make sure not to "
                u"blacklist common words like 'the' or 'that'. "_s +
                    kDescriptionAdvice,
                u"Subject of item in blacklist (can be whole subject, or part of subject)"_s};
    case ListEntryDialog::Mode::AddEmail:
        return {u"Add Email To Blacklist"_s,
                u"Type in the email address (someone@example.com) that you want to black list in "
                u"the box below. You can also blacklist domains like @example.com or "
                u"@example.net. "_s +
                    kDescriptionAdvice,
                u"Email to add in blacklist (can be whole email, or @domain)"_s};
    case ListEntryDialog::Mode::EditEmail:
        return {u"Edit Email In The Blacklist"_s,
                u"Edit the email address (someone@example.com) that is in the blacklist in the box "
                u"below. You can also blacklist domains like @example.com or @example.net. "_s +
                    kDescriptionAdvice,
                u"Email to edit in the blacklist (can be whole email, or @domain)"_s};
    case ListEntryDialog::Mode::AddFriendly:
        return {u"Add A Friendly Email"_s, friendly,
                u"Email to add in the friendly list (can be whole email, or @domain)"_s};
    case ListEntryDialog::Mode::EditFriendly:
        break;
    }
    return {u"Edit A Friendly Email"_s, friendly,
            u"Email to edit in the friendly list (can be whole email, or @domain)"_s};
}

bool isEdit(ListEntryDialog::Mode mode) {
    return mode == ListEntryDialog::Mode::EditSubject || mode == ListEntryDialog::Mode::EditEmail ||
           mode == ListEntryDialog::Mode::EditFriendly;
}

} // namespace

ListKind ListEntryDialog::targetList(Mode mode) {
    switch (mode) {
    case Mode::None:
    case Mode::AddSubject:
    case Mode::EditSubject:
        return ListKind::SubjectBlack;
    case Mode::AddEmail:
    case Mode::EditEmail:
        return ListKind::EmailBlack;
    case Mode::AddFriendly:
    case Mode::EditFriendly:
        break;
    }
    return ListKind::Friendly;
}

ListEntryDialog::ListEntryDialog(RuleLists &lists, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_lists(lists) {
    setObjectName(u"ListEntryDialog"_s);
    const ModeTexts texts = textsFor(Mode::AddSubject);
    setWindowTitle(texts.title);

    instructionLabel = new QLabel(texts.instruction, this);
    instructionLabel->setObjectName(u"instructionLabel"_s);
    instructionLabel->setWordWrap(true);

    fieldsBox = new QGroupBox(this);
    fieldsBox->setObjectName(u"fieldsBox"_s);
    entryLabel = new QLabel(texts.fieldLabel, fieldsBox);
    entryLabel->setObjectName(u"entryLabel"_s);
    entryEdit = new QLineEdit(fieldsBox);
    entryEdit->setObjectName(u"entryEdit"_s);
    entryLabel->setBuddy(entryEdit);
    descriptionLabel =
        new QLabel(u"Description for the item (not needed by recommended)"_s, fieldsBox);
    descriptionLabel->setObjectName(u"descriptionLabel"_s);
    descriptionEdit = new QLineEdit(fieldsBox);
    descriptionEdit->setObjectName(u"descriptionEdit"_s);
    descriptionLabel->setBuddy(descriptionEdit);
    auto *fields = new QVBoxLayout(fieldsBox);
    fields->addWidget(entryLabel);
    fields->addWidget(entryEdit);
    fields->addSpacing(6);
    fields->addWidget(descriptionLabel);
    fields->addWidget(descriptionEdit);

    auto *buttons = new QDialogButtonBox(this);
    okButton = buttons->addButton(u"Ok"_s, QDialogButtonBox::AcceptRole);
    okButton->setObjectName(u"okButton"_s);
    okButton->setDefault(true);
    cancelButton = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(u"cancelButton"_s);
    connect(okButton, &QPushButton::clicked, this, &ListEntryDialog::acceptEntry);
    connect(cancelButton, &QPushButton::clicked, this, &ListEntryDialog::cancelEntry);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(instructionLabel);
    layout->addWidget(fieldsBox);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void ListEntryDialog::openMode(Mode mode, std::optional<QString> entry,
                               std::optional<QString> description) {
    const ModeTexts texts = textsFor(mode);
    setWindowTitle(texts.title);
    instructionLabel->setText(texts.instruction);
    entryLabel->setText(texts.fieldLabel);
    m_mode = mode;
    if (entry)
        entryEdit->setText(*entry);
    if (description)
        descriptionEdit->setText(*description);
    show();
    raise();
    activateWindow();
    entryEdit->setFocus();
}

void ListEntryDialog::acceptEntry() {
    const Mode mode = m_mode;
    if (mode != Mode::None) {
        const ListKind kind = targetList(mode);
        RuleList &list = m_lists.list(kind);
        if (!isEdit(mode)) {
            list.add(entryEdit->text(), {descriptionEdit->text()});
            Q_EMIT listChanged(kind);
        } else {
            // The entry selected in the list at this moment; when none is (it was removed or
            // deselected while the dialog was open) there is nothing to change.
            const qsizetype selected = m_selection ? m_selection(kind) : -1;
            if (selected >= 0 && selected < list.size()) {
                RuleEntry changed = list.at(selected);
                changed.Caption = entryEdit->text();
                if (changed.SubItems.isEmpty())
                    changed.SubItems.append(descriptionEdit->text());
                else
                    changed.SubItems[0] = descriptionEdit->text();
                list.replace(selected, changed);
                Q_EMIT listChanged(kind);
            }
        }
    }
    m_mode = Mode::None;
    accept();
}

void ListEntryDialog::cancelEntry() {
    reject();
}

void ListEntryDialog::done(int result) {
    entryEdit->clear();
    descriptionEdit->clear();
    QDialog::done(result);
}

void ListEntryDialog::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
