#include "ui/settings/tform3.h"
#include "ui/settings/fielderror.h"

#include "core/errors.h"
#include "core/settings/accountcheck.h"
#include "core/settings/accountstore.h"
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

// The name and the port start with usable values; the other fields show reserved example
// values as placeholders only, so that none of them is ever stored as if the user had typed it.
const QString TForm3::StartAccountName = u"New Account"_s;
const QString TForm3::StartServer = u"pop.example.com"_s;
const QString TForm3::StartPort = u"110"_s;
const QString TForm3::StartUsername = u"username"_s;
const QString TForm3::StartPassword = u"password"_s;
const QString TForm3::StartEmail = u"you@example.com"_s;

TForm3::TForm3(Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_prompts(prompts) {
    setObjectName(u"TForm3"_s);
    setWindowTitle(u"Add Account"_s);

    Label1 = new QLabel(u"Here we add a mail account that we will check for spam. If you are "
                        u"unsure about any of the settings, contact your internet service "
                        u"provider"_s,
                        this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setWordWrap(true);

    const auto field = [this](const QString &name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setMinimumWidth(220);
        return edit;
    };
    Edit1 = field(u"Edit1"_s);
    POPServer = field(u"POPServer"_s);
    POPPort = field(u"POPPort"_s);
    Username = field(u"Username"_s);
    Password = field(u"Password"_s);
    Email = field(u"Email"_s);

    Password->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    NameError = addFieldWithError(form, u"Account Name:"_s, Edit1);
    ServerError = addFieldWithError(form, u"&Incoming Mail Server (POP)"_s, POPServer);
    PortError = addFieldWithError(form, u"&Port"_s, POPPort);
    POPSecurity = createSecurityBox(u"POPSecurity"_s, this);
    form->addRow(u"&Security"_s, POPSecurity);
    followWithPort(POPSecurity, POPPort);
    UsernameError = addFieldWithError(form, u"&Account\\Username"_s, Username);
    addFieldWithError(form, u"&Password"_s, Password);
    addFieldWithError(form, u"&Your email"_s, Email);
    trustedServer = new TrustedServerField(this);
    form->addRow(u"&Trusted server"_s, trustedServer);
    connect(trustedServer, &TrustedServerField::nothingToPropose, this,
            [this](const QString &why) { m_prompts.information(this, why); });

    auto *buttons = new QDialogButtonBox(this);
    Button1 = buttons->addButton(u"Add Account"_s, QDialogButtonBox::AcceptRole);
    Button1->setObjectName(u"Button1"_s);
    Button1->setDefault(true);
    Button2 = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    Button2->setObjectName(u"Button2"_s);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addSpacing(4);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resetFields();
}

void TForm3::resetFields() {
    Edit1->setText(StartAccountName);
    POPPort->setText(StartPort);
    showSecurity(POPSecurity, QString(), StartPort);
    const std::pair<QLineEdit *, QString> samples[] = {{POPServer, StartServer},
                                                       {Username, StartUsername},
                                                       {Password, StartPassword},
                                                       {Email, StartEmail}};
    for (const auto &[field, sample] : samples) {
        field->clear();
        field->setPlaceholderText(sample);
    }
    trustedServer->setText(QString());
    for (QLabel *line : {NameError, ServerError, PortError, UsernameError})
        showFieldError(line, QString());
}

bool TForm3::showProblems(const Account &account) {
    const AccountProblems problems = findAccountProblems(account);
    return showFieldErrors({{Edit1, NameError, problems.name},
                            {POPServer, ServerError, problems.server},
                            {POPPort, PortError, problems.port},
                            {Username, UsernameError, problems.username}});
}

void TForm3::Button1Click() {
    guarded(m_prompts, this, [this] {
        if (!m_store)
            throw DataError(u"The account database is not open, so no account can be added."_s);
        const Account account{Edit1->text(),
                              POPServer->text(),
                              POPPort->text().trimmed(),
                              Username->text(),
                              Password->text(),
                              Email->text(),
                              chosenSecurity(POPSecurity),
                              trustedServer->text()};
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

void TForm3::Button2Click() {
    reject();
}

void TForm3::done(int result) {
    QDialog::done(result);
    FormClose();
}

void TForm3::FormClose() {
    Q_EMIT closed();
    resetFields();
}

void TForm3::showEvent(QShowEvent *event) {
    if (parentWidget())
        centreOn(this, parentWidget()->window());
    else
        centreOnScreen(this);
    QDialog::showEvent(event);
}

} // namespace corvane
