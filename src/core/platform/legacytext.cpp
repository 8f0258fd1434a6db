#include "core/platform/legacytext.h"

#include <QStringDecoder>

#include <array>

namespace corvane {

namespace {

// The code points of bytes 0x80..0x9F; the five bytes Windows leaves undefined map to the C1
// control of the same value, as Windows' own conversion does.
constexpr std::array<char16_t, 32> kHigh1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int to1252Byte(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i)
        if (kHigh1252[i] == c)
            return 0x80 + i;
    return -1;
}

bool isAscii(QByteArrayView bytes) {
    for (char b : bytes)
        if (static_cast<unsigned char>(b) >= 0x80)
            return false;
    return true;
}

} // namespace

bool isValidUtf8(QByteArrayView bytes) {
    if (isAscii(bytes))
        return true;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

QString fromWindows1252(QByteArrayView bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *d = out.data();
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        *d++ = QChar((u >= 0x80 && u < 0xA0) ? kHigh1252[u - 0x80] : char16_t(u));
    }
    return out;
}

bool toWindows1252(QStringView text, QByteArray &out) {
    out.clear();
    out.reserve(text.size());
    bool all = true;
    for (QChar c : text) {
        const int b = to1252Byte(c.unicode());
        if (b < 0)
            all = false;
        else
            out.append(static_cast<char>(b));
    }
    return all;
}

QString decodeLegacyText(QByteArrayView bytes) {
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    return fromWindows1252(bytes);
}

QByteArray encodeLegacyText(QStringView text) {
    QByteArray out;
    if (toWindows1252(text, out))
        return out;
    return text.toUtf8();
}

QByteArray encodeLegacyField(QStringView text, qsizetype maxBytes) {
    QByteArray out;
    if (toWindows1252(text, out)) {
        out.truncate(maxBytes);
        return out;
    }
    out = text.toUtf8();
    if (out.size() <= maxBytes)
        return out;
    // Step back over continuation bytes so that the cut falls before a lead byte.
    qsizetype cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
        --cut;
    out.truncate(cut);
    return out;
}

} // namespace corvane
