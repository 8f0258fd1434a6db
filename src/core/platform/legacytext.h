#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace corvane {

// Legacy 8-bit text (list files, Settings.ini, raw header bytes) is read as UTF-8 when the
// bytes are valid UTF-8 and as Windows-1252 otherwise; it is written as Windows-1252 when every
// character fits and as UTF-8 when one does not.

bool isValidUtf8(QByteArrayView bytes);
QString fromWindows1252(QByteArrayView bytes);
// Converts to Windows-1252; returns false (and leaves out unmappable characters) when some
// character has no Windows-1252 byte.
bool toWindows1252(QStringView text, QByteArray &out);

QString decodeLegacyText(QByteArrayView bytes);
QByteArray encodeLegacyText(QStringView text);
// As encodeLegacyText, cut to at most maxBytes bytes without splitting a character.
QByteArray encodeLegacyField(QStringView text, qsizetype maxBytes);

} // namespace corvane
