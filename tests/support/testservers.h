#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <utility>

namespace corvane::test {

// The loopback servers that scripts/test-servers.sh starts for the end-to-end tests, as
// described by its env file: KEY=VALUE lines. The file is $CORVANE_TEST_SERVERS_ENV when that
// is set, else test-servers.env in the build directory (the parent of the folder that holds
// the test executables).
class TestServers {
public:
    // Reads the env file; valid() is false (and why() says why) when it is missing.
    TestServers();

    bool valid() const { return m_valid; }
    const QString &why() const { return m_why; }
    QString value(const QString &key) const { return m_values.value(key); }
    // True when every key is present; otherwise why() names the first missing one.
    bool has(std::initializer_list<const char *> keys);

    static QString envFilePath();

private:
    QMap<QString, QString> m_values;
    QString m_why;
    bool m_valid = false;
};

// A message the SMTP sink received, decoded by Python's own MIME parser (not ours).
struct SinkMessage {
    QString error; // why it could not be found or decoded; empty when it was
    QByteArray from, subject, to;
    QByteArray body; // the plain text body, without its surrounding white space
    // File name and decoded bytes of each attachment, in order.
    QList<std::pair<QString, QByteArray>> attachments;
};
// The message the sink in sinkDir holds for recipient (the last one, if several).
SinkMessage readSinkMessage(const QString &sinkDir, const QByteArray &recipient);

// One user's Maildir on the test POP3 server, for seeding and inspecting it directly.
class TestMaildir {
public:
    explicit TestMaildir(QString path) : m_path(std::move(path)) {}

    const QString &path() const { return m_path; }
    // Removes every message and the server's index files, so the next session starts from
    // an empty mailbox with fresh message numbers.
    bool clear() const;
    // Delivers one message (its lines may end in LF or CR LF) as the next message number:
    // written into tmp/ and renamed into new/, as a delivery agent does.
    bool deliver(const QByteArray &message);
    // The number of messages in cur/ and new/.
    int count() const;
    // The contents of the messages in cur/ and new/, in delivery order.
    QList<QByteArray> messages() const;

private:
    QString m_path;
    int m_delivered = 0;
};

} // namespace corvane::test
