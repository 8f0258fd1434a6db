#include "ui/settings/tform6.h"

#include "core/errors.h"
#include "core/settings/accountcheck.h"
#include "ui/settings/fielderror.h"
#include "ui/settings/securitybox.h"
#include "ui/settings/trustedserverfield.h"
#include "ui/shell/guard.h"
#include "ui/shell/prompts.h"
#include "ui/shell/windowplacement.h"

#include <QComboBox>
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
    QLabel **errors[] = {&NameError, &ServerError, &PortError, &UsernameError, nullptr, nullptr};
    const QString labels[] = {u"Account Name:"_s, u"&Incoming Mail Server (POP)"_s,
                              u"&Port"_s,         u"&Username"_s,
                              u"&Password"_s,     u"&Your email"_s};
    auto *form = new QFormLayout;
    for (int i = 0; i < 6; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(u"DBEdit%1"_s.arg(i + 1));
        edit->setMinimumWidth(220);
        *edits[i] = edit;
        QLabel *error = addFieldWithError(form, labels[i], edit);
        if (errors[i])
            *errors[i] = error;
    }
    DBEdit5->setEchoMode(QLineEdit::Password);
    DBSecurity = createSecurityBox(u"DBSecurity"_s, this);
    form->insertRow(3, u"&Security"_s, DBSecurity);
    followWithPort(DBSecurity, DBEdit3);
    trustedServer = new TrustedServerField(this);
    form->addRow(u"&Trusted server"_s, trustedServer);
    connect(trustedServer, &TrustedServerField::nothingToPropose, this,
            [this](const QString &why) { m_prompts.information(this, why); });

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
    m_shownId.reset();
    if (m_store)
        connect(m_store, &AccountStore::currentRowChanged, this, &TForm6::currentRowMoved);
}

Account TForm6::fields() const {
    Account a{DBEdit1->text(), DBEdit2->text(), DBEdit3->text(),
              DBEdit4->text(), DBEdit5->text(), DBEdit6->text()};
    // An account stored without a security shows its port's default; it stays unset until
    // the user chooses, so the dialog holds no change of its own.
    const QString chosen = chosenSecurity(DBSecurity);
    a.Security = chosen == m_shownSecurity ? m_loaded.Security : chosen;
    a.TrustedAuthserv = trustedServer->text();
    return a;
}

bool TForm6::hasPendingChanges() const {
    return m_shownId && fields() != m_loaded;
}

void TForm6::load() {
    const int row = m_store ? m_store->currentRow() : -1;
    m_shownId.reset();
    if (row >= 0)
        m_shownId = m_store->rowId(row);
    m_loaded = row >= 0 ? m_store->current() : Account{};
    for (QLabel *line : {NameError, ServerError, PortError, UsernameError})
        showFieldError(line, QString());
    QLineEdit *edits[] = {DBEdit1, DBEdit2, DBEdit3, DBEdit4, DBEdit5, DBEdit6};
    const QString values[] = {m_loaded.AccountName, m_loaded.Pop3Server, m_loaded.PortNumber,
                              m_loaded.Username,    m_loaded.Password,   m_loaded.EmailAddress};
    for (int i = 0; i < 6; ++i)
        edits[i]->setText(values[i]);
    showSecurity(DBSecurity, m_loaded.Security, m_loaded.PortNumber);
    m_shownSecurity = chosenSecurity(DBSecurity);
    trustedServer->setText(m_loaded.TrustedAuthserv);
}

std::optional<int> TForm6::shownTag() const {
    if (!m_store || !m_shownId)
        return std::nullopt;
    return m_store->tagOf(*m_shownId);
}

bool TForm6::showProblems(const Account &changed, bool show) {
    AccountProblems problems = findAccountProblems(changed);
    // Two accounts of one name would give two menu items that cannot be told apart.
    if (problems.name.isEmpty() && changed.AccountName != m_loaded.AccountName) {
        const QList<Account> all = m_store->accounts();
        const std::optional<int> own = shownTag();
        for (qsizetype i = 0; i < all.size(); ++i)
            if (i != own.value_or(-1) && all[i].AccountName == changed.AccountName)
                problems.name = u"Another account already has this name."_s;
    }
    if (!show)
        return problems.any();
    return showFieldErrors({{DBEdit1, NameError, problems.name},
                            {DBEdit2, ServerError, problems.server},
                            {DBEdit3, PortError, problems.port},
                            {DBEdit4, UsernameError, problems.username}});
}

bool TForm6::commitPending(bool showRefusal) {
    if (!m_store || !hasPendingChanges())
        return true;
    // The edits belong to the account they were typed for, found by its identity wherever
    // rows before it have gone; an account deleted meanwhile takes its edits with it.
    const std::optional<int> tag = shownTag();
    if (!tag) {
        m_shownId.reset();
        return true;
    }
    Account changed = fields();
    if (showProblems(changed, showRefusal))
        return false;
    changed.PortNumber = changed.PortNumber.trimmed();
    const int now = m_store->currentRow();
    m_committing = true;
    try {
        m_store->setCurrentRow(*tag);
        m_store->updateCurrent(changed);
        m_store->setCurrentRow(now);
    } catch (...) {
        m_committing = false;
        throw;
    }
    m_committing = false;
    m_loaded = changed;
    return true;
}

void TForm6::currentRowMoved() {
    if (m_committing)
        return;
    guarded(m_prompts, this, [this] {
        if (!isVisible()) {
            m_shownId.reset();
            return;
        }
        // Every walk over the table moves the current row (a menu refresh, a deletion), so the
        // open dialog stays on the account it shows; only when that account is deleted does it
        // move on, and the typed changes go with the account.
        if (!shownTag())
            load();
    });
}

void TForm6::reject() {
    // Closing by the title bar or Escape drops what was typed, after asking.
    if (hasPendingChanges() && shownTag()) {
        if (!m_prompts.askYesNo(
                this, u"Discard the changes to the account \"%1\"?"_s.arg(m_loaded.AccountName)))
            return;
    }
    m_shownId.reset();
    QDialog::reject();
}

void TForm6::showCurrent() {
    guarded(m_prompts, this, [this] {
        if (!m_store)
            throw DataError(u"The account database is not open."_s);
        if (isVisible() && !commitPending(true))
            return;
        load();
        show();
        raise();
        activateWindow();
    });
}

void TForm6::Button1Click() {
    guarded(m_prompts, this, [this] {
        if (m_store && m_shownId) {
            if (!commitPending(true))
                return;
            m_shownId.reset();
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
