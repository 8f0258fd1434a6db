#pragma once

#include "core/rules/rulelist.h"

#include <QString>

class QIODevice;

namespace corvane {

// List files: a 5-byte header (Compressed flag, little-endian signed 32-bit EntryCount) and a
// body of entry records (256-byte caption field, 32-bit SubItemCount, 256-byte sub-item
// fields), the body either plain or one zlib stream (level 9, 15-bit window, memory level 8).

// How a read ended. Damaged data never crashes or loops: the entries read before the end of
// the real data stay in the list.
enum class ListReadStatus {
    Ok,
    NoStream,     // no device was given
    TooShort,     // fewer than 5 bytes: the list is empty
    Truncated,    // the data ended before EntryCount records (or a record's sub-items) were read,
                  // or a compressed stream ended without its end mark and checksum
    TrailingData, // data follows the EntryCount records (a count too small, or negative)
};

struct ListReadReport {
    ListReadStatus status = ListReadStatus::Ok;
    qsizetype entriesRead = 0;
    qint32 entryCount = 0;      // as the header states it
    bool partialHeader = false; // TooShort with 1 to 4 bytes
    // Whether the file holds data the reader did not take: it must be kept before the list is
    // ever written over it. An empty file holds nothing.
    bool damaged() const {
        return status == ListReadStatus::Truncated || status == ListReadStatus::TrailingData ||
               (status == ListReadStatus::TooShort && partialHeader);
    }
};

inline constexpr int kListFieldSize = 256;

// Writes the header and body at the device's position. Returns false only when no device is
// given; a device that refuses bytes throws FileError.
bool WriteListStream(const RuleList &list, QIODevice *device, bool compress);

// Clears the list and reads a list from the device's position. Returns true when the whole
// body was read and nothing follows the records. A truncated body returns false with the
// entries read so far kept (the report says Truncated); data after the EntryCount records
// (also after a count of 0 or less) returns false with the counted entries kept (the report
// says TrailingData). A compressed body that cannot be inflated throws DataError("Error"), and
// one that expands more than a file of entries can (over 128 MiB and 32 times its compressed
// size) throws DataError saying so, both after keeping the entries read before the fault.
bool ReadListStream(RuleList &list, QIODevice *device, ListReadReport *report = nullptr);

// Replaces the file through a temporary file, so an interrupted save keeps the previous file.
// Throws FileError "Cannot create file "<path>". <reason>" when the file cannot be written.
bool SaveListFile(const RuleList &list, const QString &path, bool compress);

// Returns false and leaves the list untouched when the file does not exist. Throws FileError
// "Cannot open file "<path>". <reason>" (list unchanged) when it exists but cannot be opened;
// otherwise returns what ReadListStream returns.
bool LoadListFile(RuleList &list, const QString &path, ListReadReport *report = nullptr);

} // namespace corvane
