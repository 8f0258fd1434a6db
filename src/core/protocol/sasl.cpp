#include "core/protocol/sasl.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// RFC 5801's saslname: "," and "=" are written as "=2C" and "=3D" in the GS2 header.
QByteArray gs2Name(const QString &user) {
    QByteArray name = user.toUtf8();
    name.replace("=", "=3D");
    name.replace(",", "=2C");
    return name;
}

QString shortened(QString text) {
    constexpr qsizetype Limit = 200;
    text = text.simplified();
    if (text.size() > Limit)
        text = text.left(Limit) + u"…"_s;
    return text;
}

} // namespace

std::optional<OAuthMechanism> chooseOAuthMechanism(const QList<QByteArray> &offered,
                                                   const QList<OAuthMechanism> &preferred) {
    for (const OAuthMechanism wanted : preferred)
        for (const QByteArray &mechanism : offered)
            if (mechanism.trimmed().compare(mechanismName(wanted), Qt::CaseInsensitive) == 0)
                return wanted;
    return std::nullopt;
}

QByteArray mechanismName(OAuthMechanism mechanism) {
    return mechanism == OAuthMechanism::OAuthBearer ? "OAUTHBEARER" : "XOAUTH2";
}

QByteArray oauthInitialResponse(OAuthMechanism mechanism, const QString &user, const QString &host,
                                quint16 port, const QString &token) {
    const QByteArray bearer = "auth=Bearer " + token.toUtf8();
    if (mechanism == OAuthMechanism::XOAuth2)
        return "user=" + user.toUtf8() + '\x01' + bearer + "\x01\x01";
    // RFC 7628 3.1: the GS2 header, then key=value pairs each ended by 0x01, then 0x01.
    return "n,a=" + gs2Name(user) + ",\x01host=" + host.toUtf8() +
           "\x01port=" + QByteArray::number(port) + '\x01' + bearer + "\x01\x01";
}

QByteArray oauthErrorAcknowledgement(OAuthMechanism mechanism) {
    return mechanism == OAuthMechanism::OAuthBearer ? QByteArray(1, '\x01') : QByteArray();
}

QString oauthChallengeText(const QByteArray &base64Challenge) {
    const auto decoded = QByteArray::fromBase64Encoding(base64Challenge.trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    if (!document.isObject())
        return {};
    const QJsonObject object = document.object();
    QStringList parts;
    if (const QString status = object.value(u"status"_s).toString(); !status.isEmpty())
        parts << u"status %1"_s.arg(shortened(status));
    if (const QString scope = object.value(u"scope"_s).toString(); !scope.isEmpty())
        parts << u"scope %1"_s.arg(shortened(scope));
    return parts.join(u", "_s);
}

bool isLoopbackHost(const QString &host) {
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace corvane
