#pragma once

#include "core/errors.h"
#include "ui/shell/prompts.h"

#include <QString>

#include <exception>
#include <utility>

namespace corvane {

// Runs the work of one command. An exception ends the command there and is shown in the
// application's default error box; it never reaches the event loop. Returns true when the
// work ran to its end.
template <typename Work> bool guarded(Prompts &prompts, QWidget *parent, Work &&work) noexcept {
    QString text;
    try {
        std::forward<Work>(work)();
        return true;
    } catch (const Error &e) {
        text = e.message();
    } catch (const std::exception &e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("An unexpected error occurred.");
    }
    try {
        prompts.error(parent, text);
    } catch (...) {
        // Nothing more can be shown; the program keeps running.
    }
    return false;
}

} // namespace corvane
