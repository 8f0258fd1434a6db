#include "ui/screening/statusbar.h"

#include <QLabel>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace corvane {

MainStatusBar::MainStatusBar(QWidget *parent) : QStatusBar(parent) {
    setObjectName(u"mainStatusBar"_s);
    const int widths[] = {220, 160, 170, 160};
    for (int i = 0; i < 4; ++i) {
        auto *panel = new QLabel(this);
        panel->setObjectName(u"StatusPanel%1"_s.arg(i));
        panel->setMinimumWidth(widths[i]);
        panel->setContentsMargins(4, 0, 4, 0);
        m_panels[i] = panel;
        addWidget(panel, i == 3 ? 1 : 0);
    }
    m_activityTimer = new QTimer(this);
    m_activityTimer->setSingleShot(true);
    connect(m_activityTimer, &QTimer::timeout, this, &MainStatusBar::applyActivity);
    m_marks = new QLabel(this);
    m_marks->setObjectName(u"StatusMarks"_s);
    m_marks->setContentsMargins(4, 0, 4, 0);
    QFont bold = m_marks->font();
    bold.setBold(true);
    m_marks->setFont(bold);
    addPermanentWidget(m_marks);
}

QString MainStatusBar::panelText(int panel) const {
    return panel == 1 ? m_activity : m_panels[panel]->text();
}

void MainStatusBar::setPanelToolTip(int panel, const QString &text) {
    m_panels[panel]->setToolTip(text);
}

void MainStatusBar::showSelection(const QString &text) {
    m_panels[0]->setText(text);
}

void MainStatusBar::showActivity(const QString &text) {
    m_activity = text;
    // Drawing a text costs more than the protocol exchange of a whole message: texts that
    // follow each other faster than anyone can read them (a scan's progress) are shown at
    // most every 40 ms, the last one always.
    if (m_lastShown.isValid() && m_lastShown.elapsed() < kActivityMs) {
        if (!m_activityTimer->isActive())
            m_activityTimer->start(int(kActivityMs - m_lastShown.elapsed()));
        return;
    }
    applyActivity();
}

void MainStatusBar::applyActivity() {
    m_activityTimer->stop();
    m_lastShown.start();
    if (m_panels[1]->text() == m_activity)
        return;
    m_panels[1]->setText(m_activity);
    m_panels[1]->repaint();
}

void MainStatusBar::showFileStatus(const QString &count, const QString &size) {
    m_panels[2]->setText(count);
    m_panels[3]->setText(size);
    repaint();
}

} // namespace corvane

namespace corvane {

void MainStatusBar::showMarks(qsizetype deletion, qsizetype bouncing) {
    QString text;
    if (deletion > 0 && bouncing > 0)
        text = u"%1 marked for deletion, %2 for bouncing"_s.arg(deletion).arg(bouncing);
    else if (deletion > 0)
        text = u"%1 marked for deletion"_s.arg(deletion);
    else if (bouncing > 0)
        text = u"%1 marked for bouncing"_s.arg(bouncing);
    m_marks->setText(text);
}

QString MainStatusBar::marksText() const {
    return m_marks->text();
}

} // namespace corvane
