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
// The notification-area icon: the program's icon, with a green dot while automatic mode runs
// and a red one while the last automatic pass failed for an account.
enum class TrayBadge { None, AutoMode, Problem };
QIcon trayIcon(TrayBadge badge);

} // namespace corvane
