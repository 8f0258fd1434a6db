#include "ui/settings/accountfinder.h"

#include "core/errors.h"
#include "core/settings/accountdiscovery.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

QString outcomeText(AccountDiscovery::Outcome outcome) {
    switch (outcome) {
    case AccountDiscovery::Outcome::Found:
        return u"found"_s;
    case AccountDiscovery::Outcome::NothingFound:
        return u"nothing here"_s;
    case AccountDiscovery::Outcome::Refused:
        return u"refused"_s;
    case AccountDiscovery::Outcome::Failed:
        return u"failed"_s;
    }
    return {};
}

} // namespace

AccountFinder::AccountFinder(QWidget *parent)
    : QWidget(parent), m_discovery(new AccountDiscovery(this)) {
    setObjectName(u"accountFinder"_s);

    findAddressEdit = new QLineEdit(this);
    findAddressEdit->setObjectName(u"findAddressEdit"_s);
    findAddressEdit->setPlaceholderText(u"you@example.com"_s);
    findSettingsButton = new QPushButton(u"&Find settings"_s, this);
    findSettingsButton->setObjectName(u"findSettingsButton"_s);
    findSettingsButton->setAutoDefault(false);
    findStepsList = new QListWidget(this);
    findStepsList->setObjectName(u"findStepsList"_s);
    findStepsList->setMaximumHeight(110);
    findStepsList->setWordWrap(true);
    findStepsList->hide();
    foundSettingsLabel = new QLabel(this);
    foundSettingsLabel->setObjectName(u"foundSettingsLabel"_s);
    foundSettingsLabel->setWordWrap(true);
    foundSettingsLabel->setTextFormat(Qt::PlainText);
    foundSettingsLabel->hide();
    allowUnencryptedCheck = new QCheckBox(
        u"Use this server although it offers &no encryption: my password and mail will cross "
        u"the network readable by anyone on the way"_s,
        this);
    allowUnencryptedCheck->setObjectName(u"allowUnencryptedCheck"_s);
    allowUnencryptedCheck->hide();
    useFoundSettingsButton = new QPushButton(u"&Use these settings"_s, this);
    useFoundSettingsButton->setObjectName(u"useFoundSettingsButton"_s);
    useFoundSettingsButton->setAutoDefault(false);
    useFoundSettingsButton->hide();

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(u"E-mail &address:"_s, this);
    label->setBuddy(findAddressEdit);
    row->addWidget(label);
    row->addWidget(findAddressEdit, 1);
    row->addWidget(findSettingsButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(findStepsList);
    layout->addWidget(foundSettingsLabel);
    layout->addWidget(allowUnencryptedCheck);
    layout->addWidget(useFoundSettingsButton, 0, Qt::AlignLeft);

    connect(findSettingsButton, &QPushButton::clicked, this, &AccountFinder::findOrStop);
    connect(findAddressEdit, &QLineEdit::returnPressed, this, [this] {
        if (!isSearching())
            findOrStop();
    });
    connect(allowUnencryptedCheck, &QCheckBox::toggled, this, &AccountFinder::updateUseButton);
    connect(useFoundSettingsButton, &QPushButton::clicked, this, &AccountFinder::confirm);
    connect(m_discovery, &AccountDiscovery::stepStarted, this,
            [this](AccountDiscovery::Step step, const QString &what) {
                findStepsList->addItem(u"%1: %2 …"_s.arg(AccountDiscovery::stepName(step), what));
                findStepsList->scrollToBottom();
            });
    connect(
        m_discovery, &AccountDiscovery::stepEnded, this,
        [this](AccountDiscovery::Step, AccountDiscovery::Outcome outcome, const QString &detail) {
            if (QListWidgetItem *item = findStepsList->item(findStepsList->count() - 1)) {
                QString text = item->text();
                if (text.endsWith(u" …"_s))
                    text.chop(2);
                item->setText(u"%1: %2 (%3)"_s.arg(text, outcomeText(outcome), detail));
                item->setToolTip(detail);
            }
        });
    connect(m_discovery, &AccountDiscovery::found, this, &AccountFinder::showFound);
    connect(m_discovery, &AccountDiscovery::nothingFound, this, &AccountFinder::showNothing);
}

AccountFinder::~AccountFinder() {
    m_discovery->cancel();
}

bool AccountFinder::isSearching() const {
    return m_discovery->isRunning();
}

void AccountFinder::stop() {
    if (!m_discovery->isRunning())
        return;
    m_discovery->cancel();
    findStepsList->addItem(u"Stopped."_s);
    findSettingsButton->setText(u"&Find settings"_s);
}

void AccountFinder::reset() {
    m_discovery->cancel();
    m_found.reset();
    m_address.clear();
    findAddressEdit->clear();
    findSettingsButton->setText(u"&Find settings"_s);
    findStepsList->clear();
    findStepsList->hide();
    foundSettingsLabel->clear();
    foundSettingsLabel->hide();
    allowUnencryptedCheck->setChecked(false);
    allowUnencryptedCheck->hide();
    useFoundSettingsButton->hide();
}

void AccountFinder::findOrStop() {
    if (isSearching()) {
        stop();
        return;
    }
    m_found.reset();
    findStepsList->clear();
    foundSettingsLabel->hide();
    allowUnencryptedCheck->hide();
    allowUnencryptedCheck->setChecked(false);
    useFoundSettingsButton->hide();
    m_address = findAddressEdit->text().trimmed();
    const std::optional<QString> failure = failureOf([&] { m_discovery->start(m_address); });
    if (failure) {
        foundSettingsLabel->setText(*failure);
        foundSettingsLabel->show();
        return;
    }
    findStepsList->show();
    findSettingsButton->setText(u"&Stop"_s);
}

void AccountFinder::showFound(const FoundAccountSettings &settings) {
    findSettingsButton->setText(u"&Find settings"_s);
    m_found = settings;
    QStringList lines;
    lines << u"Found in the %1 (%2):"_s.arg(sourceName(settings.source), settings.origin);
    lines << u"POP3 server: %1"_s.arg(describeServer(settings.incoming));
    if (settings.outgoing)
        lines << u"SMTP server: %1 (for bouncing: set it in the options)"_s.arg(
            describeServer(*settings.outgoing));
    lines << u"User name: %1"_s.arg(settings.userName);
    for (const QString &note : settings.notes)
        lines << u"Note: %1"_s.arg(note);
    const std::optional<AddressParts> parts = splitMailAddress(m_address);
    if (!settings.otherDomainHosts.isEmpty())
        lines << u"Warning: %1 is outside %2. Use it only if your provider told you so."_s.arg(
            settings.otherDomainHosts.join(u", "_s), parts ? parts->domain : m_address);
    if (settings.unencrypted())
        lines << u"Warning: this server offers no encryption."_s;
    foundSettingsLabel->setText(lines.join(u'\n'));
    foundSettingsLabel->show();
    allowUnencryptedCheck->setVisible(settings.unencrypted());
    useFoundSettingsButton->show();
    updateUseButton();
}

void AccountFinder::showNothing(const QString &summary) {
    findSettingsButton->setText(u"&Find settings"_s);
    foundSettingsLabel->setText(summary);
    foundSettingsLabel->show();
}

void AccountFinder::updateUseButton() {
    useFoundSettingsButton->setEnabled(
        m_found && (!m_found->unencrypted() || allowUnencryptedCheck->isChecked()));
}

void AccountFinder::confirm() {
    if (!m_found || (m_found->unencrypted() && !allowUnencryptedCheck->isChecked()))
        return;
    Q_EMIT settingsConfirmed(*m_found, m_address);
}

} // namespace corvane
