#pragma once

#include "core/protocol/lines.h"

#include <QByteArray>
#include <QList>

namespace corvane::test {

// Lines given in advance; false after the last one, like a connection that closed.
class ListLineSource final : public LineSource {
public:
    explicit ListLineSource(QList<QByteArray> lines) : m_lines(std::move(lines)) {}
    // Splits wire text at CR LF (or LF); a final line break adds no empty line.
    static ListLineSource fromText(const QByteArray &text);
    bool readLine(QByteArray &line) override;
    qsizetype remaining() const { return m_lines.size() - m_next; }

private:
    QList<QByteArray> m_lines;
    qsizetype m_next = 0;
};

// Collects written lines.
class ListLineSink final : public LineSink {
public:
    QList<QByteArray> lines;
    void writeLine(const QByteArray &line) override { lines.append(line); }
    // Every line followed by CR LF.
    QByteArray text() const;
};

} // namespace corvane::test
