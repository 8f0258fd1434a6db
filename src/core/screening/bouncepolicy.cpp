#include "core/screening/bouncepolicy.h"

#include "core/platform/legacytext.h"
#include "core/platform/safetext.h"
#include "core/protocol/headerblock.h"
#include "core/protocol/mailmessage.h"

#include <QByteArrayView>

#include <array>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// A header value as a reason may quote it: decoded, made safe, cut short.
QString quoted(const QByteArray &value) {
    constexpr qsizetype kMaxQuoted = 60;
    QString text = safeText(decodeLegacyText(value.trimmed()));
    if (text.size() > kMaxQuoted)
        text = text.left(kMaxQuoted) + u"..."_s;
    return text;
}

// The first word of a structured value, in lower case: what comes before a blank, a ";" (the
// parameters of Auto-Submitted) or a "(" (a comment).
QByteArray firstToken(const QByteArray &value) {
    QByteArray v = value.trimmed();
    for (const char stop : {';', '(', ' ', '\t'}) {
        const qsizetype at = v.indexOf(stop);
        if (at >= 0)
            v.truncate(at);
    }
    return v.toLower();
}

bool hasHeader(const MailMessage &m, QByteArrayView name) {
    return findHeaderField(m.HeaderLines, name) >= 0;
}

// The address inside a Return-Path value: what stands between its angle brackets (RFC 5321
// writes it so), else the value without comments; blanks removed.
QString returnPathAddress(const QByteArray &value) {
    QByteArray v = value;
    const qsizetype open = v.indexOf('<');
    if (open >= 0) {
        const qsizetype close = v.indexOf('>', open + 1);
        v = v.mid(open + 1, close < 0 ? -1 : close - open - 1);
    } else {
        const qsizetype comment = v.indexOf('(');
        if (comment >= 0)
            v.truncate(comment);
    }
    return decodeLegacyText(v).simplified().remove(u' ');
}

} // namespace

bool BouncePolicy::isDaemonAddress(const QString &address) {
    QString local = address.trimmed();
    const qsizetype at = local.lastIndexOf(u'@');
    if (at >= 0)
        local.truncate(at);
    // A source route ("@a,@b:user@host") ends at its colon.
    const qsizetype colon = local.lastIndexOf(u':');
    if (colon >= 0)
        local = local.mid(colon + 1);
    if (local.size() >= 2 && local.startsWith(u'"') && local.endsWith(u'"'))
        local = local.mid(1, local.size() - 2);
    local = local.toLower();
    static const std::array<QString, 7> kNames{
        u"mailer-daemon"_s, u"mailerdaemon"_s, u"mail-daemon"_s, u"postmaster"_s,
        u"listserv"_s,      u"majordomo"_s,    u"mdaemon"_s};
    for (const QString &name : kNames)
        if (local == name)
            return true;
    return local.startsWith(u"owner-"_s) || local.endsWith(u"-request"_s) ||
           local.endsWith(u"-owner"_s);
}

QString BouncePolicy::reasonNotToBounce(const MailMessage &header, const QString &noticeAddress) {
    if (hasHeader(header, "Return-Path")) {
        const QString path = returnPathAddress(header.HeaderValue("Return-Path"));
        if (path.isEmpty())
            return u"its Return-Path is empty, so it is itself a notice or report"_s;
        if (isDaemonAddress(path))
            return u"its Return-Path is a mailer daemon's (%1)"_s.arg(safeText(path.left(80)));
    }
    const QString to = noticeAddress.trimmed();
    if (to.isEmpty())
        return u"it names no sender address to send a notice to"_s;
    if (isDaemonAddress(to))
        return u"its sender is a mailer daemon (%1)"_s.arg(safeText(to.left(80)));
    if (hasHeader(header, "Auto-Submitted")) {
        const QByteArray value = header.HeaderValue("Auto-Submitted");
        if (firstToken(value) != "no")
            return u"it was sent automatically (Auto-Submitted: %1)"_s.arg(quoted(value));
    }
    for (const char *name : {"List-Id", "List-Unsubscribe"}) {
        if (hasHeader(header, name))
            return u"it is list mail (%1)"_s.arg(QLatin1StringView(name));
    }
    if (hasHeader(header, "Precedence")) {
        const QByteArray value = header.HeaderValue("Precedence");
        const QByteArray token = firstToken(value);
        if (token == "bulk" || token == "list" || token == "junk")
            return u"it is bulk or list mail (Precedence: %1)"_s.arg(quoted(value));
    }
    return {};
}

} // namespace corvane
