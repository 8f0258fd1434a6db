#include "core/learning/filetraining.h"

#include "core/errors.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace corvane {

LearningSample learningSampleOf(const ScannedLines &message, MessageTokenizer &tokenizer) {
    return {messageIdentity(message.header, message.octets),
            tokenizer.tokenize(message.header, message.body)};
}

FileTraining::Result FileTraining::learn(const QStringList &paths, LearnedVerdict verdict,
                                         const Progress &progress, const Skipped &skipped) {
    Result result;
    QStringList missing;
    const QStringList files = mailFilesUnder(paths, &missing);
    for (const QString &path : std::as_const(missing)) {
        ++result.skipped;
        if (skipped)
            skipped(path, u"no such file or folder"_s);
    }
    std::vector<LearningSample> batch;
    const auto save = [&] {
        if (batch.empty())
            return;
        const LearningStore::TrainResult r = m_store.train(batch, verdict);
        result.trained.learned += r.learned;
        result.trained.corrected += r.corrected;
        result.trained.unchanged += r.unchanged;
        batch.clear();
    };
    const int total = int(files.size());
    for (int i = 0; i < total; ++i) {
        const QString &path = files.at(i);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            ++result.skipped;
            if (skipped)
                skipped(path, file.errorString());
        } else {
            const QByteArray content = file.readAll();
            int found = 0;
            for (const QByteArray &message : messagesOfFile(content)) {
                if (const std::optional<ScannedLines> cut = scannedLinesOf(message, m_bodyLines)) {
                    batch.push_back(learningSampleOf(*cut, m_tokenizer));
                    ++found;
                }
            }
            if (found == 0) {
                ++result.skipped;
                if (skipped)
                    skipped(path, u"not a mail message"_s);
            }
            result.messages += found;
            ++result.files;
            if (int(batch.size()) >= BatchMessages)
                save();
        }
        if (progress && !progress(i + 1, total)) {
            result.cancelled = true;
            break;
        }
    }
    save();
    return result;
}

} // namespace corvane
