#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace corvane {

// Converts bytes in the named character set (MIME name, any case; an RFC 2231 language
// suffix "*en" is ignored) to Unicode. ISO-8859-1 and US-ASCII are read as Windows-1252, as
// mail programs do. No value when Qt does not know the set.
std::optional<QString> decodeCharset(QByteArrayView bytes, QStringView charset);

// Decodes the RFC 2047 encoded words (Q and B) in a header value with their own character
// set. Words in unknown sets and malformed words stay as received; whitespace between two
// adjacent encoded words is dropped, and adjacent words in the same set are joined before
// conversion so that a character split between them survives. NUL characters are removed.
QString decodeEncodedWords(QStringView text);

// A raw header value as text: the bytes as UTF-8 when valid, else as Windows-1252; then the
// encoded words decoded; NUL characters removed.
QString decodeHeaderText(QByteArrayView raw);
// The same without decoding encoded words.
QString headerBytesToText(QByteArrayView raw);

// True when the text must be written as encoded words in a header: a character outside
// printable ASCII (tabs allowed), or a word too long to fold.
bool needsEncodedWords(QStringView text);

// The text as a sequence of UTF-8 Q encoded words of at most 66 characters each, using only
// the characters RFC 2047 allows in a phrase, so the result is safe in names and unstructured
// fields alike. Decoding the words gives back the text exactly.
QList<QByteArray> encodeWords(QStringView text);

} // namespace corvane
