#include "ui/settings/tfmsetup.h"

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

TfmSetup::TfmSetup(Settings &settings, Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Tool), m_settings(settings), m_prompts(prompts) {
    setObjectName(u"fmSetup"_s);
    setWindowTitle(u"Setup"_s);
    setModal(false);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(u"PageControl1"_s);
    // Every tab in sight: a tab hidden behind a scroll arrow is a tab a new user never finds.
    PageControl1->setUsesScrollButtons(false);
    PageControl1->addTab(createOptionsTab(), u"Options"_s);
    PageControl1->addTab(createAutoModeTab(), u"Automatic Mode"_s);
    PageControl1->addTab(createAccountsTab(), u"Accounts"_s);
    PageControl1->addTab(createColorsTab(), u"Colors"_s);
    PageControl1->addTab(createBouncingTab(), u"Bouncing"_s);
    PageControl1->addTab(createSubmittingTab(), u"Submitting"_s);
    PageControl1->addTab(createSmtpTab(), u"SMTP"_s);
    learningPage = new LearningPage(m_settings, m_prompts, PageControl1);
    PageControl1->addTab(learningPage, u"Learning"_s);
    // Every tab stays in sight: the window is at least as wide as its tab row.
    PageControl1->tabBar()->setUsesScrollButtons(false);

    BitBtn1 = new QPushButton(u"OK"_s, this);
    BitBtn1->setObjectName(u"BitBtn1"_s);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &TfmSetup::BitBtn1Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    layout->addLayout(buttons);

    m_chooser = [](const QColor &initial, QWidget *parent) -> std::optional<QColor> {
        const QColor chosen = QColorDialog::getColor(initial, parent);
        if (!chosen.isValid())
            return std::nullopt;
        return chosen;
    };
    Timer1 = new QTimer(this);
    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setSingleShot(true);
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TfmSetup::Timer1Timer);

    showSettings();
    resize(sizeHint().expandedTo(QSize(480, 360)));
}

QWidget *TfmSetup::createOptionsTab() {
    auto *page = new QWidget;
    auto *box = group(u"General program options"_s, page);
    CheckBox1 = new QCheckBox(u"Load program when windows starts"_s, box);
    CheckBox1->setObjectName(u"CheckBox1"_s);
    CheckBox4 = new QCheckBox(u"Show icon in system tray"_s, box);
    CheckBox4->setObjectName(u"CheckBox4"_s);
    CheckBox2 = new QCheckBox(u"Log details of emails deleted"_s, box);
    CheckBox2->setObjectName(u"CheckBox2"_s);
    CheckBox3 = new QCheckBox(u"Save a copy of deleted emails"_s, box);
    CheckBox3->setObjectName(u"CheckBox3"_s);
    lblNoTray = wrappedText(u"This desktop has no system tray: no icon can be shown, and "
                            u"minimising keeps the window on the task bar."_s,
                            box);
    lblNoTray->setObjectName(u"lblNoTray"_s);
    lblNoTray->setIndent(20);
    lblNoTray->hide();
    CheckBox5 = new QCheckBox(
        u"Show a desktop notification when automatic mode deletes mail or fails"_s, box);
    CheckBox5->setObjectName(u"CheckBox5"_s);
    SpeedButton1 = new QPushButton(u"Click here to view log"_s, box);
    SpeedButton1->setObjectName(u"SpeedButton1"_s);
    SpeedButton1->setFlat(true);
    SpeedButton1->setCursor(Qt::PointingHandCursor);
    SpeedButton2 = new QPushButton(u"Click here to view archive"_s, box);
    SpeedButton2->setObjectName(u"SpeedButton2"_s);
    SpeedButton2->setFlat(true);
    SpeedButton2->setCursor(Qt::PointingHandCursor);
    for (QPushButton *link : {SpeedButton1, SpeedButton2})
        link->setStyleSheet(u"QPushButton { color: palette(link); text-decoration: underline; "
                            u"text-align: left; border: none; padding: 2px; }"_s);

    auto *inner = new QVBoxLayout(box);
    inner->addWidget(CheckBox1);
    inner->addWidget(CheckBox4);
    inner->addWidget(lblNoTray);
    inner->addWidget(CheckBox5);
    inner->addWidget(CheckBox2);
    inner->addWidget(CheckBox3);
    inner->addWidget(wrappedText(
        u"If you check this option, when you delete an email the program downloads it and "
        u"stores it in a folder so you can go back later and look at them."_s,
        box));
    inner->addStretch();
    auto *links = new QHBoxLayout;
    links->addWidget(SpeedButton1);
    links->addWidget(SpeedButton2);
    links->addStretch();
    inner->addLayout(links);
    // Where the Help menu and the Welcome window send the user for help.
    auto *publisher = group(u"Help and support"_s, page);
    Edit4 = new QLineEdit(publisher);
    Edit4->setObjectName(u"Edit4"_s);
    Edit5 = new QLineEdit(publisher);
    Edit5->setObjectName(u"Edit5"_s);
    auto *publisherForm = new QFormLayout(publisher);
    auto *siteLabel = new QLabel(u"&Web site"_s, publisher);
    siteLabel->setBuddy(Edit4);
    auto *supportLabel = new QLabel(u"Support &e-mail"_s, publisher);
    supportLabel->setBuddy(Edit5);
    publisherForm->addRow(siteLabel, Edit4);
    publisherForm->addRow(supportLabel, Edit5);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addWidget(publisher);

    connect(CheckBox5, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.notify = on;
    });
    connect(Edit4, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.website = text;
    });
    connect(Edit5, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.supportaddress = text;
    });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] {
        if (!m_showing)
            CheckBox1Click();
    });
    connect(CheckBox4, &QCheckBox::toggled, this, [this] {
        if (!m_showing)
            CheckBox4Click();
    });
    connect(CheckBox2, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.Logging = on;
    });
    connect(CheckBox3, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.Save = on;
    });
    connect(SpeedButton1, &QPushButton::clicked, this, &TfmSetup::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TfmSetup::SpeedButton2Click);
    return page;
}

QWidget *TfmSetup::createAutoModeTab() {
    auto *page = new QWidget;
    auto *box =
        group(u"These options are only in effect when program is in automatic mode"_s, page);
    SpinEdit1 = new QSpinBox(box);
    SpinEdit1->setObjectName(u"SpinEdit1"_s);
    SpinEdit1->setRange(Settings::MinAutoIntvl, Settings::MaxAutoIntvl);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(u"Perform check and delete every"_s, box));
    row->addWidget(SpinEdit1);
    row->addWidget(new QLabel(u"minutes"_s, box));
    row->addStretch();
    auto *inner = new QVBoxLayout(box);
    inner->addLayout(row);
    inner->addStretch();
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this](int minutes) {
        if (!m_showing)
            m_settings.AutoIntvl = qBound(Settings::MinAutoIntvl, minutes, Settings::MaxAutoIntvl);
    });
    return page;
}

QWidget *TfmSetup::createAccountsTab() {
    auto *page = new QWidget;
    auto *box = group(u"Adding, editing and removing email accounts"_s, page);
    DBGrid1 = new QTableWidget(0, 2, box);
    DBGrid1->setObjectName(u"DBGrid1"_s);
    DBGrid1->setHorizontalHeaderLabels({u"Account Name"_s, u"Security"_s});
    DBGrid1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    DBGrid1->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setShowGrid(true);
    Button1 = new QPushButton(u"Add New"_s, box);
    Button1->setObjectName(u"Button1"_s);
    Button2 = new QPushButton(u"Edit Selected"_s, box);
    Button2->setObjectName(u"Button2"_s);
    Button3 = new QPushButton(u"Remove Selected"_s, box);
    Button3->setObjectName(u"Button3"_s);
    Label15 = new QLabel(u"0 accounts listed"_s, box);
    Label15->setObjectName(u"Label15"_s);
    Label15->setAlignment(Qt::AlignCenter);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    buttons->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(DBGrid1, 1);
    top->addLayout(buttons);
    auto *line = new QFrame(box);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto *inner = new QVBoxLayout(box);
    inner->addLayout(top);
    inner->addWidget(line);
    inner->addWidget(Label15);
    // Several header requests in flight save a round trip each on a slow line; a server that
    // does not announce it is always asked one command at a time.
    CheckBoxPipelining = new QCheckBox(
        u"Ask for several &headers at once when the server allows it (faster checks)"_s, page);
    CheckBoxPipelining->setObjectName(u"CheckBoxPipelining"_s);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addWidget(CheckBoxPipelining);
    connect(CheckBoxPipelining, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_showing)
            m_settings.pop3pipelining = on;
    });

    connect(Button1, &QPushButton::clicked, this, &TfmSetup::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfmSetup::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TfmSetup::Button3Click);
    connect(DBGrid1, &QTableWidget::cellDoubleClicked, this, &TfmSetup::DBGrid1DblClick);
    connect(DBGrid1, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (m_filling || !m_store || row < 0)
            return;
        guarded(m_prompts, this, [&] { m_store->setCurrentRow(row); });
    });
    return page;
}

QWidget *TfmSetup::createColorsTab() {
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
    addRow(0, u"If the e-mail is marked as spam, make it this color"_s, u"Shape1"_s,
           u"SpeedButton3"_s, Shape1, SpeedButton3);
    addRow(1, u"If an e-mail is on the friendly list, make it this color"_s, u"Shape2"_s,
           u"SpeedButton4"_s, Shape2, SpeedButton4);
    addRow(2, u"Set the color of the email list to this color"_s, u"Shape3"_s, u"SpeedButton5"_s,
           Shape3, SpeedButton5);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(3, 1);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(SpeedButton3, &QPushButton::clicked, this, &TfmSetup::SpeedButton3Click);
    connect(SpeedButton4, &QPushButton::clicked, this, &TfmSetup::SpeedButton4Click);
    connect(SpeedButton5, &QPushButton::clicked, this, &TfmSetup::SpeedButton5Click);
    return page;
}

QWidget *TfmSetup::createBouncingTab() {
    auto *page = new QWidget;
    auto *box = group(u"Bouncing Settings"_s, page);
    Edit2 = new QLineEdit(box);
    Edit2->setObjectName(u"Edit2"_s);
    Edit3 = new QLineEdit(box);
    Edit3->setObjectName(u"Edit3"_s);
    BounceNotice = notice(u"BounceNotice"_s, box);
    auto *form = new QFormLayout;
    const auto withStandard = [&](QLineEdit *edit) {
        auto *row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(new QLabel(u"* standard"_s, box));
        return row;
    };
    form->addRow(u"Bounce Sender"_s, withStandard(Edit2));
    form->addRow(u"Bounce Subject"_s, withStandard(Edit3));
    auto *inner = new QVBoxLayout(box);
    inner->addWidget(wrappedText(
        u"Boucning an email back makes it seem like that email adress no-longer exists"_s, box));
    inner->addLayout(form);
    inner->addWidget(BounceNotice);
    inner->addStretch();
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(Edit2, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.bouncefrom = text;
    });
    connect(Edit3, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.bouncesubj = text;
    });
    return page;
}

QWidget *TfmSetup::createSubmittingTab() {
    auto *page = new QWidget;
    auto *box = group(u"Submit your black lists for other people to use"_s, page);
    const auto sizeLabel = [box](const QString &name) {
        auto *label = new QLabel(u"no file yet"_s, box);
        label->setObjectName(name);
        return label;
    };
    SizeSubj = sizeLabel(u"SizeSubj"_s);
    SizeEmail = sizeLabel(u"SizeEmail"_s);
    SizeXY = sizeLabel(u"SizeXY"_s);
    auto *sizes = new QGridLayout;
    sizes->addWidget(new QLabel(u"File size of subject black list - "_s, box), 0, 0);
    sizes->addWidget(SizeSubj, 0, 1);
    sizes->addWidget(new QLabel(u"File size of email black list -"_s, box), 1, 0);
    sizes->addWidget(SizeEmail, 1, 1);
    sizes->addWidget(new QLabel(u"File size of subject xy black list -"_s, box), 2, 0);
    sizes->addWidget(SizeXY, 2, 1);
    sizes->setColumnStretch(1, 1);
    Button4 = new QPushButton(u"Submit"_s, box);
    Button4->setObjectName(u"Button4"_s);
    auto *submitRow = new QHBoxLayout;
    submitRow->addWidget(Button4, 0, Qt::AlignTop);
    submitRow->addWidget(wrappedText(u"Only the black lists are sent, no other information is "
                                     u"collected from your computer!"_s,
                                     box),
                         1);
    SubmitResult = wrappedText(QString(), box);
    SubmitResult->setObjectName(u"SubmitResult"_s);
    SubmitResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *inner = new QVBoxLayout(box);
    inner->addWidget(wrappedText(
        u"A powerful feature of this program is to allow you to submit your black lists. These "
        u"are then checked and then added to the updates - this means that you will get items "
        u"that other people black list and you will get there's!  "_s,
        box));
    inner->addLayout(sizes);
    inner->addLayout(submitRow);
    inner->addWidget(SubmitResult);

    // Who publishes the master lists and collects the submissions.
    auto *exchange = group(u"Publisher of the master lists"_s, page);
    UpdateUrl = new QLineEdit(exchange);
    UpdateUrl->setObjectName(u"UpdateUrl"_s);
    UpdateUrl->setPlaceholderText(u"https://lists.your-organisation.org/corvane/"_s);
    SubmitAddress = new QLineEdit(exchange);
    SubmitAddress->setObjectName(u"SubmitAddress"_s);
    SubmitAddress->setPlaceholderText(u"lists@your-organisation.org"_s);
    ExchangeNotice = wrappedText(
        u"The addresses shown are only examples. Enter where your organisation publishes its "
        u"master lists (the web folder that holds update/blsubj.dat, update/bleml.dat and "
        u"update/blsubxy.dat) and the address it collects black lists at."_s,
        exchange);
    ExchangeNotice->setObjectName(u"ExchangeNotice"_s);
    ExchangeNotice->setStyleSheet(u"QLabel { color: #a02000; font-weight: bold; }"_s);
    auto *form = new QFormLayout;
    auto *urlLabel = new QLabel(u"&Update address"_s, exchange);
    urlLabel->setBuddy(UpdateUrl);
    auto *addressLabel = new QLabel(u"&Collection address"_s, exchange);
    addressLabel->setBuddy(SubmitAddress);
    form->addRow(urlLabel, UpdateUrl);
    form->addRow(addressLabel, SubmitAddress);
    auto *exchangeLayout = new QVBoxLayout(exchange);
    exchangeLayout->addLayout(form);
    exchangeLayout->addWidget(ExchangeNotice);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addWidget(exchange);
    layout->addStretch();
    connect(Button4, &QPushButton::clicked, this, &TfmSetup::Button4Click);
    connect(UpdateUrl, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_showing)
            return;
        m_settings.updateurl = text.trimmed();
        updateNotices();
    });
    connect(SubmitAddress, &QLineEdit::textChanged, this, [this](const QString &text) {
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

QWidget *TfmSetup::createSmtpTab() {
    auto *page = new QWidget;
    auto *box = group(u"Sending E-mails"_s, page);
    SMTPServer = new QLineEdit(box);
    SMTPServer->setObjectName(u"SMTPServer"_s);
    SMTPPort = new QLineEdit(box);
    SMTPPort->setObjectName(u"SMTPPort"_s);
    SMTPPort->setMaximumWidth(80);
    Edit1 = new QLineEdit(box);
    Edit1->setObjectName(u"Edit1"_s);
    SmtpNotice = notice(u"SmtpNotice"_s, box);
    SMTPSecurity = new QComboBox(box);
    SMTPSecurity->setObjectName(u"SMTPSecurity"_s);
    SMTPSecurity->addItem(u"As the port says (465: TLS, 587: STARTTLS, others: none)"_s, QString());
    SMTPSecurity->addItem(u"None: plain text throughout"_s, u"none"_s);
    SMTPSecurity->addItem(u"STARTTLS: secured before logging in (port 587)"_s, u"STARTTLS"_s);
    SMTPSecurity->addItem(u"TLS from the first byte (port 465)"_s, u"TLS"_s);
    SMTPUser = new QLineEdit(box);
    SMTPUser->setObjectName(u"SMTPUser"_s);
    SMTPUser->setPlaceholderText(u"empty: the server takes mail without a login"_s);
    SMTPPassword = new QLineEdit(box);
    SMTPPassword->setObjectName(u"SMTPPassword"_s);
    SMTPPassword->setEchoMode(QLineEdit::Password);
    SMTPPasswordNote = new QLabel(box);
    SMTPPasswordNote->setObjectName(u"SMTPPasswordNote"_s);
    SMTPPasswordNote->setWordWrap(true);
    auto *form = new QFormLayout;
    auto *serverLabel = new QLabel(u"&Outgoing Mail Server (SMTP)"_s, box);
    serverLabel->setBuddy(SMTPServer);
    auto *portLabel = new QLabel(u"Po&rt"_s, box);
    portLabel->setBuddy(SMTPPort);
    form->addRow(serverLabel, SMTPServer);
    form->addRow(portLabel, SMTPPort);
    form->addRow(u"E-Mail Address"_s, Edit1);
    auto *securityLabel = new QLabel(u"&Security"_s, box);
    securityLabel->setBuddy(SMTPSecurity);
    auto *userLabel = new QLabel(u"&User name"_s, box);
    userLabel->setBuddy(SMTPUser);
    auto *passwordLabel = new QLabel(u"Pass&word"_s, box);
    passwordLabel->setBuddy(SMTPPassword);
    form->addRow(securityLabel, SMTPSecurity);
    form->addRow(userLabel, SMTPUser);
    form->addRow(passwordLabel, SMTPPassword);
    form->addRow(QString(), SMTPPasswordNote);
    auto *inner = new QVBoxLayout(box);
    inner->addWidget(wrappedText(
        u"Some functions in the program mean that you need to send mail. To do so we need to "
        u"know the smtp details of your main dial-up connection. If you don't know these, "
        u"contact your internet service provider."_s,
        box));
    inner->addLayout(form);
    inner->addWidget(SmtpNotice);
    inner->addStretch();
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(box);
    connect(SMTPServer, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_showing)
            return;
        m_settings.smtpserver = text;
        updateNotices();
    });
    connect(SMTPPort, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.smtpport = text;
    });
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_showing)
            return;
        m_settings.smtpemail = text;
        updateNotices();
    });
    connect(SMTPSecurity, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_showing)
            m_settings.smtpsecurity = SMTPSecurity->currentData().toString();
    });
    connect(SMTPUser, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_showing)
            m_settings.smtpuser = text.trimmed();
    });
    // The password is stored once typing ends, not at every key.
    connect(SMTPPassword, &QLineEdit::editingFinished, this, [this] { storePassword(); });
    return page;
}

void TfmSetup::storePassword() {
    const QString password = SMTPPassword->text();
    if (password == m_settings.smtppassword)
        return;
    if (!m_passwordStore) {
        m_settings.smtppassword = password;
        SMTPPasswordNote->setText(u"The password is used until the program ends."_s);
        return;
    }
    try {
        const SecretStore::Place place = m_passwordStore(password);
        m_settings.smtppassword = password;
        showPasswordPlace(place);
    } catch (const Error &e) {
        SMTPPasswordNote->setText(u"The password could not be stored: "_s + e.message());
    }
}

void TfmSetup::showPasswordPlace(SecretStore::Place place) {
    SMTPPasswordNote->setText(
        place == SecretStore::Place::Keychain
            ? u"The password is kept in the desktop's secret store."_s
            : u"No secret store of the desktop answers: the password is kept in the file "
              u"secrets.dat of the data folder, which only you can read."_s);
}

void TfmSetup::setStartWithSystem(StartWithSystem *entry, StartCommand command) {
    m_startEntry = entry;
    m_startCommand = std::move(command);
}

void TfmSetup::setAccountStore(AccountStore *store) {
    m_store = store;
    if (m_store) {
        connect(m_store, &AccountStore::currentRowChanged, this,
                [this] { selectCurrentAccount(); });
    }
    showAccounts(m_store ? m_store->rowCount() : 0);
}

void TfmSetup::setAccountDialogs(AddAccountDialog *add, EditAccountDialog *edit) {
    m_addAccount = add;
    m_editAccount = edit;
}

void TfmSetup::setRecordWindows(DeletionLogWindow *logWindow, QWidget *archiveWindow) {
    m_logWindow = logWindow;
    m_archiveWindow = archiveWindow;
    SpeedButton1->setEnabled(logWindow != nullptr);
    SpeedButton2->setEnabled(archiveWindow != nullptr);
}

bool TfmSetup::smtpIsPlaceholder(const Settings &settings) {
    const Settings fresh;
    const QString server = settings.smtpserver.trimmed();
    const QString email = settings.smtpemail.trimmed();
    return server.isEmpty() || email.isEmpty() || server == fresh.smtpserver ||
           email == fresh.smtpemail || isExampleName(server) || isExampleName(email);
}

void TfmSetup::setLearning(LearningStore *store) {
    learningPage->setLearning(store);
}

void TfmSetup::showSettings() {
    learningPage->showSettings();
    m_showing = true;
    CheckBox1->setChecked(m_settings.Startup);
    CheckBox4->setChecked(m_settings.Systray);
    CheckBox2->setChecked(m_settings.Logging);
    CheckBox3->setChecked(m_settings.Save);
    CheckBox5->setChecked(m_settings.notify);
    CheckBoxPipelining->setChecked(m_settings.pop3pipelining);
    Edit4->setText(m_settings.website);
    Edit5->setText(m_settings.supportaddress);
    SpinEdit1->setValue(m_settings.AutoIntvl);
    showSwatch(Shape1, m_settings.colorban);
    showSwatch(Shape2, m_settings.colorfriend);
    showSwatch(Shape3, m_settings.colormailwin);
    Edit2->setText(m_settings.bouncefrom);
    Edit3->setText(m_settings.bouncesubj);
    SMTPServer->setText(m_settings.smtpserver);
    SMTPPort->setText(m_settings.smtpport);
    Edit1->setText(m_settings.smtpemail);
    const int securityItem = SMTPSecurity->findData(smtpSecurityItem(m_settings.smtpsecurity));
    SMTPSecurity->setCurrentIndex(securityItem < 0 ? 0 : securityItem);
    SMTPUser->setText(m_settings.smtpuser);
    SMTPPassword->setText(m_settings.smtppassword);
    UpdateUrl->setText(m_settings.updateurl);
    SubmitAddress->setText(m_settings.submitaddress);
    m_showing = false;
    updateNotices();
}

void TfmSetup::setTrayAvailable(bool available) {
    lblNoTray->setVisible(!available);
    // Notifications are shown through the tray icon.
    CheckBox5->setEnabled(available);
    CheckBox4->setToolTip(available ? QString() : lblNoTray->text());
    // The size hint counts a wrapped note as one line: room for the second line of the
    // archive note and of this one.
    const int lines = available ? 1 : 2;
    resize(size().expandedTo(
        QSize(sizeHint().width(), sizeHint().height() + lines * fontMetrics().lineSpacing())));
}

void TfmSetup::takeOverStoredSettings() {
    showSettings();
    if (m_settings.Startup)
        CheckBox1Click();
    if (m_settings.Systray)
        CheckBox4Click();
}

void TfmSetup::updateNotices() {
    const bool placeholder = smtpIsPlaceholder(m_settings);
    BounceNotice->setVisible(placeholder);
    SmtpNotice->setVisible(placeholder);
    ExchangeNotice->setVisible(ListUpdate::isExampleAddress(QUrl(m_settings.updateurl.trimmed())) ||
                               ListUpdate::isExampleMailAddress(m_settings.submitaddress));
}

void TfmSetup::setListFolder(const QString &folder) {
    m_listFolder = folder;
    showListSizes();
}

void TfmSetup::showListSizes() {
    const QString folder = m_listFolder;
    const std::pair<QLabel *, QString> rows[] = {{SizeSubj, ListSubmission::FileNames.at(0)},
                                                 {SizeEmail, ListSubmission::FileNames.at(1)},
                                                 {SizeXY, ListSubmission::FileNames.at(2)}};
    for (const auto &[label, name] : rows) {
        const QString size = ListSubmission::sizeText(QDir(folder).filePath(name));
        label->setText(size.isEmpty() ? u"no file yet"_s : size);
    }
}

void TfmSetup::showSwatch(QFrame *shape, int colour) {
    QPalette palette = shape->palette();
    palette.setColor(QPalette::Window, colourFromSetting(colour));
    shape->setPalette(palette);
    shape->setToolTip(colourFromSetting(colour).name());
}

void TfmSetup::chooseColour(QFrame *shape, int &setting) {
    const std::optional<QColor> chosen = m_chooser(colourFromSetting(setting), this);
    if (!chosen || !chosen->isValid())
        return;
    setting = settingFromColour(*chosen);
    showSwatch(shape, setting);
}

// ---- handlers -------------------------------------------------------------------------------

void TfmSetup::CheckBox1Click() {
    const bool on = CheckBox1->isChecked();
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

void TfmSetup::CheckBox4Click() {
    m_settings.Systray = CheckBox4->isChecked();
    Q_EMIT systrayChanged(m_settings.Systray);
}

void TfmSetup::SpeedButton1Click() {
    if (!m_logWindow)
        return;
    m_logWindow->showWindow();
}

void TfmSetup::SpeedButton2Click() {
    if (!m_archiveWindow)
        return;
    m_archiveWindow->show();
    m_archiveWindow->raise();
    m_archiveWindow->activateWindow();
}

void TfmSetup::SpeedButton3Click() {
    chooseColour(Shape1, m_settings.colorban);
    Q_EMIT coloursChanged();
}

void TfmSetup::SpeedButton4Click() {
    chooseColour(Shape2, m_settings.colorfriend);
    Q_EMIT coloursChanged();
}

void TfmSetup::SpeedButton5Click() {
    chooseColour(Shape3, m_settings.colormailwin);
    // Confirmed or not, the message list takes the swatch's colour.
    Q_EMIT listColourChosen();
}

void TfmSetup::BitBtn1Click() {
    hide();
}

void TfmSetup::Button1Click() {
    if (!m_addAccount)
        return;
    m_addAccount->setWindowTitle(u"Add Account"_s);
    m_addAccount->addButton->setText(u"Add Account"_s);
    m_addAccount->show();
    m_addAccount->raise();
    m_addAccount->activateWindow();
}

void TfmSetup::Button2Click() {
    if (!m_store || m_store->rowCount() == 0) {
        m_prompts.error(this, u"There are no accounts to edit"_s);
        return;
    }
    if (m_editAccount)
        m_editAccount->showCurrent();
}

void TfmSetup::DBGrid1DblClick() {
    if (!m_store || m_store->rowCount() == 0 || !m_editAccount)
        return;
    m_editAccount->showCurrent();
}

void TfmSetup::Button3Click() {
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

void TfmSetup::Timer1Timer() {
    Timer1->stop();
    Q_EMIT welcomeDue();
}

void TfmSetup::Button4Click() {
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
    Button4->setEnabled(false);
    SubmitResult->clear();

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
    Button4->setEnabled(true);
    // The sizes of the files as they were sent (or as they lie after a failed attempt).
    showListSizes();
    if (!ran) {
        m_prompts.information(this, u"Another command is waiting on a server. Press Submit again "
                                    u"when it has finished."_s);
        return;
    }
    if (failure) {
        SubmitResult->setText(u"Not sent: %1"_s.arg(*failure));
        // The program is closing: nobody waits for the news.
        if (!aborted)
            m_prompts.error(this,
                            u"Unable to send black lists, check connection and smtp details"_s);
        return;
    }
    SubmitResult->setText(sent.isEmpty() ? u"Sent, without files: none of the three exists yet."_s
                                         : u"Sent: %1"_s.arg(sent.join(u", "_s)));
    m_prompts.information(this, u"Blacklists sent"_s);
}

void TfmSetup::showAccounts(int count) {
    Label15->setText(u"%1 Accounts listed"_s.arg(count));
    m_filling = true;
    DBGrid1->setRowCount(0);
    if (m_store) {
        guarded(m_prompts, this, [&] {
            const QList<Account> accounts = m_store->accounts();
            DBGrid1->setRowCount(int(accounts.size()));
            for (int row = 0; row < accounts.size(); ++row) {
                const Account &a = accounts[row];
                DBGrid1->setItem(row, 0, new QTableWidgetItem(a.AccountName));
                // What a check would use: a row without a stored security takes its port's.
                const std::optional<ConnectionSecurity> security =
                    parseSecurity(a.Security, a.PortNumber.trimmed().toUShort());
                DBGrid1->setItem(row, 1,
                                 new QTableWidgetItem(security ? securityName(*security)
                                                               : u"unknown: "_s + a.Security));
            }
        });
    }
    m_filling = false;
    selectCurrentAccount();
}

void TfmSetup::selectCurrentAccount() {
    if (!m_store)
        return;
    const int row = m_store->currentRow();
    m_filling = true;
    if (row >= 0 && row < DBGrid1->rowCount())
        DBGrid1->setCurrentCell(row, 0);
    else
        DBGrid1->clearSelection();
    m_filling = false;
}

} // namespace corvane
