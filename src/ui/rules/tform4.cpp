#include "ui/rules/tform4.h"

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

ModeTexts textsFor(TForm4::Mode mode) {
    const QString friendly =
        u"Type in the email address (someone@example.com) that you want to get mail from always "
        u"in the box below. You can also add friendly domains like @example.com - "_s +
        kDescriptionAdvice;
    switch (mode) {
    case TForm4::Mode::None:
    case TForm4::Mode::AddSubject:
        return {u"Add Subject To Blacklist"_s,
                u"Type in the subject that you want to black list in the box below. Make sure not "
                u"to blacklist common words like 'the' or 'that'. "_s +
                    kDescriptionAdvice,
                u"Subject to blacklist (can be whole subject, or part of subject)"_s};
    case TForm4::Mode::EditSubject:
        return {u"Edit Subject In The Blacklist"_s,
                u"Edit the subject is in the black list in the box below. Make sure not to "
                u"blacklist common words like 'the' or 'that'. "_s +
                    kDescriptionAdvice,
                u"Subject of item in blacklist (can be whole subject, or part of subject)"_s};
    case TForm4::Mode::AddEmail:
        return {u"Add Email To Blacklist"_s,
                u"Type in the email address (someone@example.com) that you want to black list in "
                u"the box below. You can also blacklist domains like @example.com or "
                u"@example.net. "_s +
                    kDescriptionAdvice,
                u"Email to add in blacklist (can be whole email, or @domain)"_s};
    case TForm4::Mode::EditEmail:
        return {u"Edit Email In The Blacklist"_s,
                u"Edit the email address (someone@example.com) that is in the blacklist in the box "
                u"below. You can also blacklist domains like @example.com or @example.net. "_s +
                    kDescriptionAdvice,
                u"Email to edit in the blacklist (can be whole email, or @domain)"_s};
    case TForm4::Mode::AddFriendly:
        return {u"Add A Friendly Email"_s, friendly,
                u"Email to add in the friendly list (can be whole email, or @domain)"_s};
    case TForm4::Mode::EditFriendly:
        break;
    }
    return {u"Edit A Friendly Email"_s, friendly,
            u"Email to edit in the friendly list (can be whole email, or @domain)"_s};
}

bool isEdit(TForm4::Mode mode) {
    return mode == TForm4::Mode::EditSubject || mode == TForm4::Mode::EditEmail ||
           mode == TForm4::Mode::EditFriendly;
}

} // namespace

ListKind TForm4::targetList(Mode mode) {
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

TForm4::TForm4(RuleLists &lists, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_lists(lists) {
    setObjectName(u"TForm4"_s);
    const ModeTexts texts = textsFor(Mode::AddSubject);
    setWindowTitle(texts.title);

    Label1 = new QLabel(texts.instruction, this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setWordWrap(true);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    Label2 = new QLabel(texts.fieldLabel, GroupBox1);
    Label2->setObjectName(u"Label2"_s);
    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setObjectName(u"Edit1"_s);
    Label2->setBuddy(Edit1);
    Label3 = new QLabel(u"Description for the item (not needed by recommended)"_s, GroupBox1);
    Label3->setObjectName(u"Label3"_s);
    Edit2 = new QLineEdit(GroupBox1);
    Edit2->setObjectName(u"Edit2"_s);
    Label3->setBuddy(Edit2);
    auto *fields = new QVBoxLayout(GroupBox1);
    fields->addWidget(Label2);
    fields->addWidget(Edit1);
    fields->addSpacing(6);
    fields->addWidget(Label3);
    fields->addWidget(Edit2);

    auto *buttons = new QDialogButtonBox(this);
    Button1 = buttons->addButton(u"Ok"_s, QDialogButtonBox::AcceptRole);
    Button1->setObjectName(u"Button1"_s);
    Button1->setDefault(true);
    Button2 = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    Button2->setObjectName(u"Button2"_s);
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(GroupBox1);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void TForm4::openMode(Mode mode, std::optional<QString> entry, std::optional<QString> description) {
    const ModeTexts texts = textsFor(mode);
    setWindowTitle(texts.title);
    Label1->setText(texts.instruction);
    Label2->setText(texts.fieldLabel);
    m_mode = mode;
    if (entry)
        Edit1->setText(*entry);
    if (description)
        Edit2->setText(*description);
    show();
    raise();
    activateWindow();
    Edit1->setFocus();
}

void TForm4::Button1Click() {
    const Mode mode = m_mode;
    if (mode != Mode::None) {
        const ListKind kind = targetList(mode);
        RuleList &list = m_lists.list(kind);
        if (!isEdit(mode)) {
            list.add(Edit1->text(), {Edit2->text()});
            Q_EMIT listChanged(kind);
        } else {
            // The entry selected in the list at this moment; when none is (it was removed or
            // deselected while the dialog was open) there is nothing to change.
            const qsizetype selected = m_selection ? m_selection(kind) : -1;
            if (selected >= 0 && selected < list.size()) {
                RuleEntry changed = list.at(selected);
                changed.Caption = Edit1->text();
                if (changed.SubItems.isEmpty())
                    changed.SubItems.append(Edit2->text());
                else
                    changed.SubItems[0] = Edit2->text();
                list.replace(selected, changed);
                Q_EMIT listChanged(kind);
            }
        }
    }
    m_mode = Mode::None;
    accept();
}

void TForm4::Button2Click() {
    reject();
}

void TForm4::done(int result) {
    Edit1->clear();
    Edit2->clear();
    QDialog::done(result);
}

void TForm4::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
