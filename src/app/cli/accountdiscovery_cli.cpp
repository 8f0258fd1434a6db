#include "app/cli/accountdiscovery_cli.h"

#include "app/cli/command.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/settings/accountdiscovery.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QHostAddress>
#include <QSslCertificate>

#include <iostream>
#include <string>
#ifdef Q_OS_WIN
#include <io.h>
#define CORVANE_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define CORVANE_ISATTY(fd) isatty(fd)
#endif

using namespace Qt::StringLiterals;

namespace corvane::cli {

namespace {

QCommandLineOption hidden(QCommandLineOption option) {
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

QString outcomeWord(AccountDiscovery::Outcome outcome) {
    switch (outcome) {
    case AccountDiscovery::Outcome::Found:
        return u"found"_s;
    case AccountDiscovery::Outcome::NothingFound:
        return u"nothing"_s;
    case AccountDiscovery::Outcome::Refused:
        return u"refused"_s;
    case AccountDiscovery::Outcome::Failed:
        return u"failed"_s;
    }
    return {};
}

// "host:port=host:port" into the two pairs; false when it is not that.
bool parseRoute(const QString &text, QString &fromHost, quint16 &fromPort, QString &toHost,
                quint16 &toPort) {
    const QStringList sides = text.split(u'=');
    if (sides.size() != 2)
        return false;
    const auto split = [](const QString &side, QString &host, quint16 &port) {
        const qsizetype colon = side.lastIndexOf(u':');
        if (colon <= 0)
            return false;
        bool ok = false;
        const uint p = side.mid(colon + 1).toUInt(&ok);
        if (!ok || p < 1 || p > 65535)
            return false;
        host = side.left(colon).toLower();
        port = quint16(p);
        return true;
    };
    return split(sides[0], fromHost, fromPort) && split(sides[1], toHost, toPort);
}

void printFound(const FoundAccountSettings &found, const QString &domain) {
    QString text =
        u"\nFound in the %1 (%2):\n"_s.arg(sourceName(found.source), field(found.origin));
    text += u"  POP3 server: %1\n"_s.arg(field(describeServer(found.incoming)));
    if (found.outgoing)
        text += u"  SMTP server: %1 (for bounces: set it in the settings if you bounce "
                u"mail)\n"_s.arg(field(describeServer(*found.outgoing)));
    text += u"  User name:   %1\n"_s.arg(field(found.userName));
    for (const QString &note : found.notes)
        text += u"  Note: %1\n"_s.arg(field(note));
    if (!found.otherDomainHosts.isEmpty())
        text += u"  Warning: %1 is outside %2. Use it only if your provider told you so.\n"_s.arg(
            field(found.otherDomainHosts.join(u", "_s)), domain);
    if (found.unencrypted())
        text += u"  Warning: no encryption. The password and the mail would cross the network "
                u"readable by anyone on the way.\n"_s;
    out(text);
}

} // namespace

DiscoveryOptions::DiscoveryOptions()
    : yes(u"yes"_s, u"With --email alone: take the settings found without asking."_s),
      allowUnencrypted(u"allow-unencrypted"_s,
                       u"With --email alone: accept a server that offers no encryption (the "
                       u"password and the mail then cross the network readable by anyone)."_s),
      nameServer(u"name-server"_s,
                 u"With --email alone: ask this name server (an IP address) for the SRV "
                 u"records instead of the system's."_s,
                 u"ADDRESS"_s),
      caCertificates(u"ca-certificates"_s,
                     u"With --email alone: trust the certificate authorities in FILE (PEM) "
                     u"besides the system's, for an organisation with its own."_s,
                     u"FILE"_s),
      autoconfigUrl(hidden(QCommandLineOption(
          u"autoconfig-url"_s, u"Where the settings document is looked for."_s, u"URL"_s))),
      probeRoute(
          hidden(QCommandLineOption(u"probe-route"_s, u"Where the probe connects for a server."_s,
                                    u"HOST:PORT=HOST:PORT"_s))) {}

QList<QCommandLineOption> DiscoveryOptions::all() const {
    return {yes, allowUnencrypted, nameServer, caCertificates, autoconfigUrl, probeRoute};
}

std::optional<FoundAccountSettings> discoverAndConfirm(const QCommandLineParser &parser,
                                                       const DiscoveryOptions &options,
                                                       const QString &command,
                                                       const QString &address, int &exitCode) {
    exitCode = Usage;
    const std::optional<AddressParts> parts = splitMailAddress(address);
    if (!parts) {
        err(u"corvane-cli %1: '%2' is not an e-mail address of the form name@domain\n"_s.arg(
            command, field(address)));
        return std::nullopt;
    }
    AccountDiscovery discovery;
    if (parser.isSet(options.nameServer)) {
        const QHostAddress server(parser.value(options.nameServer));
        if (server.isNull()) {
            err(u"corvane-cli %1: --name-server takes an IP address, not '%2'\n"_s.arg(
                command, parser.value(options.nameServer)));
            return std::nullopt;
        }
        discovery.setNameserver(server);
    }
    if (parser.isSet(options.caCertificates)) {
        const QList<QSslCertificate> cas =
            QSslCertificate::fromPath(parser.value(options.caCertificates));
        if (cas.isEmpty()) {
            err(u"corvane-cli %1: no certificate could be read from %2\n"_s.arg(
                command, parser.value(options.caCertificates)));
            return std::nullopt;
        }
        discovery.addCaCertificates(cas);
    }
    if (parser.isSet(options.autoconfigUrl)) {
        if (const auto failure = failureOf(
                [&] { discovery.setAutoconfigUrls(parser.values(options.autoconfigUrl)); })) {
            err(u"corvane-cli %1: %2\n"_s.arg(command, *failure));
            return std::nullopt;
        }
    }
    if (parser.isSet(options.probeRoute)) {
        QMap<QString, std::pair<QString, quint16>> routes;
        for (const QString &text : parser.values(options.probeRoute)) {
            QString fromHost, toHost;
            quint16 fromPort = 0, toPort = 0;
            if (!parseRoute(text, fromHost, fromPort, toHost, toPort)) {
                err(u"corvane-cli %1: --probe-route takes HOST:PORT=HOST:PORT, not '%2'\n"_s.arg(
                    command, text));
                return std::nullopt;
            }
            routes.insert(u"%1:%2"_s.arg(fromHost).arg(fromPort), {toHost, toPort});
        }
        discovery.setProbeRoute([routes](const QString &host, quint16 port) {
            return routes.value(u"%1:%2"_s.arg(host).arg(port), std::pair{host, port});
        });
    }

    out(u"Looking for the servers of %1:\n"_s.arg(field(parts->address)));
    std::optional<FoundAccountSettings> found;
    QString nothing;
    QEventLoop loop;
    QObject::connect(&discovery, &AccountDiscovery::stepStarted, &loop,
                     [](AccountDiscovery::Step step, const QString &what) {
                         out(u"[%1] %2 ...\n"_s.arg(AccountDiscovery::stepName(step), field(what)));
                     });
    QObject::connect(
        &discovery, &AccountDiscovery::stepEnded, &loop,
        [](AccountDiscovery::Step, AccountDiscovery::Outcome outcome, const QString &detail) {
            out(u"    %1: %2\n"_s.arg(outcomeWord(outcome), field(detail)));
        });
    QObject::connect(&discovery, &AccountDiscovery::found, &loop,
                     [&](const FoundAccountSettings &settings) {
                         found = settings;
                         loop.quit();
                     });
    QObject::connect(&discovery, &AccountDiscovery::nothingFound, &loop,
                     [&](const QString &summary) {
                         nothing = summary;
                         loop.quit();
                     });
    discovery.start(parts->address);
    loop.exec();
    if (!found) {
        err(u"corvane-cli %1: %2 (add the account with --server and --port)\n"_s.arg(
            command, field(nothing)));
        exitCode = Failure;
        return std::nullopt;
    }
    printFound(*found, parts->domain);
    exitCode = Failure;
    if (found->unencrypted() && !parser.isSet(options.allowUnencrypted)) {
        err(u"corvane-cli %1: %2 offers no encryption; the account was not added. Add "
            u"--allow-unencrypted to use it anyway.\n"_s.arg(command, field(found->incoming.host)));
        return std::nullopt;
    }
    if (parser.isSet(options.yes))
        return found;
    if (!CORVANE_ISATTY(0)) {
        err(u"corvane-cli %1: the settings were not confirmed; the account was not added. Add "
            u"--yes to take them without a question.\n"_s.arg(command));
        return std::nullopt;
    }
    out(u"Add the account with these settings? [y/N] "_s);
    std::string answer;
    std::getline(std::cin, answer);
    const QString reply = QString::fromStdString(answer).trimmed().toLower();
    if (reply != u"y"_s && reply != u"yes"_s) {
        err(u"corvane-cli %1: the account was not added\n"_s.arg(command));
        return std::nullopt;
    }
    return found;
}

} // namespace corvane::cli
