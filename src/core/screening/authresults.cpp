#include "core/screening/authresults.h"

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// The lexical items of a field value once comments are dropped: separators (';', '=') and
// words (atoms, or quoted strings with their quotes removed).
struct Item {
    enum Kind { Word, Separator } kind;
    QString text;
    bool quoted = false;
};

QList<Item> itemsOf(const QString &value) {
    QList<Item> items;
    const qsizetype n = value.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = value.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c == u'(') {
            // A comment, perhaps nested, with quoted pairs; an unclosed one runs to the end.
            int depth = 0;
            for (; i < n; ++i) {
                const QChar d = value.at(i);
                if (d == u'\\') {
                    ++i;
                } else if (d == u'(') {
                    ++depth;
                } else if (d == u')' && --depth == 0) {
                    ++i;
                    break;
                }
            }
        } else if (c == u';' || c == u'=') {
            items.append({Item::Separator, QString(c)});
            ++i;
        } else if (c == u'"') {
            QString text;
            for (++i; i < n && value.at(i) != u'"'; ++i) {
                if (value.at(i) == u'\\' && i + 1 < n)
                    ++i;
                text += value.at(i);
            }
            ++i; // the closing quote
            items.append({Item::Word, text, true});
        } else {
            const qsizetype start = i;
            while (i < n) {
                const QChar d = value.at(i);
                if (d.isSpace() || d == u'(' || d == u';' || d == u'=' || d == u'"')
                    break;
                ++i;
            }
            items.append({Item::Word, value.mid(start, i - start)});
        }
    }
    return items;
}

bool isSeparator(const QList<Item> &items, qsizetype i, QChar c) {
    return i < items.size() && items.at(i).kind == Item::Separator && items.at(i).text == c;
}

bool isWord(const QList<Item> &items, qsizetype i) {
    return i < items.size() && items.at(i).kind == Item::Word;
}

// The domain of a property value: "example.com", "user@example.com" or "@example.com".
QString domainOf(const QString &value) {
    const qsizetype at = value.lastIndexOf(u'@');
    return (at < 0 ? value : value.mid(at + 1)).toCaseFolded();
}

} // namespace

std::optional<AuthenticationResults> parseAuthenticationResults(const QString &value) {
    const QList<Item> items = itemsOf(value);
    if (!isWord(items, 0))
        return std::nullopt;
    AuthenticationResults parsed;
    parsed.authservId = items.at(0).text;
    qsizetype i = 1;
    // An optional version: digits, before the first ';'.
    if (isWord(items, i) && !items.at(i).quoted) {
        bool number = false;
        items.at(i).text.toUInt(&number);
        if (number)
            ++i;
    }
    while (i < items.size()) {
        // Each result starts after a ';'; anything else up to it cannot be read.
        if (!isSeparator(items, i, u';')) {
            ++i;
            continue;
        }
        ++i;
        if (!(isWord(items, i) && isSeparator(items, i + 1, u'=') && isWord(items, i + 2)))
            continue; // "none", or a result that cannot be read
        AuthResult result;
        result.method = items.at(i).text.section(u'/', 0, 0).trimmed().toCaseFolded();
        result.result = items.at(i + 2).text.toCaseFolded();
        i += 3;
        // The reason and the properties, up to the next ';'.
        while (isWord(items, i) && isSeparator(items, i + 1, u'=') && isWord(items, i + 2)) {
            const QString key = items.at(i).text.toCaseFolded();
            if (key != u"reason"_s && key.contains(u'.'))
                result.properties.insert(key, items.at(i + 2).text);
            i += 3;
        }
        parsed.results.append(result);
    }
    return parsed;
}

QList<QString> authenticationResultsFields(const QList<QByteArray> &headerLines) {
    static const QByteArray name = "authentication-results:";
    QList<QString> fields;
    QByteArray field;
    bool inField = false;
    const auto finish = [&] {
        if (inField)
            fields.append(QString::fromUtf8(field.mid(name.size())).trimmed());
        inField = false;
    };
    for (const QByteArray &line : headerLines) {
        if (!line.isEmpty() && (line.at(0) == ' ' || line.at(0) == '\t')) {
            if (inField)
                field += ' ' + line.trimmed();
            continue;
        }
        finish();
        if (line.size() >= name.size() && line.first(name.size()).toLower() == name) {
            field = line;
            inField = true;
        }
    }
    finish();
    return fields;
}

bool senderAuthenticated(const QList<QString> &headerValues, const QString &trustedId,
                         const QString &fromDomain) {
    const QString from = fromDomain.toCaseFolded();
    bool inTrusted = false;
    bool checked = false; // the trusted fields report at least one result
    bool dmarcFail = false, spfFail = false, dkimPass = false;
    for (const QString &value : headerValues) {
        const std::optional<AuthenticationResults> parsed = parseAuthenticationResults(value);
        const bool trusted =
            parsed && parsed->authservId.compare(trustedId, Qt::CaseInsensitive) == 0;
        if (!trusted) {
            // The trusted server's own fields are the topmost ones it wrote; any below another
            // field could have been written before the mail reached it.
            if (inTrusted)
                break;
            continue;
        }
        inTrusted = true;
        checked = checked || !parsed->results.isEmpty();
        for (const AuthResult &r : parsed->results) {
            if (r.method == u"dmarc"_s && r.result == u"fail"_s)
                dmarcFail = true;
            else if (r.method == u"spf"_s && r.result == u"fail"_s)
                spfFail = true;
            else if (r.method == u"dkim"_s && r.result == u"pass"_s) {
                const QString signer = r.properties.contains(u"header.d"_s)
                                           ? r.properties.value(u"header.d"_s)
                                           : r.properties.value(u"header.i"_s);
                if (!signer.isEmpty() && domainOf(signer) == from)
                    dkimPass = true;
            }
        }
    }
    // A message the trusted server did not check (no field of its own, or one saying "none")
    // proves nothing: it may not have come through that server at all.
    return checked && !dmarcFail && !(spfFail && !dkimPass);
}

std::optional<QString> topmostAuthservId(const QList<QString> &headerValues) {
    for (const QString &value : headerValues)
        if (const std::optional<AuthenticationResults> parsed = parseAuthenticationResults(value))
            return parsed->authservId;
    return std::nullopt;
}

} // namespace corvane
