#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace corvane {

// Fetches whole files over HTTP/1.1, https:// or http://, one at a time. One client keeps its
// connection to a server between fetches when the server allows it (keep-alive), so a run of
// fetches from one host uses one connection. The body may come with a Content-Length, in
// chunks, or up to the server's close. Redirections are not followed: like every status other
// than success they are an error whose text is the status line. No cookie, proxy, cache or
// credential is ever used.
//
// FetchUrl is synchronous: it runs a local event loop while it waits, so windows keep
// repainting meanwhile. Every failure throws: NetworkError for the connection (refused, a
// host that cannot be found, TLS, a time-out, a fetch longer than its deadline, a transfer cut
// short, abort()), ProtocolError for what the server said (a status other than 2xx, a header
// line over MaxHeaderLine characters, a body larger than maxBodySize()).
//
// Input is untrusted: the body is counted as its bytes arrive, whatever length the server
// declares and however it frames them (a chunk that claims 2^63 bytes included), and the
// fetch ends as soon as the count passes the bound, so memory stays within about the bound.
// A server that keeps sending one byte now and then cannot hold a fetch beyond its deadline.
class HttpFetcher {
public:
    static constexpr qsizetype MaxHeaderLine = 16384;
    static constexpr qint64 DefaultMaxBodySize = qint64(64) * 1024 * 1024;
    static constexpr std::chrono::milliseconds DefaultTimeout{30000};
    static constexpr std::chrono::milliseconds DefaultDeadline{std::chrono::minutes(5)};

    HttpFetcher();
    ~HttpFetcher();
    HttpFetcher(const HttpFetcher &) = delete;
    HttpFetcher &operator=(const HttpFetcher &) = delete;

    // How long a fetch may wait for the server without receiving anything.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }
    // How long one fetch may take as a whole, however steadily bytes keep arriving.
    void setDeadline(std::chrono::milliseconds deadline) { m_deadline = deadline; }
    std::chrono::milliseconds deadline() const { return m_deadline; }
    // A body larger than this is refused (and its transfer stopped).
    void setMaxBodySize(qint64 bytes) { m_maxBodySize = bytes; }
    qint64 maxBodySize() const { return m_maxBodySize; }
    // Certificates trusted beside the system's, for https:// servers.
    void addCaCertificates(const QList<QSslCertificate> &certificates);

    // Sends GET for url and returns the whole body of a 2xx reply. Throws as described above;
    // DataError for a URL that is not http:// or https:// with a host.
    QByteArray FetchUrl(const QUrl &url);

    // Makes a fetch in progress fail at once with NetworkError "The transfer was stopped." (for
    // a program that closes meanwhile). Does nothing when no fetch runs.
    void abort();
    bool isFetching() const { return m_reply != nullptr; }

    // The User-Agent sent with every request: the program's name and version.
    static QByteArray userAgent();

private:
    // The most the toolkit holds unread, and the most taken at once.
    static constexpr qint64 ReadChunk = 64 * 1024;

    std::unique_ptr<QNetworkAccessManager> m_manager;
    QList<QSslCertificate> m_extraCas;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
    std::chrono::milliseconds m_deadline = DefaultDeadline;
    qint64 m_maxBodySize = DefaultMaxBodySize;
    QNetworkReply *m_reply = nullptr;
    bool m_aborted = false;
};

} // namespace corvane
