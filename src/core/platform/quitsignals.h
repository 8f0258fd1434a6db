#pragma once

#include <QObject>

class QSocketNotifier;

namespace corvane {

// Turns the signals that ask a program to end (SIGTERM from a logout or a service manager,
// SIGHUP when its terminal goes, SIGINT from Ctrl+C) into a Qt signal delivered in the event
// loop, so that the program ends through its normal shutdown and saves its data. The signal
// handler only writes a byte to a pipe; everything else runs in the event loop. One instance
// at a time; on systems without these signals it never fires.
class QuitSignals final : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

Q_SIGNALS:
    // signalNumber: the signal that arrived (SIGTERM, SIGHUP or SIGINT).
    void quitRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace corvane
