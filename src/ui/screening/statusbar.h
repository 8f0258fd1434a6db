#pragma once

#include <QElapsedTimer>
#include <QStatusBar>

class QTimer;

class QLabel;

namespace corvane {

// The main window's status bar: four panels. Panel 0 holds the selection line ("No message
// selected", a message's subject), panel 1 the activity ("Connecting....", "Connected"),
// panels 2 and 3 the message count and the mailbox size. A fifth panel, StatusMarks, counts
// the rows marked for deletion and for bouncing.
class MainStatusBar final : public QStatusBar {
    Q_OBJECT

public:
    explicit MainStatusBar(QWidget *parent = nullptr);

    QString panelText(int panel) const;
    void showSelection(const QString &text);
    // Repainted at once, since the thread may block in network work right after this; texts
    // that follow each other faster than anyone can read them (a scan's progress) are shown
    // at most every 40 ms, the last one always. panelText(1) is the last text given.
    void showActivity(const QString &text);
    void showFileStatus(const QString &count, const QString &size);
    void setPanelToolTip(int panel, const QString &text);
    // "5 marked for deletion, 1 for bouncing", or nothing when no row is marked.
    void showMarks(qsizetype deletion, qsizetype bouncing);
    QString marksText() const;

private:
    void applyActivity();

    static constexpr qint64 kActivityMs = 40;
    QLabel *m_panels[4];
    QLabel *m_marks;
    QString m_activity;        // the activity text last given
    QElapsedTimer m_lastShown; // when the activity panel was last drawn
    QTimer *m_activityTimer;   // shows the last text once the 40 ms are over
};

} // namespace corvane
