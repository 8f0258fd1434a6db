#include "ui/settings/addaccountdialog.h"
#include "ui/settings/fielderror.h"

#include "core/auth/oauthprovider.h"
#include "core/errors.h"
#include "core/settings/accountcheck.h"
#include "core/settings/accountstore.h"
#include "ui/settings/accountfinder.h"
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

// The name and the port start with usable values; the other fields show reserved example
// values as placeholders only, so that none of them is ever stored as if the user had typed it.
const QString AddAccountDialog::StartAccountName = u"New Account"_s;
const QString AddAccountDialog::StartServer = u"pop.example.com"_s;
const QString AddAccountDialog::StartPort = u"110"_s;
const QString AddAccountDialog::StartUsername = u"username"_s;
const QString AddAccountDialog::StartPassword = u"password"_s;
const QString AddAccountDialog::StartEmail = u"you@example.com"_s;

AddAccountDialog::AddAccountDialog(Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_prompts(prompts) {
    setObjectName(u"AddAccountDialog"_s);
    setWindowTitle(u"Add Account"_s);

    introLabel = new QLabel(u"Here we add a mail account that we will check for spam. If you are "
                            u"unsure about any of the settings, contact your internet service "
                            u"provider"_s,
                            this);
    introLabel->setObjectName(u"introLabel"_s);
    introLabel->setWordWrap(true);

    const auto field = [this](const QString &name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setMinimumWidth(220);
        return edit;
    };
    nameEdit = field(u"nameEdit"_s);
    serverEdit = field(u"serverEdit"_s);
    portEdit = field(u"portEdit"_s);
    userEdit = field(u"userEdit"_s);
    passwordEdit = field(u"passwordEdit"_s);
    emailEdit = field(u"emailEdit"_s);

    passwordEdit->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    nameError = addFieldWithError(form, u"Account Name:"_s, nameEdit);
    serverError = addFieldWithError(form, u"&Incoming Mail Server (POP)"_s, serverEdit);
    portError = addFieldWithError(form, u"&Port"_s, portEdit);
    securityBox = createSecurityBox(u"securityBox"_s, this);
    form->addRow(u"&Security"_s, securityBox);
    followWithPort(securityBox, portEdit);
    userError = addFieldWithError(form, u"&Account\\Username"_s, userEdit);
    addFieldWithError(form, u"&Password"_s, passwordEdit);
    signInField = new SignInField(this);
    form->addRow(u"Sign &in with"_s, signInField);
    connectAccountFields(signInField, serverEdit, portEdit, securityBox, userEdit, emailEdit,
                         passwordEdit);
    addFieldWithError(form, u"&Your email"_s, emailEdit);
    trustedServer = new TrustedServerField(this);
    form->addRow(u"&Trusted server"_s, trustedServer);
    connect(trustedServer, &TrustedServerField::nothingToPropose, this,
            [this](const QString &why) { m_prompts.information(this, why); });

    auto *buttons = new QDialogButtonBox(this);
    addButton = buttons->addButton(u"Add Account"_s, QDialogButtonBox::AcceptRole);
    addButton->setObjectName(u"addButton"_s);
    addButton->setDefault(true);
    cancelButton = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(u"cancelButton"_s);
    connect(addButton, &QPushButton::clicked, this, &AddAccountDialog::addAccount);
    connect(cancelButton, &QPushButton::clicked, this, &AddAccountDialog::cancelDialog);

    accountFinder = new AccountFinder(this);
    connect(accountFinder, &AccountFinder::settingsConfirmed, this,
            &AddAccountDialog::takeFoundSettings);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(introLabel);
    layout->addSpacing(4);
    layout->addWidget(accountFinder);
    layout->addSpacing(4);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resetFields();
}

void AddAccountDialog::resetFields() {
    nameEdit->setText(StartAccountName);
    portEdit->setText(StartPort);
    showSecurity(securityBox, QString(), StartPort);
    const std::pair<QLineEdit *, QString> samples[] = {{serverEdit, StartServer},
                                                       {userEdit, StartUsername},
                                                       {passwordEdit, StartPassword},
                                                       {emailEdit, StartEmail}};
    for (const auto &[field, sample] : samples) {
        field->clear();
        field->setPlaceholderText(sample);
    }
    trustedServer->setText(QString());
    signInField->setAuthMethod(passwordAuthMethod());
    passwordEdit->setEnabled(true);
    for (QLabel *line : {nameError, serverError, portError, userError})
        showFieldError(line, QString());
    accountFinder->reset();
}

void AddAccountDialog::takeFoundSettings(const FoundAccountSettings &found,
                                         const QString &address) {
    serverEdit->setText(found.incoming.host);
    portEdit->setText(QString::number(found.incoming.port));
    showSecurity(securityBox, securityName(found.incoming.security), portEdit->text());
    userEdit->setText(found.userName);
    emailEdit->setText(address);
    // A name the user has not changed becomes the address; one the user typed stays.
    if (nameEdit->text() == StartAccountName)
        nameEdit->setText(address);
    passwordEdit->setFocus();
}

bool AddAccountDialog::showProblems(const Account &account) {
    const AccountProblems problems = findAccountProblems(account);
    return showFieldErrors({{nameEdit, nameError, problems.name},
                            {serverEdit, serverError, problems.server},
                            {portEdit, portError, problems.port},
                            {userEdit, userError, problems.username}});
}

void AddAccountDialog::addAccount() {
    guarded(m_prompts, this, [this] {
        if (!m_store)
            throw DataError(u"The account database is not open, so no account can be added."_s);
        Account account{nameEdit->text(),
                        serverEdit->text(),
                        portEdit->text().trimmed(),
                        userEdit->text(),
                        signInField->usesOAuth() ? QString() : passwordEdit->text(),
                        emailEdit->text(),
                        chosenSecurity(securityBox),
                        trustedServer->text()};
        // A password account is stored as before the column existed.
        if (signInField->usesOAuth())
            account.AuthMethod = signInField->authMethod();
        // An account that could never be checked is refused field by field, next to the
        // field, and the dialog stays open with what was typed.
        if (showProblems(account))
            return;
        if (m_store->hasAccountName(account.AccountName)) {
            // The dialog stays open with what was typed.
            m_prompts.error(this, u"That account name exists, please choose another"_s);
            return;
        }
        m_store->insert(account);
        accept();
    });
}

void AddAccountDialog::cancelDialog() {
    reject();
}

void AddAccountDialog::done(int result) {
    QDialog::done(result);
    announceClosed();
}

void AddAccountDialog::announceClosed() {
    Q_EMIT closed();
    resetFields();
}

void AddAccountDialog::showEvent(QShowEvent *event) {
    // The providers and grants are those of the store's data folder.
    signInField->setDataFolder(m_store ? QFileInfo(m_store->filePath()).absolutePath() : QString());
    if (parentWidget())
        centreOn(this, parentWidget()->window());
    else
        centreOnScreen(this);
    QDialog::showEvent(event);
}

} // namespace corvane
