#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace corvane {

// The header window: the header lines of one listed message, exactly as the server sent them.
class TForm2 final : public QDialog {
    Q_OBJECT
public:
    static const QString Caption; // "View Headers"

    explicit TForm2(QWidget *parent = nullptr);

    // Shows the window (or brings it forward when it is shown already).
    void showWindow();

    QPlainTextEdit *Memo1;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_placed = false;
};

} // namespace corvane
