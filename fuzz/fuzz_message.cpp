// Parses arbitrary bytes as a fetched message (or a message file), writes the message back
// and reads the written form again. Every failure must be an exception of ours; nothing may
// crash, hang or keep growing.

#include "core/errors.h"
#include "core/protocol/devicelines.h"
#include "core/protocol/mailmessage.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

using namespace corvane;

namespace {

// The input's lines, then the end line "." that a POP3 reply would carry.
class EndedSource final : public LineSource {
public:
    explicit EndedSource(LineSource &inner) : m_inner(inner) {}
    bool readLine(QByteArray &line) override {
        if (m_ended)
            return false;
        if (m_inner.readLine(line))
            return true;
        line = ".";
        m_ended = true;
        return true;
    }

private:
    LineSource &m_inner;
    bool m_ended = false;
};

class ListSink final : public LineSink {
public:
    QList<QByteArray> lines;
    void writeLine(const QByteArray &line) override { lines.append(line); }
};

class ListSource final : public LineSource {
public:
    explicit ListSource(const QList<QByteArray> &lines) : m_lines(lines) {}
    bool readLine(QByteArray &line) override {
        if (m_next >= m_lines.size())
            return false;
        line = m_lines[m_next++];
        return true;
    }

private:
    const QList<QByteArray> &m_lines;
    qsizetype m_next = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    DeviceLineSource lines(buffer, MessageLimits::MaxLineLength);
    EndedSource source(lines);

    MailMessage message;
    try {
        message.ReadMessage(source);
    } catch (const Error &) {
        // Rejected input; the object holds what was read, and must still write.
    }
    (void)message.HeaderText();
    (void)message.FromText();
    (void)message.RecipientsText();

    ListSink sink;
    try {
        message.WriteMessage(sink);
    } catch (const Error &) {
        return 0;
    }
    sink.lines.append(".");
    ListSource again(sink.lines);
    MailMessage reread;
    try {
        reread.ReadMessage(again);
    } catch (const Error &) {
    }
    return 0;
}
