#pragma once

#include <QByteArray>

namespace corvane {

// A source of text lines: a multi-line POP3 reply, a message file. Lines come without their
// line break (CR LF or LF), as bytes exactly as received; a multi-line reply's terminating
// "." line is delivered like any other line, and the reader stops at it.
class LineSource {
public:
    virtual ~LineSource() = default;
    // Reads the next line; false at the end of the input. Throws corvane::Error on failure
    // (a dropped connection, a line over the length limit).
    virtual bool readLine(QByteArray &line) = 0;
};

// A sink of text lines: an SMTP DATA stream, a message file. The sink ends every line with
// CR LF; dot-stuffing is the writer's business, not the sink's.
class LineSink {
public:
    virtual ~LineSink() = default;
    // Throws corvane::Error on failure.
    virtual void writeLine(const QByteArray &line) = 0;
};

} // namespace corvane
