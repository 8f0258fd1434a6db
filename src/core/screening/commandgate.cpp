#include "core/screening/commandgate.h"

namespace corvane {

bool CommandGate::request(Request what) {
    if (!busy())
        return false;
    m_pending[index(what)] = true;
    if ((what == Request::Close || what == Request::Disconnect) && m_abortWait)
        m_abortWait();
    return true;
}

std::optional<CommandGate::Request> CommandGate::takeNext() {
    if (busy())
        return std::nullopt;
    if (pending(Request::Close))
        return Request::Close;
    if (pending(Request::Disconnect)) {
        drop(Request::Disconnect);
        drop(Request::Pass);
        return Request::Disconnect;
    }
    for (Request what : {Request::Pass, Request::AutoToggle}) {
        if (pending(what)) {
            drop(what);
            return what;
        }
    }
    return std::nullopt;
}

} // namespace corvane
