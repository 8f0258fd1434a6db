#pragma once

#include <QColor>

namespace corvane {

// A colour as the settings keep it: 0x00BBGGRR, red in the low byte.
inline QColor colourFromSetting(int value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

inline int settingFromColour(const QColor &colour) {
    return colour.red() | (colour.green() << 8) | (colour.blue() << 16);
}

} // namespace corvane
