// Fuzzes the SMTP reply parser: the input is everything a server sends during one delivery
// (greeting, EHLO or HELO, RSET, MAIL, RCPT, DATA, the end of the data). The parser must keep
// its limits and the client must neither crash nor hang, whatever the server says.

#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/smtpclient.h"
#include "core/protocol/transport.h"
#include "inputtransport.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// The parser alone, line by line: every reply it completes has a three-digit code and at most
// MaxLines lines.
void parseLines(const QByteArray &input) {
    corvane::SmtpReplyParser parser;
    for (const QByteArray &line : input.split('\n')) {
        try {
            if (parser.addLine(line)) {
                const corvane::SmtpReply &reply = parser.reply();
                if (reply.code < 0 || reply.code > 999 || reply.lines.isEmpty() ||
                    reply.lines.size() > corvane::SmtpReplyParser::MaxLines)
                    std::abort();
            }
        } catch (const corvane::Error &) {
            parser.reset();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    parseLines(input);

    // The whole client over the input, delivered in chunks of 1 to 8 bytes.
    InputTransport transport(input, 1 + data[0] % 8);
    corvane::SmtpClient client(transport);
    client.setHost(u"mx.example"_s);
    client.setHeloName(u"fuzz.example"_s);
    corvane::MailMessage message;
    message.From = {u"Daemon"_s, u"daemon@example.net"_s};
    message.Recipients = {{QString(), u"one@example.org"_s}, {QString(), u"two@example.org"_s}};
    message.Subject = u"Fuzz"_s;
    message.Body = {"line", ".", ""};
    try {
        client.OpenSmtpSession();
        client.DeliverMessage(message);
    } catch (const corvane::Error &) {
    }
    client.CloseSmtpSession();
    return 0;
}
