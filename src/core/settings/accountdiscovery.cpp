#include "core/settings/accountdiscovery.h"

#include "core/errors.h"
#include "core/protocol/httpfetcher.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/tcptransport.h"
#include "core/settings/autoconfig.h"

#include <QDnsLookup>
#include <QElapsedTimer>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace corvane {

const QStringList AccountDiscovery::DefaultAutoconfigUrls{
    u"https://autoconfig.%1/mail/config-v1.1.xml"_s,
    u"https://%1/.well-known/autoconfig/mail/config-v1.1.xml"_s,
};

namespace {

QString seconds(std::chrono::milliseconds ms) {
    return QString::number(double(ms.count()) / 1000.0);
}

// The SRV names looked up, in the order of preference within each direction.
enum SrvName { Pop3s, Pop3, Submissions, Submission, SrvNameCount };
const std::array<QString, SrvNameCount> srvPrefixes{
    u"_pop3s._tcp."_s, u"_pop3._tcp."_s, u"_submissions._tcp."_s, u"_submission._tcp."_s};

} // namespace

// The four lookups of the SRV step, running at once under one time limit.
struct AccountDiscovery::SrvLookups {
    QObject context; // parent of the lookups and the timer
    std::array<QDnsLookup *, SrvNameCount> lookups{};
    QTimer *timer = nullptr;
    QElapsedTimer clock;
    int pending = SrvNameCount;
};

AccountDiscovery::AccountDiscovery(QObject *parent)
    : QObject(parent), m_presets(builtInServerPresets()) {
    qRegisterMetaType<FoundAccountSettings>();
}

AccountDiscovery::~AccountDiscovery() {
    cancel();
}

void AccountDiscovery::setAutoconfigUrls(const QStringList &templates) {
    for (const QString &t : templates) {
        if (!t.startsWith(u"https://"_s, Qt::CaseInsensitive))
            throw DataError(u"The settings document is only ever fetched over HTTPS, not from "
                            u"%1."_s.arg(t));
    }
    m_autoconfigUrls = templates;
}

void AccountDiscovery::addCaCertificates(const QList<QSslCertificate> &certificates) {
    m_cas += certificates;
}

QString AccountDiscovery::stepName(Step step) {
    switch (step) {
    case Step::Presets:
        return u"Built-in presets"_s;
    case Step::Autoconfig:
        return u"Settings document"_s;
    case Step::DnsSrv:
        return u"DNS SRV records"_s;
    case Step::Probe:
        return u"Probe"_s;
    }
    return {};
}

void AccountDiscovery::start(const QString &address) {
    if (m_running)
        throw DataError(u"A search for the settings is already running."_s);
    const std::optional<AddressParts> parts = splitMailAddress(address);
    if (!parts)
        throw DataError(
            u"\"%1\" is not an e-mail address of the form name@domain."_s.arg(address.trimmed()));
    m_address = *parts;
    m_running = true;
    ++m_generation;
    m_plainServer.reset();
    m_tasks.clear();
    m_tasks.push_back([this] { tryPresets(); });
    for (const QString &t : std::as_const(m_autoconfigUrls))
        m_tasks.push_back([this, t] { tryAutoconfig(t); });
    m_tasks.push_back([this] { startSrvLookups(); });
    const QString pop = u"pop."_s + m_address.domain;
    const QString mail = u"mail."_s + m_address.domain;
    m_tasks.push_back([this, pop] { tryProbe(pop, 995, ProbeMode::Tls); });
    m_tasks.push_back([this, mail] { tryProbe(mail, 995, ProbeMode::Tls); });
    m_tasks.push_back([this, pop] { tryProbe(pop, 110, ProbeMode::StartTls); });
    m_tasks.push_back([this, mail] { tryProbe(mail, 110, ProbeMode::StartTls); });
    m_tasks.push_back([this] { takePlainServer(); });
    scheduleNext();
}

void AccountDiscovery::cancel() {
    if (!m_running)
        return;
    m_running = false;
    ++m_generation;
    m_tasks.clear();
    if (m_fetcher)
        m_fetcher->abort();
    if (m_probeTransport)
        m_probeTransport->abort();
    // Taken out first: an aborted lookup reports its end at once, which must find no step
    // waiting for it.
    if (const std::unique_ptr<SrvLookups> srv = std::move(m_srv)) {
        for (QDnsLookup *lookup : srv->lookups)
            if (lookup && !lookup->isFinished())
                lookup->abort();
    }
}

void AccountDiscovery::scheduleNext() {
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == m_generation)
            runNext();
    });
}

void AccountDiscovery::runNext() {
    if (!m_running)
        return;
    if (m_tasks.empty()) {
        m_running = false;
        Q_EMIT nothingFound(u"No settings were found for %1: fill them in by hand, as the "
                            u"provider gives them."_s.arg(m_address.domain));
        return;
    }
    const std::function<void()> task = std::move(m_tasks.front());
    m_tasks.pop_front();
    task();
}

void AccountDiscovery::succeed(FoundAccountSettings settings) {
    m_running = false;
    m_tasks.clear();
    Q_EMIT found(settings);
}

void AccountDiscovery::tryPresets() {
    Q_EMIT stepStarted(Step::Presets,
                       u"Looking for %1 among the known providers"_s.arg(m_address.domain));
    const std::optional<ServerPreset> preset = presetForDomain(m_presets, m_address.domain);
    if (!preset) {
        Q_EMIT stepEnded(Step::Presets, Outcome::NothingFound,
                         u"%1 is not a domain of a known provider."_s.arg(m_address.domain));
        scheduleNext();
        return;
    }
    FoundAccountSettings found;
    found.source = FoundAccountSettings::Source::Preset;
    found.origin = preset->provider;
    found.incoming = preset->incoming;
    found.outgoing = preset->outgoing;
    found.userName = m_address.address;
    if (!preset->note.isEmpty())
        found.notes.append(preset->note);
    Q_EMIT stepEnded(Step::Presets, Outcome::Found, u"Known provider: %1."_s.arg(preset->provider));
    succeed(std::move(found));
}

void AccountDiscovery::tryAutoconfig(const QString &urlTemplate) {
    const QUrl url(QString(urlTemplate).arg(m_address.domain));
    const QString shown = url.toDisplayString();
    Q_EMIT stepStarted(Step::Autoconfig, u"Fetching %1"_s.arg(shown));
    const QPointer<AccountDiscovery> self(this);
    const quint64 generation = m_generation;
    const auto stillWanted = [&] { return self && generation == m_generation && m_running; };

    HttpFetcher fetcher;
    fetcher.setTimeout(m_httpTimeout);
    fetcher.setDeadline(2 * m_httpTimeout);
    fetcher.setMaxBodySize(MaxAutoconfigSize);
    fetcher.addCaCertificates(m_cas);
    m_fetcher = &fetcher;
    // The fetcher lives only as long as this call, whatever way it ends.
    const auto forget = qScopeGuard([this, self] {
        if (self)
            m_fetcher = nullptr;
    });
    QByteArray document;
    Outcome outcome = Outcome::Failed;
    QString detail;
    try {
        if (url.scheme().compare(u"https"_s, Qt::CaseInsensitive) != 0)
            throw DataError(u"Only HTTPS is used for the settings document."_s);
        document = fetcher.FetchUrl(url);
        outcome = Outcome::Found;
    } catch (const ProtocolError &e) {
        if (!stillWanted())
            return;
        const QString text = e.message();
        if (text.startsWith(u"HTTP/1.1 3"_s)) {
            outcome = Outcome::Refused;
            detail =
                u"The server answered with a redirection (%1), which is not followed."_s.arg(text);
        } else if (text.startsWith(u"HTTP/1.1 404"_s) || text.startsWith(u"HTTP/1.1 410"_s)) {
            outcome = Outcome::NothingFound;
            detail = u"There is no document there (%1)."_s.arg(text);
        } else if (text.startsWith(u"HTTP/"_s)) {
            outcome = Outcome::Failed;
            detail = u"The server answered %1."_s.arg(text);
        } else {
            outcome = Outcome::Refused;
            detail = text;
        }
    } catch (const NetworkError &e) {
        if (!stillWanted())
            return;
        outcome = e.reason() == NetworkError::Reason::HostNotFound ? Outcome::NothingFound
                                                                   : Outcome::Failed;
        detail = e.message();
    } catch (const Error &e) {
        if (!stillWanted())
            return;
        outcome = Outcome::Refused;
        detail = e.message();
    }
    if (!stillWanted())
        return;
    if (outcome == Outcome::Found) {
        try {
            std::optional<FoundAccountSettings> found =
                parseAutoconfigDocument(document, m_address, shown);
            if (found) {
                Q_EMIT stepEnded(
                    Step::Autoconfig, Outcome::Found,
                    u"The document names the POP3 server %1."_s.arg(found->incoming.host));
                if (stillWanted())
                    succeed(std::move(*found));
                return;
            }
            outcome = Outcome::NothingFound;
            detail = u"The document offers no POP3 server."_s;
        } catch (const DataError &e) {
            outcome = Outcome::Refused;
            detail = e.message();
        }
    }
    if (detail.isEmpty())
        detail = u"Nothing was found."_s;
    Q_EMIT stepEnded(Step::Autoconfig, outcome, detail);
    if (stillWanted())
        scheduleNext();
}

void AccountDiscovery::startSrvLookups() {
    Q_EMIT stepStarted(Step::DnsSrv, u"Looking up the SRV records of %1"_s.arg(m_address.domain));
    m_srv = std::make_unique<SrvLookups>();
    SrvLookups *srv = m_srv.get();
    srv->timer = new QTimer(&srv->context);
    srv->timer->setSingleShot(true);
    srv->timer->setInterval(m_dnsTimeout);
    connect(srv->timer, &QTimer::timeout, this, [this] { finishSrvLookups(true); });
    for (int i = 0; i < SrvNameCount; ++i) {
        auto *lookup = new QDnsLookup(QDnsLookup::SRV, srvPrefixes[size_t(i)] + m_address.domain,
                                      &srv->context);
        if (!m_nameserver.isNull())
            lookup->setNameserver(m_nameserver);
        srv->lookups[size_t(i)] = lookup;
        connect(lookup, &QDnsLookup::finished, this, [this, srv] {
            if (m_srv.get() != srv)
                return;
            if (--srv->pending == 0)
                finishSrvLookups(false);
        });
    }
    srv->timer->start();
    srv->clock.start();
    for (QDnsLookup *lookup : srv->lookups)
        lookup->lookup();
}

namespace {

// The best record of a lookup (lowest priority, then highest weight) as a server, skipping the
// target "." that says the service is not offered.
std::optional<MailServer> bestRecord(const QDnsLookup &lookup, ConnectionSecurity security) {
    QList<QDnsServiceRecord> records = lookup.serviceRecords();
    std::stable_sort(records.begin(), records.end(), [](const auto &a, const auto &b) {
        if (a.priority() != b.priority())
            return a.priority() < b.priority();
        return a.weight() > b.weight();
    });
    for (const QDnsServiceRecord &record : std::as_const(records)) {
        QString target = record.target();
        while (target.endsWith(u'.'))
            target.chop(1);
        if (target.isEmpty() || record.port() == 0 || !isHostName(target))
            continue;
        return MailServer{target.toLower(), record.port(), security};
    }
    return std::nullopt;
}

} // namespace

void AccountDiscovery::finishSrvLookups(bool timedOut) {
    const std::unique_ptr<SrvLookups> srv = std::move(m_srv);
    if (!srv)
        return;
    srv->timer->stop();
    if (timedOut) {
        for (QDnsLookup *lookup : srv->lookups)
            if (!lookup->isFinished())
                lookup->abort();
        Q_EMIT stepEnded(
            Step::DnsSrv, Outcome::Failed,
            u"The name server did not answer within %1 seconds."_s.arg(seconds(m_dnsTimeout)));
        scheduleNext();
        return;
    }
    const auto &l = srv->lookups;
    std::optional<MailServer> incoming = bestRecord(*l[Pop3s], ConnectionSecurity::Tls);
    QString origin = srvPrefixes[Pop3s] + m_address.domain;
    if (!incoming) {
        incoming = bestRecord(*l[Pop3], ConnectionSecurity::StartTls);
        origin = srvPrefixes[Pop3] + m_address.domain;
    }
    if (!incoming) {
        // A name that does not exist is an answer; anything else is a failure to report.
        QString failure;
        bool silent = false;
        for (int i : {int(Pop3s), int(Pop3)}) {
            const QDnsLookup &lookup = *l[size_t(i)];
            if (lookup.error() != QDnsLookup::NoError &&
                lookup.error() != QDnsLookup::NotFoundError && failure.isEmpty()) {
                failure = lookup.errorString();
                // The system's resolver gives up on a silent name server after its own time
                // and then reports no reply as an invalid one.
                silent = (lookup.error() == QDnsLookup::InvalidReplyError ||
                          lookup.error() == QDnsLookup::ResolverError) &&
                         srv->clock.elapsed() >= 900;
            }
        }
        if (silent)
            Q_EMIT stepEnded(
                Step::DnsSrv, Outcome::Failed,
                u"The name server did not answer in time (the resolver gave up "
                u"after %1 seconds: %2)."_s.arg(
                    seconds(std::chrono::milliseconds(srv->clock.elapsed() / 100 * 100)), failure));
        else if (!failure.isEmpty())
            Q_EMIT stepEnded(Step::DnsSrv, Outcome::Failed,
                             u"The SRV records could not be looked up: %1"_s.arg(failure));
        else
            Q_EMIT stepEnded(Step::DnsSrv, Outcome::NothingFound,
                             u"%1 publishes no SRV record for POP3."_s.arg(m_address.domain));
        scheduleNext();
        return;
    }
    FoundAccountSettings found;
    found.source = FoundAccountSettings::Source::DnsSrv;
    found.origin = origin;
    found.incoming = *incoming;
    found.outgoing = bestRecord(*l[Submissions], ConnectionSecurity::Tls);
    if (!found.outgoing)
        found.outgoing = bestRecord(*l[Submission], ConnectionSecurity::StartTls);
    found.userName = m_address.address;
    // The records are not signed: a server outside the domain could have been put there by
    // anyone on the way, so the user confirms it knowing so.
    for (const MailServer *server : {&found.incoming, found.outgoing ? &*found.outgoing : nullptr})
        if (server && !hostWithinDomain(server->host, m_address.domain) &&
            !found.otherDomainHosts.contains(server->host))
            found.otherDomainHosts.append(server->host);
    Q_EMIT stepEnded(Step::DnsSrv, Outcome::Found,
                     u"%1 names the POP3 server %2."_s.arg(origin, found.incoming.host));
    succeed(std::move(found));
}

void AccountDiscovery::tryProbe(const QString &host, quint16 port, ProbeMode mode) {
    Q_EMIT stepStarted(Step::Probe, u"Trying %1 on port %2 (%3)"_s.arg(
                                        host, QString::number(port),
                                        mode == ProbeMode::Tls ? u"TLS"_s : u"STLS"_s));
    const QPointer<AccountDiscovery> self(this);
    const quint64 generation = m_generation;
    const auto stillWanted = [&] { return self && generation == m_generation && m_running; };

    const auto [connectHost, connectPort] =
        m_probeRoute ? m_probeRoute(host, port) : std::pair{host, port};
    TcpTransport transport;
    transport.addCaCertificates(m_cas);
    transport.setReadTimeout(int(m_probeTimeout.count()));
    transport.setDeadlines(int(m_probeTimeout.count()));
    transport.setSecurity(mode == ProbeMode::Tls ? Transport::Security::Tls
                                                 : Transport::Security::StartTls);
    m_probeTransport = &transport;
    // The transport lives only as long as this call, whatever way it ends.
    const auto forget = qScopeGuard([this, self] {
        if (self)
            m_probeTransport = nullptr;
    });
    Outcome outcome = Outcome::Failed;
    QString detail;
    std::optional<MailServer> server;
    try {
        transport.open(connectHost, connectPort);
        const Pop3Reply greeting = Pop3Reply::parse(transport.readLine());
        if (!greeting.ok())
            throw ProtocolError(u"The server does not greet as a POP3 server does."_s);
        if (mode == ProbeMode::Tls) {
            server = MailServer{host, port, ConnectionSecurity::Tls};
        } else {
            transport.writeLine("CAPA");
            bool stls = false;
            if (Pop3Reply::parse(transport.readLine()).ok()) {
                Pop3DataLines lines(transport);
                QByteArray line;
                while (lines.readLine(line)) {
                    if (line.trimmed().compare("STLS", Qt::CaseInsensitive) == 0)
                        stls = true;
                }
            }
            if (stls) {
                transport.writeLine("STLS");
                if (!Pop3Reply::parse(transport.readLine()).ok())
                    throw SecurityError(u"The server offers STLS but refused it."_s);
                transport.startTls();
                server = MailServer{host, port, ConnectionSecurity::StartTls};
            } else {
                if (!m_plainServer)
                    m_plainServer = MailServer{host, port, ConnectionSecurity::None};
                outcome = Outcome::NothingFound;
                detail = u"A POP3 server answers, but it offers no encryption (no STLS)."_s;
            }
        }
        if (transport.isOpen()) {
            transport.writeLine("QUIT");
            transport.close();
        }
    } catch (const Error &e) {
        if (!stillWanted())
            return;
        const NetworkError *network = dynamic_cast<const NetworkError *>(&e);
        outcome = network && network->reason() == NetworkError::Reason::HostNotFound
                      ? Outcome::NothingFound
                      : Outcome::Failed;
        detail = e.message().simplified();
        transport.close();
    }
    if (!stillWanted())
        return;
    if (server) {
        Q_EMIT stepEnded(Step::Probe, Outcome::Found,
                         u"A POP3 server answers: %1."_s.arg(describeServer(*server)));
        if (!stillWanted())
            return;
        FoundAccountSettings found;
        found.source = FoundAccountSettings::Source::Probe;
        found.origin = u"%1:%2"_s.arg(host, QString::number(port));
        found.incoming = *server;
        found.userName = m_address.address;
        succeed(std::move(found));
        return;
    }
    Q_EMIT stepEnded(Step::Probe, outcome, detail);
    if (stillWanted())
        scheduleNext();
}

void AccountDiscovery::takePlainServer() {
    if (!m_plainServer) {
        scheduleNext();
        return;
    }
    FoundAccountSettings found;
    found.source = FoundAccountSettings::Source::Probe;
    found.origin = u"%1:%2"_s.arg(m_plainServer->host, QString::number(m_plainServer->port));
    found.incoming = *m_plainServer;
    found.userName = m_address.address;
    found.notes.append(u"This server offers no encryption: the password and the mail would "
                       u"cross the network readable by anyone on the way."_s);
    succeed(std::move(found));
}

} // namespace corvane
