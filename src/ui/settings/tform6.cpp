#include "ui/settings/tform6.h"

#include "core/errors.h"
#include "ui/shell/guard.h"
#include "ui/shell/prompts.h"
#include "ui/shell/windowplacement.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

TForm6::TForm6(Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_prompts(prompts) {
    setObjectName(u"TForm6"_s);
    setWindowTitle(u"Edit Account"_s);

    Label1 = new QLabel(u"Here we edit a mail account that we will check for spam. If you are "
                        u"unsure about any of the settings, contact your internet service "
                        u"provider"_s,
                        this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setWordWrap(true);

    QLineEdit **edits[] = {&DBEdit1, &DBEdit2, &DBEdit3, &DBEdit4, &DBEdit5, &DBEdit6};
    const QString labels[] = {u"Account Name:"_s, u"&Incoming Mail Server (POP)"_s,
                              u"&Port"_s,         u"&Username"_s,
                              u"&Password"_s,     u"&Your email"_s};
    auto *form = new QFormLayout;
    for (int i = 0; i < 6; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(u"DBEdit%1"_s.arg(i + 1));
        edit->setMinimumWidth(220);
        *edits[i] = edit;
        form->addRow(labels[i], edit);
    }

    auto *buttons = new QDialogButtonBox(this);
    Button1 = buttons->addButton(u"Update Account"_s, QDialogButtonBox::AcceptRole);
    Button1->setObjectName(u"Button1"_s);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addSpacing(4);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TForm6::setAccountStore(AccountStore *store) {
    if (m_store)
        disconnect(m_store, nullptr, this, nullptr);
    m_store = store;
    m_shownRow = -1;
    if (m_store)
        connect(m_store, &AccountStore::currentRowChanged, this, &TForm6::currentRowMoved);
}

Account TForm6::fields() const {
    return Account{DBEdit1->text(), DBEdit2->text(), DBEdit3->text(),
                   DBEdit4->text(), DBEdit5->text(), DBEdit6->text()};
}

bool TForm6::hasPendingChanges() const {
    return m_shownRow >= 0 && fields() != m_loaded;
}

void TForm6::load() {
    m_shownRow = m_store ? m_store->currentRow() : -1;
    m_loaded = m_shownRow >= 0 ? m_store->current() : Account{};
    QLineEdit *edits[] = {DBEdit1, DBEdit2, DBEdit3, DBEdit4, DBEdit5, DBEdit6};
    const QString values[] = {m_loaded.AccountName, m_loaded.Pop3Server, m_loaded.PortNumber,
                              m_loaded.Username,    m_loaded.Password,   m_loaded.EmailAddress};
    for (int i = 0; i < 6; ++i)
        edits[i]->setText(values[i]);
}

void TForm6::commitPending() {
    if (!m_store || !hasPendingChanges() || m_shownRow >= m_store->rowCount())
        return;
    const Account changed = fields();
    const int now = m_store->currentRow();
    m_committing = true;
    try {
        m_store->setCurrentRow(m_shownRow);
        m_store->updateCurrent(changed);
        m_store->setCurrentRow(now);
    } catch (...) {
        m_committing = false;
        throw;
    }
    m_committing = false;
    m_loaded = changed;
}

void TForm6::currentRowMoved() {
    if (m_committing)
        return;
    guarded(m_prompts, this, [this] {
        commitPending();
        if (isVisible())
            load();
        else
            m_shownRow = -1;
    });
}

void TForm6::showCurrent() {
    guarded(m_prompts, this, [this] {
        if (!m_store)
            throw DataError(u"The account database is not open."_s);
        commitPending();
        load();
        show();
        raise();
        activateWindow();
    });
}

void TForm6::Button1Click() {
    guarded(m_prompts, this, [this] {
        if (m_store && m_shownRow >= 0) {
            commitPending();
            m_shownRow = -1;
        }
        hide();
        Q_EMIT updated();
    });
}

void TForm6::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
