#pragma once

#include <QString>

#include <exception>
#include <optional>
#include <utility>

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

// The connection failed: socket errors, time-outs, a peer that closed. reason() tells the
// failures apart that a user mends differently.
class NetworkError : public Error {
public:
    enum class Reason {
        Other,
        Refused,      // nothing listens on that port
        HostNotFound, // the name does not resolve
        TimedOut,     // no answer in time
        Unreachable,  // no route to the network
        Tls,          // the secure connection could not be made (certificate, handshake)
        Closed,       // the peer closed the connection
    };
    explicit NetworkError(QString message, Reason reason = Reason::Other)
        : Error(std::move(message)), m_reason(reason) {}
    Reason reason() const noexcept { return m_reason; }

private:
    Reason m_reason;
};

// A server answered something the client cannot accept; the text is the server's words or
// our explanation of them. serverWords() holds the server's own words of a refusal ("-ERR
// mailbox locked" gives "mailbox locked"), kept apart so that a message can quote them as the
// server's ("The server answered: ..."); it is empty when the text is ours alone.
class ProtocolError : public Error {
public:
    using Error::Error;
    // A refusal in the server's own words, which are also the error's text.
    static ProtocolError refusal(const QString &serverWords) {
        ProtocolError e(serverWords);
        e.m_serverWords = serverWords;
        return e;
    }
    const QString &serverWords() const noexcept { return m_serverWords; }

protected:
    ProtocolError(QString message, QString serverWords)
        : Error(std::move(message)), m_serverWords(std::move(serverWords)) {}

private:
    QString m_serverWords;
};

// The server refused the user name or the password; serverWords() holds its own words.
class LoginError : public ProtocolError {
public:
    static LoginError refusal(const QString &serverWords) { return LoginError(serverWords); }

private:
    explicit LoginError(const QString &serverWords) : ProtocolError(serverWords, serverWords) {}
};

// Stored data (a list file, a database, a settings value) is damaged or unusable.
class DataError : public Error {
public:
    using Error::Error;
};

// The server may or may not have carried out what was asked (it did not answer QUIT): what
// happened to the mailbox is not known, and must not be reported as either.
class OutcomeUnknownError : public Error {
public:
    using Error::Error;
};

// An OAuth account's grant is gone (revoked by the user or the provider, expired, or never
// given): no token can be had until the user signs in again. Nothing was sent to the mail
// server and nothing was deleted.
class SignInRequiredError : public Error {
public:
    using Error::Error;
};

// The class of an error, for callers that keep or pass on what kind of failure it was after
// the exception itself is gone (a report line, an exit code). Security: the secure connection
// could not be made (a certificate refused, a failed handshake), a NetworkError that waiting
// will not mend.
// SignInRequired: an OAuth account must be signed in again (SignInRequiredError).
enum class ErrorKind {
    Other,
    File,
    Network,
    Protocol,
    Data,
    OutcomeUnknown,
    Security,
    SignInRequired
};

inline ErrorKind errorKind(const Error &e) noexcept {
    if (dynamic_cast<const OutcomeUnknownError *>(&e))
        return ErrorKind::OutcomeUnknown;
    if (dynamic_cast<const SignInRequiredError *>(&e))
        return ErrorKind::SignInRequired;
    if (const auto *network = dynamic_cast<const NetworkError *>(&e))
        return network->reason() == NetworkError::Reason::Tls ? ErrorKind::Security
                                                              : ErrorKind::Network;
    if (dynamic_cast<const ProtocolError *>(&e))
        return ErrorKind::Protocol;
    if (dynamic_cast<const FileError *>(&e))
        return ErrorKind::File;
    if (dynamic_cast<const DataError *>(&e))
        return ErrorKind::Data;
    return ErrorKind::Other;
}

// Throws an error of the given kind with the text.
[[noreturn]] inline void throwError(ErrorKind kind, QString text) {
    switch (kind) {
    case ErrorKind::File:
        throw FileError(std::move(text));
    case ErrorKind::Network:
        throw NetworkError(std::move(text));
    case ErrorKind::Security:
        throw NetworkError(std::move(text), NetworkError::Reason::Tls);
    case ErrorKind::Protocol:
        throw ProtocolError(std::move(text));
    case ErrorKind::Data:
        throw DataError(std::move(text));
    case ErrorKind::OutcomeUnknown:
        throw OutcomeUnknownError(std::move(text));
    case ErrorKind::SignInRequired:
        throw SignInRequiredError(std::move(text));
    case ErrorKind::Other:
        break;
    }
    throw Error(std::move(text));
}

// Runs work and returns what went wrong as the text to show: an Error's message, or a
// standard exception's. Nothing when the work ran to its end.
template <typename Work> std::optional<QString> failureOf(Work &&work) {
    try {
        std::forward<Work>(work)();
        return std::nullopt;
    } catch (const Error &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    }
}

} // namespace corvane
