#pragma once

#include <QString>

namespace corvane {

// The subject with each of ? * / \ : " < > | replaced by a hyphen; every other character
// stays. It is the stem of an archive file name.
QString SafeSubject(const QString &subject);

// The longest archive file name, in bytes of UTF-8: what every common file system accepts.
inline constexpr qsizetype MaxArchiveNameBytes = 255;

// The archive file name for a stem (a SafeSubject): stem + ".eml", or stem + "(" + counter +
// ").eml" when counter is 0 or more. The name is made acceptable to the file systems of every
// platform the archive may be copied to: control characters (which Windows refuses, and NUL
// everywhere), DEL, the line separators and the bidirectional controls that would disguise a
// name (isUnsafeTextChar) become hyphens; a stem whose part before its first dot is a reserved
// device name of Windows (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$; any case, trailing
// blanks ignored) gets a hyphen after that part; and a stem too long for the name is cut at a
// character boundary so that the whole name, suffix included, fits in MaxArchiveNameBytes.
// Trailing dots and blanks, which Windows drops from a name, can never end one: every name
// ends in ".eml".
QString archiveFileName(const QString &stem, int counter = -1);

// Chooses the names of one processing run's archive copies in a folder. The suffix counter
// starts at 0; a name is taken from the stem alone when no such file exists, otherwise from
// the first counter value, counting upward from the current one, for which no file exists,
// and the counter keeps that value.
class ArchiveNamer {
public:
    explicit ArchiveNamer(QString folder) : m_folder(std::move(folder)) {}

    int counter() const { return m_counter; }
    // Sets the counter back to 0 (before the archive copy of every bounced message).
    void resetCounter() { m_counter = 0; }
    // The full path of the archive copy of a message with this subject.
    QString nextPath(const QString &subject);

private:
    QString m_folder;
    int m_counter = 0;
};

} // namespace corvane
