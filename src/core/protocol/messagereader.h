#pragma once

#include "core/errors.h"
#include "core/protocol/lines.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/mimecodec.h"

#include <QByteArray>
#include <QList>

#include <exception>
#include <memory>

class QTemporaryFile;

namespace corvane {

// Reads one fetched message into a MailMessage: the header block, header parsing, and the
// body with its MIME parts and uuencoded blocks. Input is untrusted: every size is bounded by
// MessageLimits, and nothing is decoded recursively.
class MessageReader {
public:
    MessageReader(MailMessage &message, LineSource &source);
    ~MessageReader();
    MessageReader(const MessageReader &) = delete;
    MessageReader &operator=(const MessageReader &) = delete;

    void run();

private:
    enum class State { Body, Ignore, PartHeader, PartBody };
    enum class Decoding { Identity, Base64, QuotedPrintable, Uuencode };
    struct Level {
        QByteArray boundary;
    };

    bool next(QByteArray &line);
    void defer(std::exception_ptr error, bool stopStoring);
    void deferData(const QString &text) { defer(std::make_exception_ptr(DataError(text)), true); }
    bool account(qint64 bytes);
    // Counts one more line held in memory; false (and the error deferred) past the limit.
    bool countLine();

    bool readHeaderBlock();
    void readBody();
    void bodyLine(const QByteArray &line);
    void multipartLine(const QByteArray &line);
    void onBoundary(qsizetype level, bool close);
    void endPartHeader();
    void openPart(MessagePart part, Decoding decoding);
    void feedPart(const QByteArray &line);
    void emitBytes(QByteArrayView bytes);
    void finishPart();

    MailMessage &m;
    LineSource &src;
    std::exception_ptr m_deferred;
    std::exception_ptr m_addressError;
    bool m_draining = false;
    qint64 m_decoded = 0;
    qsizetype m_textLines = 0;

    State m_state = State::Body;
    QList<Level> m_levels;
    bool m_allowUuencode = false;
    QList<QByteArray> m_partHeader;
    qsizetype m_partHeaderBytes = 0;
    qsizetype m_partHeaderLines = 0; // of all parts

    // The part being decoded.
    bool m_hasPart = false;
    bool m_uuBlock = false; // a uuencoded block in the body rather than a MIME part
    MessagePart m_part;
    Decoding m_decoding = Decoding::Identity;
    Base64Decoder m_base64;
    QByteArray m_pending; // text: an unfinished line; QP: the line before a soft break
    bool m_pendingBreak = false;
    bool m_firstLine = true;
    bool m_uuBegun = false;
    std::shared_ptr<QTemporaryFile> m_file;
};

} // namespace corvane
