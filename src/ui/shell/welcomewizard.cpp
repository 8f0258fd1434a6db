#include "ui/shell/welcomewizard.h"

#include "core/settings/settings.h"
#include "ui/shell/svgpicture.h"
#include "ui/shell/windowplacement.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

QLabel *text(const QString &text, QWidget *parent, Qt::Alignment alignment = Qt::AlignLeft) {
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

// A flat button that looks like a link.
QPushButton *link(const QString &name, const QString &caption, QWidget *parent) {
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(u"QPushButton { color: palette(link); text-decoration: underline; "
                          u"text-align: left; border: none; padding: 2px 0; }"
                          u"QPushButton:disabled { color: palette(mid); }"_s);
    return button;
}

} // namespace

WelcomeWizard::WelcomeWizard(const Settings &settings, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_settings(settings) {
    setObjectName(u"WelcomeWizard"_s);
    setWindowTitle(u"Welcome"_s);
    setModal(false);

    sidePicture = new SvgPicture(u":/corvane/pictures/welcome-side.svg"_s,
                                 Qt::AlignHCenter | Qt::AlignBottom, this);
    sidePicture->setObjectName(u"sidePicture"_s);
    sidePicture->setFixedWidth(49);
    sidePicture->setMinimumHeight(281);
    bannerPicture = new SvgPicture(u":/corvane/pictures/welcome-banner.svg"_s,
                                   Qt::AlignLeft | Qt::AlignVCenter, this);
    bannerPicture->setObjectName(u"bannerPicture"_s);
    bannerPicture->setFixedHeight(24);
    bannerPicture->setMinimumWidth(441);

    pages = new QStackedWidget(this);
    pages->setObjectName(u"pages"_s);

    // Page 1: the greeting.
    auto *greeting = text(u"Greetings, and welcome to Corvane."_s, this);
    QFont big = greeting->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.25);
    greeting->setFont(big);
    pages->addWidget(page(
        u"welcomePage1"_s,
        {greeting,
         text(u"To make the process of getting setup and blocking spam easier this wizard will "
              u"help you get a few settings sorted and updates installed so you will be on your "
              u"way to blocking spam faster!"_s,
              this)},
        u"Click the next button to continue"_s));

    // Page 2: what an account needs.
    addAccountLink =
        link(u"addAccountLink"_s, u"Got all that? Click here to add the account"_s, this);
    pages->addWidget(page(
        u"welcomePage2"_s,
        {text(u"Here we need to setup an account. There is no limit of accounts you can have and "
              u"you can always add, edit or delete accounts at a later date in the options "
              u"area."_s,
              this),
         text(u"If you don't know what any of these are, please contact your Internet Provider"_s,
              this),
         text(u"To add account you need to know:\n"
              u"* Account name (this can be anything)\n"
              u"* Your provider's POP server, usually \"pop3.\" followed by your provider's "
              u"domain (for example pop3.example.net); if you are not sure, ring your provider\n"
              u"* The username and password to access this account\n"
              u"* The account's email address"_s,
              this),
         addAccountLink},
        u"Click the next button to continue"_s));

    // Page 3: the master lists.
    listUpdateLink =
        link(u"listUpdateLink"_s, u"Want to get the current master list? Click here"_s, this);
    pages->addWidget(page(
        u"welcomePage3"_s,
        {text(u"A big part of the program is the ability to use other people's black lists. How "
              u"it works is, if you add something to your black list - then when you submit that "
              u"black list in the item will get put on the 'master list'. Anyone with the "
              u"program can get the master list at any time and I would recommend getting it "
              u"every couple of days."_s,
              this),
         listUpdateLink,
         text(u"You can always get the master list by clicking on the 'Program' menu and going "
              u"to 'Check for updates'"_s,
              this, Qt::AlignHCenter)},
        u"Click the next button to continue"_s));

    // Page 4: done, and where help is.
    supportLabel = new QLabel(this);
    supportLabel->setObjectName(u"supportLabel"_s);
    supportLabel->setWordWrap(true);
    supportLabel->setTextFormat(Qt::RichText);
    supportLabel->setOpenExternalLinks(true);
    supportLabel->setTextInteractionFlags(Qt::TextBrowserInteraction);
    pages->addWidget(
        page(u"welcomePage4"_s,
             {text(u"Thank you for your time the process is now complete"_s, this), supportLabel,
              text(u"Be sure to have a quick flick through the help guide which has Frequently "
                   u"Asked Questions and also tips on the best methods in fighting spam."_s,
                   this)},
             u"Click the finish button to exit"_s));

    previousButton = new QPushButton(u"Previous"_s, this);
    previousButton->setObjectName(u"previousButton"_s);
    nextButton = new QPushButton(u"Next"_s, this);
    nextButton->setObjectName(u"nextButton"_s);
    finishButton = new QPushButton(u"Finish"_s, this);
    finishButton->setObjectName(u"finishButton"_s);
    nextButton->setDefault(true);

    auto *right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(bannerPicture);
    right->addWidget(pages, 1);
    auto *top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    top->addWidget(sidePicture);
    top->addLayout(right, 1);
    auto *rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 6, 8, 8);
    buttons->addStretch();
    buttons->addWidget(previousButton);
    buttons->addWidget(nextButton);
    buttons->addSpacing(8);
    buttons->addWidget(finishButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(top, 1);
    layout->addWidget(rule);
    layout->addLayout(buttons);

    connect(previousButton, &QPushButton::clicked, this, &WelcomeWizard::showPreviousPage);
    connect(nextButton, &QPushButton::clicked, this, &WelcomeWizard::showNextPage);
    connect(finishButton, &QPushButton::clicked, this, &WelcomeWizard::finish);
    connect(addAccountLink, &QPushButton::clicked, this, &WelcomeWizard::openAddAccount);
    connect(listUpdateLink, &QPushButton::clicked, this, &WelcomeWizard::openListUpdate);
    addAccountLink->setEnabled(false);
    listUpdateLink->setEnabled(false);

    buildPages();
    showSupport();
    // Not resizable: the size the pages need, and at least the pictures' own.
    setFixedSize(
        sizeHint().expandedTo(QSize(49 + 441, 281 + previousButton->sizeHint().height() + 16)));
}

QWidget *WelcomeWizard::page(const QString &name, const QList<QWidget *> &top,
                             const QString &bottomRight) {
    auto *sheet = new QWidget(pages);
    sheet->setObjectName(name);
    auto *layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(14, 12, 14, 8);
    layout->setSpacing(10);
    for (QWidget *w : top) {
        w->setParent(sheet);
        layout->addWidget(w, 0, w->inherits("QPushButton") ? Qt::AlignLeft : Qt::Alignment());
    }
    layout->addStretch(1);
    layout->addWidget(text(bottomRight, sheet, Qt::AlignRight));
    return sheet;
}

void WelcomeWizard::buildPages() {
    showPage(0);
}

void WelcomeWizard::setAddAccountCommand(std::function<void()> command) {
    m_addAccount = std::move(command);
    addAccountLink->setEnabled(bool(m_addAccount));
}

void WelcomeWizard::setListUpdateCommand(std::function<void()> command) {
    m_listUpdate = std::move(command);
    listUpdateLink->setEnabled(bool(m_listUpdate));
}

int WelcomeWizard::currentPage() const {
    return pages->currentIndex();
}

void WelcomeWizard::showPage(int index) {
    pages->setCurrentIndex(qBound(0, index, PageCount - 1));
    updateButtons();
}

void WelcomeWizard::updateButtons() {
    const int i = currentPage();
    previousButton->setEnabled(i != 0);
    nextButton->setEnabled(i + 1 != PageCount);
    finishButton->setEnabled(i + 1 == PageCount);
    // Enter moves on: Next until the last page, then Finish.
    (i + 1 == PageCount ? finishButton : nextButton)->setDefault(true);
    (i + 1 == PageCount ? nextButton : finishButton)->setDefault(false);
}

void WelcomeWizard::showSupport() {
    const QString site = m_settings.website.trimmed();
    const QString address = m_settings.supportaddress.trimmed();
    const QUrl siteUrl = QUrl::fromUserInput(site);
    const QString siteLink = u"<a href=\"%1\">%2</a>"_s.arg(
        siteUrl.toString(QUrl::FullyEncoded).toHtmlEscaped(), site.toHtmlEscaped());
    QUrl mail;
    mail.setScheme(u"mailto"_s);
    mail.setPath(address);
    const QString mailLink = u"<a href=\"%1\">%2</a>"_s.arg(
        mail.toString(QUrl::FullyEncoded).toHtmlEscaped(), address.toHtmlEscaped());
    supportLabel->setText(
        u"If you need support, visit our support web page at %1 or e-mail us at %2."_s.arg(
            siteLink, mailLink));
}

void WelcomeWizard::showEvent(QShowEvent *event) {
    // The addresses may have been changed in the options window since the window was made.
    showSupport();
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

void WelcomeWizard::showPreviousPage() {
    showPage(currentPage() - 1);
}

void WelcomeWizard::showNextPage() {
    showPage(currentPage() + 1);
}

void WelcomeWizard::finish() {
    hide();
    Q_EMIT wizardFinished();
}

void WelcomeWizard::openAddAccount() {
    if (m_addAccount)
        m_addAccount();
}

void WelcomeWizard::openListUpdate() {
    if (m_listUpdate)
        m_listUpdate();
}

} // namespace corvane
