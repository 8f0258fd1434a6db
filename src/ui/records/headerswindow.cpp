#include "ui/records/headerswindow.h"

#include "ui/shell/windowplacement.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

const QString HeadersWindow::Caption = u"View Headers"_s;

HeadersWindow::HeadersWindow(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(u"HeadersWindow"_s);
    setWindowTitle(Caption);
    setModal(false);
    headerText = new QPlainTextEdit(this);
    headerText->setObjectName(u"headerText"_s);
    // Header lines are shown as they stand, long ones scrolled rather than wrapped.
    headerText->setLineWrapMode(QPlainTextEdit::NoWrap);
    headerText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    headerText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(headerText);
    resize(650, 350);
}

void HeadersWindow::showWindow() {
    show();
    raise();
    activateWindow();
}

void HeadersWindow::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

} // namespace corvane
