// corvane-cli classify: the mark a message would get against the lists of a data directory.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/platform/legacytext.h"
#include "core/protocol/mailmessage.h"
#include "core/screening/classify.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

int run(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Classifies a message as Friendly, Spam or Plain against the four list files of a data "
        u"directory (a missing file keeps that list's initial contents) and the ticked rules. "
        u"Either give the message's subject and sender text (either may be left out), or name "
        u"message files: each is "
        u"parsed as the program parses a fetched header, and one line is printed per file, the "
        u"mark, a TAB and the file name. A missing or damaged file (no end line \".\", an "
        u"over-long line) prints its error on stderr instead, and the exit code is 1."_s);
    const DataDirCommand dataDir(u"classify"_s, u"the list files and Settings.ini"_s);
    const QCommandLineOption rulesOption(u"rules"_s,
                                         u"The ticked rules: numbers from 1 to 13 separated by "
                                         u"commas, or 'none' (default: the ticks of the data "
                                         u"directory's Settings.ini, all thirteen without it)."_s,
                                         u"LIST"_s);
    const QCommandLineOption subject(u"subject"_s, u"The decoded subject (default: empty)."_s,
                                     u"TEXT"_s);
    const QCommandLineOption sender(u"sender"_s,
                                    u"The sender text: display name and address, as the From "
                                    u"column shows it (default: empty)."_s,
                                    u"TEXT"_s);
    const QCommandLineOption headers(u"headers"_s,
                                     u"A file holding the message's header lines (for the spam "
                                     u"score rule)."_s,
                                     u"FILE"_s);
    parser.addOptions({dataDir.option(), rulesOption, subject, sender, headers});
    parser.addPositionalArgument(u"FILE"_s, u"Message files to classify."_s, u"[FILE...]"_s);
    int code = Success;
    if (!parseArguments(parser, u"classify"_s, args, code))
        return code;
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty() &&
        (parser.isSet(subject) || parser.isSet(sender) || parser.isSet(headers))) {
        err(u"corvane-cli classify: give either message files or --subject and --sender\n"_s);
        return Usage;
    }
    // Either text may be left out: it is then empty, as for a message without it.
    if (files.isEmpty() && !parser.isSet(subject) && !parser.isSet(sender)) {
        err(u"corvane-cli classify: give message files, or the text with --subject (and "
            u"--sender)\n"_s);
        return Usage;
    }
    RuleLists lists;
    if (parser.isSet(rulesOption) && !parseRuleTicks(parser.value(rulesOption), lists.Misc)) {
        err(u"corvane-cli classify: --rules takes 'none' or numbers from 1 to 13 separated by "
            u"commas, not '%1'\n"_s.arg(parser.value(rulesOption)));
        return Usage;
    }
    const auto dir = dataDir.directory(parser);
    // Without --rules the ticks are the ones the program would use.
    if (!dir || !dataDir.readLists(*dir, lists, !parser.isSet(rulesOption)))
        return Failure;
    QString headerText;
    if (parser.isSet(headers)) {
        QFile file(parser.value(headers));
        if (!file.open(QIODevice::ReadOnly)) {
            err(u"corvane-cli classify: cannot read %1: %2\n"_s.arg(file.fileName(),
                                                                    file.errorString()));
            return Failure;
        }
        headerText = decodeLegacyText(file.readAll());
    }
    Classifier classifier;
    if (!files.isEmpty()) {
        int result = Success;
        MailMessage message;
        for (const QString &file : files) {
            message.ClearMessage();
            if (!QFileInfo::exists(file)) {
                // Most often a subject given where a file was expected.
                err(u"corvane-cli classify: there is no file \"%1\". To classify a subject, "
                    u"give it with --subject: corvane-cli classify --subject \"%1\"\n"_s.arg(
                        field(file)));
                result = Failure;
                continue;
            }
            try {
                message.LoadMessageFile(file);
            } catch (const AddressError &) {
                // An address the strict parser rejects: the file is whole and its sender was
                // read leniently, so it is classified as the mailbox scan would.
            } catch (const Error &e) {
                // A file that is missing, cut short (no end line "."), or holds an over-long
                // line or more than a limit allows is damaged: no mark is printed for it.
                err(u"corvane-cli classify: %1: %2\n"_s.arg(file, e.message()));
                result = exitCodeFor(e);
                continue;
            }
            const RowMark mark = classifier.ClassifyMessage(
                lists, message.Subject, message.FromText(), decodeLegacyText(message.HeaderText()));
            out(QString::fromLatin1(rowMarkName(mark)) + u'\t' + file + u'\n');
        }
        return result;
    }
    const RowMark mark =
        classifier.ClassifyMessage(lists, parser.value(subject), parser.value(sender), headerText);
    out(QString::fromLatin1(rowMarkName(mark)) + u'\n');
    return Success;
}

const CommandRegistration registration{
    {u"classify"_s, u"Classify a message against the lists of a data directory."_s, run}};

} // namespace
} // namespace corvane::cli
