#pragma once

#include <functional>
#include <optional>

namespace corvane {

// The one gate that every command touching the connection passes: a check, processing, the
// viewer's fetches, a disconnect, an automatic pass. The protocol clients wait while pumping
// events, so a click can arrive while another command waits on the server; a second
// conversation on the same connection would take the first one's replies for its own. The
// gate therefore lets one command in at a time, and turns what the user asks for meanwhile
// into requests that are carried out once the running command has unwound:
//
// - Close and Disconnect end the running command at once, as if the connection had dropped
//   (the wait is aborted), so a processing run deletes nothing; they run afterwards.
// - An automatic pass whose timer fires while a command runs starts afterwards.
// - Switching automatic mode on or off waits until the command or pass has ended; a pass
//   ends before its next account.
//
// It knows nothing of widgets; the main window asks it and carries out what it hands back.
class CommandGate {
public:
    enum class Request { Close, Disconnect, Pass, AutoToggle };

    // abortWait makes the running command's wait on the server fail like a dropped
    // connection.
    explicit CommandGate(std::function<void()> abortWait = {})
        : m_abortWait(std::move(abortWait)) {}

    // Held while a command runs; commands may nest (a command's handler that runs another).
    class Pass {
    public:
        explicit Pass(CommandGate &gate) : m_gate(gate) { ++m_gate.m_depth; }
        ~Pass() { --m_gate.m_depth; }
        Pass(const Pass &) = delete;
        Pass &operator=(const Pass &) = delete;

    private:
        CommandGate &m_gate;
    };

    // True while a command runs.
    bool busy() const { return m_depth > 0; }
    // A command that talks to the server may start only when nothing else runs.
    bool mayStart() const { return m_depth == 0; }

    // Asks for what while a command runs: the request is kept (and for Close and Disconnect
    // the wait is aborted) and true is returned; when nothing runs, false: do it now.
    bool request(Request what);
    bool pending(Request what) const { return m_pending[index(what)]; }
    // The running command is being ended on purpose: its failure is no news to the user.
    bool endingOnPurpose() const { return pending(Request::Close) || pending(Request::Disconnect); }
    // An automatic pass should stop before its next account.
    bool stopRequested() const { return endingOnPurpose() || pending(Request::AutoToggle); }

    // Once nothing runs: the next request to carry out, taken off the list. A close comes
    // first and stays pending (errors of the shutdown's own disconnect are no news either)
    // until drop(Close) after the close has run or was refused; a disconnect drops a pending
    // pass.
    std::optional<Request> takeNext();
    // Forgets a request.
    void drop(Request what) { m_pending[index(what)] = false; }

private:
    static int index(Request what) { return static_cast<int>(what); }

    std::function<void()> m_abortWait;
    int m_depth = 0;
    bool m_pending[4] = {false, false, false, false};
};

} // namespace corvane
