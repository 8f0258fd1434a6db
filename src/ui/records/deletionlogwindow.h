#pragma once

#include <QDialog>

class QFrame;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace corvane {

class DeletionLog;
class PrinterSource;
class Prompts;

// The log window: the lines of the deletion log in an editable memo and the total of deleted
// messages, with the commands that clear and print the log. Closing it only hides it.
//
// The memo shows the log's lines; what the user types into it becomes part of the log when
// commitEdits() takes it over (before processing appends to the log, and at shutdown).
class DeletionLogWindow final : public QDialog {
    Q_OBJECT
public:
    static const QString Caption; // "Log File"

    DeletionLogWindow(DeletionLog &log, Prompts &prompts, PrinterSource &printers,
                      QWidget *parent = nullptr);

    // Shows the log's lines and total as they are now.
    void showLog();
    // Takes the memo's text over into the log's lines when the user has changed it since the
    // log was last shown.
    void commitEdits();
    // While processing appends to the log, the memo and "Clear Log" cannot be used, so that
    // nothing typed meanwhile is lost and the run's lines stay together.
    void setRunning(bool running);
    // Shows the window without blocking the others (brings it forward when shown already).
    void showWindow();
    // Where "Print Log" prints.
    void setPrinterSource(PrinterSource &printers) { m_printers = &printers; }

    QGroupBox *logBox;
    QPlainTextEdit *logText;
    QFrame *totalSeparator;
    QLabel *totalCaption;        // "Total of email deleted:"
    QLabel *totalLabel;          // the total
    QPushButton *clearLogButton; // "Clear Log"
    QPushButton *printLogButton; // "Print Log"
    QPushButton *closeButton;    // "Close"

public Q_SLOTS:
    void clearLog();
    void printLog();
    void closeWindow();

protected:
    void showEvent(QShowEvent *event) override;

private:
    DeletionLog &m_log;
    Prompts &m_prompts;
    PrinterSource *m_printers;
    bool m_showing = false; // the memo is being filled from the log
    bool m_edited = false;  // the user has changed the memo since
    bool m_placed = false;
};

} // namespace corvane
