#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QIODevice;

namespace corvane {

// A private-profile INI file: "[section]" headers and "key=value" lines.
//
// - Section and key names are matched without regard to case; names and values are trimmed of
//   blanks. When a section or key occurs twice, the first occurrence counts.
// - A value is read as at most MaxValueLength characters.
// - Writing a key replaces its value where it stands, or adds it after the last key of its
//   section, adding the section at the end of the file when it is missing. Every other line is
//   kept byte for byte, its line ending included.
// - Lines starting with ';' or '#' are comments; lines before the first section belong to no
//   section.
// - Text is legacy 8-bit, line by line: read as UTF-8 when valid, else Windows-1252; a changed
//   line is written as Windows-1252 when every character fits, else as UTF-8.
class IniFile {
public:
    static constexpr qsizetype MaxValueLength = 2047;

    IniFile() = default;

    // Reads a file; a missing file reads as empty. Throws FileError when the file exists but
    // cannot be read.
    static IniFile load(const QString &path);
    static IniFile fromBytes(const QByteArray &bytes);
    // Reads everything the device holds.
    void read(QIODevice &device);

    QByteArray toBytes() const;
    // Writes the file with writeFileDurably. Throws FileError
    // "Unable to write to <path>. <reason>" when that fails; the old file then stays as it was.
    void save(const QString &path) const;

    bool isEmpty() const { return m_lines.isEmpty(); }
    bool hasSection(const QString &section) const;
    // The trimmed value, cut to MaxValueLength characters; nothing when the key is missing.
    std::optional<QString> value(const QString &section, const QString &key) const;
    QString value(const QString &section, const QString &key, const QString &fallback) const;

    // Sets a value. A line break in the value would start a new line in the file, so each one
    // is written as a blank. Throws DataError for a section or key name that cannot be written
    // (empty, a line break, '=' in a key, ']' in a section).
    void setValue(const QString &section, const QString &key, const QString &value);

    // Section names in file order, without repeats.
    QStringList sections() const;
    // Key names of a section in file order (the first occurrence of each).
    QStringList keys(const QString &section) const;

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        QByteArray raw; // the line's bytes without its ending
        QByteArray eol; // "\r\n", "\n" or empty for a last line without one
        Kind kind = Kind::Other;
        QString name;  // section or key name
        QString value; // a key's value
    };

    static Line parse(QByteArray raw, QByteArray eol, bool first);
    QByteArray defaultEol() const;
    // Index of the key's line, or -1.
    qsizetype findKey(const QString &section, const QString &key) const;

    QList<Line> m_lines;
};

// Reads an integer the way the settings and the deletion total are read: optional blanks and
// sign, then decimal digits, or hexadecimal digits after "0x", "0X" or "$". Nothing when the
// text is not such a number or does not fit into [min, max].
std::optional<qint64> parseLegacyInteger(QStringView text, qint64 min, qint64 max);

} // namespace corvane
