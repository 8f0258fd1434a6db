#include "ui/settings/optionswindow.h"

#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/protocol/smtpclient.h"
#include <QComboBox>

#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/protocol/smtpclient.h"
#include "core/rules/listsubmission.h"
#include "core/rules/listupdate.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "ui/records/deletionlogwindow.h"
#include "ui/settings/addaccountdialog.h"
#include "ui/settings/editaccountdialog.h"
#include "ui/settings/learningpage.h"
#include "ui/shell/colours.h"
#include "ui/shell/guard.h"
#include "ui/shell/prompts.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

QGroupBox *group(const QString &title, QWidget *parent) {
    auto *box = new QGroupBox(title, parent);
    return box;
}

QLabel *wrappedText(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel *notice(const QString &objectName, QWidget *parent) {
    auto *label = wrappedText(u"Bounces cannot be sent until the outgoing mail server and the "
                              u"e-mail address are set on the SMTP tab."_s,
                              parent);
    label->setObjectName(objectName);
    label->setStyleSheet(u"QLabel { color: #a02000; font-weight: bold; }"_s);
    return label;
}

bool isExampleName(const QString &text) {
    // The reserved example domains, which never receive mail.
    const QString host = text.section(u'@', -1).trimmed().toLower();
    for (const QString &domain :
         {u"example.com"_s, u"example.net"_s, u"example.org"_s, u"example"_s}) {
        if (host == domain || host.endsWith(u'.' + domain))
            return true;
    }
    return false;
}

} // namespace

OptionsWindow::OptionsWindow(Settings &settings, Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Tool), m_settings(settings), m_prompts(prompts) {
    setObjectName(u"OptionsWindow"_s);
    setWindowTitle(u"Setup"_s);
    setModal(false);

    tabs = new QTabWidget(this);
    tabs->setObjectName(u"tabs"_s);
    // Every tab in sight: a tab hidden behind a scroll arrow is a tab a new user never finds.
    tabs->setUsesScrollButtons(false);
    tabs->addTab(createOptionsTab(), u"Options"_s);
    tabs->addTab(createAutoModeTab(), u"Automatic Mode"_s);
    tabs->addTab(createAccountsTab(), u"Accounts"_s);
    tabs->addTab(createColorsTab(), u"Colors"_s);
    tabs->addTab(createBouncingTab(), u"Bouncing"_s);
    tabs->addTab(createSubmittingTab(), u"Submitting"_s);
    tabs->addTab(createSmtpTab(), u"SMTP"_s);
    learningPage = new LearningPage(m_settings, m_prompts, tabs);
    tabs->addTab(learningPage, u"Learning"_s);
    // Every tab stays in sight: the window is at least as wide as its tab row.
    tabs->tabBar()->setUsesScrollButtons(false);

    okButton = new QPushButton(u"OK"_s, this);
    okButton->setObjectName(u"okButton"_s);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &OptionsWindow::acceptOptions);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    layout->addLayout(buttons);

    m_chooser = [](const QColor &initial, QWidget *parent) -> std::optional<QColor> {
        const QColor chosen = QColorDialog::getColor(initial, parent);
        if (!chosen.isValid())
            return std::nullopt;
        return chosen;
    };
    welcomeTimer = new QTimer(this);
    welcomeTimer->setObjectName(u"welcomeTimer"_s);
    welcomeTimer->setSingleShot(true);
    welcomeTimer->setInterval(500);
    connect(welcomeTimer, &QTimer::timeout, this, &OptionsWindow::runAutomaticPass);

    showSettings();
    resize(sizeHint().expandedTo(QSize(480, 360)));
}

QWidget *OptionsWindow::createOptionsTab() {
    auto *page = new QWidget;
    auto *box = group(u"General program options"_s, page);
    startWithSystemBox = new QCheckBox(u"Load program when windows starts"_s, box);
    startWithSystemBox->setObjectName(u"startWithSystemBox"_s);
    trayIconBox = new QCheckBox(u"Show icon in system tray"_s, box);
    trayIconBox->setObjectName(u"trayIconBox"_s);
    logDeletionsBox = new QCheckBox(u"Log details of emails deleted"_s, box);
    logDeletionsBox->setObjectName(u"logDeletionsBox"_s);
    keepCopiesBox = new QCheckBox(u"Save a copy of deleted emails"_s, box);
    keepCopiesBox->setObjectName(u"keepCopiesBox"_s);
    noTrayLabel = wrappedText(u"This desktop has no system tray: no icon can be shown, and "
                              u"minimising keeps the window on the task bar."_s,
                              box);
    noTrayLabel->setObjectName(u"noTrayLabel"_s);
    noTrayLabel->setIndent(20);
    noTrayLabel->hide();
    notificationsBox = new QCheckBox(
        u"Show a desktop notification when automatic mode deletes mail or fails"_s, box);
    notificationsBox->setObjectName(u"notificationsBox"_s);
    viewLogLink = new QPushButton(u"Click here to view log"_s, box);
    viewLogLink->setObjectName(u"viewLogLink"_s);
    viewLogLink->setFlat(true);
    viewLogLink->setCursor(Qt::PointingHandCursor);
    viewArchiveLink = new QPushButton(u"Click here to view archive"_s, box);
    viewArchiveLink->setObjectName(u"viewArchiveLink"_s);
    viewArchiveLink->setFlat(true);
    viewArchiveLink->setCursor(Qt::PointingHandCursor);
    for (QPushButton *link : {viewLogLink, viewArchiveLink})
        link->setStyleSheet(u"QPushButton { color: palette(link); text-decoration: underline; "
                            u"text-align: left; border: none; padding: 2px; }"_s);

    auto *inner = new QVBoxLayout(box);
    inner->addWidget(startWithSystemBox);
    inner->addWidget(trayIconBox);
    inner->addWidget(noTrayLabel);
    inner->addWidget(notificationsBox);
    inner->addWidget(logDeletionsBox);
    inner->addWidget(keepCopiesBox);
    inner->addWidget(wrappedText(
        u"If you check this option, when you delete an email the program downloads it and "
        u"stores it in a folder so you can go back later and look at them."_s,
        box));
    inner->addStretch();
    auto *links = new QHBoxLayout;
    links->addWidget(viewLogLink);
    links->addWidget(viewArchiveLink);
    links->addStretch();
    inner->addLayout(links);
    // Where the Help menu and the Welcome window send the user for help.
    auto *publisher = group(u"Help and support"_s, page);
    websiteEdit = new QLineEdit(publisher);
    websiteEdit->setObjectName(u"websiteEdit"_s);
    supportAddressEdit = new QLineEdit(publisher);
    supportAddressEdit->setObjectName(u"supportAddressEdit"_s);
    auto *publisherForm = new QFormLayout(publisher);
    auto *siteLabel = new QLabel(u"&Web site"_s, publisher);
    siteLabel->setBuddy(websiteEdit);
    auto *supportLabel = new QLabel(u"Support &e-mail"_s, publisher);
    supportLabel->setBuddy(supportAddressEdit);
    publisherForm->addRow(siteLabel, websiteEdit);
    publisherForm->addRow(supportLabel, supportAddressEdit);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addWidget(publisher);

    connect(notificationsBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.notify = on;
    });
    connect(websiteEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.website = text;
    });
    connect(supportAddressEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.supportaddress = text;
    });
    connect(startWithSystemBox, &QCheckBox::toggled, this, [this] {
        if (!m_showing)
            startWithSystemToggled();
    });
    connect(trayIconBox, &QCheckBox::toggled, this, [this] {
        if (!m_showing)
            trayIconToggled();
    });
    connect(logDeletionsBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.Logging = on;
    });
    connect(keepCopiesBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.Save = on;
    });
    connect(viewLogLink, &QPushButton::clicked, this, &OptionsWindow::showLog);
    connect(viewArchiveLink, &QPushButton::clicked, this, &OptionsWindow::showArchive);
    return page;
}

QWidget *OptionsWindow::createAutoModeTab() {
    auto *page = new QWidget;
    auto *box =
        group(u"These options are only in effect when program is in automatic mode"_s, page);
    passIntervalBox = new QSpinBox(box);
    passIntervalBox->setObjectName(u"passIntervalBox"_s);
    passIntervalBox->setRange(Settings::MinAutoIntvl, Settings::MaxAutoIntvl);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(u"Perform check and delete every"_s, box));
    row->addWidget(passIntervalBox);
    row->addWidget(new QLabel(u"minutes"_s, box));
    row->addStretch();
    auto *inner = new QVBoxLayout(box);
    inner->addLayout(row);
    inner->addStretch();
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(passIntervalBox, &QSpinBox::valueChanged, this, [this](int minutes) {
        if (!m_showing)
            m_settings.AutoIntvl = qBound(Settings::MinAutoIntvl, minutes, Settings::MaxAutoIntvl);
    });
    return page;
}

QWidget *OptionsWindow::createAccountsTab() {
    auto *page = new QWidget;
    auto *box = group(u"Adding, editing and removing email accounts"_s, page);
    accountsGrid = new QTableWidget(0, 2, box);
    accountsGrid->setObjectName(u"accountsGrid"_s);
    accountsGrid->setHorizontalHeaderLabels({u"Account Name"_s, u"Security"_s});
    accountsGrid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    accountsGrid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    accountsGrid->verticalHeader()->hide();
    accountsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    accountsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    accountsGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    accountsGrid->setShowGrid(true);
    addAccountButton = new QPushButton(u"Add New"_s, box);
    addAccountButton->setObjectName(u"addAccountButton"_s);
    editAccountButton = new QPushButton(u"Edit Selected"_s, box);
    editAccountButton->setObjectName(u"editAccountButton"_s);
    removeAccountButton = new QPushButton(u"Remove Selected"_s, box);
    removeAccountButton->setObjectName(u"removeAccountButton"_s);
    accountCountLabel = new QLabel(u"0 accounts listed"_s, box);
    accountCountLabel->setObjectName(u"accountCountLabel"_s);
    accountCountLabel->setAlignment(Qt::AlignCenter);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(addAccountButton);
    buttons->addWidget(editAccountButton);
    buttons->addWidget(removeAccountButton);
    buttons->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(accountsGrid, 1);
    top->addLayout(buttons);
    auto *line = new QFrame(box);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto *inner = new QVBoxLayout(box);
    inner->addLayout(top);
    inner->addWidget(line);
    inner->addWidget(accountCountLabel);
    // Several header requests in flight save a round trip each on a slow line; a server that
    // does not announce it is always asked one command at a time.
    pipeliningBox = new QCheckBox(
        u"Ask for several &headers at once when the server allows it (faster checks)"_s, page);
    pipeliningBox->setObjectName(u"pipeliningBox"_s);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addWidget(pipeliningBox);
    connect(pipeliningBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.pop3pipelining = on;
    });

    connect(addAccountButton, &QPushButton::clicked, this, &OptionsWindow::addAccount);
    connect(editAccountButton, &QPushButton::clicked, this, &OptionsWindow::editSelectedAccount);
    connect(removeAccountButton, &QPushButton::clicked, this,
            &OptionsWindow::removeSelectedAccount);
    connect(accountsGrid, &QTableWidget::cellDoubleClicked, this,
            &OptionsWindow::accountDoubleClicked);
    connect(accountsGrid, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (m_filling || !m_store || row < 0)
            return;
        guarded(m_prompts, this, [&] { m_store->setCurrentRow(row); });
    });
    return page;
}

QWidget *OptionsWindow::createColorsTab() {
    auto *page = new QWidget;
    auto *box = group(u"Colors for marking emails and background"_s, page);
    auto *grid = new QGridLayout(box);
    const auto addRow = [&](int row, const QString &text, const QString &shapeName,
                            const QString &buttonName, QFrame *&shape, QPushButton *&button) {
        shape = new QFrame(box);
        shape->setObjectName(shapeName);
        shape->setFrameShape(QFrame::Box);
        shape->setFixedSize(48, 22);
        shape->setAutoFillBackground(true);
        button = new QPushButton(u"Select"_s, box);
        button->setObjectName(buttonName);
        grid->addWidget(wrappedText(text, box), row, 0);
        grid->addWidget(shape, row, 1);
        grid->addWidget(button, row, 2);
    };
    addRow(0, u"If the e-mail is marked as spam, make it this color"_s, u"spamSwatch"_s,
           u"chooseSpamColourButton"_s, spamSwatch, chooseSpamColourButton);
    addRow(1, u"If an e-mail is on the friendly list, make it this color"_s, u"friendlySwatch"_s,
           u"chooseFriendlyColourButton"_s, friendlySwatch, chooseFriendlyColourButton);
    addRow(2, u"Set the color of the email list to this color"_s, u"listSwatch"_s,
           u"chooseListColourButton"_s, listSwatch, chooseListColourButton);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(3, 1);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(chooseSpamColourButton, &QPushButton::clicked, this, &OptionsWindow::chooseSpamColour);
    connect(chooseFriendlyColourButton, &QPushButton::clicked, this,
            &OptionsWindow::chooseFriendlyColour);
    connect(chooseListColourButton, &QPushButton::clicked, this, &OptionsWindow::chooseListColour);
    return page;
}

QWidget *OptionsWindow::createBouncingTab() {
    auto *page = new QWidget;
    auto *box = group(u"Bouncing Settings"_s, page);
    bounceSenderEdit = new QLineEdit(box);
    bounceSenderEdit->setObjectName(u"bounceSenderEdit"_s);
    bounceSubjectEdit = new QLineEdit(box);
    bounceSubjectEdit->setObjectName(u"bounceSubjectEdit"_s);
    bounceNotice = notice(u"bounceNotice"_s, box);
    auto *form = new QFormLayout;
    const auto withStandard = [&](QLineEdit *edit) {
        auto *row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(new QLabel(u"* standard"_s, box));
        return row;
    };
    form->addRow(u"Bounce Sender"_s, withStandard(bounceSenderEdit));
    form->addRow(u"Bounce Subject"_s, withStandard(bounceSubjectEdit));
    auto *inner = new QVBoxLayout(box);
    inner->addWidget(wrappedText(
        u"Boucning an email back makes it seem like that email adress no-longer exists"_s, box));
    inner->addLayout(form);
    inner->addWidget(bounceNotice);
    inner->addStretch();
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(bounceSenderEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.bouncefrom = text;
    });
    connect(bounceSubjectEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.bouncesubj = text;
    });
    return page;
}

QWidget *OptionsWindow::createSubmittingTab() {
    auto *page = new QWidget;
    auto *box = group(u"Submit your black lists for other people to use"_s, page);
    const auto sizeLabel = [box](const QString &name) {
        auto *label = new QLabel(u"no file yet"_s, box);
        label->setObjectName(name);
        return label;
    };
    subjectListSize = sizeLabel(u"subjectListSize"_s);
    emailListSize = sizeLabel(u"emailListSize"_s);
    wordPairListSize = sizeLabel(u"wordPairListSize"_s);
    auto *sizes = new QGridLayout;
    sizes->addWidget(new QLabel(u"File size of subject black list - "_s, box), 0, 0);
    sizes->addWidget(subjectListSize, 0, 1);
    sizes->addWidget(new QLabel(u"File size of email black list -"_s, box), 1, 0);
    sizes->addWidget(emailListSize, 1, 1);
    sizes->addWidget(new QLabel(u"File size of subject xy black list -"_s, box), 2, 0);
    sizes->addWidget(wordPairListSize, 2, 1);
    sizes->setColumnStretch(1, 1);
    submitButton = new QPushButton(u"Submit"_s, box);
    submitButton->setObjectName(u"submitButton"_s);
    auto *submitRow = new QHBoxLayout;
    submitRow->addWidget(submitButton, 0, Qt::AlignTop);
    submitRow->addWidget(wrappedText(u"Only the black lists are sent, no other information is "
                                     u"collected from your computer!"_s,
                                     box),
                         1);
    submitResult = wrappedText(QString(), box);
    submitResult->setObjectName(u"submitResult"_s);
    submitResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *inner = new QVBoxLayout(box);
    inner->addWidget(wrappedText(
        u"A powerful feature of this program is to allow you to submit your black lists. These "
        u"are then checked and then added to the updates - this means that you will get items "
        u"that other people black list and you will get there's!  "_s,
        box));
    inner->addLayout(sizes);
    inner->addLayout(submitRow);
    inner->addWidget(submitResult);

    // Who publishes the master lists and collects the submissions.
    auto *exchange = group(u"Publisher of the master lists"_s, page);
    updateUrlEdit = new QLineEdit(exchange);
    updateUrlEdit->setObjectName(u"updateUrlEdit"_s);
    updateUrlEdit->setPlaceholderText(u"https://lists.your-organisation.org/corvane/"_s);
    submitAddressEdit = new QLineEdit(exchange);
    submitAddressEdit->setObjectName(u"submitAddressEdit"_s);
    submitAddressEdit->setPlaceholderText(u"lists@your-organisation.org"_s);
    exchangeNotice = wrappedText(
        u"The addresses shown are only examples. Enter where your organisation publishes its "
        u"master lists (the web folder that holds update/blsubj.dat, update/bleml.dat and "
        u"update/blsubxy.dat) and the address it collects black lists at."_s,
        exchange);
    exchangeNotice->setObjectName(u"exchangeNotice"_s);
    exchangeNotice->setStyleSheet(u"QLabel { color: #a02000; font-weight: bold; }"_s);
    auto *form = new QFormLayout;
    auto *urlLabel = new QLabel(u"&Update address"_s, exchange);
    urlLabel->setBuddy(updateUrlEdit);
    auto *addressLabel = new QLabel(u"&Collection address"_s, exchange);
    addressLabel->setBuddy(submitAddressEdit);
    form->addRow(urlLabel, updateUrlEdit);
    form->addRow(addressLabel, submitAddressEdit);
    auto *exchangeLayout = new QVBoxLayout(exchange);
    exchangeLayout->addLayout(form);
    exchangeLayout->addWidget(exchangeNotice);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addWidget(exchange);
    layout->addStretch();
    connect(submitButton, &QPushButton::clicked, this, &OptionsWindow::submitBlackLists);
    connect(updateUrlEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_showing)
            return;
        m_settings.updateurl = text.trimmed();
        updateNotices();
    });
    connect(submitAddressEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_showing)
            return;
        m_settings.submitaddress = text.trimmed();
        updateNotices();
    });
    return page;
}

namespace {

// The item of the security box that shows a stored smtpsecurity; an empty or unknown one
// shows the port's default.
QString smtpSecurityItem(const QString &stored) {
    if (stored.trimmed().isEmpty())
        return {};
    switch (parseSecurity(stored, SmtpClient::DefaultPort).value_or(ConnectionSecurity::None)) {
    case ConnectionSecurity::None:
        return parseSecurity(stored, SmtpClient::DefaultPort) ? u"none"_s : QString();
    case ConnectionSecurity::StartTls:
        return u"STARTTLS"_s;
    case ConnectionSecurity::Tls:
        return u"TLS"_s;
    }
    return {};
}

} // namespace

QWidget *OptionsWindow::createSmtpTab() {
    auto *page = new QWidget;
    auto *box = group(u"Sending E-mails"_s, page);
    smtpServerEdit = new QLineEdit(box);
    smtpServerEdit->setObjectName(u"smtpServerEdit"_s);
    smtpPortEdit = new QLineEdit(box);
    smtpPortEdit->setObjectName(u"smtpPortEdit"_s);
    smtpPortEdit->setMaximumWidth(80);
    smtpEmailEdit = new QLineEdit(box);
    smtpEmailEdit->setObjectName(u"smtpEmailEdit"_s);
    smtpNotice = notice(u"smtpNotice"_s, box);
    smtpSecurityBox = new QComboBox(box);
    smtpSecurityBox->setObjectName(u"smtpSecurityBox"_s);
    smtpSecurityBox->addItem(u"As the port says (465: TLS, 587: STARTTLS, others: none)"_s,
                             QString());
    smtpSecurityBox->addItem(u"None: plain text throughout"_s, u"none"_s);
    smtpSecurityBox->addItem(u"STARTTLS: secured before logging in (port 587)"_s, u"STARTTLS"_s);
    smtpSecurityBox->addItem(u"TLS from the first byte (port 465)"_s, u"TLS"_s);
    smtpUserEdit = new QLineEdit(box);
    smtpUserEdit->setObjectName(u"smtpUserEdit"_s);
    smtpUserEdit->setPlaceholderText(u"empty: the server takes mail without a login"_s);
    smtpPasswordEdit = new QLineEdit(box);
    smtpPasswordEdit->setObjectName(u"smtpPasswordEdit"_s);
    smtpPasswordEdit->setEchoMode(QLineEdit::Password);
    smtpPasswordNote = new QLabel(box);
    smtpPasswordNote->setObjectName(u"smtpPasswordNote"_s);
    smtpPasswordNote->setWordWrap(true);
    auto *form = new QFormLayout;
    auto *serverLabel = new QLabel(u"&Outgoing Mail Server (SMTP)"_s, box);
    serverLabel->setBuddy(smtpServerEdit);
    auto *portLabel = new QLabel(u"Po&rt"_s, box);
    portLabel->setBuddy(smtpPortEdit);
    form->addRow(serverLabel, smtpServerEdit);
    form->addRow(portLabel, smtpPortEdit);
    form->addRow(u"E-Mail Address"_s, smtpEmailEdit);
    auto *securityLabel = new QLabel(u"&Security"_s, box);
    securityLabel->setBuddy(smtpSecurityBox);
    auto *userLabel = new QLabel(u"&User name"_s, box);
    userLabel->setBuddy(smtpUserEdit);
    auto *passwordLabel = new QLabel(u"Pass&word"_s, box);
    passwordLabel->setBuddy(smtpPasswordEdit);
    form->addRow(securityLabel, smtpSecurityBox);
    form->addRow(userLabel, smtpUserEdit);
    form->addRow(passwordLabel, smtpPasswordEdit);
    form->addRow(QString(), smtpPasswordNote);
    auto *inner = new QVBoxLayout(box);
    inner->addWidget(wrappedText(
        u"Some functions in the program mean that you need to send mail. To do so we need to "
        u"know the smtp details of your main dial-up connection. If you don't know these, "
        u"contact your internet service provider."_s,
        box));
    inner->addLayout(form);
    inner->addWidget(smtpNotice);
    inner->addStretch();
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(smtpServerEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_showing)
            return;
        m_settings.smtpserver = text;
        updateNotices();
    });
    connect(smtpPortEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.smtpport = text;
    });
    connect(smtpEmailEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_showing)
            return;
        m_settings.smtpemail = text;
        updateNotices();
    });
    connect(smtpSecurityBox, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_showing)
            m_settings.smtpsecurity = smtpSecurityBox->currentData().toString();
    });
    connect(smtpUserEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.smtpuser = text.trimmed();
    });
    // The password is stored once typing ends, not at every key.
    connect(smtpPasswordEdit, &QLineEdit::editingFinished, this, [this] { storePassword(); });
    return page;
}

void OptionsWindow::storePassword() {
    const QString password = smtpPasswordEdit->text();
    if (password == m_settings.smtppassword)
        return;
    if (!m_passwordStore) {
        m_settings.smtppassword = password;
        smtpPasswordNote->setText(u"The password is used until the program ends."_s);
        return;
    }
    try {
        const SecretStore::Place place = m_passwordStore(password);
        m_settings.smtppassword = password;
        showPasswordPlace(place);
    } catch (const Error &e) {
        smtpPasswordNote->setText(u"The password could not be stored: "_s + e.message());
    }
}

void OptionsWindow::showPasswordPlace(SecretStore::Place place) {
    smtpPasswordNote->setText(
        place == SecretStore::Place::Keychain
            ? u"The password is kept in the desktop's secret store."_s
            : u"No secret store of the desktop answers: the password is kept in the file "
              u"secrets.dat of the data folder, which only you can read."_s);
}

void OptionsWindow::setStartWithSystem(StartWithSystem *entry, StartCommand command) {
    m_startEntry = entry;
    m_startCommand = std::move(command);
}

void OptionsWindow::setAccountStore(AccountStore *store) {
    m_store = store;
    if (m_store) {
        connect(m_store, &AccountStore::currentRowChanged, this,
                [this] { selectCurrentAccount(); });
    }
    showAccounts(m_store ? m_store->rowCount() : 0);
}

void OptionsWindow::setAccountDialogs(AddAccountDialog *add, EditAccountDialog *edit) {
    m_addAccount = add;
    m_editAccount = edit;
}

void OptionsWindow::setRecordWindows(DeletionLogWindow *logWindow, QWidget *archiveWindow) {
    m_logWindow = logWindow;
    m_archiveWindow = archiveWindow;
    viewLogLink->setEnabled(logWindow != nullptr);
    viewArchiveLink->setEnabled(archiveWindow != nullptr);
}

bool OptionsWindow::smtpIsPlaceholder(const Settings &settings) {
    const Settings fresh;
    const QString server = settings.smtpserver.trimmed();
    const QString email = settings.smtpemail.trimmed();
    return server.isEmpty() || email.isEmpty() || server == fresh.smtpserver ||
           email == fresh.smtpemail || isExampleName(server) || isExampleName(email);
}

void OptionsWindow::setLearning(LearningStore *store) {
    learningPage->setLearning(store);
}

void OptionsWindow::showSettings() {
    learningPage->showSettings();
    m_showing = true;
    startWithSystemBox->setChecked(m_settings.Startup);
    trayIconBox->setChecked(m_settings.Systray);
    logDeletionsBox->setChecked(m_settings.Logging);
    keepCopiesBox->setChecked(m_settings.Save);
    notificationsBox->setChecked(m_settings.notify);
    pipeliningBox->setChecked(m_settings.pop3pipelining);
    websiteEdit->setText(m_settings.website);
    supportAddressEdit->setText(m_settings.supportaddress);
    passIntervalBox->setValue(m_settings.AutoIntvl);
    showSwatch(spamSwatch, m_settings.colorban);
    showSwatch(friendlySwatch, m_settings.colorfriend);
    showSwatch(listSwatch, m_settings.colormailwin);
    bounceSenderEdit->setText(m_settings.bouncefrom);
    bounceSubjectEdit->setText(m_settings.bouncesubj);
    smtpServerEdit->setText(m_settings.smtpserver);
    smtpPortEdit->setText(m_settings.smtpport);
    smtpEmailEdit->setText(m_settings.smtpemail);
    const int securityItem = smtpSecurityBox->findData(smtpSecurityItem(m_settings.smtpsecurity));
    smtpSecurityBox->setCurrentIndex(securityItem < 0 ? 0 : securityItem);
    smtpUserEdit->setText(m_settings.smtpuser);
    smtpPasswordEdit->setText(m_settings.smtppassword);
    updateUrlEdit->setText(m_settings.updateurl);
    submitAddressEdit->setText(m_settings.submitaddress);
    m_showing = false;
    updateNotices();
}

void OptionsWindow::setTrayAvailable(bool available) {
    noTrayLabel->setVisible(!available);
    // Notifications are shown through the tray icon.
    notificationsBox->setEnabled(available);
    trayIconBox->setToolTip(available ? QString() : noTrayLabel->text());
    // The size hint counts a wrapped note as one line: room for the second line of the
    // archive note and of this one.
    const int lines = available ? 1 : 2;
    resize(size().expandedTo(
        QSize(sizeHint().width(), sizeHint().height() + lines * fontMetrics().lineSpacing())));
}

void OptionsWindow::takeOverStoredSettings() {
    showSettings();
    if (m_settings.Startup)
        startWithSystemToggled();
    if (m_settings.Systray)
        trayIconToggled();
}

void OptionsWindow::updateNotices() {
    const bool placeholder = smtpIsPlaceholder(m_settings);
    bounceNotice->setVisible(placeholder);
    smtpNotice->setVisible(placeholder);
    exchangeNotice->setVisible(ListUpdate::isExampleAddress(QUrl(m_settings.updateurl.trimmed())) ||
                               ListUpdate::isExampleMailAddress(m_settings.submitaddress));
}

void OptionsWindow::setListFolder(const QString &folder) {
    m_listFolder = folder;
    showListSizes();
}

void OptionsWindow::showListSizes() {
    const QString folder = m_listFolder;
    const std::pair<QLabel *, QString> rows[] = {
        {subjectListSize, ListSubmission::FileNames.at(0)},
        {emailListSize, ListSubmission::FileNames.at(1)},
        {wordPairListSize, ListSubmission::FileNames.at(2)}};
    for (const auto &[label, name] : rows) {
        const QString size = ListSubmission::sizeText(QDir(folder).filePath(name));
        label->setText(size.isEmpty() ? u"no file yet"_s : size);
    }
}

void OptionsWindow::showSwatch(QFrame *shape, int colour) {
    QPalette palette = shape->palette();
    palette.setColor(QPalette::Window, colourFromSetting(colour));
    shape->setPalette(palette);
    shape->setToolTip(colourFromSetting(colour).name());
}

void OptionsWindow::chooseColour(QFrame *shape, int &setting) {
    const std::optional<QColor> chosen = m_chooser(colourFromSetting(setting), this);
    if (!chosen || !chosen->isValid())
        return;
    setting = settingFromColour(*chosen);
    showSwatch(shape, setting);
}

// ---- handlers -------------------------------------------------------------------------------

void OptionsWindow::startWithSystemToggled() {
    const bool on = startWithSystemBox->isChecked();
    m_settings.Startup = on;
    if (!m_startEntry)
        return;
    guarded(m_prompts, this, [&] {
        if (on)
            m_startEntry->enable(m_startCommand);
        else
            m_startEntry->disable();
    });
}

void OptionsWindow::trayIconToggled() {
    m_settings.Systray = trayIconBox->isChecked();
    Q_EMIT systrayChanged(m_settings.Systray);
}

void OptionsWindow::showLog() {
    if (!m_logWindow)
        return;
    m_logWindow->showWindow();
}

void OptionsWindow::showArchive() {
    if (!m_archiveWindow)
        return;
    m_archiveWindow->show();
    m_archiveWindow->raise();
    m_archiveWindow->activateWindow();
}

void OptionsWindow::chooseSpamColour() {
    chooseColour(spamSwatch, m_settings.colorban);
    Q_EMIT coloursChanged();
}

void OptionsWindow::chooseFriendlyColour() {
    chooseColour(friendlySwatch, m_settings.colorfriend);
    Q_EMIT coloursChanged();
}

void OptionsWindow::chooseListColour() {
    chooseColour(listSwatch, m_settings.colormailwin);
    // Confirmed or not, the message list takes the swatch's colour.
    Q_EMIT listColourChosen();
}

void OptionsWindow::acceptOptions() {
    hide();
}

void OptionsWindow::addAccount() {
    if (!m_addAccount)
        return;
    m_addAccount->setWindowTitle(u"Add Account"_s);
    m_addAccount->addButton->setText(u"Add Account"_s);
    m_addAccount->show();
    m_addAccount->raise();
    m_addAccount->activateWindow();
}

void OptionsWindow::editSelectedAccount() {
    if (!m_store || m_store->rowCount() == 0) {
        m_prompts.error(this, u"There are no accounts to edit"_s);
        return;
    }
    if (m_editAccount)
        m_editAccount->showCurrent();
}

void OptionsWindow::accountDoubleClicked() {
    if (!m_store || m_store->rowCount() == 0 || !m_editAccount)
        return;
    m_editAccount->showCurrent();
}

void OptionsWindow::removeSelectedAccount() {
    guarded(m_prompts, this, [&] {
        if (!m_store)
            throw DataError(u"The account store is not open."_s);
        if (m_store->rowCount() == 0)
            throw DataError(u"There are no accounts to remove"_s);
        const QString name = m_store->current().AccountName;
        if (!m_prompts.askYesNo(this, u"Remove the account \"%1\"?"_s.arg(name)))
            return;
        m_store->deleteCurrent();
        Q_EMIT accountsChanged();
    });
}

void OptionsWindow::runAutomaticPass() {
    welcomeTimer->stop();
    Q_EMIT welcomeDue();
}

void OptionsWindow::submitBlackLists() {
    if (m_submitting)
        return;
    if (ListUpdate::isExampleMailAddress(m_settings.submitaddress)) {
        m_prompts.information(
            this, u"No collection address has been set yet: %1 is only an example.\n\nEnter the "
                  u"address your publisher collects black lists at as \"Collection address\" on "
                  u"this tab, then press Submit again."_s.arg(m_settings.submitaddress));
        return;
    }
    if (smtpIsPlaceholder(m_settings)) {
        m_prompts.information(
            this, u"The black lists are sent through your outgoing mail server. Enter the "
                  u"server and your e-mail address on the SMTP tab, then press Submit again."_s);
        return;
    }
    m_submitting = true;
    submitButton->setEnabled(false);
    submitResult->clear();

    Transport *connection = nullptr;
    bool aborted = false;
    std::optional<QString> failure;
    QStringList sent;
    SmtpSendOptions options;
    options.transport = [&connection](quint16 port) {
        std::unique_ptr<Transport> transport = makeSmtpTransport(port);
        connection = transport.get();
        return transport;
    };
    const auto work = [&] {
        failure = failureOf([&] {
            // The files are written first, so that what is sent is what the user sees.
            if (m_listSaver)
                m_listSaver();
            sent = ListSubmission::submit(m_listFolder, m_settings, options);
        });
        connection = nullptr;
    };
    const auto abortWait = [&] {
        aborted = true;
        if (connection)
            connection->abort();
    };
    const bool ran = m_runner ? m_runner(work, abortWait) : (work(), true);
    m_submitting = false;
    submitButton->setEnabled(true);
    // The sizes of the files as they were sent (or as they lie after a failed attempt).
    showListSizes();
    if (!ran) {
        m_prompts.information(this, u"Another command is waiting on a server. Press Submit again "
                                    u"when it has finished."_s);
        return;
    }
    if (failure) {
        submitResult->setText(u"Not sent: %1"_s.arg(*failure));
        // The program is closing: nobody waits for the news.
        if (!aborted)
            m_prompts.error(this,
                            u"Unable to send black lists, check connection and smtp details"_s);
        return;
    }
    submitResult->setText(sent.isEmpty() ? u"Sent, without files: none of the three exists yet."_s
                                         : u"Sent: %1"_s.arg(sent.join(u", "_s)));
    m_prompts.information(this, u"Blacklists sent"_s);
}

void OptionsWindow::showAccounts(int count) {
    accountCountLabel->setText(u"%1 Accounts listed"_s.arg(count));
    m_filling = true;
    accountsGrid->setRowCount(0);
    if (m_store) {
        guarded(m_prompts, this, [&] {
            const QList<Account> accounts = m_store->accounts();
            accountsGrid->setRowCount(int(accounts.size()));
            for (int row = 0; row < accounts.size(); ++row) {
                const Account &a = accounts[row];
                accountsGrid->setItem(row, 0, new QTableWidgetItem(a.AccountName));
                // What a check would use: a row without a stored security takes its port's.
                const std::optional<ConnectionSecurity> security =
                    parseSecurity(a.Security, a.PortNumber.trimmed().toUShort());
                accountsGrid->setItem(row, 1,
                                      new QTableWidgetItem(security ? securityName(*security)
                                                                    : u"unknown: "_s + a.Security));
            }
        });
    }
    m_filling = false;
    selectCurrentAccount();
}

void OptionsWindow::selectCurrentAccount() {
    if (!m_store)
        return;
    const int row = m_store->currentRow();
    m_filling = true;
    if (row >= 0 && row < accountsGrid->rowCount())
        accountsGrid->setCurrentCell(row, 0);
    else
        accountsGrid->clearSelection();
    m_filling = false;
}

} // namespace corvane
