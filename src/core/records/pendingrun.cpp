#include "core/records/pendingrun.h"

#include "core/errors.h"
#include "core/records/deletionlog.h"

using namespace Qt::StringLiterals;

namespace corvane {

const QString PendingRun::FileName = u"logfile.pending"_s;
const QString PendingRun::ConfirmedFileName = u"logfile.confirmed"_s;

namespace {
constexpr QByteArrayView kMagic = "Corvane pending run 1";
} // namespace

QByteArray PendingRun::toBytes() const {
    QString text = QString::fromLatin1(kMagic) + u'\n';
    const auto field = [&text](const QString &name, const QString &value) {
        text += name + u'\t' + value + u'\n';
    };
    // A name is one line: line breaks and tabs would forge fields.
    QString name = account;
    for (QChar &c : name)
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    field(u"account"_s, name);
    field(u"messages"_s, QString::number(messages));
    field(u"log-lines-before"_s, QString::number(logLinesBefore));
    field(u"total-before"_s, totalBefore.simplified());
    field(u"total-after"_s, totalAfter.simplified());
    for (const qsizetype i : messageLines)
        field(u"message-line"_s, QString::number(i));
    for (const QString &line : lines)
        field(u"line"_s, line);
    return text.toUtf8();
}

PendingRun PendingRun::parse(const QByteArray &bytes) {
    const auto bad = [](const QString &why) {
        return DataError(u"The record of an unfinished run is damaged: %1."_s.arg(why));
    };
    QList<QByteArray> rows = bytes.split('\n');
    if (rows.isEmpty() || rows.constFirst() != kMagic)
        throw bad(u"it does not begin with its heading"_s);
    if (!rows.constLast().isEmpty())
        throw bad(u"its last line is cut short"_s);
    rows.removeLast();
    PendingRun run;
    const auto number = [&bad](const QString &value, const QString &name) {
        bool ok = false;
        const qlonglong n = value.toLongLong(&ok);
        if (!ok || n < 0 || n > 1000000000)
            throw bad(u"%1 is not a count"_s.arg(name));
        return qsizetype(n);
    };
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QString row = QString::fromUtf8(rows.at(i));
        const qsizetype tab = row.indexOf(u'\t');
        if (tab < 0)
            throw bad(u"line %1 has no field name"_s.arg(i + 1));
        const QString name = row.left(tab);
        const QString value = row.mid(tab + 1);
        if (name == u"account"_s) {
            run.account = value;
        } else if (name == u"messages"_s) {
            run.messages = int(number(value, name));
        } else if (name == u"log-lines-before"_s) {
            run.logLinesBefore = number(value, name);
        } else if (name == u"total-before"_s) {
            run.totalBefore = value;
        } else if (name == u"total-after"_s) {
            run.totalAfter = value;
        } else if (name == u"message-line"_s) {
            run.messageLines << number(value, name);
        } else if (name == u"line"_s) {
            run.lines << value;
        } else {
            throw bad(u"the field \"%1\" is unknown"_s.arg(name));
        }
    }
    for (const qsizetype i : std::as_const(run.messageLines))
        if (i >= run.lines.size())
            throw bad(u"it names a line it does not hold"_s);
    return run;
}

QStringList PendingRun::unconfirmedLines(const QString &why) const {
    QStringList out = lines;
    for (const qsizetype i : messageLines)
        out[i] = DeletionLog::unconfirmedLine(out.at(i), why);
    return out;
}

} // namespace corvane
