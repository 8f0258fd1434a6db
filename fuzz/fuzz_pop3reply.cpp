// Fuzzes the POP3 reply parsers: the input is everything a server sends during one session
// (greeting, login, STAT, LIST, TOP, RETR, DELE, RSET). The client must neither crash nor
// hang, whatever the server says. With bit 0x40 of the first byte set, the login is an OAuth
// one (CAPA, AUTH, the server's error challenge), and every line is also read as a challenge.

#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/sasl.h"
#include "core/protocol/transport.h"
#include "inputtransport.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

using namespace Qt::StringLiterals;

namespace {

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

    const bool oauth = (data[0] & 0x40) != 0;
    for (const QByteArray &line : input.split('\n')) {
        (void)corvane::Pop3Reply::parse(line);
        if (oauth)
            (void)corvane::oauthChallengeText(line.mid(2));
    }

    InputTransport transport(input, chunk);
    corvane::Pop3Client pop(transport);
    pop.setHost(u"pop.example"_s);
    pop.setUsername(u"user"_s);
    pop.setPassword(u"password"_s);
    if (oauth)
        pop.setAccessTokenSource([](bool renew) { return renew ? u"tok-2"_s : u"tok-1"_s; });
    attempt([&] { pop.OpenSession(); });
    if (!pop.IsOpen())
        return 0;
    attempt([&] { (void)pop.CountMessages(); });
    attempt([&] { (void)pop.MailboxOctets(); });
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
    corvane::Pop3RetrievedMessage raw;
    attempt([&] { (void)pop.RetrieveMessage(2, raw); });
    attempt([&] { pop.MarkDeleted(1); });
    attempt([&] { pop.UndoDeletions(); });
    (void)pop.QuitSession();
    return 0;
}
