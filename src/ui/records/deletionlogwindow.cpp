#include "ui/records/deletionlogwindow.h"

#include "core/records/deletionlog.h"
#include "ui/records/logprinter.h"
#include "ui/shell/guard.h"
#include "ui/shell/prompts.h"
#include "ui/shell/windowplacement.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

const QString DeletionLogWindow::Caption = u"Log File"_s;

DeletionLogWindow::DeletionLogWindow(DeletionLog &log, Prompts &prompts, PrinterSource &printers,
                                     QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_log(log),
      m_prompts(prompts), m_printers(&printers) {
    setObjectName(u"DeletionLogWindow"_s);
    setWindowTitle(Caption);
    setModal(false);

    logBox = new QGroupBox(this);
    logBox->setObjectName(u"logBox"_s);
    logText = new QPlainTextEdit(logBox);
    logText->setObjectName(u"logText"_s);
    logText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    logText->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    totalSeparator = new QFrame(logBox);
    totalSeparator->setObjectName(u"totalSeparator"_s);
    totalSeparator->setFrameShape(QFrame::Panel);
    totalSeparator->setFrameShadow(QFrame::Sunken);
    totalCaption = new QLabel(u"Total of email deleted:"_s, totalSeparator);
    totalCaption->setObjectName(u"totalCaption"_s);
    totalLabel = new QLabel(u"0"_s, totalSeparator);
    totalLabel->setObjectName(u"totalLabel"_s);
    auto *total = new QHBoxLayout(totalSeparator);
    total->setContentsMargins(8, 4, 8, 4);
    total->addWidget(totalCaption);
    total->addWidget(totalLabel);
    total->addStretch();

    const auto button = [this](const QString &name, const QString &text) {
        auto *b = new QPushButton(text, logBox);
        b->setObjectName(name);
        b->setFixedSize(113, 25);
        b->setAutoDefault(false);
        return b;
    };
    clearLogButton = button(u"clearLogButton"_s, u"Clear Log"_s);
    printLogButton = button(u"printLogButton"_s, u"Print Log"_s);
    closeButton = button(u"closeButton"_s, u"Close"_s);
    connect(clearLogButton, &QPushButton::clicked, this, &DeletionLogWindow::clearLog);
    connect(printLogButton, &QPushButton::clicked, this, &DeletionLogWindow::printLog);
    connect(closeButton, &QPushButton::clicked, this, &DeletionLogWindow::closeWindow);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(totalSeparator);
    bottom->addStretch();
    bottom->addWidget(clearLogButton);
    bottom->addWidget(printLogButton);
    bottom->addWidget(closeButton);
    auto *inner = new QVBoxLayout(logBox);
    inner->addWidget(logText, 1);
    inner->addLayout(bottom);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(5, 5, 5, 5);
    outer->addWidget(logBox);
    resize(670, 347);

    connect(logText, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing)
            m_edited = true;
    });
    showLog();
}

void DeletionLogWindow::showLog() {
    m_showing = true;
    logText->setPlainText(m_log.LogLines.join(u'\n'));
    m_showing = false;
    m_edited = false;
    totalLabel->setText(m_log.DeleteCount);
}

void DeletionLogWindow::commitEdits() {
    if (!m_edited)
        return;
    const QString text = logText->toPlainText();
    m_log.LogLines = text.isEmpty() ? QStringList() : text.split(u'\n');
    m_edited = false;
}

void DeletionLogWindow::setRunning(bool running) {
    logText->setReadOnly(running);
    clearLogButton->setEnabled(!running);
}

void DeletionLogWindow::showWindow() {
    show();
    raise();
    activateWindow();
}

void DeletionLogWindow::clearLog() {
    if (!m_prompts.askYesNo(this, u"Clear the log and set the number of deleted messages to 0? "
                                  u"This cannot be undone."_s))
        return;
    m_log.clear();
    showLog();
}

void DeletionLogWindow::printLog() {
    guarded(m_prompts, this, [this] {
        const std::unique_ptr<QPrinter> printer = m_printers->defaultPrinter();
        printPlainText(*printer, logText->toPlainText(), Caption);
    });
}

void DeletionLogWindow::closeWindow() {
    close();
}

void DeletionLogWindow::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
