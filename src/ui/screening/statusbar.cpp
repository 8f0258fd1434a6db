#include "ui/screening/statusbar.h"

#include <QLabel>

using namespace Qt::StringLiterals;

namespace corvane {

MainStatusBar::MainStatusBar(QWidget *parent) : QStatusBar(parent) {
    setObjectName(u"StatusBar1"_s);
    const int widths[] = {220, 160, 170, 160};
    for (int i = 0; i < 4; ++i) {
        auto *panel = new QLabel(this);
        panel->setObjectName(u"StatusPanel%1"_s.arg(i));
        panel->setMinimumWidth(widths[i]);
        panel->setContentsMargins(4, 0, 4, 0);
        m_panels[i] = panel;
        addWidget(panel, i == 3 ? 1 : 0);
    }
}

QString MainStatusBar::panelText(int panel) const {
    return m_panels[panel]->text();
}

void MainStatusBar::setPanelToolTip(int panel, const QString &text) {
    m_panels[panel]->setToolTip(text);
}

void MainStatusBar::showSelection(const QString &text) {
    m_panels[0]->setText(text);
}

void MainStatusBar::showActivity(const QString &text) {
    m_panels[1]->setText(text);
    m_panels[1]->repaint();
}

void MainStatusBar::showFileStatus(const QString &count, const QString &size) {
    m_panels[2]->setText(count);
    m_panels[3]->setText(size);
    repaint();
}

} // namespace corvane
