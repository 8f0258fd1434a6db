#include "ui/records/tform8.h"

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

const QString TForm8::Caption = u"Log File"_s;

TForm8::TForm8(DeletionLog &log, Prompts &prompts, PrinterSource &printers, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_log(log),
      m_prompts(prompts), m_printers(&printers) {
    setObjectName(u"TForm8"_s);
    setWindowTitle(Caption);
    setModal(false);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setObjectName(u"Memo1"_s);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    Bevel1 = new QFrame(GroupBox1);
    Bevel1->setObjectName(u"Bevel1"_s);
    Bevel1->setFrameShape(QFrame::Panel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Label1 = new QLabel(u"Total of email deleted:"_s, Bevel1);
    Label1->setObjectName(u"Label1"_s);
    Label2 = new QLabel(u"0"_s, Bevel1);
    Label2->setObjectName(u"Label2"_s);
    auto *total = new QHBoxLayout(Bevel1);
    total->setContentsMargins(8, 4, 8, 4);
    total->addWidget(Label1);
    total->addWidget(Label2);
    total->addStretch();

    const auto button = [this](const QString &name, const QString &text) {
        auto *b = new QPushButton(text, GroupBox1);
        b->setObjectName(name);
        b->setFixedSize(113, 25);
        b->setAutoDefault(false);
        return b;
    };
    Button1 = button(u"Button1"_s, u"Clear Log"_s);
    Button2 = button(u"Button2"_s, u"Print Log"_s);
    Button3 = button(u"Button3"_s, u"Close"_s);
    connect(Button1, &QPushButton::clicked, this, &TForm8::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm8::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm8::Button3Click);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(Bevel1);
    bottom->addStretch();
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);
    bottom->addWidget(Button3);
    auto *inner = new QVBoxLayout(GroupBox1);
    inner->addWidget(Memo1, 1);
    inner->addLayout(bottom);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(5, 5, 5, 5);
    outer->addWidget(GroupBox1);
    resize(670, 347);

    connect(Memo1, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing)
            m_edited = true;
    });
    showLog();
}

void TForm8::showLog() {
    m_showing = true;
    Memo1->setPlainText(m_log.LogLines.join(u'\n'));
    m_showing = false;
    m_edited = false;
    Label2->setText(m_log.DeleteCount);
}

void TForm8::commitEdits() {
    if (!m_edited)
        return;
    const QString text = Memo1->toPlainText();
    m_log.LogLines = text.isEmpty() ? QStringList() : text.split(u'\n');
    m_edited = false;
}

void TForm8::setRunning(bool running) {
    Memo1->setReadOnly(running);
    Button1->setEnabled(!running);
}

void TForm8::showWindow() {
    show();
    raise();
    activateWindow();
}

void TForm8::Button1Click() {
    if (!m_prompts.askYesNo(this, u"Clear the log and set the number of deleted messages to 0? "
                                  u"This cannot be undone."_s))
        return;
    m_log.clear();
    showLog();
}

void TForm8::Button2Click() {
    guarded(m_prompts, this, [this] {
        const std::unique_ptr<QPrinter> printer = m_printers->defaultPrinter();
        printPlainText(*printer, Memo1->toPlainText(), Caption);
    });
}

void TForm8::Button3Click() {
    close();
}

void TForm8::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
