// Fuzzes the POP3 reply parsers: the input is everything a server sends during one session
// (greeting, login, STAT, LIST, TOP, RETR, DELE, RSET). The client must neither crash nor
// hang, whatever the server says.

#include "errors.h"
#include "protocol/mailmessage.h"
#include "protocol/pop3client.h"
#include "protocol/transport.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

using namespace Qt::StringLiterals;

namespace {

// Serves the fuzz input as the server's bytes, a few at a time; a read past its end fails
// like a closed connection.
class InputTransport final : public corvane::Transport {
public:
    InputTransport(QByteArray input, qsizetype chunk) : m_input(std::move(input)), m_chunk(chunk) {}

    bool isOpen() const override { return m_open; }
    void close() override { m_open = false; }
    void abort() override { m_open = false; }

protected:
    void connectTo(const QString &, quint16) override { m_open = true; }
    void send(const QByteArray &) override {}
    void receiveMore(QByteArray &buffer) override {
        if (!m_open || m_pos >= m_input.size()) {
            m_open = false;
            throw corvane::NetworkError(closedGracefullyText());
        }
        const qsizetype n = qMin(m_chunk, m_input.size() - m_pos);
        buffer += m_input.mid(m_pos, n);
        m_pos += n;
    }

private:
    QByteArray m_input;
    qsizetype m_pos = 0;
    qsizetype m_chunk;
    bool m_open = false;
};

template <typename F> void attempt(F &&f) {
    try {
        f();
    } catch (const corvane::Error &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses how the bytes arrive, so lines are also assembled across reads.
    const qsizetype chunk = 1 + (data[0] % 64) * 97;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    for (const QByteArray &line : input.split('\n'))
        (void)corvane::Pop3Reply::parse(line);

    InputTransport transport(input, chunk);
    corvane::Pop3Client pop(transport);
    pop.setHost(u"pop.example"_s);
    pop.setUsername(u"user"_s);
    pop.setPassword(u"password"_s);
    attempt([&] { pop.OpenSession(); });
    if (!pop.IsOpen())
        return 0;
    attempt([&] { (void)pop.CountMessages(); });
    (void)pop.MailboxOctets();
    corvane::MailMessage message;
    for (int n = 1; n <= 3 && pop.IsOpen(); ++n) {
        message.ClearMessage();
        attempt([&] { pop.FetchHeader(n, message); });
        (void)message.FromText();
        (void)message.RecipientsText();
        attempt([&] { (void)pop.MessageOctets(n); });
    }
    message.ClearMessage();
    attempt([&] { pop.FetchMessage(1, message); });
    attempt([&] { pop.MarkDeleted(1); });
    attempt([&] { pop.UndoDeletions(); });
    pop.CloseSession();
    return 0;
}
