#pragma once

#include "core/screening/rowmark.h"

#include <QIcon>

namespace corvane {

// The program's own pictures, drawn as vector shapes at whatever size and pixel ratio they
// are shown, so they stay sharp at any display scaling. Disabled forms are greyed.
enum class ToolIcon {
    Check,
    Process,
    Disconnect,
    Options,
    AutoMode,
    Quit,
    // The saved e-mails window.
    Refresh,
    DeleteOne,
    DeleteAll,
    ViewSaved, // yellow, as the window's hint text calls it
};

QIcon markIcon(RowMark mark);
QIcon toolIcon(ToolIcon which);
// The program's icon: a shield carrying an envelope.
QIcon applicationIcon();

} // namespace corvane
