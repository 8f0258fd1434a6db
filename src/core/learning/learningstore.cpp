#include "core/learning/learningstore.h"

#include "core/errors.h"

#include <QAtomicInteger>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_map>

using namespace Qt::StringLiterals;

namespace corvane {

const QString LearningStore::FileName = u"learning.db"_s;

namespace {

// The value of an unfolded header field, trimmed; empty when absent.
QByteArray fieldValue(const QList<QByteArray> &lines, QByteArrayView name) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.size() <= name.size() || line.at(name.size()) != ':' ||
            QByteArrayView(line).first(name.size()).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        QByteArray value = line.mid(name.size() + 1).trimmed();
        for (qsizetype k = i + 1; k < lines.size(); ++k) {
            const QByteArray &next = lines.at(k);
            if (next.isEmpty() || (next.at(0) != ' ' && next.at(0) != '\t'))
                break;
            value += ' ' + next.trimmed();
        }
        return value;
    }
    return {};
}

qint64 today() {
    return QDate::currentDate().toJulianDay();
}

QString uniqueConnectionName() {
    static QAtomicInteger<quint64> counter;
    return u"corvane-learning-%1"_s.arg(counter.fetchAndAddRelaxed(1));
}

qint64 asSigned(std::uint64_t v) {
    return static_cast<qint64>(v);
}

} // namespace

std::uint64_t messageIdentity(const QList<QByteArray> &headerLines, qint64 size) {
    QByteArray key;
    for (const char *name : {"Message-ID", "Date", "From", "Subject"}) {
        key += fieldValue(headerLines, name);
        key += '\n';
    }
    key += QByteArray::number(size);
    return tokenHash({key.constData(), size_t(key.size())});
}

LearningStore::LearningStore(QString path) : m_path(std::move(path)) {}

LearningStore::~LearningStore() {
    close();
}

qint64 LearningStore::fileSize() const {
    return QFileInfo(m_path).size();
}

void LearningStore::fail(const QString &what, const QString &reason) {
    close();
    throw FileError(
        u"The learning database %1 %2: %3"_s.arg(QDir::toNativeSeparators(m_path), what, reason));
}

void LearningStore::close() {
    if (!m_connection.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
        m_connection.clear();
    }
    m_open = false;
    clearMemory();
}

void LearningStore::clearMemory() {
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_used = 0;
    m_spamMessages = m_hamMessages = 0;
    m_messages.clear();
    refreshProbabilities();
}

void LearningStore::setParameters(const LearningParameters &parameters) {
    m_parameters = parameters;
    refreshProbabilities();
}

void LearningStore::refreshProbabilities() {
    m_rareProbabilities.resize(CachedCounts * CachedCounts);
    for (std::uint32_t spam = 0; spam < CachedCounts; ++spam) {
        for (std::uint32_t ham = 0; ham < CachedCounts; ++ham) {
            const double f =
                tokenSpamProbability(spam, ham, m_spamMessages, m_hamMessages, m_parameters);
            m_rareProbabilities[spam * CachedCounts + ham] = {f, probabilityLogs(f)};
        }
    }
    std::vector<std::pair<std::uint64_t, TokenHash>> frequent; // (messages, token)
    for (const Slot &s : m_slots)
        if (s.key != 0 && (s.spam >= CachedCounts || s.ham >= CachedCounts))
            frequent.emplace_back(std::uint64_t(s.spam) + s.ham, s.key);
    if (frequent.size() > FrequentTokens) {
        std::nth_element(frequent.begin(), frequent.begin() + FrequentTokens, frequent.end(),
                         std::greater<>());
        frequent.resize(FrequentTokens);
    }
    size_t capacity = 16;
    while (capacity < 2 * frequent.size())
        capacity *= 2;
    m_frequent.assign(frequent.empty() ? 0 : capacity, FrequentToken{});
    for (const auto &[messages, key] : frequent) {
        const Slot *s = find(key);
        const double f =
            tokenSpamProbability(s->spam, s->ham, m_spamMessages, m_hamMessages, m_parameters);
        size_t i = key & (capacity - 1);
        while (m_frequent[i].key != 0)
            i = (i + 1) & (capacity - 1);
        m_frequent[i] = {key, {f, probabilityLogs(f)}};
    }
}

inline const LearningStore::CachedProbability *LearningStore::findFrequent(TokenHash key) const {
    if (m_frequent.empty())
        return nullptr;
    const size_t mask = m_frequent.size() - 1;
    for (size_t i = key & mask;; i = (i + 1) & mask) {
        const FrequentToken &t = m_frequent[i];
        if (t.key == key)
            return &t.probability;
        if (t.key == 0)
            return nullptr;
    }
}

void LearningStore::reserveSlots(size_t tokens) {
    // At most half full: a lookup of a token the table lacks ends after a probe or two.
    size_t capacity = 1024;
    while (capacity < 2 * tokens)
        capacity *= 2;
    if (capacity <= m_slots.size())
        return;
    std::vector<Slot> old = std::move(m_slots);
    m_slots.assign(capacity, Slot{});
    m_used = 0;
    for (const Slot &s : old)
        if (s.key != 0) {
            Slot &n = insert(s.key);
            n.spam = s.spam;
            n.ham = s.ham;
        }
}

inline const LearningStore::Slot *LearningStore::find(TokenHash key) const {
    if (m_slots.empty())
        return nullptr;
    if (key == 0)
        key = 1;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = key & mask;; i = (i + 1) & mask) {
        const Slot &s = m_slots[i];
        if (s.key == key)
            return &s;
        if (s.key == 0)
            return nullptr;
    }
}

LearningStore::Slot &LearningStore::insert(TokenHash key) {
    if (key == 0)
        key = 1;
    if (2 * (m_used + 1) > m_slots.size())
        reserveSlots(m_used + 1);
    const size_t mask = m_slots.size() - 1;
    for (size_t i = key & mask;; i = (i + 1) & mask) {
        Slot &s = m_slots[i];
        if (s.key == key)
            return s;
        if (s.key == 0) {
            s.key = key;
            ++m_used;
            return s;
        }
    }
}

void LearningStore::erase(TokenHash key) {
    if (m_slots.empty())
        return;
    if (key == 0)
        key = 1;
    const size_t mask = m_slots.size() - 1;
    size_t i = key & mask;
    while (m_slots[i].key != key) {
        if (m_slots[i].key == 0)
            return;
        i = (i + 1) & mask;
    }
    // Backward-shift deletion: the entries after the hole that probed past it move up, so
    // every lookup still finds its entry without markers of deleted slots.
    size_t hole = i;
    for (size_t j = (i + 1) & mask; m_slots[j].key != 0; j = (j + 1) & mask) {
        const size_t home = m_slots[j].key & mask;
        const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
        if (movable) {
            m_slots[hole] = m_slots[j];
            hole = j;
        }
    }
    m_slots[hole] = Slot{};
    --m_used;
}

void LearningStore::openConnection(Access access) {
    m_connection = uniqueConnectionName();
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
    db.setDatabaseName(m_path);
    // Another program writing: wait a little, then report the database as locked rather than
    // hold up a check.
    QString options = u"QSQLITE_BUSY_TIMEOUT=2000"_s;
    if (access == Access::ReadOnly)
        options += u";QSQLITE_OPEN_READONLY"_s;
    db.setConnectOptions(options);
    if (!db.open())
        fail(u"cannot be opened"_s, db.lastError().text());
}

void LearningStore::ensureOpen() {
    if (!m_open)
        open(m_access);
}

void LearningStore::open(Access access) {
    close();
    m_access = access;
    m_readOnly = access == Access::ReadOnly;
    const bool exists = QFileInfo::exists(m_path);
    if (!exists && access == Access::ReadOnly) {
        // Nothing learned yet: an empty filter, and no file made by a reader.
        m_open = true;
        return;
    }
    if (!exists) {
        // Owner-only from the first byte: the counts say what kind of mail the user gets.
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            fail(u"cannot be created"_s, file.errorString());
    }
    openConnection(access);
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    QSqlQuery q(db);
    const auto run = [&](const QString &sql) {
        if (!q.exec(sql))
            fail(u"cannot be read"_s, q.lastError().text());
    };
    if (access == Access::ReadWrite) {
        run(u"PRAGMA synchronous=FULL"_s);
        run(u"CREATE TABLE IF NOT EXISTS info(key TEXT PRIMARY KEY, value INTEGER NOT NULL)"_s);
        run(u"CREATE TABLE IF NOT EXISTS tokens(hash INTEGER PRIMARY KEY, spam INTEGER NOT "
            u"NULL, ham INTEGER NOT NULL, day INTEGER NOT NULL)"_s);
        run(u"CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY, verdict INTEGER NOT "
            u"NULL, day INTEGER NOT NULL)"_s);
        run(u"INSERT OR IGNORE INTO info(key, value) VALUES('spam', 0), ('ham', 0), "
            u"('version', 1)"_s);
    }
    q.setForwardOnly(true);
    run(u"SELECT key, value FROM info"_s);
    bool versionSeen = false;
    while (q.next()) {
        const QString key = q.value(0).toString();
        const qint64 value = q.value(1).toLongLong();
        if (key == u"spam"_s)
            m_spamMessages = std::uint32_t(std::clamp<qint64>(value, 0, UINT32_MAX));
        else if (key == u"ham"_s)
            m_hamMessages = std::uint32_t(std::clamp<qint64>(value, 0, UINT32_MAX));
        else if (key == u"version"_s) {
            versionSeen = true;
            if (value != 1)
                fail(u"cannot be read"_s,
                     u"it was written by a newer version of the program (format %1)"_s.arg(value));
        }
    }
    if (!versionSeen)
        fail(u"cannot be read"_s, u"it is not a learning database"_s);
    run(u"SELECT count(*) FROM tokens"_s);
    const qint64 count = q.next() ? q.value(0).toLongLong() : 0;
    reserveSlots(size_t(std::max<qint64>(count, 0)));
    run(u"SELECT hash, spam, ham FROM tokens"_s);
    while (q.next()) {
        Slot &s = insert(static_cast<TokenHash>(q.value(0).toLongLong()));
        s.spam = std::uint32_t(std::max<qint64>(q.value(1).toLongLong(), 0));
        s.ham = std::uint32_t(std::max<qint64>(q.value(2).toLongLong(), 0));
    }
    if (q.lastError().isValid())
        fail(u"cannot be read"_s, q.lastError().text());
    run(u"SELECT id, verdict FROM messages"_s);
    while (q.next())
        m_messages.insert(static_cast<std::uint64_t>(q.value(0).toLongLong()),
                          q.value(1).toInt() ? LearnedVerdict::Spam : LearnedVerdict::Ham);
    if (q.lastError().isValid())
        fail(u"cannot be read"_s, q.lastError().text());
    refreshProbabilities();
    m_open = true;
}

double LearningStore::score(std::span<const TokenHash> tokens) const {
    if (!m_open || m_spamMessages == 0 || m_hamMessages == 0)
        return 0.5;
    struct Clue {
        double f;
        ProbabilityLogs logs;
    };
    thread_local std::vector<Clue> clues;
    clues.clear();
    const double strength = m_parameters.minimumStrength;
    const double unknown = m_parameters.unknownWordProbability;
    const bool unknownIsClue = std::abs(unknown - 0.5) >= strength;
    const ProbabilityLogs unknownLogs = probabilityLogs(unknown);
    // The table spans megabytes, so nearly every lookup misses the processor's caches. The
    // slot of a token some places ahead is asked for while this one is looked up: the memory
    // then serves many lookups at once instead of one after the other.
    constexpr size_t Ahead = 16;
    const Slot *const slots = m_slots.data();
    const size_t mask = m_slots.empty() ? 0 : m_slots.size() - 1;
    const size_t count = m_slots.empty() ? 0 : tokens.size();
    for (size_t i = 0; i < std::min(Ahead, count); ++i)
        __builtin_prefetch(slots + ((tokens[i] | (tokens[i] == 0)) & mask));
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i + Ahead < count)
            __builtin_prefetch(slots + ((tokens[i + Ahead] | (tokens[i + Ahead] == 0)) & mask));
        const Slot *s = find(tokens[i]);
        if (!s) {
            if (unknownIsClue)
                clues.push_back({unknown, unknownLogs});
        } else if (s->spam < CachedCounts && s->ham < CachedCounts) {
            const CachedProbability &c = m_rareProbabilities[s->spam * CachedCounts + s->ham];
            if (std::abs(c.f - 0.5) >= strength)
                clues.push_back({c.f, c.logs});
        } else if (const CachedProbability *c = findFrequent(s->key)) {
            if (std::abs(c->f - 0.5) >= strength)
                clues.push_back({c->f, c->logs});
        } else {
            const double f =
                tokenSpamProbability(s->spam, s->ham, m_spamMessages, m_hamMessages, m_parameters);
            if (std::abs(f - 0.5) >= strength)
                clues.push_back({f, probabilityLogs(f)});
        }
    }
    const size_t most = size_t(std::max(1, m_parameters.maxDiscriminators));
    if (clues.size() > most) {
        std::nth_element(
            clues.begin(), clues.begin() + std::ptrdiff_t(most), clues.end(),
            [](const Clue &a, const Clue &b) { return std::abs(a.f - 0.5) > std::abs(b.f - 0.5); });
        clues.resize(most);
    }
    // Fisher's combination (combineProbabilities), from the logarithms at hand.
    double lnF = 0, lnOneMinusF = 0;
    for (const Clue &c : clues) {
        lnF += c.logs.lnF;
        lnOneMinusF += c.logs.lnOneMinusF;
    }
    return combineLogSums(lnF, lnOneMinusF, clues.size());
}

std::optional<LearnedVerdict> LearningStore::learnedAs(std::uint64_t identity) const {
    const auto it = m_messages.constFind(identity);
    if (it == m_messages.cend())
        return std::nullopt;
    return *it;
}

LearningStore::TrainResult LearningStore::train(std::span<const LearningSample> samples,
                                                LearnedVerdict verdict, Policy policy) {
    if (!m_open || m_connection.isEmpty() || m_readOnly)
        throw Error(u"The learning database %1 is not open for training."_s.arg(
            QDir::toNativeSeparators(m_path)));
    TrainResult result;
    struct Delta {
        std::int64_t spam = 0, ham = 0;
        bool learned = false; // added to, so its day is today
    };
    std::unordered_map<TokenHash, Delta> deltas;
    QHash<std::uint64_t, LearnedVerdict> changed;
    std::int64_t spamMessages = m_spamMessages, hamMessages = m_hamMessages;
    const bool spam = verdict == LearnedVerdict::Spam;
    for (const LearningSample &sample : samples) {
        std::optional<LearnedVerdict> before = learnedAs(sample.identity);
        if (const auto it = changed.constFind(sample.identity); it != changed.cend())
            before = *it;
        if (before == verdict || (before && policy == Policy::KeepEarlier)) {
            ++result.unchanged;
            continue;
        }
        if (before) {
            // Unlearned first: its tokens leave the other kind's counts.
            for (const TokenHash t : sample.tokens)
                (spam ? deltas[t].ham : deltas[t].spam) -= 1;
            (spam ? hamMessages : spamMessages) -= 1;
            ++result.corrected;
        } else {
            ++result.learned;
        }
        for (const TokenHash t : sample.tokens) {
            Delta &d = deltas[t];
            (spam ? d.spam : d.ham) += 1;
            d.learned = true;
        }
        (spam ? spamMessages : hamMessages) += 1;
        changed.insert(sample.identity, verdict);
    }
    if (changed.isEmpty())
        return result;

    // The new counts of every token touched, from the counts in memory (which match the file).
    struct Change {
        TokenHash key;
        std::uint32_t spam, ham;
        bool learned;
    };
    std::vector<Change> changes;
    changes.reserve(deltas.size());
    qsizetype tokensAfter = qsizetype(m_used);
    for (const auto &[key, d] : deltas) {
        const Slot *s = find(key);
        const std::int64_t sp = std::max<std::int64_t>(0, (s ? s->spam : 0) + d.spam);
        const std::int64_t hm = std::max<std::int64_t>(0, (s ? s->ham : 0) + d.ham);
        const bool keep = sp > 0 || hm > 0;
        tokensAfter += (keep ? 1 : 0) - (s ? 1 : 0);
        changes.push_back({key, std::uint32_t(std::min<std::int64_t>(sp, UINT32_MAX)),
                           std::uint32_t(std::min<std::int64_t>(hm, UINT32_MAX)), d.learned});
    }

    QSqlDatabase db = QSqlDatabase::database(m_connection);
    const QString shown = QDir::toNativeSeparators(m_path);
    const auto failed = [&](const QString &reason) -> FileError {
        db.rollback();
        return FileError(u"What was just learned could not be saved in the learning database %1: "
                         u"%2. Nothing learned before is lost."_s.arg(shown, reason));
    };
    if (!db.transaction())
        throw failed(db.lastError().text());
    QSqlQuery upsert(db), remove(db), message(db), info(db);
    upsert.prepare(u"INSERT INTO tokens(hash, spam, ham, day) VALUES(?, ?, ?, ?) ON "
                   u"CONFLICT(hash) DO UPDATE SET spam = excluded.spam, ham = excluded.ham, "
                   u"day = max(day, excluded.day)"_s);
    remove.prepare(u"DELETE FROM tokens WHERE hash = ?"_s);
    message.prepare(u"INSERT INTO messages(id, verdict, day) VALUES(?, ?, ?) ON CONFLICT(id) "
                    u"DO UPDATE SET verdict = excluded.verdict, day = excluded.day"_s);
    info.prepare(u"UPDATE info SET value = ? WHERE key = ?"_s);
    const qint64 day = today();
    for (const Change &c : changes) {
        if (c.spam == 0 && c.ham == 0) {
            remove.bindValue(0, asSigned(c.key == 0 ? 1 : c.key));
            if (!remove.exec())
                throw failed(remove.lastError().text());
            continue;
        }
        upsert.bindValue(0, asSigned(c.key == 0 ? 1 : c.key));
        upsert.bindValue(1, qint64(c.spam));
        upsert.bindValue(2, qint64(c.ham));
        upsert.bindValue(3, c.learned ? day : qint64(0));
        if (!upsert.exec())
            throw failed(upsert.lastError().text());
    }
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
        message.bindValue(0, asSigned(it.key()));
        message.bindValue(1, int(*it));
        message.bindValue(2, day);
        if (!message.exec())
            throw failed(message.lastError().text());
    }
    for (const auto &[key, value] : {std::pair{u"spam"_s, spamMessages}, {u"ham"_s, hamMessages}}) {
        info.bindValue(0, qint64(value));
        info.bindValue(1, key);
        if (!info.exec())
            throw failed(info.lastError().text());
    }
    // Over the bound: the least useful tokens go, rarest and least recently learned first.
    std::vector<TokenHash> pruned;
    if (tokensAfter > MaxTokens) {
        const qint64 excess = tokensAfter - MaxTokens * 9 / 10;
        QSqlQuery select(db);
        select.setForwardOnly(true);
        if (!select.exec(
                u"SELECT hash FROM tokens ORDER BY spam + ham, day LIMIT %1"_s.arg(excess)))
            throw failed(select.lastError().text());
        while (select.next())
            pruned.push_back(static_cast<TokenHash>(select.value(0).toLongLong()));
        for (const TokenHash key : pruned) {
            remove.bindValue(0, asSigned(key));
            if (!remove.exec())
                throw failed(remove.lastError().text());
        }
    }
    if (!db.commit())
        throw failed(db.lastError().text());

    // Saved: memory follows.
    for (const Change &c : changes) {
        if (c.spam == 0 && c.ham == 0) {
            erase(c.key);
            continue;
        }
        Slot &s = insert(c.key);
        s.spam = c.spam;
        s.ham = c.ham;
    }
    for (const TokenHash key : pruned)
        erase(key);
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        m_messages.insert(it.key(), *it);
    m_spamMessages = std::uint32_t(std::max<std::int64_t>(spamMessages, 0));
    m_hamMessages = std::uint32_t(std::max<std::int64_t>(hamMessages, 0));
    refreshProbabilities();
    return result;
}

void LearningStore::forget() {
    close();
    for (const QString &path : {m_path, m_path + u"-journal"_s}) {
        QFile file(path);
        if (file.exists() && !file.remove()) {
            throw FileError(u"The learning database %1 could not be removed: %2"_s.arg(
                QDir::toNativeSeparators(path), file.errorString()));
        }
    }
    open(Access::ReadWrite);
}

} // namespace corvane
