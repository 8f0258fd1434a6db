#include "ui/rules/listupdatewindow.h"

#include "core/errors.h"
#include "core/protocol/httpfetcher.h"
#include "core/settings/settings.h"
#include "ui/shell/prompts.h"
#include "ui/shell/windowplacement.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

const QString ListUpdateWindow::Caption = u"Update"_s;

namespace {

QString gainLine(const QString &list, qsizetype gained) {
    if (gained == 0)
        return u"%1: no new entries"_s.arg(list);
    if (gained == 1)
        return u"%1: 1 new entry"_s.arg(list);
    return u"%1: %2 new entries"_s.arg(list).arg(gained);
}

// Why Check Now cannot run with this address, or nothing when it can.
QString unusableAddress(const QString &text) {
    const QUrl base(text.trimmed());
    const QString where = u"Enter the web address of the folder where your lists are published "
                          u"(it holds update/blsubj.dat, update/bleml.dat and update/blsubxy.dat) "
                          u"as \"Update address\" on the Submitting tab of Options / settings, "
                          u"then press Check Now again."_s;
    if (text.trimmed().isEmpty())
        return u"No address to fetch the master lists from has been set.\n\n"_s + where;
    const QString scheme = base.scheme().toLower();
    if (!base.isValid() || (scheme != u"https"_s && scheme != u"http"_s) || base.host().isEmpty())
        return u"The update address \"%1\" is not a web address (https:// or http://).\n\n"_s.arg(
                   text) +
               where;
    if (ListUpdate::isExampleAddress(base))
        return u"No publisher of master lists has been set yet: %1 is only an example "
               u"address.\n\n"_s.arg(text) +
               where;
    return {};
}

} // namespace

ListUpdateWindow::ListUpdateWindow(RuleLists &lists, Settings &settings, Prompts &prompts,
                                   QString updatesFolder, QWidget *parent)
    : QDialog(parent, Qt::Tool), m_lists(lists), m_settings(settings), m_prompts(prompts),
      m_folder(std::move(updatesFolder)), m_fetcher(std::make_unique<HttpFetcher>()) {
    setObjectName(u"ListUpdateWindow"_s);
    setWindowTitle(Caption);
    setModal(false);

    updateBox = new QGroupBox(u"Check for blacklist and rules updates"_s, this);
    updateBox->setObjectName(u"updateBox"_s);
    auto *text = new QLabel(u"Here the program will check for updates. If it finds more recent "
                            u"files it will download and install them"_s,
                            updateBox);
    text->setWordWrap(true);
    checkNowButton = new QPushButton(u"Check Now"_s, updateBox);
    checkNowButton->setObjectName(u"checkNowButton"_s);
    checkNowButton->setDefault(true);
    auto *progressLabel = new QLabel(u"Progress:"_s, updateBox);
    statusLabel = new QLabel(u"idle..."_s, updateBox);
    statusLabel->setObjectName(u"statusLabel"_s);
    progressBar = new QProgressBar(updateBox);
    progressBar->setObjectName(u"progressBar"_s);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    sourceLabel = new QLabel(updateBox);
    sourceLabel->setObjectName(u"sourceLabel"_s);
    sourceLabel->setTextFormat(Qt::PlainText);
    sourceLabel->setWordWrap(true);
    sourceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    resultLabel = new QLabel(updateBox);
    resultLabel->setObjectName(u"resultLabel"_s);
    resultLabel->setTextFormat(Qt::PlainText);
    // Short lines, one per list: without word wrap the label's height follows its lines.
    resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(text, 1);
    buttonRow->addWidget(checkNowButton, 0, Qt::AlignTop);
    auto *statusRow = new QHBoxLayout;
    statusRow->addWidget(progressLabel);
    statusRow->addWidget(statusLabel, 1);
    auto *inner = new QVBoxLayout(updateBox);
    inner->addLayout(buttonRow);
    inner->addLayout(statusRow);
    inner->addWidget(progressBar);
    inner->addWidget(sourceLabel);
    inner->addWidget(resultLabel);
    inner->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(updateBox);

    connect(checkNowButton, &QPushButton::clicked, this, &ListUpdateWindow::checkNow);
    showSource();
    resize(sizeHint().expandedTo(QSize(460, 230)));
}

ListUpdateWindow::~ListUpdateWindow() = default;

void ListUpdateWindow::showWindow() {
    showSource();
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    show();
    raise();
    activateWindow();
}

void ListUpdateWindow::showSource() {
    sourceLabel->setText(u"Lists from: %1"_s.arg(m_settings.updateurl.trimmed()));
}

void ListUpdateWindow::checkNow() {
    // The button is disabled while a run goes on; a click queued before that changes nothing.
    if (m_running)
        return;
    showSource();
    if (const QString why = unusableAddress(m_settings.updateurl); !why.isEmpty()) {
        m_prompts.information(this, why);
        return;
    }
    runUpdate(QUrl(m_settings.updateurl.trimmed()));
}

void ListUpdateWindow::runUpdate(const QUrl &base) {
    m_running = true;
    m_aborted = false;
    checkNowButton->setEnabled(false);
    resultLabel->clear();

    ListUpdate::Gains gains{};
    std::optional<QString> failure;
    const auto work = [&] {
        failure = failureOf([&] {
            ListUpdate update(m_lists, m_folder, *m_fetcher);
            gains = update.run(base, [this](const QString &status, int percent) {
                statusLabel->setText(status);
                progressBar->setValue(percent);
            });
        });
    };
    const auto abortWait = [this] {
        m_aborted = true;
        m_fetcher->abort();
    };
    const bool ran = m_runner ? m_runner(work, abortWait) : (work(), true);
    m_running = false;
    checkNowButton->setEnabled(true);
    if (!ran) {
        m_prompts.information(this, u"Another command is waiting on a server. Press Check Now "
                                    u"again when it has finished."_s);
        return;
    }
    if (failure) {
        progressBar->setValue(0);
        if (m_aborted) {
            // The program is closing: the lists stay as they were and nobody waits for news.
            statusLabel->setText(u"Stopped"_s);
            return;
        }
        statusLabel->setText(u"Error - check interne connection"_s);
        resultLabel->setText(u"Nothing was changed in your lists. Reason: %1"_s.arg(*failure));
        m_prompts.error(this,
                        u"Updates couldn't be downloaded, please check internet connection"_s);
        return;
    }
    resultLabel->setText(QStringList{gainLine(u"Subject black list"_s, gains[0]),
                                     gainLine(u"E-mail black list"_s, gains[1]),
                                     gainLine(u"X and Y list"_s, gains[2])}
                             .join(u'\n'));
    if (gains[0] + gains[1] + gains[2] > 0)
        Q_EMIT listsChanged();
}

} // namespace corvane
