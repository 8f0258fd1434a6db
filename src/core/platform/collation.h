#pragma once

#include <QCollator>
#include <QString>

namespace corvane {

// The order of the sorted rule lists: a locale-aware, case-sensitive comparison (letters
// compare alphabetically first, and lower case comes before upper case of the same letter).
// It uses a fixed English collation, so the order never depends on LANG or LC_* variables.
// The collator is per thread (QCollator is not thread-safe).
const QCollator &captionCollator();

inline int compareCaptions(const QString &a, const QString &b) {
    return captionCollator().compare(a, b);
}

} // namespace corvane
