#pragma once

#include "core/screening/screeningview.h"

#include <QStringList>

namespace corvane::test {

// A ScreeningView that keeps the last state of every panel and command, records every status
// text and question, and answers questions with a preset answer.
class ScreeningRecorder final : public ScreeningView {
public:
    QStringList statusTexts; // every text of panel 1, in order
    QStringList questions;
    QString panel0, panel1, panel2, panel3, serverName;
    bool busy = false;
    bool connected = false; // the Disconnect action's state
    bool timersStopped = false;
    Controls enabled = Controls::fromInt(0x7f); // every command enabled
    bool answer = false;                        // the answer to every question

    void showBusy(bool on) override { busy = on; }
    void showStatus(const QString &text) override {
        panel1 = text;
        statusTexts << text;
    }
    void showSelectionStatus(const QString &text) override { panel0 = text; }
    void showFileStatus(const QString &count, const QString &size) override {
        panel2 = count;
        panel3 = size;
    }
    void showServerName(const QString &text) override { serverName = text; }
    void setConnectedState(bool on) override { connected = on; }
    void setControlsEnabled(Controls controls, bool on) override {
        enabled = on ? (enabled | controls) : (enabled & ~controls);
    }
    void stopAutoModeTimers() override { timersStopped = true; }
    bool askYesNo(const QString &text) override {
        questions << text;
        return answer;
    }
};

} // namespace corvane::test
