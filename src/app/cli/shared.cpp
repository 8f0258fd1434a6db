#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/platform/safetext.h"
#include "core/protocol/transport.h"
#include "core/rules/miscrules.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace corvane::cli {

QString escapeField(const QString &field) {
    QString out;
    out.reserve(field.size());
    for (QChar c : field) {
        switch (c.unicode()) {
        case u'\\':
            out += u"\\\\"_s;
            break;
        case u'\t':
            out += u"\\t"_s;
            break;
        case u'\n':
            out += u"\\n"_s;
            break;
        case u'\r':
            out += u"\\r"_s;
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescapeField(QStringView field) {
    QString out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar c = field[i];
        if (c != u'\\' || i + 1 == field.size()) {
            out += c;
            continue;
        }
        const QChar n = field[++i];
        if (n == u't')
            out += u'\t';
        else if (n == u'n')
            out += u'\n';
        else if (n == u'r')
            out += u'\r';
        else if (n == u'\\')
            out += u'\\';
        else {
            out += c;
            out += n;
        }
    }
    return out;
}

QString field(const QString &text) {
    return safeText(text);
}

int runSubcommand(const QString &command, const QStringList &args,
                  const std::vector<Subcommand> &subcommands, const QString &help) {
    const QString name = args.isEmpty() ? QString() : args.constFirst();
    for (const Subcommand &sub : subcommands)
        if (sub.name == name)
            return sub.run(args.mid(1));
    if (name == u"--help"_s || name == u"-h"_s) {
        out(help);
        return Success;
    }
    if (!name.isNull())
        err(u"corvane-cli %1: unknown subcommand '%2'\n\n"_s.arg(command, name));
    err(help);
    return Usage;
}

int exitCodeFor(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::OutcomeUnknown:
        return OutcomeUnknown;
    case ErrorKind::Network:
        return TryAgain;
    case ErrorKind::SignInRequired:
        return SignInRequired;
    // A certificate that is refused stays refused: trying again later will not help.
    case ErrorKind::Security:
    case ErrorKind::File:
    case ErrorKind::Protocol:
    case ErrorKind::Data:
    case ErrorKind::Other:
        break;
    }
    return Failure;
}

QString exitCodeHelp(bool network, bool deletes) {
    QString text = u"Exit codes: 0 success; 1 failure (a missing or damaged file, a server's "
                   u"refusal); 2 bad arguments"_s;
    if (network && deletes)
        text += u"; 3 the server did not answer QUIT after deleting messages, or answered it "
                u"with an error, so whether they were deleted is not known (check the mailbox)"_s;
    if (network)
        text += u"; 77 an account that signs in with OAuth must be signed in again (its grant "
                u"was revoked or has expired: run \"corvane-cli accounts authorize\"; nothing "
                u"was deleted)"_s;
    if (network)
        text += u"; 75 temporary failure, try again later (the server could not be reached, "
                u"the connection failed or timed out; nothing was deleted)"_s;
    return text + u'.';
}

bool parseRuleTicks(const QString &text, MiscRules &rules) {
    rules.setAll(false);
    if (text.trimmed() == u"none"_s)
        return true;
    for (const QString &part : text.split(u',')) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > MiscRules::Count)
            return false;
        rules.setTicked(n, true);
    }
    return true;
}

ServerLimitOptions::ServerLimitOptions()
    : timeout(u"timeout"_s,
              u"Seconds a server may stay silent before the connection is given up (default "
              u"60)."_s,
              u"SECONDS"_s, u"60"_s),
      deadline(u"deadline"_s,
               u"Seconds one reply of a server may take as a whole, however slowly it arrives, "
               u"before the connection is given up (default 60); a listing, a header or a whole "
               u"message may take %1 times as long."_s.arg(Transport::DataDeadlineFactor),
               u"SECONDS"_s, u"60"_s) {}

bool ServerLimitOptions::read(const QCommandLineParser &parser, const QString &command) {
    for (const auto &[option, seconds] :
         {std::pair{&timeout, &timeoutSeconds}, std::pair{&deadline, &deadlineSeconds}}) {
        bool ok = false;
        const int value = parser.value(*option).toInt(&ok);
        if (!ok || value < 1 || value > 24 * 3600) {
            err(u"corvane-cli %1: --%2 takes a number of seconds from 1 to 86400\n"_s.arg(
                command, option->names().constFirst()));
            return false;
        }
        *seconds = value;
    }
    return true;
}

void ServerLimitOptions::applyTo(Transport &transport) const {
    transport.setReadTimeout(timeoutSeconds * 1000);
    transport.setDeadlines(deadlineSeconds * 1000);
}

std::unique_ptr<DataDirectoryLock> lockDataDirectory(const DataDirectory &directory,
                                                     const QString &command) {
    auto lock = std::make_unique<DataDirectoryLock>(directory);
    try {
        lock->acquire(kLockWait);
    } catch (const Error &e) {
        err(QStringLiteral("corvane-cli %1: %2\n").arg(command, e.message()));
        return nullptr;
    }
    return lock;
}

} // namespace corvane::cli
