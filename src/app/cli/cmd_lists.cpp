// corvane-cli lists: dump a list file as text, write one from text, bring in the publisher's
// master lists, or mail the black lists to the publisher.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/platform/datadirlock.h"
#include "core/protocol/httpfetcher.h"
#include "core/rules/listfile.h"
#include "core/rules/listsubmission.h"
#include "core/rules/listupdate.h"
#include "core/rules/rulelists.h"
#include "core/settings/programdata.h"
#include "core/settings/settings.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

void printEntries(const RuleList &list) {
    QString text;
    for (const RuleEntry &e : list) {
        text += escapeField(e.Caption);
        for (const QString &s : e.SubItems) {
            text += u'\t';
            text += escapeField(s);
        }
        text += u'\n';
        if (text.size() > 64 * 1024) {
            out(text);
            text.clear();
        }
    }
    out(text);
}

const QCommandLineOption sortedOption(u"sorted"_s,
                                      u"Treat the list as a sorted list (the subject and e-mail "
                                      u"black lists): entries are put in caption order."_s);

int dump(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Prints a list file, one entry per line: the caption, then each sub-item, separated "
        u"by TAB, in UTF-8. A TAB, line break or backslash inside a field is written as \\t, "
        u"\\n, \\r or \\\\. Exits 1 when the file is missing or damaged, after printing the "
        u"entries that could be read."_s);
    parser.addOption(sortedOption);
    parser.addPositionalArgument(u"FILE"_s, u"The list file to read."_s);
    int code = Success;
    if (!parseArguments(parser, u"lists dump"_s, args, code))
        return code;
    if (parser.positionalArguments().size() != 1) {
        err(u"corvane-cli lists dump: expected one FILE\n"_s);
        return Usage;
    }
    const QString path = parser.positionalArguments().constFirst();
    if (!QFileInfo::exists(path)) {
        err(u"corvane-cli lists dump: no such file: %1\n"_s.arg(path));
        return Failure;
    }
    RuleList list(parser.isSet(sortedOption) ? RuleList::Order::ByCaption
                                             : RuleList::Order::Insertion);
    const ListReadReport report = LoadListFile(list, path);
    printEntries(list);
    switch (report.status) {
    case ListReadStatus::Ok:
    case ListReadStatus::NoFile:
        return Success;
    case ListReadStatus::TooShort:
        err(u"corvane-cli lists dump: %1: not a list file (shorter than its 5-byte header)\n"_s.arg(
            path));
        break;
    case ListReadStatus::TrailingData:
        err(u"corvane-cli lists dump: %1: damaged list file: more data follows the %2 "
            u"entries its header counts\n"_s.arg(path)
                .arg(report.entriesRead));
        break;
    case ListReadStatus::Truncated:
        err(u"corvane-cli lists dump: %1: damaged list file: the data ends after %2 of %3 "
            u"entries\n"_s.arg(path)
                .arg(report.entriesRead)
                .arg(report.entryCount));
        break;
    case ListReadStatus::BadCompression:
        err(u"corvane-cli lists dump: %1: damaged compressed data (%2) after %3 entries\n"_s
                .arg(path, report.error)
                .arg(report.entriesRead));
        break;
    case ListReadStatus::TooLarge:
        err(u"corvane-cli lists dump: %1: %2\n"_s.arg(path, report.error));
        break;
    }
    return Failure;
}

int write(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Reads entries from standard input, one per line in the form that 'lists dump' "
        u"prints (caption, then sub-items, separated by TAB, UTF-8), and writes them to a list "
        u"file. An empty input writes the empty list. A list file holds at most %1 entries "
        u"(and %2 MiB of entries): a longer input is refused and the file left as it was.\n\n"
        u"A FILE named like a list of a data directory (blsubj.dat, bleml.dat, freml.dat, "
        u"blsubxy.dat), or in a folder that holds Settings.ini or accounts.dat, is written only "
        u"while this command holds that folder's lock, so it never writes under a running "
        u"program: stop that program (or wait for it) first."_s.arg(kMaxListEntries)
            .arg(kMaxListBodyBytes / (1024 * 1024)));
    parser.addOption(sortedOption);
    const QCommandLineOption uncompressed(u"uncompressed"_s,
                                          u"Write the body uncompressed (the program itself "
                                          u"always writes compressed files)."_s);
    parser.addOption(uncompressed);
    parser.addPositionalArgument(u"FILE"_s, u"The list file to write (replaced)."_s);
    int code = Success;
    if (!parseArguments(parser, u"lists write"_s, args, code))
        return code;
    if (parser.positionalArguments().size() != 1) {
        err(u"corvane-cli lists write: expected one FILE\n"_s);
        return Usage;
    }
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        err(u"corvane-cli lists write: cannot read standard input\n"_s);
        return Failure;
    }
    const QString text = QString::fromUtf8(input.readAll());
    QList<QStringView> lines = QStringView(text).split(u'\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast(); // the line break that ends the last line
    RuleList list(parser.isSet(sortedOption) ? RuleList::Order::ByCaption
                                             : RuleList::Order::Insertion);
    QList<RuleEntry> entries;
    entries.reserve(lines.size());
    for (QStringView line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QList<QStringView> fields = line.split(u'\t');
        RuleEntry entry;
        entry.Caption = unescapeField(fields.constFirst());
        for (qsizetype i = 1; i < fields.size(); ++i)
            entry.SubItems.append(unescapeField(fields[i]));
        entries.append(std::move(entry));
    }
    list.assign(std::move(entries));
    if (const QString bound = listOverBound(list); !bound.isEmpty()) {
        err(u"corvane-cli lists write: %1 Nothing was written.\n"_s.arg(bound));
        return Failure;
    }
    // A list of a data directory is one of that directory's files: the program that holds the
    // directory would write its own copy of the list over it.
    const QString target = parser.positionalArguments().constFirst();
    const QFileInfo targetInfo(target);
    const QDir folder = targetInfo.absoluteDir();
    bool inDataDirectory =
        folder.exists(SettingsFile::FileName) || folder.exists(u"accounts.dat"_s);
    for (const ListKind kind : kAllListKinds)
        inDataDirectory = inDataDirectory || targetInfo.fileName() == listFileName(kind);
    std::unique_ptr<DataDirectoryLock> lock;
    if (inDataDirectory && folder.exists()) {
        lock = lockDataDirectory(DataDirectory(folder.absolutePath()), u"lists write"_s);
        if (!lock)
            return Failure;
    }
    try {
        SaveListFile(list, target, !parser.isSet(uncompressed));
    } catch (const Error &e) {
        err(u"corvane-cli lists write: %1\n"_s.arg(e.message()));
        return Failure;
    }
    return Success;
}

// Where the publisher's lists are looked for, as set in Settings.ini.
const QString kUpdateUrlHelp =
    u"The publisher's address is the setting updateurl of Settings.ini: the folder that holds "
    u"update/blsubj.dat, update/bleml.dat and update/blsubxy.dat. Set it with "
    u"'corvane-cli settings set updateurl https://your.server/lists/'."_s;

int update(const QStringList &args) {
    const DataDirCommand dataDir(u"lists update"_s,
                                 u"blsubj.dat, bleml.dat, blsubxy.dat and Settings.ini"_s);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Fetches the publisher's master copies of the subject black list, the e-mail black "
        u"list and the X-and-Y list and adds to the lists of the data directory every entry "
        u"they lack (by caption; the friendly list is never touched). Prints what each list "
        u"gained. A failed fetch or a damaged file changes nothing.\n"_s +
        kUpdateUrlHelp + u"\n"_s + DataDirCommand::defaultHelp());
    const qint64 defaultDeadline =
        std::chrono::duration_cast<std::chrono::seconds>(HttpFetcher::DefaultDeadline).count();
    const QCommandLineOption deadline(
        u"deadline"_s,
        u"Seconds the fetch of one list may take as a whole, however slowly the server keeps "
        u"sending (default %1)."_s.arg(defaultDeadline),
        u"SECONDS"_s, QString::number(defaultDeadline));
    parser.addOptions({dataDir.option(), deadline});
    int code = Success;
    if (!parseArguments(parser, u"lists update"_s, args, code))
        return code;
    if (!dataDir.noPositionals(parser))
        return Usage;
    bool deadlineOk = false;
    const int deadlineSeconds = parser.value(deadline).toInt(&deadlineOk);
    if (!deadlineOk || deadlineSeconds < 1 || deadlineSeconds > 24 * 3600) {
        err(u"corvane-cli lists update: --deadline takes a number of seconds from 1 to 86400\n"_s);
        return Usage;
    }
    // The lock is held until the lists are saved.
    const DataDirCommand::Opened opened =
        dataDir.openProgramData(parser, DataDirCommand::Accounts::CreateWhenMissing);
    if (!opened.data)
        return Failure;
    ProgramData &data = *opened.data;
    const QUrl base(data.settings.updateurl.trimmed());
    if (ListUpdate::isExampleAddress(base)) {
        err(u"corvane-cli lists update: no publisher is set (%1 is only an example). %2\n"_s.arg(
            data.settings.updateurl, kUpdateUrlHelp));
        return Failure;
    }
    HttpFetcher fetcher;
    fetcher.setDeadline(std::chrono::seconds(deadlineSeconds));
    ListUpdate update(data.lists, data.directory().filePath(u"updates"_s), fetcher);
    ListUpdate::Gains gains{};
    try {
        gains = update.run(base);
    } catch (const Error &e) {
        err(u"corvane-cli lists update: "_s + field(e.message()) + u'\n');
        return exitCodeFor(e);
    }
    QString text;
    qsizetype total = 0;
    for (std::size_t n = 0; n < ListUpdate::Sources.size(); ++n) {
        text += u"%1\t%2\n"_s.arg(listFileName(ListUpdate::Sources[n].kind)).arg(gains[n]);
        total += gains[n];
    }
    if (total > 0)
        data.save();
    out(text);
    return Success;
}

int submit(const QStringList &args) {
    const DataDirCommand dataDir(u"lists submit"_s,
                                 u"blsubj.dat, bleml.dat, blsubxy.dat and Settings.ini"_s);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Mails the black list files of the data directory (blsubj.dat, bleml.dat, "
        u"blsubxy.dat, those that exist, as they lie on disk) to the publisher's collection "
        u"address, the setting submitaddress, through the SMTP server of the settings "
        u"smtpserver and smtpport, from smtpemail. The friendly list is never sent. Prints the "
        u"name of each file sent.\n"_s +
        DataDirCommand::defaultHelp());
    parser.addOption(dataDir.option());
    int code = Success;
    if (!parseArguments(parser, u"lists submit"_s, args, code))
        return code;
    if (!dataDir.noPositionals(parser))
        return Usage;
    const auto dir = dataDir.directory(parser);
    if (!dir)
        return Failure;
    // The settings as the program reads them, with the SMTP login's password from where it is
    // kept apart from Settings.ini.
    ProgramData data(*dir);
    try {
        data.readSettings();
    } catch (const Error &e) {
        err(u"corvane-cli lists submit: "_s + field(e.message()) + u'\n');
        return Failure;
    }
    const Settings &settings = data.settings;
    if (ListUpdate::isExampleMailAddress(settings.submitaddress)) {
        err(u"corvane-cli lists submit: no collection address is set (%1 is only an example). "
            u"Set it with 'corvane-cli settings set submitaddress lists@your.publisher'.\n"_s.arg(
                settings.submitaddress));
        return Failure;
    }
    try {
        const QStringList sent = ListSubmission::submit(dir->path(), settings);
        QString text;
        for (const QString &name : sent)
            text += u"sent\t"_s + name + u'\n';
        out(text);
    } catch (const Error &e) {
        err(u"corvane-cli lists submit: "_s + field(e.message()) + u'\n');
        return exitCodeFor(e);
    }
    return Success;
}

int run(const QStringList &args) {
    const QString help = u"Usage: corvane-cli lists dump FILE [--sorted]\n"
                         u"       corvane-cli lists write FILE [--uncompressed] [--sorted]\n"
                         u"       corvane-cli lists update [--data-dir DIR]\n"
                         u"       corvane-cli lists submit [--data-dir DIR]\n\n"
                         u"Reads and writes rule list files (blsubj.dat, bleml.dat, freml.dat, "
                         u"blsubxy.dat), brings in the publisher's master lists and mails the "
                         u"black lists to the publisher.\nRun "
                         u"'corvane-cli lists COMMAND --help' for details.\n"_s;
    return runSubcommand(
        u"lists"_s, args,
        {{u"dump"_s, dump}, {u"write"_s, write}, {u"update"_s, update}, {u"submit"_s, submit}},
        help);
}

const CommandRegistration registration{
    {u"lists"_s, u"Print or write a list file; update the lists from the publisher."_s, run}};

} // namespace
} // namespace corvane::cli
