// corvane-cli classify: the mark a message would get against the lists of a data directory.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/learning/filetraining.h"
#include "core/learning/learningstore.h"
#include "core/learning/mailsources.h"
#include "core/platform/legacytext.h"
#include "core/protocol/devicelines.h"
#include "core/protocol/mailmessage.h"
#include "core/screening/classify.h"
#include "core/settings/settings.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

// Parses the header lines of a message as the scan parses a fetched header (TOP n 0). Throws
// as MailMessage::ReadMessage does; an address the strict parser rejects is no failure.
void parseHeader(const QList<QByteArray> &header, MailMessage &message) {
    QByteArray form;
    for (const QByteArray &line : header)
        form += (line.startsWith('.') ? "." + line : line) + "\r\n";
    form += "\r\n.\r\n";
    QBuffer buffer(&form);
    buffer.open(QIODevice::ReadOnly);
    DeviceLineSource source(buffer, MessageLimits::MaxLineLength);
    message.ClearMessage();
    try {
        message.ReadMessage(source);
    } catch (const AddressError &) {
        // The header is whole and its sender was read leniently: classified as the scan would.
    }
}

int run(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Classifies a message as Friendly, Spam or Plain against the four list files of a data "
        u"directory (a missing file keeps that list's initial contents) and the ticked rules. "
        u"Either give the message's subject and sender text (either may be left out), or name "
        u"message files. A file may "
        u"be a message as mail programs save it or the archive's form (ending with the line "
        u"\".\"); it is cut as the header scan fetches a message (the header and the body lines "
        u"the settings ask for), its header parsed as a fetched header, and scored by the "
        u"learned filter (learning.db) as well. One line is printed per file: the mark, the "
        u"learned score (0 to 100, \"-\" when not scored), the reason of the mark and the file "
        u"name, separated by TABs; with --json one JSON array of objects instead. A file that "
        u"is missing, not mail or damaged (an over-long header line) prints its error on stderr "
        u"instead, and the exit code is 1."_s);
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
    const QCommandLineOption json(u"json"_s,
                                  u"Print one JSON array: for each file an object with file, "
                                  u"mark, score (null when not scored) and reason, or file and "
                                  u"error."_s);
    parser.addOptions({dataDir.option(), rulesOption, subject, sender, headers, json});
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
    if (files.isEmpty() && parser.isSet(json)) {
        err(u"corvane-cli classify: --json is for message files\n"_s);
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
    Settings settings;
    // Without --rules the ticks are the ones the program would use.
    if (!dir || !dataDir.readLists(*dir, lists, !parser.isSet(rulesOption), &settings))
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
        // The learned filter, read only; off when the settings say so or it cannot be read.
        LearningStore learning(dir->filePath(LearningStore::FileName));
        bool learningOn = settings.learning;
        if (learningOn) {
            try {
                learning.open(LearningStore::Access::ReadOnly);
            } catch (const Error &e) {
                err(u"corvane-cli classify: learning is off: %1\n"_s.arg(field(e.message())));
                learningOn = false;
            }
        }
        const LearningCut cut{settings.learnspam / 100.0, settings.learnham / 100.0,
                              settings.learnveto};
        const bool scored = learningOn && learning.spamMessages() > 0 && learning.hamMessages() > 0;
        MessageTokenizer tokenizer;
        int result = Success;
        MailMessage message;
        QJsonArray array;
        QString text;
        for (const QString &file : files) {
            message.ClearMessage();
            const auto failed = [&](const QString &why, int code) {
                err(u"corvane-cli classify: %1: %2\n"_s.arg(file, why));
                result = code;
                array.append(QJsonObject{{u"file"_s, file}, {u"error"_s, why}});
            };
            if (!QFileInfo::exists(file)) {
                // Most often a subject given where a file was expected.
                err(u"corvane-cli classify: there is no file \"%1\". To classify a subject, "
                    u"give it with --subject: corvane-cli classify --subject \"%1\"\n"_s.arg(
                        field(file)));
                result = Failure;
                array.append(QJsonObject{{u"file"_s, file}, {u"error"_s, u"no such file"_s}});
                continue;
            }
            QFile in(file);
            if (!in.open(QIODevice::ReadOnly)) {
                failed(u"Cannot load message from file %1: %2"_s.arg(file, in.errorString()),
                       Failure);
                continue;
            }
            const std::optional<ScannedLines> cutLines =
                scannedLinesOf(in.readAll(), settings.scanBodyLines());
            if (!cutLines) {
                failed(u"not a mail message"_s, Failure);
                continue;
            }
            try {
                parseHeader(cutLines->header, message);
            } catch (const Error &e) {
                // A header over a limit (an over-long line) is damaged: no mark for it.
                failed(e.message(), exitCodeFor(e));
                continue;
            }
            const RuleVerdict rules = classifier.ClassifyWithReason(
                lists, message.Subject, message.FromText(), decodeLegacyText(message.HeaderText()));
            std::optional<double> learned;
            if (scored)
                learned = learning.score(learningSampleOf(*cutLines, tokenizer).tokens);
            const RowVerdict verdict = combineVerdicts(rules, learned, learning.confident(), cut);
            const QString mark = QString::fromLatin1(rowMarkName(verdict.mark));
            const int score = learned ? qRound(*learned * 100) : -1;
            text += QStringList{mark, score < 0 ? u"-"_s : QString::number(score),
                                field(verdict.reason), file}
                        .join(u'\t') +
                    u'\n';
            array.append(QJsonObject{
                {u"file"_s, file},
                {u"mark"_s, mark},
                {u"score"_s, score < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(score)},
                {u"reason"_s, verdict.reason}});
        }
        if (parser.isSet(json))
            out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
        else
            out(text);
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
