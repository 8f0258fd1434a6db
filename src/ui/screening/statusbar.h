#pragma once

#include <QStatusBar>

class QLabel;

namespace corvane {

// The main window's status bar: four panels. Panel 0 holds the selection line ("No message
// selected", a message's subject), panel 1 the activity ("Connecting....", "Connected"),
// panels 2 and 3 the message count and the mailbox size.
class MainStatusBar final : public QStatusBar {
    Q_OBJECT

public:
    explicit MainStatusBar(QWidget *parent = nullptr);

    QString panelText(int panel) const;
    void showSelection(const QString &text);
    // Repainted at once: the thread may block in network work right after this.
    void showActivity(const QString &text);
    void showFileStatus(const QString &count, const QString &size);
    void setPanelToolTip(int panel, const QString &text);

private:
    QLabel *m_panels[4];
};

} // namespace corvane
