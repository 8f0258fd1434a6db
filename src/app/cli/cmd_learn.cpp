// corvane-cli learn: trains the learned filter of a data directory from mail files, shows what
// it has learned, or forgets it all.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/learning/filetraining.h"
#include "core/learning/learningstore.h"
#include "core/rules/miscrules.h"
#include "core/settings/settings.h"

#include <QCommandLineParser>
#include <QDir>
#include <QLocale>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#define CORVANE_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define CORVANE_ISATTY(fd) isatty(fd)
#endif

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

// "--spam a b --ham c" as the parser takes it: "--spam a --spam b --ham c". The paths after
// --spam or --ham belong to it up to the next option.
QStringList spreadPathOptions(const QStringList &args) {
    QStringList out;
    QString current;
    bool optionValueNext = false;
    for (const QString &arg : args) {
        if (optionValueNext) {
            out << arg;
            optionValueNext = false;
            continue;
        }
        if (arg == u"--spam"_s || arg == u"--ham"_s) {
            current = arg;
            continue;
        }
        if (arg.startsWith(u'-')) {
            current.clear();
            out << arg;
            // The one option of this command that takes a separate value.
            optionValueNext = arg == u"--data-dir"_s;
            continue;
        }
        if (!current.isEmpty())
            out << current;
        out << arg;
    }
    return out;
}

QString sizeText(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

int run(const QStringList &rawArgs) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Trains the learned filter of a data directory (learning.db) from mail you have "
        u"already sorted, shows what it has learned, or forgets it all.\n\n"
        u"--spam PATH... and --ham PATH... learn every message of the paths as spam or as not "
        u"spam: .eml files (or any file holding one message), maildir folders, mbox files, and "
        u"folders of message files (sub-folders included). Each message is cut as the header "
        u"scan fetches it (the header and the body lines the settings ask for). A message "
        u"learned before as the other kind is corrected. A file that is not mail is skipped "
        u"with its name on stderr. On a terminal a progress line is shown on stderr.\n\n"
        u"The data directory is locked while learning: close the program first.\n\n"_s +
        exitCodeHelp(false, false));
    const DataDirCommand dataDir(u"learn"_s, u"learning.db and Settings.ini"_s);
    const QCommandLineOption spam(u"spam"_s, u"Mail to learn as spam."_s, u"PATH"_s);
    const QCommandLineOption ham(u"ham"_s, u"Mail to learn as not spam."_s, u"PATH"_s);
    const QCommandLineOption show(u"show"_s,
                                  u"Print the messages learned, the tokens and the database's "
                                  u"size."_s);
    const QCommandLineOption forget(u"forget"_s, u"Forget everything learned."_s);
    parser.addOptions({dataDir.option(), spam, ham, show, forget});
    int code = Success;
    if (!parseArguments(parser, u"learn"_s, spreadPathOptions(rawArgs), code))
        return code;
    if (!dataDir.noPositionals(parser))
        return Usage;
    const bool learnFiles = parser.isSet(spam) || parser.isSet(ham);
    if (int(learnFiles) + int(parser.isSet(show)) + int(parser.isSet(forget)) != 1) {
        err(u"corvane-cli learn: give --spam and/or --ham PATHS, or --show, or --forget\n"_s);
        return Usage;
    }

    if (parser.isSet(show)) {
        // Only reads: no lock.
        const auto dir = dataDir.directory(parser);
        if (!dir)
            return Failure;
        LearningStore store(dir->filePath(LearningStore::FileName));
        try {
            store.open(LearningStore::Access::ReadOnly);
        } catch (const Error &e) {
            err(u"corvane-cli learn: "_s + field(e.message()) + u'\n');
            return exitCodeFor(e);
        }
        out(u"spam\t%1\nham\t%2\ntokens\t%3\ndatabase\t%4\t%5\t%6\n"_s.arg(store.spamMessages())
                .arg(store.hamMessages())
                .arg(store.tokenCount())
                .arg(QDir::toNativeSeparators(store.path()))
                .arg(store.fileSize())
                .arg(sizeText(store.fileSize())));
        return Success;
    }

    const auto locked = dataDir.lockedDirectory(parser);
    if (!locked)
        return Failure;
    LearningStore store(locked->directory.filePath(LearningStore::FileName));
    try {
        if (parser.isSet(forget)) {
            store.forget();
            out(u"Forgot everything learned: %1 is empty.\n"_s.arg(
                QDir::toNativeSeparators(store.path())));
            return Success;
        }
        store.open(LearningStore::Access::ReadWrite);
    } catch (const Error &e) {
        err(u"corvane-cli learn: "_s + field(e.message()) + u'\n');
        return exitCodeFor(e);
    }

    // The body lines the scan fetches while learning is on.
    Settings settings;
    MiscRules misc;
    QString deleteCount;
    try {
        SettingsFile(locked->directory.filePath(SettingsFile::FileName))
            .ReadConfiguration(settings, misc, deleteCount);
    } catch (const Error &e) {
        err(u"corvane-cli learn: "_s + field(e.message()) + u'\n');
        return exitCodeFor(e);
    }

    const bool terminal = CORVANE_ISATTY(2);
    bool progressShown = false;
    FileTraining training(store, settings.bodylines);
    const auto skipped = [&](const QString &path, const QString &reason) {
        err(u"%1corvane-cli learn: skipped %2: %3\n"_s.arg(progressShown ? u"\n"_s : QString(),
                                                           field(path), reason));
        progressShown = false;
    };
    int result = Success;
    QStringList summary;
    for (const auto &[option, verdict, kind] : {std::tuple{&spam, LearnedVerdict::Spam, u"spam"_s},
                                                std::tuple{&ham, LearnedVerdict::Ham, u"ham"_s}}) {
        if (!parser.isSet(*option))
            continue;
        const auto progress = [&, kind = kind](int done, int total) {
            if (terminal) {
                err(u"\rLearning %1: file %2 of %3"_s.arg(kind).arg(done).arg(total));
                progressShown = true;
            }
            return true;
        };
        try {
            const FileTraining::Result r =
                training.learn(parser.values(*option), verdict, progress, skipped);
            if (progressShown) {
                err(u"\n"_s);
                progressShown = false;
            }
            if (r.skipped > 0)
                result = Failure;
            summary << u"%1\t%2 messages learned, %3 corrected, %4 already learned, %5 files "
                       u"skipped"_s.arg(kind)
                           .arg(r.trained.learned)
                           .arg(r.trained.corrected)
                           .arg(r.trained.unchanged)
                           .arg(r.skipped);
        } catch (const Error &e) {
            if (progressShown)
                err(u"\n"_s);
            err(u"corvane-cli learn: "_s + field(e.message()) + u'\n');
            out(summary.isEmpty() ? QString() : summary.join(u'\n') + u'\n');
            return exitCodeFor(e);
        }
    }
    summary << u"total\t%1 spam, %2 ham"_s.arg(store.spamMessages()).arg(store.hamMessages());
    out(summary.join(u'\n') + u'\n');
    return result;
}

const CommandRegistration registration{
    {u"learn"_s, u"Train the learned filter from mail files, show it or forget it."_s, run}};

} // namespace
} // namespace corvane::cli
