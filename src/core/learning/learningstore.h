#pragma once

#include "core/learning/tokenizer.h"
#include "core/learning/tokenstatistics.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace corvane {

// What the learner has been told a message is.
enum class LearnedVerdict { Ham = 0, Spam = 1 };

// One message to learn: its identity (see messageIdentity) and its distinct tokens.
struct LearningSample {
    std::uint64_t identity = 0;
    std::vector<TokenHash> tokens;
};

// The identity of a message for the learner: a hash of its Message-ID, Date, From and Subject
// fields (as received) and its size in octets as a POP3 server counts it (lines ending in
// CR LF). Only this hash is kept of a learned message, never its text; it lets a message
// learned once and then corrected be unlearned first, and one learned twice count once.
std::uint64_t messageIdentity(const QList<QByteArray> &headerLines, qint64 size);

// The token counts of the learning filter: an SQLite database in the data folder
// ("learning.db", owner-only), loaded whole into memory when opened so that scoring a message
// is a lookup per token in a flat hash table and never a query.
//
// The database holds, per token hash, the number of spam and of ham messages that held it and
// the day it was last learned; per learned message its identity hash, what it was learned as
// and when; and the message totals. Writes happen only in train() and forget(), each in one
// transaction made durable before the counts in memory change: a failure (a full disk, a
// damaged file) rolls it back, so nothing learned earlier is lost and memory still matches
// the file. One program writes at a time: the callers hold the data folder's lock for it
// (readers need none).
//
// Memory is bounded: when training leaves more than MaxTokens tokens, the least useful ones are
// pruned in the same transaction: tokens seen in one message only (hapaxes), least recently
// learned first, then those seen in two, and so on, down to nine tenths of the bound. A token
// takes 16 bytes in a table at most half full, so the counts in memory stay under 32 MiB (the
// file under about 40 MB), however much mail is learned; the probabilities kept ready for
// scoring add at most 4 MiB (FrequentTokens).
class LearningStore {
public:
    static const QString FileName; // "learning.db"
    static constexpr qsizetype MaxTokens = 1'000'000;
    // The learner's ham verdicts overrule the fixed rules only once it has learned at least this
    // many messages of each kind: before that, its "ham" may only mean "unlike the few spams".
    static constexpr std::uint32_t ConfidentMessages = 200;

    explicit LearningStore(QString path);
    ~LearningStore();
    LearningStore(const LearningStore &) = delete;
    LearningStore &operator=(const LearningStore &) = delete;

    const QString &path() const { return m_path; }

    enum class Access {
        ReadWrite, // creates the database (owner-only) when missing
        ReadOnly,  // a missing database is an empty one, and nothing is created
    };
    // Opens the database and loads it into memory (closing what was open). Throws FileError,
    // naming the file, when it cannot be opened or read (damaged, locked by another program
    // beyond a short wait, not a learning database); the store is then closed and scores
    // nothing.
    void open(Access access = Access::ReadWrite);
    // Opens the database as the last open() asked (read-write when none did) unless it is
    // open: a database that was locked or damaged at start-up is tried again at each check.
    // Throws as open().
    void ensureOpen();
    bool isOpen() const { return m_open; }
    void close();

    std::uint32_t spamMessages() const { return m_spamMessages; }
    std::uint32_t hamMessages() const { return m_hamMessages; }
    qsizetype tokenCount() const { return qsizetype(m_used); }
    // The database file's size in bytes (0 when it does not exist).
    qint64 fileSize() const;
    // Whether enough of both kinds has been learned for a ham verdict to overrule the rules.
    bool confident() const {
        return m_spamMessages >= ConfidentMessages && m_hamMessages >= ConfidentMessages;
    }

    // The spam probability of a message from its distinct tokens: 0.5 when it has none the
    // learner can weigh (nothing learned yet, an untokenisable message).
    double score(std::span<const TokenHash> tokens) const;
    // What a message was learned as, if it was.
    std::optional<LearnedVerdict> learnedAs(std::uint64_t identity) const;

    // What to do with a message learned before as the other kind.
    enum class Policy {
        Correct,     // the user corrects it: unlearned first, then learned as told
        KeepEarlier, // the earlier verdict stands (processing never overrules "not spam")
    };
    struct TrainResult {
        int learned = 0;   // new messages learned
        int corrected = 0; // unlearned from the other kind, then learned
        int unchanged = 0; // learned before as the same kind, or kept by KeepEarlier
    };
    // Learns the samples as verdict, in one transaction. A sample with the same identity as
    // an earlier one in the same call counts once. Throws FileError, naming the file and
    // saying that nothing learned earlier is lost, when the transaction fails (a full disk):
    // the database and the counts in memory then stay as they were. Throws Error when the
    // store is not open, or was opened read-only.
    TrainResult train(std::span<const LearningSample> samples, LearnedVerdict verdict,
                      Policy policy = Policy::Correct);
    // Empties the database: every count and every learned message. A database that cannot be
    // opened (damaged) is replaced by an empty one. Throws FileError when that fails.
    void forget();

    // The parameters of the statistics (the defaults unless a measurement changes them).
    const LearningParameters &parameters() const { return m_parameters; }
    void setParameters(const LearningParameters &parameters);

private:
    struct Slot {
        TokenHash key = 0; // 0: an empty slot (a token whose hash is 0 is kept as 1)
        std::uint32_t spam = 0;
        std::uint32_t ham = 0;
    };
    const Slot *find(TokenHash key) const;
    void refreshProbabilities();
    Slot &insert(TokenHash key);
    void erase(TokenHash key);
    void reserveSlots(size_t tokens);
    void clearMemory();
    void openConnection(Access access);
    [[noreturn]] void fail(const QString &what, const QString &reason);

    QString m_path;
    QString m_connection;
    bool m_open = false;
    bool m_readOnly = false;
    Access m_access = Access::ReadWrite;
    std::vector<Slot> m_slots;
    size_t m_used = 0;
    std::uint32_t m_spamMessages = 0;
    std::uint32_t m_hamMessages = 0;
    QHash<std::uint64_t, LearnedVerdict> m_messages;
    LearningParameters m_parameters;
    // f(w) of the tokens seen in fewer than CachedCounts messages of each kind, by their counts
    // ([spam * CachedCounts + ham]), with the logarithms that combining takes of it, for the
    // totals and parameters of the moment: most tokens are rare, and their f and logarithms
    // then cost a load instead of six divisions and two logarithms. Refreshed whenever the
    // totals or the parameters change.
    struct CachedProbability {
        double f = 0.5;
        ProbabilityLogs logs;
    };
    static constexpr std::uint32_t CachedCounts = 16;
    std::vector<CachedProbability> m_rareProbabilities;
    // The same for the tokens seen more often, by token: the header names and common words in
    // nearly every message. At most FrequentTokens of them (the most seen), so that this table
    // stays within 4 MiB; the rest are computed as scoring meets them.
    struct FrequentToken {
        TokenHash key = 0; // 0: an empty slot
        CachedProbability probability;
    };
    static constexpr size_t FrequentTokens = 65536;
    std::vector<FrequentToken> m_frequent;
    const CachedProbability *findFrequent(TokenHash key) const;
};

} // namespace corvane
