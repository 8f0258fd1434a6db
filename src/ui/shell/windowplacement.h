#pragma once

class QWidget;

namespace corvane {

// Moves a window, at the size it has, to the centre of the screen it is on (or the primary
// screen).
void centreOnScreen(QWidget *window);
// Moves a window to the centre of another window.
void centreOn(QWidget *window, const QWidget *over);

} // namespace corvane
