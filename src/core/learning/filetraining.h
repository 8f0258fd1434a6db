#pragma once

#include "core/learning/learningstore.h"
#include "core/learning/mailsources.h"
#include "core/learning/tokenizer.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

// The learning sample of a message cut as the scan cuts it.
LearningSample learningSampleOf(const ScannedLines &message, MessageTokenizer &tokenizer);

// Learning from mail files (corvane-cli learn, the window's "Train from files…"): every message
// of the files under the given paths (see mailFilesUnder and messagesOfFile) is cut as the
// header scan with bodyLines body lines would fetch it and learned as one kind, as the user's
// word (a message learned before as the other kind is corrected).
//
// Messages are learned in batches, each in one transaction: a failure (a full disk) or a
// cancel keeps every batch saved before it.
class FileTraining {
public:
    FileTraining(LearningStore &store, int bodyLines) : m_store(store), m_bodyLines(bodyLines) {}

    struct Result {
        int files = 0;    // files read
        int messages = 0; // messages found in them
        int skipped = 0;  // files that were not mail, or could not be read
        LearningStore::TrainResult trained;
        bool cancelled = false;
    };
    // Called after each file with the files done and all files; returning false cancels the
    // training after the batch under way has been saved.
    using Progress = std::function<bool(int done, int total)>;
    // Called for each file that is skipped, with its path and why.
    using Skipped = std::function<void(const QString &path, const QString &reason)>;

    // Learns the messages of the files as verdict. Paths that do not exist are reported
    // through skipped. Throws FileError when a batch cannot be saved (the batches before it
    // stay learned, and the message says so).
    Result learn(const QStringList &paths, LearnedVerdict verdict, const Progress &progress = {},
                 const Skipped &skipped = {});

    // Messages learned per transaction.
    static constexpr int BatchMessages = 1000;

private:
    LearningStore &m_store;
    int m_bodyLines;
    MessageTokenizer m_tokenizer;
};

} // namespace corvane
