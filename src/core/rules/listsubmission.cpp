#include "core/rules/listsubmission.h"

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/screening/processing.h"
#include "core/settings/settings.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane {

const QStringList ListSubmission::FileNames = {u"blsubj.dat"_s, u"bleml.dat"_s, u"blsubxy.dat"_s};
const QString ListSubmission::SenderName = u"Black Lists"_s;
const QString ListSubmission::Subject = u"Black List Files"_s;

MailMessage ListSubmission::compose(const QString &folder, const QString &to, const QString &from) {
    const QString sender = u"\"%1\" <%2>"_s.arg(SenderName, from.trimmed());
    MailMessage message = composeSimpleMessage(Subject, to, sender, Subject);
    for (const QString &name : FileNames) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo(path).isFile())
            message.AddAttachment(path);
    }
    return message;
}

QStringList ListSubmission::submit(const QString &folder, const Settings &settings,
                                   const SmtpSendOptions &options) {
    const MailMessage message = compose(folder, settings.submitaddress, settings.smtpemail);
    // Addresses that cannot be sent are refused before a connection is made.
    SmtpClient::envelope(message);
    // An SMTP login with OAuth uses the grant kept in the data folder.
    OAuthTokens tokens(folder);
    SmtpSendOptions send = MessageProcessor::smtpOptions(settings, &tokens);
    if (options.accessToken)
        send.accessToken = options.accessToken;
    send.transport = options.transport;
    send.transcript = options.transcript;
    send.heloName = options.heloName;
    send.extraHeaders = options.extraHeaders;
    const std::unique_ptr<Transport> transport = makeSendTransport(send);
    SmtpClient client(*transport);
    applySendOptions(client, settings.smtpserver, send);
    client.OpenSmtpSession();
    try {
        client.DeliverMessage(message);
    } catch (const Error &) {
        client.CloseSmtpSession();
        throw;
    }
    client.CloseSmtpSession();
    QStringList sent;
    for (const QString &name : FileNames)
        if (QFileInfo(QDir(folder).filePath(name)).isFile())
            sent << name;
    return sent;
}

QString ListSubmission::sizeText(const QString &path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    return u"%1 Bytes"_s.arg(info.size());
}

} // namespace corvane
