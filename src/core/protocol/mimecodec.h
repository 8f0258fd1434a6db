#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <utility>

namespace corvane {

// A structured header value such as "text/plain; charset=utf-8; format=flowed".
struct HeaderParams {
    QString value; // the part before the first ";", trimmed
    // Parameter names in lower case with their decoded values (quoted strings unescaped, RFC
    // 2231 extended values and continuations joined and converted, encoded words decoded).
    QList<std::pair<QString, QString>> params;

    QString param(QStringView name) const;
};

HeaderParams parseHeaderParams(QStringView text);

// One parameter for writing: name="value" with \ before " and \, or the RFC 2231 form
// name*=UTF-8''%XX... for text outside printable ASCII; long values as continuations.
// Returns the pieces that the header joins with "; ".
QList<QByteArray> formatParam(QByteArrayView name, QStringView value);

// Base64 decoding across lines: characters outside the alphabet are skipped; "=" ends the
// group it stands in, so concatenated streams decode too.
class Base64Decoder {
public:
    void feed(QByteArrayView text, QByteArray &out);
    void finish(QByteArray &out);

private:
    quint32 m_group = 0;
    int m_count = 0;
};

// Base64 in lines of 76 characters (57 bytes each); the last line may be shorter.
QList<QByteArray> encodeBase64Lines(QByteArrayView bytes);

// Decodes one quoted-printable line; trailing blanks are ignored, and a final "=" (a soft line
// break) is dropped and reported through softBreak. "=" not followed by two hexadecimal
// digits stays as it is.
QByteArray decodeQuotedPrintableLine(QByteArrayView line, bool &softBreak);

// Encodes one line of content as quoted-printable lines of at most 76 characters joined by
// soft line breaks. Only printable ASCII other than "=" stays literal; a blank at the end of
// the line is encoded.
QList<QByteArray> encodeQuotedPrintable(QByteArrayView line);

// A uuencode "begin" line: "begin", a blank, three or four octal digits, a blank, a name.
bool parseUuencodeBegin(QByteArrayView line, QByteArray &name);
bool isUuencodeEnd(QByteArrayView line);
// Decodes one uuencoded data line into out; false when the line is not one (wrong
// characters or a length that its characters cannot hold).
bool decodeUuencodeLine(QByteArrayView line, QByteArray &out);

} // namespace corvane
