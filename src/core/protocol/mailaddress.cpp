#include "core/protocol/mailaddress.h"

#include "core/protocol/encodedwords.h"

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

bool isAtomSpecial(char16_t c) {
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '/':
    case '=':
    case '?':
    case '_':
    case '`':
    case '{':
    case '}':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isPlainNameChar(char32_t u) {
    if (u < 0x80)
        return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
               isAtomSpecial(char16_t(u));
    return QChar::isLetterOrNumber(u) || QChar::isMark(u);
}

// Whether every code point of the text other than those in allowed is a plain name character.
// A letter outside the Basic Multilingual Plane is one code point of two UTF-16 units; a lone
// half of a pair is not plain.
bool isPlain(QStringView text, QStringView allowed) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (allowed.contains(text[i]))
            continue;
        char32_t u = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            u = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (!isPlainNameChar(u))
            return false;
    }
    return true;
}

} // namespace

QString quoteString(QStringView text) {
    QString out = u"\""_s;
    for (QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

namespace {

// One parse of an address header value. Linear in the length of the value.
class AddressParser {
public:
    AddressParser(QStringView text, bool strict) : s(text), strict(strict) {}

    MailAddressList parseList() {
        MailAddressList list;
        while (i < s.size()) {
            parseItem(list, false);
            if (i < s.size())
                ++i; // past "," or ";"
        }
        return list;
    }

private:
    QStringView s;
    bool strict;
    qsizetype i = 0;

    // Reads one mailbox, or a group with its members, up to "," or ";" (or the end).
    void parseItem(MailAddressList &list, bool inGroup) {
        QString phrase;  // words and quoted strings, single blanks between them
        QString compact; // the same without the blanks: a bare address
        bool pendingBlank = false;
        QString comment;
        QString angle;
        bool hasAngle = false;
        bool angleClosed = false;
        auto addText = [&](QStringView piece) {
            if (pendingBlank && !phrase.isEmpty())
                phrase += u' ';
            pendingBlank = false;
            phrase += piece;
            compact += piece;
        };
        while (i < s.size()) {
            const QChar c = s[i];
            if (c == u',' || c == u';')
                break;
            if (c.isSpace()) {
                pendingBlank = true;
                ++i;
            } else if (c == u'"') {
                addText(readQuoted());
            } else if (c == u'(') {
                const QString text = readComment();
                if (comment.isEmpty())
                    comment = text.trimmed();
                pendingBlank = true;
            } else if (c == u'<') {
                ++i;
                angle = readAngle();
                hasAngle = true;
                angleClosed = true;
            } else if (c == u'>') {
                ++i;
            } else if (c == u':' && !hasAngle && !inGroup) {
                // A group: "name: member, member;".
                ++i;
                const QString name = decodeEncodedWords(phrase.trimmed());
                const qsizetype before = list.size();
                while (i < s.size() && s[i] != u';') {
                    parseItem(list, true);
                    if (i < s.size() && s[i] == u',')
                        ++i;
                }
                if (i < s.size())
                    ++i; // past ";"
                if (list.size() == before)
                    list.append(MailAddress{name, QString()});
                skipToSeparator();
                return;
            } else {
                if (c == u'@' && angleClosed && strict)
                    throw AddressError(u"@ Outside address"_s);
                const qsizetype start = i;
                while (i < s.size() && !s[i].isSpace() &&
                       !QStringView(u",;\"()<>").contains(s[i]) &&
                       !(s[i] == u':' && !hasAngle && !inGroup) && !(s[i] == u'@' && angleClosed)) {
                    ++i;
                }
                if (i == start) {
                    ++i; // a lone "@" after an angle address in lenient mode
                    continue;
                }
                addText(s.mid(start, i - start));
            }
        }
        MailAddress a;
        if (hasAngle) {
            a.Address = angle;
            a.Name = decodeEncodedWords(phrase.trimmed());
            if (a.Name.isEmpty())
                a.Name = decodeEncodedWords(comment);
        } else {
            a.Address = compact.contains(u'@') ? compact : phrase.trimmed();
            a.Name = decodeEncodedWords(comment);
        }
        if (!a.Address.isEmpty())
            list.append(a);
    }

    QString readQuoted() {
        QString out;
        ++i; // opening quote
        while (i < s.size() && s[i] != u'"') {
            if (s[i] == u'\\' && i + 1 < s.size())
                ++i;
            out += s[i];
            ++i;
        }
        if (i < s.size())
            ++i;
        return out;
    }

    QString readComment() {
        QString out;
        int depth = 0;
        while (i < s.size()) {
            const QChar c = s[i];
            if (c == u'\\' && i + 1 < s.size()) {
                out += s[i + 1];
                i += 2;
                continue;
            }
            ++i;
            if (c == u'(') {
                if (depth++ > 0)
                    out += c;
            } else if (c == u')') {
                if (--depth == 0)
                    break;
                out += c;
            } else {
                out += c;
            }
        }
        return out;
    }

    // The address inside angle brackets, without blanks and comments outside quotes, quoted
    // local parts unquoted, and a source route ("@a,@b:") dropped.
    QString readAngle() {
        QString out;
        while (i < s.size() && s[i] != u'>') {
            const QChar c = s[i];
            if (c == u'"') {
                out += readQuoted();
            } else if (c == u'(') {
                readComment();
            } else {
                if (!c.isSpace())
                    out += c;
                ++i;
            }
        }
        if (i < s.size())
            ++i; // ">"
        if (out.startsWith(u'@')) {
            const qsizetype colon = out.indexOf(u':');
            if (colon >= 0)
                out.remove(0, colon + 1);
        }
        return out;
    }

    void skipToSeparator() {
        while (i < s.size() && s[i] != u',' && s[i] != u';')
            ++i;
    }
};

} // namespace

QString quoteDisplayName(QStringView name) {
    return isPlain(name, u" ") ? name.toString() : quoteString(name);
}

QString quoteAddress(QStringView address) {
    const qsizetype at = address.lastIndexOf(u'@');
    const QStringView local = at < 0 ? address : address.left(at);
    if (isPlain(local, u"."))
        return address.toString();
    return quoteString(local) + address.sliced(local.size()).toString();
}

QString MailAddress::text() const {
    if (Address.isEmpty())
        return Name.isEmpty() ? QString() : quoteDisplayName(Name) + u":;"_s;
    if (Name.isEmpty())
        return quoteAddress(Address);
    return quoteDisplayName(Name) + u" <"_s + quoteAddress(Address) + u'>';
}

MailAddress MailAddress::parse(QStringView value) {
    const MailAddressList list = parseAddressList(value);
    return list.isEmpty() ? MailAddress() : list.first();
}

MailAddressList parseAddressList(QStringView value) {
    return AddressParser(value, true).parseList();
}

MailAddressList parseAddressListLenient(QStringView value) {
    return AddressParser(value, false).parseList();
}

MailAddress parseSenderLenient(QStringView value) {
    try {
        const MailAddressList list = parseAddressList(value);
        if (!list.isEmpty())
            return list.first();
    } catch (const AddressError &) {
        // Read leniently below.
    }
    MailAddress a;
    for (qsizetype lt = value.lastIndexOf(u'<'); lt >= 0;
         lt = lt > 0 ? value.lastIndexOf(u'<', lt - 1) : -1) {
        const qsizetype gt = value.indexOf(u'>', lt);
        if (gt < 0)
            continue;
        QString inner;
        for (QChar c : value.sliced(lt + 1, gt - lt - 1))
            if (!c.isSpace() && c != u'"')
                inner += c;
        if (!inner.contains(u'@'))
            continue;
        a.Address = inner;
        QStringView name = value.left(lt).trimmed();
        if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"'))
            name = name.sliced(1, name.size() - 2);
        a.Name = decodeEncodedWords(name).trimmed();
        return a;
    }
    a.Address = decodeEncodedWords(value).simplified();
    return a;
}

QString addressListText(const MailAddressList &list) {
    QStringList texts;
    texts.reserve(list.size());
    for (const MailAddress &a : list)
        texts.append(a.text());
    return texts.join(u", "_s);
}

} // namespace corvane
