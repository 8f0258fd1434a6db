#pragma once

// A transport that serves a fuzz input as the server's bytes, a few at a time; a read past
// its end fails like a closed connection. Shared by the protocol fuzz targets.

#include "core/errors.h"
#include "core/protocol/transport.h"

#include <QByteArray>

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
