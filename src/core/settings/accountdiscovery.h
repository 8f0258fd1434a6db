#pragma once

#include "core/settings/foundsettings.h"
#include "core/settings/serverpresets.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

class QDnsLookup;
class QTimer;

namespace corvane {

class HttpFetcher;
class Transport;

// Finds the servers of an e-mail address from the address alone, trying in turn, and stopping
// at the first answer:
//   1. the built-in presets of large providers;
//   2. the settings document the domain publishes, over HTTPS only: first at
//      https://autoconfig.<domain>/mail/config-v1.1.xml, then at
//      https://<domain>/.well-known/autoconfig/mail/config-v1.1.xml (redirections are never
//      followed, the size and the wait are bounded, a hostile document is refused: see
//      parseAutoconfigDocument);
//   3. the domain's SRV records (RFC 6186): _pop3s._tcp, then _pop3._tcp, and for sending
//      _submissions._tcp, then _submission._tcp;
//   4. a probe of pop.<domain> and mail.<domain>: POP3 with TLS on 995, then on 110 with STLS;
//      a server on 110 that offers no STLS is taken last, as a server without encryption.
//
// Nothing is ever sent with a user name or a password: the probe reads the greeting and CAPA,
// secures the connection (the certificate checked as for a real session) and says QUIT. What
// is found is only proposed; the caller shows it for the user to confirm, and asks explicit
// consent for a server without encryption (FoundAccountSettings::unencrypted()).
//
// The search runs on the event loop: start() returns at once, and every attempt is reported
// by stepStarted() and stepEnded(), so a window and the command-line tool can show each as it
// runs. It ends with found() or nothingFound(), unless cancel() stops it first (then nothing
// more is emitted). The fetch and the probe wait in a local event loop, like every network
// wait of the program; while the search runs the object must be deleted through deleteLater()
// only.
class AccountDiscovery : public QObject {
    Q_OBJECT
public:
    enum class Step { Presets, Autoconfig, DnsSrv, Probe };
    Q_ENUM(Step)
    enum class Outcome {
        Found,        // the answer: the search ends with found()
        NothingFound, // no answer here (no document, no record, no server)
        Refused,      // an answer that is not taken (a hostile document, a redirection)
        Failed,       // the step could not be carried out (a time-out, a bad certificate)
    };
    Q_ENUM(Outcome)

    // The two addresses of the settings document; %1 stands for the domain.
    static const QStringList DefaultAutoconfigUrls;
    static constexpr qint64 MaxAutoconfigSize = 256 * 1024;
    static constexpr std::chrono::milliseconds DefaultHttpTimeout{10000};
    static constexpr std::chrono::milliseconds DefaultDnsTimeout{10000};
    static constexpr std::chrono::milliseconds DefaultProbeTimeout{10000};

    // Where the probe connects for a server name and port: the real name and port unless the
    // tests route them elsewhere. The certificate is checked against the host returned.
    using ProbeRoute =
        std::function<std::pair<QString, quint16>(const QString &host, quint16 port)>;

    explicit AccountDiscovery(QObject *parent = nullptr);
    ~AccountDiscovery() override;

    void setPresets(QList<ServerPreset> presets) { m_presets = std::move(presets); }
    // The addresses tried for the settings document, in order, %1 standing for the domain.
    // Throws DataError for one that is not https://: the document is never read over plain
    // HTTP.
    void setAutoconfigUrls(const QStringList &templates);
    const QStringList &autoconfigUrls() const { return m_autoconfigUrls; }
    // The name server asked for the SRV records; the system's when null (the default).
    void setNameserver(const QHostAddress &address) { m_nameserver = address; }
    // Certificate authorities trusted beside the system's, for the document and the probe.
    void addCaCertificates(const QList<QSslCertificate> &certificates);
    void setHttpTimeout(std::chrono::milliseconds timeout) { m_httpTimeout = timeout; }
    void setDnsTimeout(std::chrono::milliseconds timeout) { m_dnsTimeout = timeout; }
    void setProbeTimeout(std::chrono::milliseconds timeout) { m_probeTimeout = timeout; }
    void setProbeRoute(ProbeRoute route) { m_probeRoute = std::move(route); }

    // Starts the search for address. Throws DataError when address is not an e-mail address
    // with a domain, and when a search is running.
    void start(const QString &address);
    // Stops the search at once; nothing more is emitted.
    void cancel();
    bool isRunning() const { return m_running; }

    // "built-in presets", "settings document", ...: a step as the user is shown it.
    static QString stepName(Step step);

Q_SIGNALS:
    void stepStarted(corvane::AccountDiscovery::Step step, const QString &what);
    void stepEnded(corvane::AccountDiscovery::Step step, corvane::AccountDiscovery::Outcome outcome,
                   const QString &detail);
    void found(const corvane::FoundAccountSettings &settings);
    // No step found anything; summary says so in one sentence.
    void nothingFound(const QString &summary);

private:
    struct SrvLookups;

    void scheduleNext();
    void runNext();
    void succeed(FoundAccountSettings settings);
    void tryPresets();
    void tryAutoconfig(const QString &urlTemplate);
    void startSrvLookups();
    void finishSrvLookups(bool timedOut);
    enum class ProbeMode { Tls, StartTls };
    void tryProbe(const QString &host, quint16 port, ProbeMode mode);
    void takePlainServer();

    QList<ServerPreset> m_presets;
    QStringList m_autoconfigUrls = DefaultAutoconfigUrls;
    QHostAddress m_nameserver;
    QList<QSslCertificate> m_cas;
    std::chrono::milliseconds m_httpTimeout = DefaultHttpTimeout;
    std::chrono::milliseconds m_dnsTimeout = DefaultDnsTimeout;
    std::chrono::milliseconds m_probeTimeout = DefaultProbeTimeout;
    ProbeRoute m_probeRoute;

    AddressParts m_address;
    bool m_running = false;
    // Bumped by every start and cancel, so that work of an earlier search never continues.
    quint64 m_generation = 0;
    std::deque<std::function<void()>> m_tasks;
    // The fetch and the probe in progress, for cancel().
    HttpFetcher *m_fetcher = nullptr;
    Transport *m_probeTransport = nullptr;
    std::unique_ptr<SrvLookups> m_srv;
    // The first server on 110 that answered without offering STLS.
    std::optional<MailServer> m_plainServer;
};

} // namespace corvane
