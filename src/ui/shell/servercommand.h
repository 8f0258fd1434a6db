#pragma once

#include <functional>

namespace corvane {

// Runs work as the one command that may wait on a server at a time (the main window's gate
// lets one in at a time, so that closing the program never tears down a conversation that a
// nested wait still holds). abortWait ends work's wait at once when the program closes
// meanwhile; the close is carried out once work has returned. Returns false, without running
// work, while another command runs.
using ServerCommandRunner =
    std::function<bool(const std::function<void()> &work, std::function<void()> abortWait)>;

} // namespace corvane
