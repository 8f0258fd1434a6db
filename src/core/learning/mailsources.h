#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// A message as the header scan sees it: its header lines (continuation lines as lines of
// their own) and its first body lines, exactly as received, and the size a POP3 server
// gives for the whole message (every line with CR LF, the end line not counted).
struct ScannedLines {
    QList<QByteArray> header;
    QList<QByteArray> body;
    qint64 octets = 0;
};

// Cuts a message file to what the scan with bodyLines body lines (TOP n bodyLines) would
// fetch. The file may be a plain RFC 5322 message as mail programs save it (LF or CR LF, a
// leading mbox "From " line allowed) or the archive's POP3 form (dot-stuffed, ending with the
// line "."). Nothing when the bytes are not a mail message: no header field before the first
// empty line, or none of the fields every message has (From, Date, Subject, Message-ID,
// Received, To, Return-Path). Input is untrusted; only the header and the lines asked for are
// kept.
std::optional<ScannedLines> scannedLinesOf(QByteArrayView file, int bodyLines);

// The messages of one file: each message of an mbox file (split at its "From " lines), or
// the whole file.
QList<QByteArray> messagesOfFile(const QByteArray &file);

// The files to learn from under paths, in a stable order: a file as given; a maildir folder
// (one with cur/ or new/) its messages in cur/ and new/; any other folder its files, those of
// sub-folders included, sorted by path. Paths that do not exist are added to missing.
QStringList mailFilesUnder(const QStringList &paths, QStringList *missing = nullptr);

} // namespace corvane
