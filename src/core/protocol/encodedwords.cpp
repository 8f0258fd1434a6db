#include "core/protocol/encodedwords.h"

#include "core/platform/legacytext.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

bool isCharsetChar(QChar c) {
    const char16_t u = c.unicode();
    if (u <= 0x20 || u >= 0x7F)
        return false;
    return u != '?' && u != '=' && u != '(' && u != ')' && u != '"' && u != ',';
}

int hexValue(char16_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQ(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == '_') {
            out.append(' ');
        } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1].unicode()) >= 0 &&
                   hexValue(text[i + 2].unicode()) >= 0) {
            out.append(
                char(hexValue(text[i + 1].unicode()) * 16 + hexValue(text[i + 2].unicode())));
            i += 2;
        } else {
            // Encoded text is ASCII; anything else came from raw 8-bit bytes around it.
            out.append(c < 0x80 ? QByteArray(1, char(c)) : QString(QChar(c)).toUtf8());
        }
    }
    return out;
}

QByteArray decodeB(QStringView text) {
    // Groups of four characters; characters outside the alphabet are skipped, and "=" ends
    // the group it stands in.
    QByteArray out;
    out.reserve(text.size() * 3 / 4 + 3);
    quint32 group = 0;
    int count = 0;
    auto flush = [&] {
        if (count >= 2)
            out.append(char(group >> 16 & 0xFF));
        if (count >= 3)
            out.append(char(group >> 8 & 0xFF));
        group = 0;
        count = 0;
    };
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            group <<= 6 * (4 - count);
            flush();
            continue;
        } else
            continue;
        group = group << 6 | quint32(v);
        if (++count == 4) {
            out.append(char(group >> 16 & 0xFF));
            out.append(char(group >> 8 & 0xFF));
            out.append(char(group & 0xFF));
            group = 0;
            count = 0;
        }
    }
    if (count > 0) {
        group <<= 6 * (4 - count);
        flush();
    }
    return out;
}

struct Word {
    qsizetype begin = 0; // "=?"
    qsizetype end = 0;   // after "?="
    QStringView charset;
    QByteArray bytes;
};

enum class WordParse { Found, NotHere, NoneFurther };

// Parses an encoded word starting at pos (which holds "=?").
WordParse parseWord(QStringView s, qsizetype pos, Word &w) {
    qsizetype i = pos + 2;
    const qsizetype csBegin = i;
    while (i < s.size() && isCharsetChar(s[i]) && i - csBegin < 80)
        ++i;
    if (i == csBegin || i + 2 >= s.size() || s[i] != u'?')
        return WordParse::NotHere;
    const QStringView charset = s.mid(csBegin, i - csBegin);
    const char16_t letter = s[i + 1].unicode();
    if (s[i + 2] != u'?')
        return WordParse::NotHere;
    const qsizetype textBegin = i + 3;
    const qsizetype close = s.indexOf(u"?="_s, textBegin);
    if (close < 0)
        return WordParse::NoneFurther;
    const QStringView text = s.mid(textBegin, close - textBegin);
    w.begin = pos;
    w.end = close + 2;
    w.charset = charset;
    w.bytes = (letter == 'Q' || letter == 'q') ? decodeQ(text) : decodeB(text);
    return WordParse::Found;
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

} // namespace

std::optional<QString> decodeCharset(QByteArrayView bytes, QStringView charset) {
    QString name = charset.toString().toLower();
    const qsizetype star = name.indexOf(u'*');
    if (star >= 0)
        name.truncate(star);
    if (name.isEmpty() || name.size() > 64)
        return std::nullopt;
    if (name == u"utf-8"_s || name == u"utf8"_s)
        return QString::fromUtf8(bytes);
    if (name == u"iso-8859-1"_s || name == u"iso8859-1"_s || name == u"iso_8859-1"_s ||
        name == u"latin1"_s || name == u"us-ascii"_s || name == u"ascii"_s ||
        name == u"windows-1252"_s || name == u"cp1252"_s)
        return fromWindows1252(bytes);
    for (QChar c : name)
        if (!isCharsetChar(c))
            return std::nullopt;
    QStringDecoder decoder(name.toLatin1().constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(bytes);
}

QString decodeEncodedWords(QStringView s) {
    QString out;
    out.reserve(s.size());
    qsizetype pos = 0;      // first character not yet copied or decoded
    qsizetype lastEnd = -1; // end of the last decoded word, when it was the last thing done
    QString pendingCharset; // adjacent words in one set are converted together
    QByteArray pendingBytes;
    auto flushPending = [&] {
        if (pendingCharset.isEmpty())
            return;
        // The set was checked when the first word was taken.
        out += decodeCharset(pendingBytes, pendingCharset).value_or(QString());
        pendingCharset.clear();
        pendingBytes.clear();
    };
    qsizetype search = 0;
    while (true) {
        const qsizetype at = s.indexOf(u"=?"_s, search);
        if (at < 0)
            break;
        Word w;
        const WordParse parsed = parseWord(s, at, w);
        if (parsed == WordParse::NoneFurther)
            break; // no "?=" after this point: no later word can end either
        if (parsed == WordParse::NotHere) {
            search = at + 2;
            continue;
        }
        const QStringView gap = s.mid(pos, at - pos);
        bool gapBlank = lastEnd == pos;
        for (QChar c : gap)
            gapBlank = gapBlank && isBlank(c);
        const QString charset = w.charset.toString().toLower();
        if (!decodeCharset(QByteArrayView(), charset)) {
            // Unknown set: the word stays as received.
            search = w.end;
            continue;
        }
        if (!(gapBlank && charset == pendingCharset)) {
            flushPending();
            if (!gapBlank)
                out += gap;
        }
        pendingCharset = charset;
        pendingBytes += w.bytes;
        pos = w.end;
        lastEnd = w.end;
        search = w.end;
    }
    flushPending();
    out += s.mid(pos);
    out.remove(QChar(0));
    return out;
}

QString headerBytesToText(QByteArrayView raw) {
    QString text = decodeLegacyText(raw);
    text.remove(QChar(0));
    return text;
}

QString decodeHeaderText(QByteArrayView raw) {
    return decodeEncodedWords(decodeLegacyText(raw));
}

bool needsEncodedWords(QStringView text) {
    // Unfolding trims a value, so blanks at its ends survive only inside encoded words.
    if (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()))
        return true;
    qsizetype run = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x7F || (u < 0x20 && u != '\t'))
            return true;
        run = (u == ' ' || u == '\t') ? 0 : run + 1;
        if (run > 900)
            return true;
    }
    // A value that reads as an encoded word must not be taken for one.
    return text.contains(u"=?"_s) && decodeEncodedWords(text) != text;
}

QList<QByteArray> encodeWords(QStringView text) {
    static constexpr QByteArrayView prefix = "=?UTF-8?Q?";
    static constexpr qsizetype maxWord = 66; // so that "Subject: " and a word fit 76
    QList<QByteArray> words;
    QByteArray word = prefix.toByteArray();
    auto isSafe = [](unsigned char b) {
        return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
               b == '!' || b == '*' || b == '+' || b == '-' || b == '/';
    };
    for (qsizetype i = 0; i < text.size();) {
        // One code point at a time, so that no word splits a character.
        const qsizetype len =
            (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        const QByteArray utf8 = text.mid(i, len).toUtf8();
        i += len;
        QByteArray piece;
        for (char ch : utf8) {
            const auto b = static_cast<unsigned char>(ch);
            if (b == ' ')
                piece.append('_');
            else if (isSafe(b))
                piece.append(ch);
            else
                piece.append('=').append(
                    QByteArray::number(b, 16).toUpper().rightJustified(2, '0'));
        }
        if (word.size() + piece.size() + 2 > maxWord && word.size() > prefix.size()) {
            words.append(word + "?=");
            word = prefix.toByteArray();
        }
        word += piece;
    }
    if (word.size() > prefix.size() || words.isEmpty())
        words.append(word + "?=");
    return words;
}

} // namespace corvane
