#pragma once

#include <QString>

#include <exception>

namespace corvane {

// Every failure of the core is an exception that carries the text shown to the user.
class Error : public std::exception {
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A file could not be opened, created, written or read.
class FileError : public Error {
public:
    using Error::Error;
};

// The connection failed: socket errors, time-outs, a peer that closed.
class NetworkError : public Error {
public:
    using Error::Error;
};

// A server answered something the client cannot accept; the text is the server's words or
// our explanation of them.
class ProtocolError : public Error {
public:
    using Error::Error;
};

// Stored data (a list file, a database, a settings value) is damaged or unusable.
class DataError : public Error {
public:
    using Error::Error;
};

} // namespace corvane
