#include "core/platform/collation.h"

namespace corvane {

const QCollator &captionCollator() {
    thread_local const QCollator collator = [] {
        QCollator c{QLocale(QLocale::English, QLocale::UnitedStates)};
        c.setCaseSensitivity(Qt::CaseSensitive);
        c.setNumericMode(false);
        c.setIgnorePunctuation(false);
        return c;
    }();
    return collator;
}

} // namespace corvane
