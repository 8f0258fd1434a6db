#include "core/protocol/maildate.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                               "jul", "aug", "sep", "oct", "nov", "dec"};
const char *const kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

bool isDigits(QStringView s) {
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

int monthNumber(QStringView s) {
    if (s.size() < 3)
        return 0;
    const QString head = s.left(3).toString().toLower();
    for (int m = 0; m < 12; ++m)
        if (head == QLatin1StringView(kMonths[m]))
            return m + 1;
    return 0;
}

bool isDayName(QStringView s) {
    if (s.size() < 3)
        return false;
    const QString head = s.left(3).toString().toLower();
    for (const char *d : kDays)
        if (head == QLatin1StringView(d))
            return true;
    return false;
}

int yearOf(QStringView s) {
    const int y = s.toInt();
    if (s.size() <= 2)
        return y < 80 ? 2000 + y : 1900 + y;
    if (s.size() == 3)
        return 1900 + y;
    return y;
}

// "+0200", "-05:30": the offset in seconds east of UTC; 0 for anything else.
int zoneOffset(QStringView s) {
    if (s.size() <= 4 || (s[0] != u'+' && s[0] != u'-'))
        return 0;
    QString digits = s.mid(1).toString();
    if (digits.size() >= 3 && digits[2] == u':')
        digits.remove(2, 1);
    digits.truncate(4);
    if (digits.size() != 4 || !isDigits(digits))
        return 0;
    const int hours = digits.left(2).toInt();
    const int minutes = digits.mid(2).toInt();
    if (hours > 23 || minutes > 59)
        return 0;
    const int offset = (hours * 60 + minutes) * 60;
    return s[0] == u'-' ? -offset : offset;
}

} // namespace

QDateTime parseMailDate(QStringView value) {
    // Dates are short; a longer value is garbage after a date at best.
    value = value.left(200);
    QList<QStringView> tokens;
    for (qsizetype i = 0; i < value.size();) {
        while (i < value.size() && (value[i].isSpace() || value[i] == u','))
            ++i;
        const qsizetype start = i;
        while (i < value.size() && !value[i].isSpace() && value[i] != u',')
            ++i;
        if (i > start)
            tokens.append(value.mid(start, i - start));
    }
    qsizetype timeAt = -1;
    for (qsizetype t = 0; t < tokens.size(); ++t)
        if (tokens[t].contains(u':') && tokens[t][0].isDigit()) {
            timeAt = t;
            break;
        }
    QStringView time;
    QList<QStringView> after; // what follows the time
    if (timeAt >= 0) {
        time = tokens[timeAt];
        // A zone glued to the time ("10:00:00+0200") is a token of its own.
        for (qsizetype k = 1; k < time.size(); ++k)
            if (time[k] == u'+' || time[k] == u'-') {
                after.append(time.mid(k));
                time = time.left(k);
                break;
            }
        after.append(tokens.mid(timeAt + 1));
    }
    QList<QStringView> date;
    for (qsizetype t = 0; t < (timeAt >= 0 ? timeAt : tokens.size()); ++t)
        for (QStringView piece : tokens[t].split(u'-', Qt::SkipEmptyParts))
            if (!(date.isEmpty() && isDayName(piece) && !isDigits(piece)))
                date.append(piece);
    if (date.size() < 2)
        return {};
    int day = 0;
    int month = 0;
    if (isDigits(date[0]) && monthNumber(date[1])) {
        day = date[0].toInt();
        month = monthNumber(date[1]);
    } else if (monthNumber(date[0]) && isDigits(date[1])) {
        month = monthNumber(date[0]);
        day = date[1].toInt();
    } else {
        return {};
    }
    int year = 0;
    if (date.size() >= 3 && isDigits(date[2]) && date[2].size() <= 4) {
        year = yearOf(date[2]);
    } else if (date.size() == 2 && !after.isEmpty() && isDigits(after.last()) &&
               after.last().size() <= 4) {
        // "Tue Jun  3 10:00:00 2003", as some programs write it.
        year = yearOf(after.last());
        after.removeLast();
    } else {
        return {};
    }
    const QDate d(year, month, day);
    if (year < 1 || !d.isValid())
        return {};
    QTime tm(0, 0);
    if (!time.isEmpty()) {
        const QList<QStringView> hms = time.split(u':');
        if (hms.size() < 2 || hms.size() > 3)
            return {};
        int parts[3] = {0, 0, 0};
        for (qsizetype k = 0; k < hms.size(); ++k) {
            if (!isDigits(hms[k]) || hms[k].size() > 2)
                return {};
            parts[k] = hms[k].toInt();
        }
        if (parts[0] > 23 || parts[1] > 59 || parts[2] > 60)
            return {};
        tm = QTime(parts[0], parts[1], qMin(parts[2], 59));
    }
    const int offset = after.isEmpty() ? 0 : zoneOffset(after.first());
    const QDateTime moment = QDateTime(d, tm, QTimeZone::utc()).addSecs(-offset);
    const QDateTime local = moment.toLocalTime();
    // A moment that falls outside the years 1 to 9999 in UTC or in local time once its offset
    // is applied cannot be written as a date (ISO 8601, RFC 822): it counts as unreadable.
    const auto writable = [](const QDateTime &t) {
        return t.isValid() && t.date().year() >= 1 && t.date().year() <= 9999;
    };
    if (!writable(moment) || !writable(local))
        return {};
    return local;
}

QByteArray formatMailDate(const QDateTime &moment) {
    const QDateTime local = moment.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    QString zone =
        QString::asprintf("%c%02d%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return (QLocale::c().toString(local, u"ddd, dd MMM yyyy hh:mm:ss"_s) + u' ' + zone).toLatin1();
}

} // namespace corvane
