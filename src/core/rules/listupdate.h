#pragma once

#include "core/rules/rulelists.h"

#include <QString>
#include <QUrl>

#include <array>
#include <functional>

namespace corvane {

class HttpFetcher;

// Brings the publisher's master copies of the three black lists into the user's lists: the
// subject black list, the e-mail black list and the X-and-Y list, fetched in that order from
// <base>update/blsubj.dat, update/bleml.dat and update/blsubxy.dat and saved in the working
// folder as subj.dat, eml.dat and xysubj.dat while they are read. The friendly list is never
// touched.
//
// A downloaded entry is added only when no entry of the target list (as it stood before the
// update) has the same caption, compared exactly; descriptions never decide. Two equal entries
// of one download are both added. An added entry takes the caption and the first sub-item (the
// X-and-Y list: the first two).
//
// Every file is fetched and read completely before any list changes: a failed fetch, or a file
// that is not a whole, valid list file, leaves all three lists as they were.
class ListUpdate {
public:
    struct Source {
        ListKind kind;
        const char *path;      // under the publisher's base address
        const char *savedName; // in the working folder
    };
    static const std::array<Source, 3> Sources;

    // What each list gained, in the order of Sources.
    using Gains = std::array<qsizetype, 3>;
    // Told of every step: the status text and the progress (0 to 100).
    using Progress = std::function<void(const QString &status, int percent)>;

    // updatesFolder: the working folder, created when missing.
    ListUpdate(RuleLists &lists, QString updatesFolder, HttpFetcher &fetcher);

    // Runs one update from the publisher at base. Throws the first failure (corvane::Error:
    // NetworkError and ProtocolError of the fetch, FileError for the working folder, DataError
    // for a damaged file); the lists are unchanged then.
    Gains run(const QUrl &base, const Progress &progress = {});

    // The address of a file under base ("https://host/lists" and "https://host/lists/" both
    // give "https://host/lists/update/blsubj.dat").
    static QUrl fileUrl(const QUrl &base, const char *path);
    // True while base is still the example address on a reserved name (example.org, .example,
    // .invalid, .test, …): no publisher has been chosen.
    static bool isExampleAddress(const QUrl &base);
    // The host part of an e-mail address is a reserved example name.
    static bool isExampleMailAddress(const QString &address);

    // Adds to target the entries of download whose captions target lacks; returns how many.
    static qsizetype merge(RuleList &target, const RuleList &download, ListKind kind);

private:
    RuleLists &m_lists;
    QString m_folder;
    HttpFetcher &m_fetcher;
};

} // namespace corvane
