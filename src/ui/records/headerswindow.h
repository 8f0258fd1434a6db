#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace corvane {

// The header window: the header lines of one listed message, exactly as the server sent them.
class HeadersWindow final : public QDialog {
    Q_OBJECT
public:
    static const QString Caption; // "View Headers"

    explicit HeadersWindow(QWidget *parent = nullptr);

    // Shows the window (or brings it forward when it is shown already).
    void showWindow();

    QPlainTextEdit *headerText;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_placed = false;
};

} // namespace corvane
