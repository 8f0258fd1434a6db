#include "ui/settings/editaccountdialog.h"

#include "core/auth/oauthprovider.h"
#include "core/errors.h"
#include "core/settings/accountcheck.h"
#include "ui/settings/fielderror.h"
#include "ui/settings/securitybox.h"
#include "ui/settings/signinfield.h"
#include "ui/settings/trustedserverfield.h"
#include "ui/shell/guard.h"
#include "ui/shell/prompts.h"
#include "ui/shell/windowplacement.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

// Whether a stored method is an OAuth one (an unknown value counts as the password).
bool signsInWithOAuth(const QString &method) {
    try {
        return oauthProviderOfMethod(method).has_value();
    } catch (const DataError &) {
        return false;
    }
}

} // namespace

EditAccountDialog::EditAccountDialog(Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_prompts(prompts) {
    setObjectName(u"EditAccountDialog"_s);
    setWindowTitle(u"Edit Account"_s);

    introLabel = new QLabel(u"Here we edit a mail account that we will check for spam. If you are "
                            u"unsure about any of the settings, contact your internet service "
                            u"provider"_s,
                            this);
    introLabel->setObjectName(u"introLabel"_s);
    introLabel->setWordWrap(true);

    QLineEdit **edits[] = {&nameEdit, &serverEdit, &portEdit, &userEdit, &passwordEdit, &emailEdit};
    QLabel **errors[] = {&nameError, &serverError, &portError, &userError, nullptr, nullptr};
    const QString names[] = {u"nameEdit"_s, u"serverEdit"_s,   u"portEdit"_s,
                             u"userEdit"_s, u"passwordEdit"_s, u"emailEdit"_s};
    const QString labels[] = {u"Account Name:"_s, u"&Incoming Mail Server (POP)"_s,
                              u"&Port"_s,         u"&Username"_s,
                              u"&Password"_s,     u"&Your email"_s};
    auto *form = new QFormLayout;
    for (int i = 0; i < 6; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(names[i]);
        edit->setMinimumWidth(220);
        *edits[i] = edit;
        QLabel *error = addFieldWithError(form, labels[i], edit);
        if (errors[i])
            *errors[i] = error;
    }
    passwordEdit->setEchoMode(QLineEdit::Password);
    securityBox = createSecurityBox(u"securityBox"_s, this);
    form->insertRow(3, u"&Security"_s, securityBox);
    followWithPort(securityBox, portEdit);
    signInField = new SignInField(this);
    form->insertRow(form->rowCount() - 1, u"Sign &in with"_s, signInField);
    connectAccountFields(signInField, serverEdit, portEdit, securityBox, userEdit, emailEdit,
                         passwordEdit);
    trustedServer = new TrustedServerField(this);
    form->addRow(u"&Trusted server"_s, trustedServer);
    connect(trustedServer, &TrustedServerField::nothingToPropose, this,
            [this](const QString &why) { m_prompts.information(this, why); });

    auto *buttons = new QDialogButtonBox(this);
    updateButton = buttons->addButton(u"Update Account"_s, QDialogButtonBox::AcceptRole);
    updateButton->setObjectName(u"updateButton"_s);
    updateButton->setDefault(true);
    connect(updateButton, &QPushButton::clicked, this, &EditAccountDialog::updateAccount);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(introLabel);
    layout->addSpacing(4);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void EditAccountDialog::setAccountStore(AccountStore *store) {
    if (m_store)
        disconnect(m_store, nullptr, this, nullptr);
    m_store = store;
    m_shownId.reset();
    if (m_store)
        connect(m_store, &AccountStore::currentRowChanged, this,
                &EditAccountDialog::currentRowMoved);
}

Account EditAccountDialog::fields() const {
    Account a{nameEdit->text(), serverEdit->text(),   portEdit->text(),
              userEdit->text(), passwordEdit->text(), emailEdit->text()};
    // An account stored without a security shows its port's default; it stays unset until
    // the user chooses, so the dialog holds no change of its own.
    const QString chosen = chosenSecurity(securityBox);
    a.Security = chosen == m_shownSecurity ? m_loaded.Security : chosen;
    a.TrustedAuthserv = trustedServer->text();
    // An account stored without a method logs in with its password; choosing the password
    // again is no change.
    const QString method = signInField->authMethod();
    a.AuthMethod = signsInWithOAuth(m_loaded.AuthMethod) || signInField->usesOAuth()
                       ? method
                       : m_loaded.AuthMethod;
    return a;
}

bool EditAccountDialog::hasPendingChanges() const {
    return m_shownId && fields() != m_loaded;
}

void EditAccountDialog::load() {
    const int row = m_store ? m_store->currentRow() : -1;
    m_shownId.reset();
    if (row >= 0)
        m_shownId = m_store->rowId(row);
    m_loaded = row >= 0 ? m_store->current() : Account{};
    for (QLabel *line : {nameError, serverError, portError, userError})
        showFieldError(line, QString());
    QLineEdit *edits[] = {nameEdit, serverEdit, portEdit, userEdit, passwordEdit, emailEdit};
    const QString values[] = {m_loaded.AccountName, m_loaded.Pop3Server, m_loaded.PortNumber,
                              m_loaded.Username,    m_loaded.Password,   m_loaded.EmailAddress};
    for (int i = 0; i < 6; ++i)
        edits[i]->setText(values[i]);
    showSecurity(securityBox, m_loaded.Security, m_loaded.PortNumber);
    m_shownSecurity = chosenSecurity(securityBox);
    trustedServer->setText(m_loaded.TrustedAuthserv);
    signInField->setDataFolder(m_store ? QFileInfo(m_store->filePath()).absolutePath() : QString());
    signInField->setAuthMethod(m_loaded.AuthMethod);
    passwordEdit->setEnabled(!signInField->usesOAuth());
}

std::optional<int> EditAccountDialog::shownTag() const {
    if (!m_store || !m_shownId)
        return std::nullopt;
    return m_store->tagOf(*m_shownId);
}

bool EditAccountDialog::showProblems(const Account &changed, bool show) {
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
    return showFieldErrors({{nameEdit, nameError, problems.name},
                            {serverEdit, serverError, problems.server},
                            {portEdit, portError, problems.port},
                            {userEdit, userError, problems.username}});
}

bool EditAccountDialog::commitPending(bool showRefusal) {
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

void EditAccountDialog::currentRowMoved() {
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

void EditAccountDialog::reject() {
    // Closing by the title bar or Escape drops what was typed, after asking.
    if (hasPendingChanges() && shownTag()) {
        if (!m_prompts.askYesNo(
                this, u"Discard the changes to the account \"%1\"?"_s.arg(m_loaded.AccountName)))
            return;
    }
    m_shownId.reset();
    QDialog::reject();
}

void EditAccountDialog::showCurrent() {
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

void EditAccountDialog::updateAccount() {
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

void EditAccountDialog::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
