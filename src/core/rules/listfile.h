#pragma once

#include "core/rules/rulelist.h"

#include <QString>

class QIODevice;

namespace corvane {

// List files: a 5-byte header (Compressed flag, little-endian signed 32-bit EntryCount) and a
// body of entry records (256-byte caption field, 32-bit SubItemCount, 256-byte sub-item
// fields), the body either plain or one zlib stream (level 9, 15-bit window, memory level 8).

// How a read ended. Damaged data is an outcome, not a failure: it never crashes or loops, and
// the entries read before the end of the real data stay in the list.
enum class ListReadStatus {
    Ok,
    NoFile,         // LoadListFile only: there is no file, the list was left as it was
    TooShort,       // fewer than 5 bytes: the list is empty
    Truncated,      // the data ended before EntryCount records (or a record's sub-items) were read,
                    // or a compressed stream ended without its end mark and checksum
    TrailingData,   // data follows the EntryCount records (a count too small, or negative)
    BadCompression, // the compressed body cannot be inflated, or expands more than a file of
                    // entries can (over 128 MiB and 32 times its compressed size); `error` says
                    // which
};

struct ListReadReport {
    ListReadStatus status = ListReadStatus::Ok;
    qsizetype entriesRead = 0;
    qint32 entryCount = 0;      // as the header states it
    bool partialHeader = false; // TooShort with 1 to 4 bytes
    QString error;              // BadCompression: the inflater's complaint ("Error", or the bound)

    bool ok() const { return status == ListReadStatus::Ok; }
    // Whether the file holds data the reader did not take: it must be kept before the list is
    // ever written over it. An empty file holds nothing.
    bool damaged() const {
        return status == ListReadStatus::Truncated || status == ListReadStatus::TrailingData ||
               status == ListReadStatus::BadCompression ||
               (status == ListReadStatus::TooShort && partialHeader);
    }
};

inline constexpr int kListFieldSize = 256;

// Writes the header and body at the device's position. Throws FileError when the device
// refuses bytes.
void WriteListStream(const RuleList &list, QIODevice &device, bool compress);

// Clears the list and reads a list from the device's position; the report says how the read
// ended. Damaged data does not throw: a truncated body keeps the entries read so far
// (Truncated), data after the EntryCount records (also after a count of 0 or less) keeps the
// counted entries (TrailingData), and a compressed body that cannot be inflated keeps the
// entries read before the fault (BadCompression).
ListReadReport ReadListStream(RuleList &list, QIODevice &device);

// Replaces the file through a temporary file, so an interrupted save keeps the previous file.
// Throws FileError "Cannot create file "<path>". <reason>" when the file cannot be written.
void SaveListFile(const RuleList &list, const QString &path, bool compress);

// Reads the list file at the path. When the file does not exist the list is left untouched and
// the status is NoFile. Throws FileError "Cannot open file "<path>". <reason>" (list unchanged)
// when it exists but cannot be opened; otherwise returns what ReadListStream returns.
ListReadReport LoadListFile(RuleList &list, const QString &path);

} // namespace corvane
