#include "core/platform/safetext.h"

namespace corvane {

namespace {

bool isBreak(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isBidiControl(char16_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

bool isUnsafeTextChar(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || isBidiControl(c);
}

QString safeText(QStringView text, QChar substitute) {
    qsizetype i = 0;
    while (i < text.size() && !isUnsafeTextChar(text[i].unicode()))
        ++i;
    if (i == text.size())
        return text.toString(); // the common case: nothing to replace
    QString out = text.toString();
    for (; i < out.size(); ++i) {
        const char16_t c = out[i].unicode();
        if (isUnsafeTextChar(c))
            out[i] = isBreak(c) ? QChar(u' ') : substitute;
    }
    return out;
}

} // namespace corvane
