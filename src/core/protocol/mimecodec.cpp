#include "core/protocol/mimecodec.h"

#include "core/protocol/encodedwords.h"

#include <QMap>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

int hexValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

const char kHex[] = "0123456789ABCDEF";
constexpr qsizetype kMaxParams = 100;

struct RawParam {
    QString name;
    QString value;
};

// Splits "v; a=1; b="x;y"" into the value and raw name/value pairs.
QList<RawParam> splitParams(QStringView text, QString &value) {
    QList<RawParam> out;
    qsizetype i = 0;
    const qsizetype n = text.size();
    // The main value runs to the first ";" outside quotes.
    {
        bool quoted = false;
        qsizetype start = i;
        for (; i < n; ++i) {
            const QChar c = text[i];
            if (c == u'"')
                quoted = !quoted;
            else if (c == u'\\' && quoted)
                ++i;
            else if (c == u';' && !quoted)
                break;
        }
        value = text.mid(start, qMin(i, n) - start).trimmed().toString();
    }
    while (i < n) {
        ++i; // past ";"
        while (i < n && text[i].isSpace())
            ++i;
        const qsizetype nameStart = i;
        while (i < n && text[i] != u'=' && text[i] != u';')
            ++i;
        RawParam p;
        p.name = text.mid(nameStart, i - nameStart).trimmed().toString().toLower();
        if (i < n && text[i] == u'=') {
            ++i;
            while (i < n && text[i].isSpace())
                ++i;
            if (i < n && text[i] == u'"') {
                ++i;
                while (i < n && text[i] != u'"') {
                    if (text[i] == u'\\' && i + 1 < n)
                        ++i;
                    p.value += text[i];
                    ++i;
                }
                if (i < n)
                    ++i; // closing quote
                while (i < n && text[i] != u';')
                    ++i;
            } else {
                const qsizetype vStart = i;
                while (i < n && text[i] != u';')
                    ++i;
                p.value = text.mid(vStart, i - vStart).trimmed().toString();
            }
        }
        if (!p.name.isEmpty())
            out.append(std::move(p));
        // Ordinary values have a handful of parameters; hostile ones may have thousands.
        if (out.size() >= kMaxParams)
            break;
    }
    return out;
}

QByteArray percentDecode(QStringView text) {
    QByteArray out;
    const QByteArray raw = text.toUtf8();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 &&
            hexValue(raw[i + 2]) >= 0) {
            out.append(char(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2])));
            i += 2;
        } else {
            out.append(raw[i]);
        }
    }
    return out;
}

QString convert(const QByteArray &bytes, const QString &charset) {
    if (!charset.isEmpty())
        if (auto text = decodeCharset(bytes, charset))
            return *text;
    return headerBytesToText(bytes);
}

} // namespace

QString HeaderParams::param(QStringView name) const {
    for (const auto &p : params)
        if (QStringView(p.first).compare(name, Qt::CaseInsensitive) == 0)
            return p.second;
    return {};
}

HeaderParams parseHeaderParams(QStringView text) {
    HeaderParams result;
    const QList<RawParam> raw = splitParams(text, result.value);
    // RFC 2231: name*=charset'lang'value, and continuations name*0, name*1*, ...
    struct Extended {
        QMap<int, std::pair<QString, bool>> pieces; // index -> value, percent-encoded
        bool single = false;
        QString singleValue;
    };
    QMap<QString, Extended> extended;
    QList<QString> order;
    QMap<QString, QString> plain;
    for (const RawParam &p : raw) {
        const qsizetype star = p.name.indexOf(u'*');
        QString base = star < 0 ? p.name : p.name.left(star);
        if (base.isEmpty())
            continue;
        if (!order.contains(base))
            order.append(base);
        if (star < 0) {
            if (!plain.contains(base))
                plain.insert(base, p.value);
            continue;
        }
        QStringView rest = QStringView(p.name).mid(star + 1);
        Extended &e = extended[base];
        if (rest.isEmpty()) {
            e.single = true;
            e.singleValue = p.value;
            continue;
        }
        const bool encoded = rest.endsWith(u'*');
        if (encoded)
            rest.chop(1);
        bool ok = false;
        const int index = rest.toInt(&ok);
        if (ok && index >= 0 && index < 1000 && !e.pieces.contains(index))
            e.pieces.insert(index, {p.value, encoded});
    }
    for (const QString &base : std::as_const(order)) {
        QString value;
        auto it = extended.constFind(base);
        if (it != extended.constEnd() && (it->single || !it->pieces.isEmpty())) {
            QString charset;
            QByteArray bytes;
            auto takeCharset = [&](QStringView v) -> QStringView {
                const qsizetype q1 = v.indexOf(u'\'');
                const qsizetype q2 = q1 < 0 ? -1 : v.indexOf(u'\'', q1 + 1);
                if (q2 < 0)
                    return v;
                charset = v.left(q1).toString();
                return v.mid(q2 + 1);
            };
            if (it->single) {
                bytes = percentDecode(takeCharset(it->singleValue));
            } else {
                bool first = true;
                for (auto p = it->pieces.constBegin(); p != it->pieces.constEnd(); ++p) {
                    QStringView v = p->first;
                    if (p->second) {
                        if (first)
                            v = takeCharset(v);
                        bytes += percentDecode(v);
                    } else {
                        bytes += v.toUtf8();
                    }
                    first = false;
                }
            }
            value = convert(bytes, charset);
        } else {
            value = decodeEncodedWords(plain.value(base));
        }
        result.params.append({base, value});
    }
    return result;
}

QList<QByteArray> formatParam(QByteArrayView name, QStringView value) {
    bool plainAscii = true;
    for (QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F)
            plainAscii = false;
    static constexpr qsizetype piece = 60;
    QList<QByteArray> out;
    if (plainAscii) {
        QByteArray quoted;
        for (QChar c : value) {
            if (c == u'"' || c == u'\\')
                quoted.append('\\');
            quoted.append(char(c.unicode()));
        }
        if (quoted.size() <= 200) {
            out.append(name.toByteArray() + "=\"" + quoted + '"');
            return out;
        }
    }
    // RFC 2231, cut into continuations that never split an escape.
    const QByteArray utf8 = value.toUtf8();
    QList<QByteArray> chunks{QByteArray()};
    for (char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        QByteArray enc;
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            QByteArrayView("!#$&+-.^_`|~").contains(ch))
            enc.append(ch);
        else
            enc.append('%').append(kHex[b >> 4]).append(kHex[b & 15]);
        if (chunks.last().size() + enc.size() > piece)
            chunks.append(QByteArray());
        chunks.last() += enc;
    }
    if (chunks.size() == 1) {
        out.append(name.toByteArray() + "*=UTF-8''" + chunks.first());
        return out;
    }
    for (qsizetype i = 0; i < chunks.size(); ++i)
        out.append(name.toByteArray() + '*' + QByteArray::number(i) +
                   "*=" + (i == 0 ? QByteArray("UTF-8''") : QByteArray()) + chunks[i]);
    return out;
}

void Base64Decoder::feed(QByteArrayView text, QByteArray &out) {
    for (char ch : text) {
        int v;
        if (ch >= 'A' && ch <= 'Z')
            v = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            v = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            v = ch - '0' + 52;
        else if (ch == '+')
            v = 62;
        else if (ch == '/')
            v = 63;
        else {
            if (ch == '=')
                finish(out);
            continue;
        }
        m_group = m_group << 6 | quint32(v);
        if (++m_count == 4) {
            out.append(char(m_group >> 16 & 0xFF));
            out.append(char(m_group >> 8 & 0xFF));
            out.append(char(m_group & 0xFF));
            m_group = 0;
            m_count = 0;
        }
    }
}

void Base64Decoder::finish(QByteArray &out) {
    if (m_count >= 2) {
        const quint32 group = m_group << 6 * (4 - m_count);
        out.append(char(group >> 16 & 0xFF));
        if (m_count == 3)
            out.append(char(group >> 8 & 0xFF));
    }
    m_group = 0;
    m_count = 0;
}

QList<QByteArray> encodeBase64Lines(QByteArrayView bytes) {
    QList<QByteArray> lines;
    for (qsizetype i = 0; i < bytes.size(); i += 57)
        lines.append(
            bytes.sliced(i, qMin<qsizetype>(57, bytes.size() - i)).toByteArray().toBase64());
    return lines;
}

QByteArray decodeQuotedPrintableLine(QByteArrayView line, bool &softBreak) {
    while (!line.isEmpty() && (line.back() == ' ' || line.back() == '\t'))
        line.chop(1);
    softBreak = line.endsWith('=');
    if (softBreak)
        line.chop(1);
    QByteArray out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '=' && i + 2 < line.size() && hexValue(line[i + 1]) >= 0 &&
            hexValue(line[i + 2]) >= 0) {
            out.append(char(hexValue(line[i + 1]) * 16 + hexValue(line[i + 2])));
            i += 2;
        } else {
            out.append(line[i]);
        }
    }
    return out;
}

QList<QByteArray> encodeQuotedPrintable(QByteArrayView line) {
    QList<QByteArray> out;
    QByteArray current;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const auto b = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        char token[3];
        qsizetype len = 1;
        if ((b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !last)) {
            token[0] = char(b);
        } else {
            token[0] = '=';
            token[1] = kHex[b >> 4];
            token[2] = kHex[b & 15];
            len = 3;
        }
        if (current.size() + len > 75) {
            out.append(current + '=');
            current.clear();
        }
        current.append(token, len);
    }
    // A blank before a soft break is protected by the "=" after it; the last blank of the
    // line was encoded above.
    out.append(current);
    return out;
}

bool parseUuencodeBegin(QByteArrayView line, QByteArray &name) {
    if (!line.startsWith("begin "))
        return false;
    qsizetype i = 6;
    const qsizetype digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7')
        ++i;
    if (i - digits < 3 || i - digits > 4 || i >= line.size() || line[i] != ' ')
        return false;
    name = line.sliced(i + 1).trimmed().toByteArray();
    return !name.isEmpty();
}

bool isUuencodeEnd(QByteArrayView line) {
    return line.trimmed() == "end";
}

bool decodeUuencodeLine(QByteArrayView line, QByteArray &out) {
    if (line.isEmpty())
        return false;
    for (char ch : line)
        if (ch < 0x20 || ch > 0x60)
            return false;
    const int n = (line[0] - 0x20) & 0x3F;
    const qsizetype chars = line.size() - 1;
    if (chars < (n * 4 + 2) / 3 || chars > (n + 2) / 3 * 4 + 4)
        return false;
    auto value = [&](qsizetype i) { return i < line.size() ? (line[i] - 0x20) & 0x3F : 0; };
    int produced = 0;
    for (qsizetype i = 1; produced < n; i += 4) {
        const quint32 group = quint32(value(i)) << 18 | quint32(value(i + 1)) << 12 |
                              quint32(value(i + 2)) << 6 | quint32(value(i + 3));
        for (int k = 0; k < 3 && produced < n; ++k, ++produced)
            out.append(char(group >> (16 - 8 * k) & 0xFF));
    }
    return true;
}

} // namespace corvane
