#include "core/platform/inifile.h"

#include "core/errors.h"
#include "core/platform/durablefile.h"
#include "core/platform/legacytext.h"

#include <QDir>
#include <QFile>
#include <QIODevice>

#include <limits>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

bool sameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QString trimBlanks(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b).toString();
}

} // namespace

IniFile::Line IniFile::parse(QByteArray raw, QByteArray eol, bool first) {
    Line line;
    QByteArrayView bytes(raw);
    if (first && bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3); // a byte-order mark left by an editor
    const QString text = trimBlanks(decodeLegacyText(bytes));
    line.raw = std::move(raw);
    line.eol = std::move(eol);
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        line.kind = Kind::Section;
        line.name = trimBlanks(QStringView(text).mid(1, close < 0 ? -1 : close - 1));
    } else if (!text.startsWith(u';') && !text.startsWith(u'#')) {
        const qsizetype eq = text.indexOf(u'=');
        if (eq > 0) {
            line.name = trimBlanks(QStringView(text).left(eq));
            if (!line.name.isEmpty()) {
                line.kind = Kind::Key;
                line.value = trimBlanks(QStringView(text).mid(eq + 1));
            }
        }
    }
    return line;
}

IniFile IniFile::load(const QString &path) {
    IniFile ini;
    QFile f(path);
    if (!f.exists())
        return ini;
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(
            u"Cannot read %1: %2"_s.arg(QDir::toNativeSeparators(path), f.errorString()));
    ini.read(f);
    return ini;
}

IniFile IniFile::fromBytes(const QByteArray &bytes) {
    IniFile ini;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype nl = bytes.indexOf('\n', start);
        if (nl < 0) {
            ini.m_lines << parse(bytes.mid(start), {}, ini.m_lines.isEmpty());
            break;
        }
        const bool crlf = nl > start && bytes[nl - 1] == '\r';
        const qsizetype end = crlf ? nl - 1 : nl;
        ini.m_lines << parse(bytes.mid(start, end - start), crlf ? "\r\n"_ba : "\n"_ba,
                             ini.m_lines.isEmpty());
        start = nl + 1;
    }
    return ini;
}

void IniFile::read(QIODevice &device) {
    *this = fromBytes(device.readAll());
}

QByteArray IniFile::toBytes() const {
    QByteArray out;
    for (const Line &l : m_lines)
        out += l.raw + l.eol;
    return out;
}

void IniFile::save(const QString &path) const {
    try {
        writeFileDurably(path, toBytes());
    } catch (const WriteError &e) {
        throw FileError(
            u"Unable to write to %1. %2"_s.arg(QDir::toNativeSeparators(path), e.reason()));
    }
}

QByteArray IniFile::defaultEol() const {
    for (const Line &l : m_lines)
        if (!l.eol.isEmpty())
            return l.eol;
    return "\r\n"_ba;
}

qsizetype IniFile::findKey(const QString &section, const QString &key) const {
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line &l = m_lines[i];
        if (l.kind == Kind::Section)
            inSection = sameName(l.name, section);
        else if (inSection && l.kind == Kind::Key && sameName(l.name, key))
            return i;
    }
    return -1;
}

bool IniFile::hasSection(const QString &section) const {
    for (const Line &l : m_lines)
        if (l.kind == Kind::Section && sameName(l.name, section))
            return true;
    return false;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const {
    const qsizetype i = findKey(section, key);
    if (i < 0)
        return std::nullopt;
    return m_lines[i].value.left(MaxValueLength);
}

QString IniFile::value(const QString &section, const QString &key, const QString &fallback) const {
    return value(section, key).value_or(fallback);
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value) {
    const auto hasBreak = [](const QString &s) { return s.contains(u'\n') || s.contains(u'\r'); };
    if (trimBlanks(section).isEmpty() || hasBreak(section) || section.contains(u']'))
        throw DataError(u"Cannot write the INI section name \"%1\""_s.arg(section));
    const QString k = trimBlanks(key);
    if (k.isEmpty() || hasBreak(key) || key.contains(u'=') || k.startsWith(u'[') ||
        k.startsWith(u';') || k.startsWith(u'#'))
        throw DataError(u"Cannot write the INI key name \"%1\""_s.arg(key));
    QString v = value;
    v.replace(u"\r\n"_s, u" "_s).replace(u'\r', u' ').replace(u'\n', u' ');

    const auto makeLine = [&](const QString &name, qsizetype at) {
        const QByteArray eol = defaultEol();
        if (at > 0 && m_lines[at - 1].eol.isEmpty())
            m_lines[at - 1].eol = eol;
        Line l = parse(encodeLegacyText(QString(name + u'=' + v)), eol, at == 0);
        m_lines.insert(at, std::move(l));
    };

    const qsizetype found = findKey(section, key);
    if (found >= 0) {
        Line &l = m_lines[found];
        if (l.value == trimBlanks(v))
            return;                  // the line stays exactly as it was
        const QString name = l.name; // keep the key's own spelling
        const QByteArray eol = l.eol;
        l = parse(encodeLegacyText(QString(name + u'=' + v)), eol, found == 0);
        return;
    }

    qsizetype header = -1;
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].kind == Kind::Section && sameName(m_lines[i].name, section)) {
            header = i;
            break;
        }
    if (header >= 0) {
        qsizetype at = header + 1;
        for (qsizetype i = header + 1; i < m_lines.size() && m_lines[i].kind != Kind::Section; ++i)
            if (m_lines[i].kind == Kind::Key)
                at = i + 1;
        makeLine(k, at);
        return;
    }
    const qsizetype end = m_lines.size();
    const QByteArray eol = defaultEol();
    if (end > 0 && m_lines[end - 1].eol.isEmpty())
        m_lines[end - 1].eol = eol;
    m_lines << parse(encodeLegacyText(QString(u'[' + trimBlanks(section) + u']')), eol, end == 0);
    makeLine(k, m_lines.size());
}

QStringList IniFile::sections() const {
    QStringList out;
    for (const Line &l : m_lines)
        if (l.kind == Kind::Section && !out.contains(l.name, Qt::CaseInsensitive))
            out << l.name;
    return out;
}

QStringList IniFile::keys(const QString &section) const {
    QStringList out;
    bool inSection = false;
    for (const Line &l : m_lines) {
        if (l.kind == Kind::Section)
            inSection = sameName(l.name, section);
        else if (inSection && l.kind == Kind::Key && !out.contains(l.name, Qt::CaseInsensitive))
            out << l.name;
    }
    return out;
}

std::optional<qint64> parseLegacyInteger(QStringView text, qint64 min, qint64 max) {
    const QString t = text.trimmed().toString();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
        negative = t[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < t.size() && t[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == t.size())
        return std::nullopt;
    // Accumulate as a negative number so that the most negative value fits.
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    qint64 acc = 0;
    for (; i < t.size(); ++i) {
        const int d = QChar::isDigit(t[i].unicode()) && t[i].unicode() < 0x80
                          ? t[i].unicode() - u'0'
                          : (base == 16 && t[i].toLower() >= u'a' && t[i].toLower() <= u'f'
                                 ? t[i].toLower().unicode() - u'a' + 10
                                 : -1);
        if (d < 0 || d >= base)
            return std::nullopt;
        if (acc < (lowest + d) / base)
            return std::nullopt;
        acc = acc * base - d;
    }
    if (!negative) {
        if (acc == lowest)
            return std::nullopt;
        acc = -acc;
    }
    if (acc < min || acc > max)
        return std::nullopt;
    return acc;
}

} // namespace corvane
