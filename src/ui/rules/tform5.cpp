#include "ui/rules/tform5.h"

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

TForm5::TForm5(RuleLists &lists, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_lists(lists) {
    setObjectName(u"TForm5"_s);
    setWindowTitle(u"Subject x and y to blacklist"_s);

    Label1 = new QLabel(
        u"This is a special type of filter, it allows you to hit two words in a subject for "
        u"example - subject contains FREE and SHOP. So if an email has that those 2 words "
        u"anywhere in the subject  (FREE local SHOP or FREE SHOP) then it will be marked as "
        u"spam."_s,
        this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setWordWrap(true);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    Label2 = new QLabel(u"The two words to scan the subject for"_s, GroupBox1);
    Label2->setObjectName(u"Label2"_s);
    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setObjectName(u"Edit1"_s);
    Edit2 = new QLineEdit(GroupBox1);
    Edit2->setObjectName(u"Edit2"_s);
    Label2->setBuddy(Edit1);
    Label3 = new QLabel(u"Description for the item (not needed by recommended)"_s, GroupBox1);
    Label3->setObjectName(u"Label3"_s);
    Edit3 = new QLineEdit(GroupBox1);
    Edit3->setObjectName(u"Edit3"_s);
    Label3->setBuddy(Edit3);
    auto *words = new QHBoxLayout;
    words->addWidget(Edit1);
    words->addWidget(Edit2);
    auto *fields = new QVBoxLayout(GroupBox1);
    fields->addWidget(Label2);
    fields->addLayout(words);
    lblWordsError = new QLabel(GroupBox1);
    lblWordsError->setObjectName(u"lblWordsError"_s);
    lblWordsError->setStyleSheet(u"color: #b00020;"_s);
    lblWordsError->setWordWrap(true);
    lblWordsError->hide();
    fields->addWidget(lblWordsError);
    fields->addSpacing(6);
    fields->addWidget(Label3);
    fields->addWidget(Edit3);

    auto *buttons = new QDialogButtonBox(this);
    Button1 = buttons->addButton(u"Add Item"_s, QDialogButtonBox::AcceptRole);
    Button1->setObjectName(u"Button1"_s);
    Button1->setDefault(true);
    Button2 = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    Button2->setObjectName(u"Button2"_s);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm5::Button2Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(GroupBox1);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void TForm5::openMode(Mode mode, std::optional<QString> first, std::optional<QString> second,
                      std::optional<QString> description) {
    const bool edit = mode == Mode::EditXY;
    setWindowTitle(edit ? u"Subject x and y to edit in blacklist"_s
                        : u"Subject x and y to blacklist"_s);
    Button1->setText(edit ? u"Edit Item"_s : u"Add Item"_s);
    m_mode = mode;
    if (first)
        Edit1->setText(*first);
    if (second)
        Edit2->setText(*second);
    if (description)
        Edit3->setText(*description);
    show();
    raise();
    activateWindow();
    Edit1->setFocus();
}

void TForm5::Button1Click() {
    // A pair matches only a subject that contains both words, and no subject contains an
    // empty word: such an entry would never catch anything, so it is refused.
    QLineEdit *missing = Edit1->text().isEmpty()   ? Edit1
                         : Edit2->text().isEmpty() ? Edit2
                                                   : nullptr;
    if ((m_mode == Mode::AddXY || m_mode == Mode::EditXY) && missing) {
        lblWordsError->setText(missing == Edit1 ? u"Type the first word."_s
                                                : u"Type the second word: a pair with an empty "
                                                  u"word never matches."_s);
        lblWordsError->show();
        missing->setFocus();
        return;
    }
    lblWordsError->hide();
    RuleList &list = m_lists.XandY;
    if (m_mode == Mode::AddXY) {
        list.add(Edit1->text(), {Edit2->text(), Edit3->text()});
        Q_EMIT listChanged(ListKind::XandY);
    } else if (m_mode == Mode::EditXY) {
        // With no entry selected any more there is nothing to change.
        const qsizetype selected = m_selection ? m_selection() : -1;
        if (selected >= 0 && selected < list.size()) {
            RuleEntry changed = list.at(selected);
            changed.Caption = Edit1->text();
            // An entry read from a file written elsewhere may lack sub-items; they are added.
            while (changed.SubItems.size() < 2)
                changed.SubItems.append(QString());
            changed.SubItems[0] = Edit2->text();
            changed.SubItems[1] = Edit3->text();
            list.replace(selected, changed);
            Q_EMIT listChanged(ListKind::XandY);
        }
    }
    m_mode = Mode::None;
    accept();
}

void TForm5::Button2Click() {
    reject();
}

void TForm5::done(int result) {
    Edit1->clear();
    Edit2->clear();
    Edit3->clear();
    lblWordsError->hide();
    QDialog::done(result);
}

void TForm5::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
