// The learned filter on the public mail corpus: how much spam it catches and how much ham it
// flags, beside the lists and rules alone, and how fast it trains, scores and starts.
//
// The split is fixed: train on easy-ham-1 (2,500 ham) and spam-1 (500 spam), the older mail;
// test on easy-ham-2 (1,400), hard-ham-1 (250) and spam-2 (1,396), the later mail. Each
// message is cut as the header scan fetches it: the header and the first body lines of the
// default settings (TOP n 20). The rules are those of a fresh data folder: the initial lists
// and all thirteen rules ticked. Cutoffs and veto are the defaults (0.70, 0.10, on); two more
// rows show a spam cutoff of 0.50 (the setting learnspam=50).
//
// Run: build/bench/bench_learning (the corpus from CORVANE_MAIL_CORPUS, else the source
// tree's .cache/mail-corpus/package/data). The quality table is printed first; the timings
// follow as Google Benchmark results.

#include "core/learning/filetraining.h"
#include "core/learning/learningstore.h"
#include "core/learning/mailsources.h"
#include "core/learning/tokenizer.h"
#include "core/platform/legacytext.h"
#include "core/protocol/devicelines.h"
#include "core/protocol/mailmessage.h"
#include "core/rules/rulelists.h"
#include "core/screening/classify.h"
#include "core/settings/settings.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

QString corpusDir() {
    const QString env = qEnvironmentVariable("CORVANE_MAIL_CORPUS");
    if (!env.isEmpty())
        return env;
    return QDir(QStringLiteral(CORVANE_BENCH_DIR))
        .filePath(u"../.cache/mail-corpus/package/data"_s);
}

struct CorpusMessage {
    QString file;
    ScannedLines lines;
    LearningSample sample;
    RuleVerdict rules;
};

// The messages of one corpus folder (its .txt files), cut as the scan cuts them.
QList<CorpusMessage> loadFolder(const QString &name, int bodyLines, const RuleLists &lists,
                                Classifier &classifier, MessageTokenizer &tokenizer) {
    QList<CorpusMessage> messages;
    const QDir dir(QDir(corpusDir()).filePath(name));
    for (const QString &file : dir.entryList({u"*.txt"_s}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(file));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const std::optional<ScannedLines> cut = scannedLinesOf(f.readAll(), bodyLines);
        if (!cut)
            continue;
        CorpusMessage m;
        m.file = dir.filePath(file);
        m.lines = *cut;
        m.sample = learningSampleOf(m.lines, tokenizer);
        // The header as the scan parses it.
        QByteArray form;
        for (const QByteArray &line : m.lines.header)
            form += line + "\r\n";
        form += "\r\n.\r\n";
        QBuffer buffer(&form);
        buffer.open(QIODevice::ReadOnly);
        DeviceLineSource source(buffer, MessageLimits::MaxLineLength);
        MailMessage parsed;
        try {
            parsed.ReadMessage(source);
        } catch (const Error &) {
            // Classified with what could be read, as the scan does.
        }
        m.rules = classifier.ClassifyWithReason(lists, parsed.Subject, parsed.FromText(),
                                                decodeLegacyText(parsed.HeaderText()));
        messages.append(std::move(m));
    }
    return messages;
}

struct Corpus {
    QList<CorpusMessage> trainHam, trainSpam, easyHam2, hardHam1, spam2;
    bool loaded() const { return !trainHam.isEmpty() && !spam2.isEmpty(); }
};

const Corpus &corpus() {
    static const Corpus c = [] {
        Corpus c;
        const RuleLists lists; // the initial lists, all thirteen rules ticked
        Classifier classifier;
        MessageTokenizer tokenizer;
        const int lines = Settings().scanBodyLines();
        c.trainHam = loadFolder(u"easy-ham-1"_s, lines, lists, classifier, tokenizer);
        c.trainSpam = loadFolder(u"spam-1"_s, lines, lists, classifier, tokenizer);
        c.easyHam2 = loadFolder(u"easy-ham-2"_s, lines, lists, classifier, tokenizer);
        c.hardHam1 = loadFolder(u"hard-ham-1"_s, lines, lists, classifier, tokenizer);
        c.spam2 = loadFolder(u"spam-2"_s, lines, lists, classifier, tokenizer);
        return c;
    }();
    return c;
}

std::vector<LearningSample> samplesOf(const QList<CorpusMessage> &messages) {
    std::vector<LearningSample> out;
    for (const CorpusMessage &m : messages)
        out.push_back(m.sample);
    return out;
}

// A store in a fresh folder, trained on the training sets.
struct TrainedStore {
    QTemporaryDir dir;
    std::unique_ptr<LearningStore> store;
    TrainedStore() {
        store = std::make_unique<LearningStore>(dir.filePath(LearningStore::FileName));
        store->open();
        store->train(samplesOf(corpus().trainSpam), LearnedVerdict::Spam);
        store->train(samplesOf(corpus().trainHam), LearnedVerdict::Ham);
    }
};

enum class Method { Rules, Learner, Both, LearnerHalf, BothHalf };

double spamShare(const QList<CorpusMessage> &set, const LearningStore &store, Method method) {
    const LearningCut cut;
    int spam = 0;
    for (const CorpusMessage &m : set) {
        const double learned = store.score(m.sample.tokens);
        RowMark mark = RowMark::Plain;
        switch (method) {
        case Method::Rules:
            mark = m.rules.mark;
            break;
        case Method::Learner:
            mark = learned >= cut.spamCutoff ? RowMark::Spam : RowMark::Plain;
            break;
        case Method::Both:
            mark = combineVerdicts(m.rules, learned, store.confident(), cut).mark;
            break;
        case Method::LearnerHalf:
            mark = learned >= 0.5 ? RowMark::Spam : RowMark::Plain;
            break;
        case Method::BothHalf:
            mark = combineVerdicts(m.rules, learned, store.confident(), {0.5, cut.hamCutoff, true})
                       .mark;
            break;
        }
        spam += mark == RowMark::Spam;
    }
    return set.isEmpty() ? 0 : 100.0 * spam / double(set.size());
}

void printQuality() {
    const Corpus &c = corpus();
    if (!c.loaded()) {
        std::printf("No mail corpus in %s: quality not measured.\n", qPrintable(corpusDir()));
        return;
    }
    TrainedStore trained;
    const LearningStore &store = *trained.store;
    std::printf("Learned filter on the public corpus: trained on easy-ham-1 (%lld) + spam-1 "
                "(%lld), %lld tokens, TOP n %d cut\n",
                qlonglong(c.trainHam.size()), qlonglong(c.trainSpam.size()),
                qlonglong(store.tokenCount()), Settings().scanBodyLines());
    std::printf("%-28s %12s %14s %14s\n", "", "spam-2 caught", "easy-ham-2", "hard-ham-1");
    std::printf("%-28s %12s %14s %14s\n", "", "", "flagged", "flagged");
    for (const auto &[name, method] :
         {std::pair{"rules alone", Method::Rules}, std::pair{"learner alone", Method::Learner},
          std::pair{"both, with the veto", Method::Both},
          std::pair{"learner alone, cutoff 0.50", Method::LearnerHalf},
          std::pair{"both, cutoff 0.50", Method::BothHalf}}) {
        std::printf("%-28s %11.1f%% %13.2f%% %13.1f%%\n", name, spamShare(c.spam2, store, method),
                    spamShare(c.easyHam2, store, method), spamShare(c.hardHam1, store, method));
    }
    std::printf("(spam-2: %lld messages, easy-ham-2: %lld, hard-ham-1: %lld)\n\n",
                qlonglong(c.spam2.size()), qlonglong(c.easyHam2.size()),
                qlonglong(c.hardHam1.size()));
    std::fflush(stdout);
}

// "--sweep": the learner alone at a range of spam cutoffs (tuning).
void printSweep() {
    TrainedStore trained;
    LearningStore &store = *trained.store;
    if (qEnvironmentVariableIsSet("TUNE")) {
        const QStringList v = qEnvironmentVariable("TUNE").split(u',');
        LearningParameters parameters;
        parameters.unknownWordStrength = v.value(0).toDouble();
        parameters.minimumStrength = v.value(1).toDouble();
        parameters.maxDiscriminators = v.value(2).toInt();
        parameters.unknownWordProbability = v.value(3, u"0.5"_s).toDouble();
        store.setParameters(parameters);
    }
    const Corpus &c = corpus();
    std::printf("tokens %lld\n", qlonglong(store.tokenCount()));
    if (qEnvironmentVariableIsSet("MISSED")) {
        // The spam-2 files the learner scores lowest.
        std::vector<std::pair<double, QString>> missed;
        for (const CorpusMessage &m : c.spam2)
            missed.emplace_back(store.score(m.sample.tokens), m.file);
        std::sort(missed.begin(), missed.end());
        for (size_t i = 0; i < missed.size() && missed[i].first < 0.5; i += 10)
            std::printf("%.3f %s\n", missed[i].first, qPrintable(missed[i].second));
    }
    for (const double cutoff : {0.5, 0.6, 0.7, 0.75, 0.8, 0.85, 0.9, 0.95}) {
        const auto share = [&](const QList<CorpusMessage> &set) {
            int n = 0;
            for (const CorpusMessage &m : set)
                n += store.score(m.sample.tokens) >= cutoff;
            return 100.0 * n / double(set.size());
        };
        const auto both = [&](const QList<CorpusMessage> &set) {
            int n = 0;
            for (const CorpusMessage &m : set)
                n += combineVerdicts(m.rules, store.score(m.sample.tokens), store.confident(),
                                     {cutoff, LearningCut().hamCutoff, true})
                         .mark == RowMark::Spam;
            return 100.0 * n / double(set.size());
        };
        std::printf("cutoff %.2f: learner spam-2 %5.1f%% easy-ham-2 %5.2f%% hard-ham-1 %5.1f%%; "
                    "both %5.1f%% %5.2f%% %5.1f%%\n",
                    cutoff, share(c.spam2), share(c.easyHam2), share(c.hardHam1), both(c.spam2),
                    both(c.easyHam2), both(c.hardHam1));
    }
}

// Training on the 3,000 training messages into a new database, files read and cut included.
void BM_TrainFromFiles(benchmark::State &state) {
    for (auto _ : state) {
        QTemporaryDir dir;
        LearningStore store(dir.filePath(LearningStore::FileName));
        store.open();
        FileTraining training(store, Settings().scanBodyLines());
        const QDir data(corpusDir());
        // Only the message files: the corpus keeps a .json file beside each.
        QStringList spam, ham;
        for (const QString &f : QDir(data.filePath(u"spam-1"_s)).entryList({u"*.txt"_s}))
            spam << data.filePath(u"spam-1/"_s + f);
        for (const QString &f : QDir(data.filePath(u"easy-ham-1"_s)).entryList({u"*.txt"_s}))
            ham << data.filePath(u"easy-ham-1/"_s + f);
        const auto s = training.learn(spam, LearnedVerdict::Spam);
        const auto h = training.learn(ham, LearnedVerdict::Ham);
        state.counters["messages"] = double(s.messages + h.messages);
    }
}
BENCHMARK(BM_TrainFromFiles)->Unit(benchmark::kMillisecond)->Iterations(3);

// Scoring with the trained database: tokenising the scan's lines and scoring, per message.
void BM_TokeniseAndScore(benchmark::State &state) {
    TrainedStore trained;
    const QList<CorpusMessage> &set = corpus().spam2;
    MessageTokenizer tokenizer;
    double sum = 0;
    for (auto _ : state) {
        for (const CorpusMessage &m : set)
            sum += trained.store->score(tokenizer.tokenize(m.lines.header, m.lines.body));
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * set.size());
}
BENCHMARK(BM_TokeniseAndScore)->Unit(benchmark::kMillisecond);

// Tokenising alone, to see where its time goes: 0 the messages as above; 1 the first message
// over and over (its lines stay in the processor's caches, as a scan's fresh lines are);
// 2 the body lines only; 3 the header only.
void BM_TokeniseOnly(benchmark::State &state) {
    const QList<CorpusMessage> &set = corpus().spam2;
    MessageTokenizer tokenizer;
    size_t sum = 0;
    const bool hot = state.range(0) == 1;
    for (auto _ : state) {
        for (const CorpusMessage &m : set) {
            const CorpusMessage &x = hot ? set[0] : m;
            sum += tokenizer
                       .tokenize(state.range(0) == 2 ? QList<QByteArray>() : x.lines.header,
                                 state.range(0) == 3 ? QList<QByteArray>() : x.lines.body)
                       .size();
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * set.size());
}
BENCHMARK(BM_TokeniseOnly)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Scoring alone, from the tokens.
void BM_Score(benchmark::State &state) {
    TrainedStore trained;
    const QList<CorpusMessage> &set = corpus().spam2;
    double sum = 0;
    for (auto _ : state) {
        for (const CorpusMessage &m : set)
            sum += trained.store->score(m.sample.tokens);
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * set.size());
}
BENCHMARK(BM_Score)->Unit(benchmark::kMillisecond);

// Start-up with the trained database: opening it and loading the counts.
void BM_OpenTrained(benchmark::State &state) {
    TrainedStore trained;
    const QString path = trained.store->path();
    trained.store->close();
    for (auto _ : state) {
        LearningStore store(path);
        store.open();
        benchmark::DoNotOptimize(store.tokenCount());
    }
}
BENCHMARK(BM_OpenTrained)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // "--tokens FILE...": the tokens of message files, for tuning the tokeniser. Each file's
    // token hashes are checked against the hashes of the token texts: the tokeniser hashes
    // without building the texts, and the two must agree.
    if (argc >= 3 && QByteArrayView(argv[1]) == "--tokens") {
        int status = 0;
        MessageTokenizer tokenizer;
        for (int a = 2; a < argc; ++a) {
            QFile f(QString::fromLocal8Bit(argv[a]));
            if (!f.open(QIODevice::ReadOnly))
                return 1;
            const std::optional<ScannedLines> cut =
                scannedLinesOf(f.readAll(), Settings().scanBodyLines());
            if (!cut)
                continue;
            std::vector<std::string> texts;
            const std::vector<TokenHash> hashes =
                tokenizer.tokenize(cut->header, cut->body, &texts);
            std::vector<TokenHash> fromTexts;
            for (const std::string &t : texts) {
                std::printf("%s\n", t.c_str());
                fromTexts.push_back(tokenHash(t));
            }
            std::sort(fromTexts.begin(), fromTexts.end());
            if (fromTexts != hashes || hashes != tokenizer.tokenize(cut->header, cut->body)) {
                std::fprintf(stderr, "%s: the hashes differ from those of the texts\n", argv[a]);
                status = 1;
            }
        }
        return status;
    }
    if (argc == 2 && QByteArrayView(argv[1]) == "--sweep") {
        printSweep();
        return 0;
    }
    printQuality();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
