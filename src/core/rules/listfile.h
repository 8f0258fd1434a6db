#pragma once

#include "core/rules/rulelist.h"

#include <QString>

class QIODevice;

namespace corvane {

// List files: a 5-byte header (Compressed flag, little-endian signed 32-bit EntryCount) and a
// body of entry records (256-byte caption field, 32-bit SubItemCount, 256-byte sub-item
// fields), the body either plain or one zlib stream (level 9, 15-bit window, memory level 8).
//
// Bounds: a list file holds at most kMaxListEntries entries, and its body (once inflated) is at
// most kMaxListBodyBytes long (room for that many entries with three sub-items each). The writer
// refuses a list beyond either bound, and the reader refuses a file beyond either without taking
// any of its entries (TooLarge), so every file the program writes can be read back whole, and
// a small compressed file cannot make the reader hold gigabytes.
inline constexpr qint32 kMaxListEntries = 1000000;
inline constexpr qint64 kMaxListBodyBytes = qint64(1) << 30; // 1 GiB

// How a read ended. Damaged data is an outcome, not a failure: it never crashes or loops, and
// the entries read before the end of the real data stay in the list.
enum class ListReadStatus {
    Ok,
    NoFile,         // LoadListFile only: there is no file, the list was left as it was
    TooShort,       // fewer than 5 bytes: the list is empty
    Truncated,      // the data ended before EntryCount records (or a record's sub-items) were read,
                    // or a compressed stream ended without its end mark and checksum
    TrailingData,   // data follows the EntryCount records (a count too small, or negative)
    BadCompression, // the compressed body cannot be inflated; `error` says why
    TooLarge,       // more entries or body bytes than a list file may hold: the list is empty,
                    // `error` says which bound
};

struct ListReadReport {
    ListReadStatus status = ListReadStatus::Ok;
    qsizetype entriesRead = 0;
    qint32 entryCount = 0;      // as the header states it
    bool partialHeader = false; // TooShort with 1 to 4 bytes
    QString error; // BadCompression: the inflater's complaint ("Error"); TooLarge: the bound

    bool ok() const { return status == ListReadStatus::Ok; }
    // Whether the file holds data the reader did not take: it must be kept before the list is
    // ever written over it. An empty file holds nothing.
    bool damaged() const {
        return status == ListReadStatus::Truncated || status == ListReadStatus::TrailingData ||
               status == ListReadStatus::BadCompression || status == ListReadStatus::TooLarge ||
               (status == ListReadStatus::TooShort && partialHeader);
    }
};

inline constexpr int kListFieldSize = 256;

// Why a list cannot be written as a list file: more entries or bytes than one may hold; empty
// when it can.
QString listOverBound(const RuleList &list);

// Writes the header and body at the device's position. Throws FileError when the device
// refuses bytes, and DataError (before writing anything) for a list beyond the bounds.
void WriteListStream(const RuleList &list, QIODevice &device, bool compress);

// Clears the list and reads a list from the device's position; the report says how the read
// ended. Damaged data does not throw: a truncated body keeps the entries read so far
// (Truncated), data after the EntryCount records (also after a count of 0 or less) keeps the
// counted entries (TrailingData), and a compressed body that cannot be inflated keeps the
// entries read before the fault (BadCompression). A file beyond the bounds leaves the list empty
// (TooLarge).
ListReadReport ReadListStream(RuleList &list, QIODevice &device);

// Replaces the file through a temporary file, so an interrupted save keeps the previous file.
// Throws FileError "Cannot create file "<path>". <reason>" when the file cannot be written, and
// DataError for a list beyond the bounds (the file is then left as it was).
void SaveListFile(const RuleList &list, const QString &path, bool compress);

// Reads the list file at the path. When the file does not exist the list is left untouched and
// the status is NoFile. Throws FileError "Cannot open file "<path>". <reason>" (list unchanged)
// when it exists but cannot be opened; otherwise returns what ReadListStream returns.
ListReadReport LoadListFile(RuleList &list, const QString &path);

} // namespace corvane
